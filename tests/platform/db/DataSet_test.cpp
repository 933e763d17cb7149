#include "platform/db/DataSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "MemDataSet.h"
#include "platform/db/DataSource.h"

namespace {

using namespace plat;
using testdb::ErrorOf;
using testdb::TMemDataSet;

// A dataset of N records: ID 1..N and Name "rN".
void Fill(TMemDataSet& ds, int n) {
  ds.FieldDefs().Add("ID", ftInteger, 0, true);
  ds.FieldDefs().Add("Name", ftString, 10);
  ds.Open();
  for (int i = 1; i <= n; ++i) ds.AppendRecord({i, "r" + std::to_string(i)});
  ds.First();
}

int CurrentId(TMemDataSet& ds) {
  return ds.FieldByName("ID")->AsInteger();
}

// The IDs from the current record to the end.
std::vector<int> IdsForward(TMemDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(CurrentId(ds));
  return ids;
}

// A link that records the events it is told of, with a window of records.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Events;

 protected:
  void ActiveChanged() override { Events.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { Events.push_back("changed"); }
  void DataSetScrolled(int32_t Distance) override {
    Events.push_back("scrolled " + std::to_string(Distance));
  }
  void RecordChanged(TField* Field) override {
    Events.push_back(Field ? "record " + Field->FieldName() : "record");
  }
  void EditingChanged() override { Events.push_back(Editing() ? "editing" : "browsing"); }
};

// Hooks every dataset event into one log.
void LogEvents(TDataSet& ds, std::vector<std::string>& log) {
  struct Hook {
    TDataSetNotifyEvent TDataSet::*event;
    const char* name;
  };
  const Hook hooks[] = {
      {&TDataSet::BeforeOpen, "BeforeOpen"},     {&TDataSet::AfterOpen, "AfterOpen"},
      {&TDataSet::BeforeClose, "BeforeClose"},   {&TDataSet::AfterClose, "AfterClose"},
      {&TDataSet::BeforeInsert, "BeforeInsert"}, {&TDataSet::AfterInsert, "AfterInsert"},
      {&TDataSet::BeforeEdit, "BeforeEdit"},     {&TDataSet::AfterEdit, "AfterEdit"},
      {&TDataSet::BeforePost, "BeforePost"},     {&TDataSet::AfterPost, "AfterPost"},
      {&TDataSet::BeforeCancel, "BeforeCancel"}, {&TDataSet::AfterCancel, "AfterCancel"},
      {&TDataSet::BeforeDelete, "BeforeDelete"}, {&TDataSet::AfterDelete, "AfterDelete"},
      {&TDataSet::BeforeScroll, "BeforeScroll"}, {&TDataSet::AfterScroll, "AfterScroll"},
      {&TDataSet::OnNewRecord, "OnNewRecord"},
  };
  for (const Hook& hook : hooks)
    ds.*(hook.event) = [&log, name = hook.name](TDataSet*) { log.push_back(name); };
}

TEST(DataSetOpen, OpenAndCloseRunTheirEventsAndStates) {
  TMemDataSet ds;
  ds.SetName("Mem");
  std::vector<std::string> log;
  LogEvents(ds, log);
  ds.FieldDefs().Add("ID", ftInteger);
  ds.Open();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_TRUE(ds.DefaultFields());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldCount(), 1);
  ds.Close();
  EXPECT_EQ(ds.State(), dsInactive);
  EXPECT_EQ(ds.FieldCount(), 0) << "default fields go with the cursor";
  // An empty dataset shows no record after opening, so no AfterScroll.
  EXPECT_EQ(log,
            (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
  EXPECT_EQ(ErrorOf([&] { ds.First(); }), "Mem: Cannot perform this operation on a closed dataset");
}

TEST(DataSetOpen, FailedOpenLeavesTheDatasetClosed) {
  TMemDataSet ds;  // no field definitions: InternalOpen refuses
  EXPECT_NE(ErrorOf([&] { ds.Open(); }), "");
  EXPECT_FALSE(ds.Active());
  ds.FieldDefs().Add("ID", ftInteger);
  ds.Open();
  EXPECT_TRUE(ds.Active());
}

// Logs the protocol calls the framework makes of a dataset.
class TProtocolLog : public TMemDataSet {
 public:
  std::vector<std::string> Calls;
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode Mode, bool DoCheck) override {
    const TGetResult result = TMemDataSet::GetRecord(Buffer, Mode, DoCheck);
    Calls.push_back(std::string("GetRecord ") + "CNP"[Mode] + (result == grOK ? "" : " fails"));
    return result;
  }
  TRecordBuffer AllocRecordBuffer() override {
    Calls.push_back("Alloc");
    return TMemDataSet::AllocRecordBuffer();
  }
  void FreeRecordBuffer(TRecordBuffer& Buffer) override {
    Calls.push_back("Free");
    TMemDataSet::FreeRecordBuffer(Buffer);
  }
  void Resync(TResyncMode Mode) override {
    Calls.push_back("Resync");
    TMemDataSet::Resync(Mode);
  }
#define PLAT_LOGGED(Name)   \
  void Name() override {    \
    Calls.push_back(#Name); \
    TMemDataSet::Name();    \
  }
  PLAT_LOGGED(InternalOpen)
  PLAT_LOGGED(InternalClose)
  PLAT_LOGGED(InternalFirst)
  PLAT_LOGGED(InternalLast)
  PLAT_LOGGED(InternalEdit)
  PLAT_LOGGED(InternalInsert)
  PLAT_LOGGED(InternalPost)
  PLAT_LOGGED(InternalCancel)
  PLAT_LOGGED(InternalDelete)
#undef PLAT_LOGGED
  void InternalSetToRecord(TRecordBuffer Buffer) override {
    Calls.push_back("InternalSetToRecord");
    TMemDataSet::InternalSetToRecord(Buffer);
  }
};

// The calls a dataset sees: every post, cancel and delete ends in Resync
// (where a dataset may release its locks); the cursor is placed on the
// active record before an operation when it stands elsewhere.
TEST(DataSetProtocol, CallsInTheFrameworksOrder) {
  TProtocolLog ds;
  ds.FieldDefs().Add("ID", ftInteger);
  ds.Open();
  for (int i = 1; i <= 3; ++i) ds.AppendRecord({i});
  ds.Close();
  struct Case {
    const char* name;
    std::function<void()> run;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"open", [&] { ds.Open(); }, {"InternalOpen", "Alloc", "Alloc", "GetRecord N"}},
      {"next", [&] { ds.Next(); }, {"GetRecord N"}},
      {"first", [&] { ds.First(); }, {"InternalFirst", "GetRecord N"}},
      {"edit and post",
       [&] {
         ds.Edit();
         ds.FieldByName("ID")->SetAsInteger(10);
         ds.Post();
       },
       {"InternalEdit", "InternalPost", "Resync", "GetRecord C"}},
      {"edit and cancel",
       [&] {
         ds.Edit();
         ds.Cancel();
       },
       {"InternalEdit", "InternalCancel", "Resync", "GetRecord C"}},
      {"insert and cancel",
       [&] {
         ds.Insert();
         ds.Cancel();
       },
       {"InternalInsert", "InternalSetToRecord", "Resync", "GetRecord C"}},
      {"delete", [&] { ds.Delete(); }, {"InternalDelete", "Resync", "GetRecord C"}},
      {"last", [&] { ds.Last(); }, {"InternalLast", "GetRecord P"}},
      {"back and forth to the end",
       [&] {
         ds.Prior();
         ds.Next();
         ds.Next();
       },
       {"GetRecord P", "GetRecord N", "GetRecord N fails"}},
      {"close", [&] { ds.Close(); }, {"InternalClose", "Free", "Free"}},
  };
  for (const Case& c : cases) {
    ds.Calls.clear();
    c.run();
    EXPECT_EQ(ds.Calls, c.calls) << c.name;
  }
}

TEST(DataSetNavigation, FromBothEnds) {
  TMemDataSet ds;
  Fill(ds, 5);
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(CurrentId(ds), 5) << "Eof stays on the last record";

  std::vector<int> backwards;
  for (ds.Last(); !ds.Bof(); ds.Prior()) backwards.push_back(CurrentId(ds));
  EXPECT_EQ(backwards, (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_EQ(CurrentId(ds), 1);

  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(CurrentId(ds), 4);
  EXPECT_EQ(ds.MoveBy(10), 1) << "stops at the last record";
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(-2), -2);
  EXPECT_EQ(CurrentId(ds), 3);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.RecordCount(), 5);
  ds.SetRecNo(2);
  EXPECT_EQ(CurrentId(ds), 2);
}

// Random moves checked against a plain index, with rings of several sizes
// (a grid's link asks for more buffers).
TEST(DataSetNavigation, RandomMovesAgreeWithAModel) {
  for (int32_t bufferCount : {1, 2, 3, 7}) {
    SCOPED_TRACE("seed " + std::to_string(1234 + bufferCount));
    TMemDataSet ds;
    Fill(ds, 12);
    TDataSource source(nullptr);
    source.SetDataSet(&ds);
    TRecordingLink link;
    link.SetBufferCount(bufferCount);
    link.SetDataSource(&source);
    EXPECT_EQ(ds.BufferCount(), bufferCount);

    std::mt19937 random(1234 + bufferCount);
    int model = 0;  // index of the active record
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(random() % 6);
      if (op == 5) {
        // Another grid size: the ring grows or shrinks around the active record.
        link.SetBufferCount(1 + static_cast<int32_t>(random() % 7));
        ASSERT_EQ(ds.BufferCount(), link.BufferCount());
      } else if (op == 0) {
        ds.First();
        model = 0;
      } else if (op == 1) {
        ds.Last();
        model = 11;
      } else {
        const int distance = static_cast<int>(random() % 9) - 4;
        const int moved = ds.MoveBy(distance);
        const int target = std::clamp(model + distance, 0, 11);
        ASSERT_EQ(moved, target - model) << "buffers " << bufferCount << " step " << step;
        model = target;
        const int wanted = model - moved + distance;  // where the move aimed
        if (distance > 0) {
          EXPECT_EQ(ds.Eof(), wanted > 11);
        } else if (distance < 0) {
          EXPECT_EQ(ds.Bof(), wanted < 0);
        }
      }
      ASSERT_EQ(CurrentId(ds), model + 1) << "buffers " << bufferCount << " step " << step;
      ASSERT_GE(link.ActiveRecord(), 0);
      ASSERT_LT(link.ActiveRecord(), link.RecordCount());
      // Every record of the link's window is the right neighbour.
      const int active = link.ActiveRecord();
      for (int row = 0; row < link.RecordCount(); ++row) {
        link.SetActiveRecord(row);
        ASSERT_EQ(CurrentId(ds), model + 1 + row - active);
      }
      link.SetActiveRecord(active);
    }
  }
}

TEST(DataSetBookmarks, GoBackAndTellValidity) {
  TMemDataSet ds;
  ds.SetName("Mem");
  Fill(ds, 6);
  ds.MoveBy(3);
  const TBookmark mark = ds.GetBookmark();
  ASSERT_EQ(mark.size(), 4u);
  ds.Last();
  ds.GotoBookmark(mark);
  EXPECT_EQ(CurrentId(ds), 4);
  EXPECT_TRUE(ds.BookmarkValid(mark));

  ds.First();
  const TBookmark first = ds.Bookmark();
  EXPECT_EQ(ds.CompareBookmarks(first, first), 0);
  EXPECT_NE(ds.CompareBookmarks(first, mark), 0);
  EXPECT_EQ(ds.CompareBookmarks(TBookmark{}, mark), 1);
  EXPECT_EQ(ds.CompareBookmarks(mark, TBookmark{}), 1);

  ds.GotoBookmark(mark);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(mark));
  EXPECT_EQ(CurrentId(ds), 5) << "the next record follows a deleted one";
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark({1, 2}); }), "Mem: Invalid bookmark");
  EXPECT_EQ(ErrorOf([&] { ds.GotoBookmark(mark); }), "Mem: Bookmark not found");
}

TEST(DataSetEditing, EventsComeInTheLibrarysOrder) {
  struct Case {
    const char* name;
    std::function<void(TMemDataSet&)> run;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"edit and post",
       [](TMemDataSet& ds) {
         ds.Edit();
         ds.FieldByName("Name")->SetAsString("x");
         ds.Post();
       },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}},
      {"edit and cancel",
       [](TMemDataSet& ds) {
         ds.Edit();
         ds.Cancel();
       },
       {"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}},
      {"insert and post",
       [](TMemDataSet& ds) {
         ds.Insert();
         ds.FieldByName("ID")->SetAsInteger(9);
         ds.Post();
       },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost",
        "AfterPost"}},
      {"append and cancel",
       [](TMemDataSet& ds) {
         ds.Append();
         ds.Cancel();
       },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforeCancel",
        "BeforeScroll", "AfterCancel", "AfterScroll"}},
      {"delete",
       [](TMemDataSet& ds) { ds.Delete(); },
       {"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}},
      {"next", [](TMemDataSet& ds) { ds.Next(); }, {"BeforeScroll", "AfterScroll"}},
      {"moving off a modified edit posts it first",
       [](TMemDataSet& ds) {
         ds.Edit();
         ds.FieldByName("Name")->SetAsString("x");
         ds.Next();
       },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost", "BeforeScroll", "AfterScroll"}},
  };
  for (const Case& c : cases) {
    TMemDataSet ds;
    Fill(ds, 3);
    std::vector<std::string> log;
    LogEvents(ds, log);
    c.run(ds);
    EXPECT_EQ(log, c.events) << c.name;
    EXPECT_EQ(ds.State(), dsBrowse) << c.name;
  }
}

TEST(DataSetEditing, InsertAppendEditCancelAndDeleteChangeTheStore) {
  TMemDataSet ds;
  Fill(ds, 3);
  ds.Next();  // on 2
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull()) << "a new record starts empty";
  ds.FieldByName("ID")->SetAsInteger(10);
  ds.Post();
  EXPECT_EQ(CurrentId(ds), 10) << "the posted record is active";
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{1, 10, 2, 3})) << "inserted before the active one";

  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(20);
  ds.Post();
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{1, 10, 2, 3, 20}));

  ds.First();
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("changed");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "r1") << "cancel restores the record";
  EXPECT_EQ(ds.RowValue(0, "Name").AsString(), "r1");

  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(99);
  ds.Cancel();
  EXPECT_EQ(CurrentId(ds), 1) << "a cancelled insert returns to the record it stood on";
  EXPECT_EQ(ds.RowCount(), 5);

  ds.Last();
  ds.Delete();
  EXPECT_EQ(CurrentId(ds), 3) << "deleting the last record shows the one before";
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{1, 10, 2, 3}));

  while (!ds.IsEmpty()) ds.Delete();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_NE(ErrorOf([&] { ds.Delete(); }).find("empty dataset"), std::string::npos);
  ds.Edit();  // an empty dataset inserts instead
  EXPECT_EQ(ds.State(), dsInsert);
  ds.Cancel();
}

TEST(DataSetEditing, AnEditIsNeverDroppedSilently) {
  TMemDataSet ds;
  ds.SetName("Mem");
  Fill(ds, 3);
  ds.Edit();
  ds.FieldByName("ID")->Clear();  // ID is required
  ds.FieldByName("Name")->SetAsString("kept");
  EXPECT_EQ(ErrorOf([&] { ds.Next(); }), "Field 'ID' must have a value");
  EXPECT_EQ(ds.State(), dsEdit) << "the failed post keeps the edit";
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "kept");
  EXPECT_EQ(ErrorOf([&] { ds.Close(); }), "Field 'ID' must have a value");
  EXPECT_TRUE(ds.Active()) << "closing must not drop the edit either";

  ds.FieldByName("ID")->SetAsInteger(7);
  ds.Close();  // posts
  ds.Open();
  EXPECT_EQ(CurrentId(ds), 7);
  EXPECT_EQ(ds.FieldByName("Name")->AsString(), "kept");

  // An edit that changed nothing is simply left.
  ds.Edit();
  ds.Next();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(CurrentId(ds), 2);
}

TEST(DataSetEditing, TemporaryStatesKeepTheEditsModifiedFlag) {
  TMemDataSet ds;
  Fill(ds, 2);
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("x");
  ASSERT_TRUE(ds.Modified());
  // Lookup runs in a temporary state; the edit must still count as modified.
  EXPECT_EQ(ds.Lookup("ID", 2, "Name").AsString(), "r2");
  EXPECT_TRUE(ds.Modified());
  EXPECT_EQ(ds.State(), dsEdit);
  ds.Next();
  EXPECT_EQ(ds.RowValue(0, "Name").AsString(), "x");
}

TEST(DataSetEditing, ErrorsOfTheStateMachine) {
  TMemDataSet ds;
  ds.SetName("Mem");
  Fill(ds, 2);
  struct Case {
    const char* name;
    std::function<void()> run;
    std::string error;
  };
  const Case cases[] = {
      {"set a field while browsing", [&] { ds.FieldByName("ID")->SetAsInteger(1); },
       "Mem: Dataset not in edit or insert mode"},
      {"post while browsing", [&] { ds.Post(); }, "Mem: Dataset not in edit or insert mode"},
      {"unknown field", [&] { ds.FieldByName("Nope"); }, "Mem: Field 'Nope' not found"},
      {"change field definitions' fields while open", [&] { ds.FieldByName("ID")->SetSize(4); },
       "Mem: Cannot perform this operation on an open dataset"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.run), c.error) << c.name;

  ds.ReadOnly = true;
  EXPECT_EQ(ErrorOf([&] { ds.Edit(); }), "Mem: Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { ds.Append(); }), "Mem: Cannot modify a read-only dataset");
  ds.ReadOnly = false;

  ds.FieldByName("ID")->SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("ID")->SetAsInteger(5); }),
            "Mem: Field 'ID' cannot be modified");
  EXPECT_EQ(CurrentId(ds), 1);
  ds.Cancel();
}

// The key state a table component enters for key searches and ranges.
TEST(DataSetEditing, KeyStateEntryPoints) {
  TMemDataSet ds;
  ds.SetName("Mem");
  Fill(ds, 3);
  TDataSource source(nullptr);
  source.SetDataSet(&ds);
  EXPECT_EQ(ErrorOf([&] { ds.CheckSetKeyMode(); }), "Mem: Dataset not in edit or insert mode");
  struct Case {
    const char* name;
    std::function<void()> leave;
  };
  const Case cases[] = {
      {"post", [&] { ds.Post(); }},
      {"cancel", [&] { ds.Cancel(); }},
      {"moving on", [&] { ds.Next(); }},
      {"editing", [&] { ds.Edit(); }},
  };
  for (const Case& c : cases) {
    ds.CheckBrowseMode();
    ds.SetState(dsSetKey);
    EXPECT_EQ(source.State(), dsSetKey) << c.name;
    ds.CheckSetKeyMode();
    c.leave();
    EXPECT_NE(ds.State(), dsSetKey) << c.name;
    EXPECT_EQ(source.State(), ds.State()) << c.name;
  }
  ds.Cancel();
  // A temporary state is left as it was entered, whatever happens inside.
  EXPECT_THROW(
      {
        TTempState temp(ds, dsFilter);
        EXPECT_EQ(ds.State(), dsFilter);
        EXPECT_TRUE(ds.ControlsDisabled());
        DatabaseError("inside");
      },
      EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_FALSE(ds.ControlsDisabled());
}

// Fails its first posts, as a busy store would.
class TFlakyDataSet : public TMemDataSet {
 public:
  int Failures = 0;
  void InternalPost() override {
    if (Failures > 0) {
      --Failures;
      DatabaseError("busy");
    }
    TMemDataSet::InternalPost();
  }
};

TEST(DataSetEditing, PostErrorHandlerMayRetryAbortOrFail) {
  struct Case {
    TDataAction action;
    int failures;
    std::string error;
    TDataSetState state;
  };
  const Case cases[] = {
      {daRetry, 2, "", dsBrowse},
      {daAbort, 1, "Operation aborted", dsEdit},
      {daFail, 1, "busy", dsEdit},
  };
  for (const Case& c : cases) {
    TFlakyDataSet ds;
    Fill(ds, 1);
    int calls = 0;
    ds.OnPostError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
      EXPECT_EQ(e.Message(), "busy");
      ++calls;
      action = c.action;
    };
    ds.Edit();
    ds.FieldByName("Name")->SetAsString("new");
    ds.Failures = c.failures;
    EXPECT_EQ(ErrorOf([&] { ds.Post(); }), c.error);
    EXPECT_EQ(calls, c.failures);
    EXPECT_EQ(ds.State(), c.state);
    EXPECT_EQ(ds.FieldByName("Name")->AsString(), "new") << "nothing of the edit is lost";
    if (ds.State() == dsEdit) ds.Cancel();
  }
}

TEST(DataSetEditing, BeforePostMayRefuse) {
  TMemDataSet ds;
  Fill(ds, 1);
  ds.BeforePost = [&](TDataSet*) {
    if (ds.FieldByName("Name")->AsString() == "bad") DatabaseError("refused");
  };
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("bad");
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "refused");
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("Name")->SetAsString("good");
  ds.Post();
  EXPECT_EQ(ds.RowValue(0, "Name").AsString(), "good");
}

TEST(DataSetEditing, InsertAndAppendRecordWithValues) {
  TMemDataSet ds;
  Fill(ds, 2);
  ds.Last();
  ds.InsertRecord({7, "seven"});
  ds.AppendRecord({8, Unassigned()});  // an unassigned value is left out
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{1, 7, 2, 8}));
  ds.Last();
  EXPECT_TRUE(ds.FieldByName("Name")->IsNull());
  EXPECT_EQ(ErrorOf([&] { ds.AppendRecord({Null()}); }), "Field 'ID' must have a value");
  EXPECT_EQ(ds.State(), dsInsert) << "the failed record stays being edited";
  ds.Cancel();
}

TEST(DataSetFields, ValuesByNameAndLists) {
  TMemDataSet ds;
  Fill(ds, 3);
  ds.Next();
  const Variant both = ds.FieldValues("ID; Name");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].AsInteger(), 2);
  EXPECT_EQ(both[1].AsString(), "r2");
  EXPECT_EQ(ds.GetFieldValue("name").AsString(), "r2") << "names ignore case";
  ds.Edit();
  ds.SetFieldValues("Name;ID", VarArrayOf({"two", 22}));
  ds.Post();
  EXPECT_EQ(ds.RowValue(1, "ID").AsInteger(), 22);
  EXPECT_EQ(ds.RowValue(1, "Name").AsString(), "two");

  std::vector<TField*> list;
  ds.GetFieldList(list, "Name;ID");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->FieldName(), "Name");
  EXPECT_EQ(list[1]->FieldNo(), 1);
  TStringList names;
  ds.GetFieldNames(names);
  EXPECT_EQ(names.CommaText(), "ID,Name");
}

TEST(DataSetFields, PersistentFieldsBindToTheirDefinitions) {
  TComponent form(nullptr);
  TMemDataSet ds(&form);
  ds.SetName("Mem");
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("Name", ftString, 10);
  auto* name = new TStringField(&form);
  name->SetFieldName("Name");
  name->SetSize(10);
  name->SetDataSet(&ds);
  ds.Open();
  EXPECT_FALSE(ds.DefaultFields());
  EXPECT_EQ(ds.FieldCount(), 1) << "only the persistent field shows";
  EXPECT_EQ(name->FieldNo(), 2);
  ds.Close();

  name->SetSize(5);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }),
            "Mem: Size mismatch for field 'Name', expecting: 5 actual: 10");
  name->SetSize(10);
  auto* wrong = new TIntegerField(&form);
  wrong->SetFieldName("Other");
  wrong->SetDataSet(&ds);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Mem: Field 'Other' not found");
  delete wrong;  // leaves the dataset's fields
  EXPECT_EQ(ds.FieldCount(), 1);
  auto* typed = new TIntegerField(&form);
  typed->SetFieldName("Name");
  EXPECT_EQ(ErrorOf([&] { typed->SetDataSet(&ds); }), "Mem: Duplicate field name 'Name'");
  delete typed;
  ds.Open();
  EXPECT_TRUE(ds.Active());
}

TEST(DataSetFields, FieldsOutliveOrFollowTheirDataset) {
  TComponent form(nullptr);
  auto* kept = new TIntegerField(&form);
  kept->SetFieldName("ID");
  {
    TMemDataSet ds;
    ds.FieldDefs().Add("ID", ftInteger);
    kept->SetDataSet(&ds);
    auto* unowned = new TStringField(nullptr);  // belongs to the dataset now
    unowned->SetFieldName("Loose");
    unowned->SetDataSet(&ds);
    EXPECT_EQ(ds.FieldCount(), 2);
  }
  EXPECT_EQ(kept->DataSet(), nullptr) << "a field owned elsewhere is only detached";
  EXPECT_EQ(form.ComponentCount(), 1);
}

TEST(DataSetCalcFields, CalculatedAndLookupFields) {
  TMemDataSet cities;
  cities.FieldDefs().Add("Code", ftInteger);
  cities.FieldDefs().Add("City", ftString, 20);
  cities.Open();
  cities.AppendRecord({1, "Oslo"});
  cities.AppendRecord({2, "Lima"});

  TMemDataSet ds;
  ds.SetName("People");
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("Name", ftString, 10);
  ds.FieldDefs().Add("CityCode", ftInteger);
  for (const char* name : {"ID", "Name", "CityCode"}) ds.FieldDefs().Find(name)->CreateField(&ds);
  auto* label = new TStringField(&ds);
  label->SetFieldName("Label");
  label->SetSize(30);
  label->SetCalculated(true);
  label->SetDataSet(&ds);
  auto* city = new TStringField(&ds);
  city->SetFieldName("City");
  city->SetFieldKind(fkLookup);
  city->SetLookupDataSet(&cities);
  city->SetKeyFields("CityCode");
  city->SetLookupKeyFields("Code");
  city->SetLookupResultField("City");
  city->SetDataSet(&ds);
  int calcs = 0;
  ds.OnCalcFields = [&](TDataSet* d) {
    ++calcs;
    d->FieldByName("Label")->SetAsString(d->FieldByName("Name")->AsString() + "#" +
                                         d->FieldByName("ID")->AsString());
  };
  ds.Open();
  EXPECT_EQ(label->FieldNo(), -1);
  EXPECT_EQ(ds.CalcFieldsSize(), (30 + 2) + (20 + 2));
  ds.AppendRecord({1, "ann", 2});
  ds.AppendRecord({2, "bob", 1});
  ds.First();
  EXPECT_EQ(label->AsString(), "ann#1");
  EXPECT_EQ(city->AsString(), "Lima");
  ds.Next();
  EXPECT_EQ(city->AsString(), "Oslo");

  // While editing, a changed data field recalculates at once.
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("bo");
  EXPECT_EQ(label->AsString(), "bo#2");
  ds.FieldByName("CityCode")->SetAsInteger(3);
  EXPECT_TRUE(city->IsNull()) << "no matching city";
  ds.Cancel();
  EXPECT_EQ(label->AsString(), "bob#2");
  EXPECT_GT(calcs, 0);
  EXPECT_EQ(ErrorOf([&] { label->SetAsString("x"); }),
            "People: Dataset not in edit or insert mode");

  ds.Close();
  city->SetLookupResultField("");
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }),
            "People: Lookup information for field 'City' is incomplete");
  EXPECT_FALSE(ds.Active());
}

TEST(DataSetCalcFields, LookupDatasetMayGoAway) {
  TMemDataSet ds;
  ds.FieldDefs().Add("ID", ftInteger);
  auto* lookup = new TStringField(&ds);
  lookup->SetFieldName("L");
  lookup->SetDataSet(&ds);
  {
    TMemDataSet other;
    lookup->SetLookupDataSet(&other);
    EXPECT_EQ(ErrorOf([&] { lookup->SetLookupDataSet(&ds); }),
              "Circular datalinks are not allowed");
  }
  EXPECT_EQ(lookup->LookupDataSet(), nullptr);
  delete lookup;
}

TEST(DataSetFilter, OnFilterRecordSelectsRecords) {
  TMemDataSet ds;
  Fill(ds, 10);
  ds.SetOnFilterRecord([](TDataSet* d, bool& accept) {
    EXPECT_EQ(d->State(), dsFilter);
    accept = d->FieldByName("ID")->AsInteger() % 3 == 0;
  });
  EXPECT_EQ(IdsForward(ds).size(), 10u) << "not filtered yet";
  ds.SetFiltered(true);
  EXPECT_EQ(CurrentId(ds), 3) << "switching the filter on goes to the first match";
  EXPECT_EQ(IdsForward(ds), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(ds.RecordCount(), 3);
  std::vector<int> back;
  for (ds.Last(); !ds.Bof(); ds.Prior()) back.push_back(CurrentId(ds));
  EXPECT_EQ(back, (std::vector<int>{9, 6, 3}));
  EXPECT_FALSE(ds.Locate("ID", 4, {})) << "a filtered-out record is not found";
  EXPECT_TRUE(ds.Locate("ID", 6, {}));

  ds.SetOnFilterRecord([](TDataSet*, bool& accept) { accept = false; });
  EXPECT_TRUE(ds.IsEmpty());
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 10);
  ds.SetFilter("ID > 3");
  EXPECT_EQ(ds.Filter(), "ID > 3");
  ds.SetFilterOptions({foCaseInsensitive});
  EXPECT_TRUE(ds.FilterOptions().Contains(foCaseInsensitive));
}

TEST(DataSetLocate, LocateAndLookup) {
  TMemDataSet ds;
  Fill(ds, 5);
  EXPECT_TRUE(ds.Locate("Name", "R4", {loCaseInsensitive}));
  EXPECT_EQ(CurrentId(ds), 4);
  EXPECT_FALSE(ds.Locate("Name", "R4", {}));
  EXPECT_EQ(CurrentId(ds), 4) << "a failed locate stays";
  EXPECT_TRUE(ds.Locate("Name", "r", {loPartialKey}));
  EXPECT_EQ(CurrentId(ds), 1);
  EXPECT_TRUE(ds.Locate("ID;Name", VarArrayOf({5, "r5"}), {}));
  EXPECT_EQ(CurrentId(ds), 5);
  ds.First();
  EXPECT_EQ(ds.Lookup("ID", 3, "Name").AsString(), "r3");
  EXPECT_TRUE(ds.Lookup("ID", 30, "Name").IsNull());
  EXPECT_EQ(CurrentId(ds), 1) << "Lookup leaves the cursor";
}

TEST(DataSetControls, DisableControlsHoldsEventsUntilEnabled) {
  TMemDataSet ds;
  Fill(ds, 5);
  TDataSource source(nullptr);
  source.SetDataSet(&ds);
  TRecordingLink link;
  link.SetDataSource(&source);
  EXPECT_EQ(link.Events, (std::vector<std::string>{"active"}));
  link.Events.clear();

  ds.DisableControls();
  ds.DisableControls();
  ds.Next();
  ds.Last();
  ds.EnableControls();
  EXPECT_TRUE(link.Events.empty());
  ds.EnableControls();
  EXPECT_EQ(link.Events, (std::vector<std::string>{"changed"}));

  link.Events.clear();
  ds.Prior();
  ds.Edit();
  ds.FieldByName("Name")->SetAsString("z");
  ds.Post();
  // One record back in a ring of one: the window scrolled up by one.
  EXPECT_EQ(link.Events, (std::vector<std::string>{"scrolled -1", "editing", "record",
                                                   "record Name", "browsing", "changed"}));
  link.Events.clear();
  ds.Close();
  EXPECT_EQ(link.Events, (std::vector<std::string>{"inactive"}));
}

TEST(DataSetControls, DataSourceStateAndDataChange) {
  TMemDataSet ds;
  Fill(ds, 2);
  TDataSource source(nullptr);
  std::vector<std::string> log;
  source.OnStateChange = [&](TObject*) { log.push_back("state"); };
  source.OnDataChange = [&](TObject*, TField* f) {
    log.push_back(f ? "data " + f->FieldName() : "data");
  };
  source.SetDataSet(&ds);
  EXPECT_EQ(source.State(), dsBrowse);
  source.Edit();
  EXPECT_EQ(ds.State(), dsEdit) << "AutoEdit lets the source start an edit";
  ds.FieldByName("ID")->SetAsInteger(5);
  ds.Cancel();
  EXPECT_EQ(log, (std::vector<std::string>{"state", "state", "data", "data ID", "state", "data"}));
  source.SetEnabled(false);
  EXPECT_EQ(source.State(), dsInactive);
  source.SetAutoEdit(false);
  source.SetEnabled(true);
  source.Edit();
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST(DataSetMasterDetail, DetailFollowsItsMaster) {
  TMemDataSet master;
  master.SetName("Orders");
  master.FieldDefs().Add("OrderNo", ftInteger);
  master.Open();
  for (int i = 1; i <= 3; ++i) master.AppendRecord({i * 10});
  master.First();

  TMemDataSet detail;
  detail.SetName("Lines");
  detail.FieldDefs().Add("OrderNo", ftInteger);
  detail.FieldDefs().Add("Item", ftString, 10);
  detail.Open();
  for (auto [order, item] : std::vector<std::pair<int, const char*>>{
           {10, "a"}, {20, "b"}, {10, "c"}, {30, "d"}, {20, "e"}})
    detail.AppendRecord({order, item});

  TDataSource source(nullptr);
  source.SetDataSet(&master);
  detail.SetDetailFields("OrderNo");
  detail.SetMasterFields("OrderNo");
  detail.SetMasterSource(&source);

  auto items = [&] {
    std::string text;
    for (detail.First(); !detail.Eof(); detail.Next())
      text += detail.FieldByName("Item")->AsString();
    return text;
  };
  EXPECT_EQ(items(), "ac");
  master.Next();
  EXPECT_EQ(detail.FieldByName("Item")->AsString(), "b") << "the detail moved with its master";
  EXPECT_EQ(items(), "be");
  master.Last();
  EXPECT_EQ(items(), "d");

  // A new detail record takes the master's key.
  detail.Append();
  detail.FieldByName("Item")->SetAsString("f");
  // The master moving posts the detail's pending edit first.
  master.First();
  EXPECT_EQ(detail.RowCount(), 6);
  EXPECT_EQ(detail.RowValue(5, "OrderNo").AsInteger(), 30);
  master.Last();
  EXPECT_EQ(items(), "df");

  // Editing a master's link field moves the detail too.
  master.Edit();
  master.FieldByName("OrderNo")->SetAsInteger(20);
  EXPECT_EQ(items(), "be");
  master.Cancel();

  EXPECT_EQ(ErrorOf([&] {
              TDataSource back(nullptr);
              back.SetDataSet(&detail);
              master.SetMasterSource(&back);
            }),
            "Orders: Circular datalinks are not allowed");
  detail.SetMasterSource(nullptr);
  EXPECT_EQ(detail.RecordCount(), 6) << "without a master every record shows";
}

TEST(DataSetMasterDetail, FreedMasterSourceReleasesTheDetail) {
  TMemDataSet master;
  master.FieldDefs().Add("K", ftInteger);
  master.Open();
  master.AppendRecord({1});
  TMemDataSet detail;
  detail.FieldDefs().Add("K", ftInteger);
  detail.Open();
  detail.AppendRecord({1});
  detail.AppendRecord({2});
  {
    TDataSource source(nullptr);
    source.SetDataSet(&master);
    detail.SetDetailFields("K");
    detail.SetMasterFields("K");
    detail.SetMasterSource(&source);
    EXPECT_EQ(detail.RecordCount(), 1);
  }
  EXPECT_EQ(detail.MasterSource(), nullptr);
  EXPECT_EQ(detail.RecordCount(), 2);
}

TEST(DataSetBlobs, BlobFieldsReadAndWriteThroughStreams) {
  TMemDataSet ds;
  ds.FieldDefs().Add("ID", ftInteger);
  ds.FieldDefs().Add("Notes", ftMemo);
  ds.FieldDefs().Add("Data", ftBlob);
  ds.Open();
  auto* notes = static_cast<TBlobField*>(ds.FieldByName("Notes"));
  auto* data = static_cast<TBlobField*>(ds.FieldByName("Data"));
  EXPECT_EQ(notes->ClassName(), "TMemoField");
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(1);
  notes->SetAsString("long text");
  EXPECT_TRUE(notes->Modified());
  TMemoryStream bytes;
  const char raw[] = {'\0', '\x01', '\xff'};
  bytes.Write(raw, 3);
  data->LoadFromStream(bytes);
  ds.Post();
  EXPECT_FALSE(notes->Modified()) << "posting ends the blob's modified state";
  EXPECT_EQ(notes->AsString(), "long text");
  EXPECT_EQ(notes->DisplayText(), "(MEMO)");
  EXPECT_EQ(data->AsString(), std::string(raw, 3));
  TMemoryStream out;
  data->SaveToStream(out);
  EXPECT_EQ(out.Size(), 3);

  ds.Edit();
  notes->Clear();
  ds.Post();
  EXPECT_TRUE(notes->IsNull()) << "an emptied blob is null";
  EXPECT_EQ(notes->DisplayText(), "(Memo)");
  EXPECT_TRUE(notes->AsVariant().IsNull());
  EXPECT_EQ(ErrorOf([&] { notes->SetAsString("x"); }), "Dataset not in edit or insert mode");
  notes->SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(ErrorOf([&] { notes->SetAsString("x"); }), "Field 'Notes' cannot be modified");
  EXPECT_EQ(ErrorOf([&] { notes->LoadFromStream(bytes); }), "Field 'Notes' cannot be modified");
  ds.Cancel();
  EXPECT_EQ(ErrorOf([&] { notes->SetCalculated(true); }),
            "Cannot perform this operation on an open dataset");
}

TEST(DataSetDefs, FieldDefsCreateFieldsOfEveryStoredType) {
  struct Case {
    TFieldType type;
    int32_t size;
    const char* className;
    int32_t dataSize;
  };
  const Case cases[] = {
      {ftString, 8, "TStringField", 9},
      {ftSmallint, 0, "TSmallintField", 2},
      {ftInteger, 0, "TIntegerField", 4},
      {ftWord, 0, "TWordField", 2},
      {ftBoolean, 0, "TBooleanField", 2},
      {ftFloat, 0, "TFloatField", 8},
      {ftCurrency, 0, "TCurrencyField", 8},
      {ftBCD, 2, "TBCDField", 8},
      {ftDate, 0, "TDateField", 4},
      {ftTime, 0, "TTimeField", 4},
      {ftDateTime, 0, "TDateTimeField", 8},
      {ftBytes, 6, "TBytesField", 6},
      {ftVarBytes, 6, "TVarBytesField", 8},
      {ftAutoInc, 0, "TAutoIncField", 4},
      {ftBlob, 0, "TBlobField", 0},
      {ftMemo, 0, "TMemoField", 0},
      {ftGraphic, 0, "TGraphicField", 0},
      {ftFmtMemo, 0, "TBlobField", 0},
      {ftWideString, 5, "TWideStringField", 12},
      {ftLargeint, 0, "TLargeintField", 8},
      {ftFixedChar, 3, "TStringField", 4},
  };
  TMemDataSet ds;
  ds.SetName("Mem");
  for (const Case& c : cases) {
    TFieldDef* def = ds.FieldDefs().Add(std::string("F") + FieldTypeIdents[c.type].data(), c.type,
                                        c.size, c.type == ftInteger);
    TField* field = def->CreateField(nullptr);
    EXPECT_EQ(field->ClassName(), c.className) << FieldTypeIdents[c.type];
    EXPECT_EQ(field->DataType(), c.type) << FieldTypeIdents[c.type];
    EXPECT_EQ(field->DataSize(), c.dataSize) << FieldTypeIdents[c.type];
    EXPECT_EQ(field->DataSet(), &ds);
    EXPECT_EQ(field->Required(), c.type == ftInteger);
  }
  ds.FieldDefs().Add("Cur", ftCursor);
  EXPECT_EQ(ErrorOf([&] { ds.FieldDefs().Find("Cur")->CreateField(nullptr); }),
            "Mem: Field 'Cur' is of an unknown type");
  delete ds.FieldDefs().Find("Cur");
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), static_cast<int32_t>(std::size(cases)));
  ds.FieldDefs().Update();
  EXPECT_TRUE(ds.FieldDefs().Updated());
}

}  // namespace
