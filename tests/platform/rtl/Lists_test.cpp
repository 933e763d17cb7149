#include "platform/rtl/Lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/rtl/Collections.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RtlTestSupport.h"
#include "platform/rtl/Streams.h"
#include "support/TestDir.h"

namespace plat {
namespace {

void* P(intptr_t n) {
  return reinterpret_cast<void*>(n);
}
intptr_t N(void* p) {
  return reinterpret_cast<intptr_t>(p);
}

std::vector<intptr_t> Contents(const TList& list) {
  std::vector<intptr_t> result;
  for (int32_t i = 0; i < list.Count(); ++i) result.push_back(N(list.Items(i)));
  return result;
}

std::vector<std::string> Lines(const TStrings& list) {
  std::vector<std::string> result;
  for (int32_t i = 0; i < list.Count(); ++i) result.push_back(list.Strings(i));
  return result;
}

using Strings = std::vector<std::string>;

TStringList& Fill(TStringList& list, const Strings& lines) {
  for (const std::string& s : lines) list.Add(s);
  return list;
}

using rtltest::MessageOf;

// ---------------------------------------------------------------- TList

TEST(TListTest, EditsKeepOrder) {
  TList list;
  for (intptr_t i = 1; i <= 5; ++i) EXPECT_EQ(list.Add(P(i)), i - 1);
  list.Insert(0, P(10));
  list.Insert(6, P(11));
  EXPECT_EQ(Contents(list), (std::vector<intptr_t>{10, 1, 2, 3, 4, 5, 11}));
  list.Delete(0);
  EXPECT_EQ(list.Remove(P(3)), 2);
  EXPECT_EQ(list.Remove(P(99)), -1);
  EXPECT_EQ(list.Extract(P(4)), P(4));
  EXPECT_EQ(list.Extract(P(99)), nullptr);
  EXPECT_EQ(Contents(list), (std::vector<intptr_t>{1, 2, 5, 11}));
  list.Exchange(0, 3);
  list.Move(0, 2);
  EXPECT_EQ(Contents(list), (std::vector<intptr_t>{2, 5, 11, 1}));
  EXPECT_EQ(N(list.First()), 2);
  EXPECT_EQ(N(list.Last()), 1);
  list[1] = P(7);
  list.SetItems(2, nullptr);
  EXPECT_EQ(list.IndexOf(P(7)), 1);
  list.SetCount(6);
  EXPECT_EQ(Contents(list), (std::vector<intptr_t>{2, 7, 0, 1, 0, 0}));
  list.Pack();
  EXPECT_EQ(Contents(list), (std::vector<intptr_t>{2, 7, 1}));

  TList copy;
  copy.Add(P(42));
  copy.Assign(list);
  EXPECT_EQ(Contents(copy), Contents(list));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(TListTest, BadIndexesRaise) {
  TList list;
  list.Add(P(1));
  list.Add(P(2));
  struct Case {
    const char* what;
    std::function<void()> action;
    const char* message;
  };
  const Case cases[] = {
      {"get -1", [&] { list.Items(-1); }, "EListError: List index out of bounds (-1)"},
      {"get count", [&] { list.Items(2); }, "EListError: List index out of bounds (2)"},
      {"set", [&] { list.SetItems(5, nullptr); }, "EListError: List index out of bounds (5)"},
      {"insert past end", [&] { list.Insert(3, nullptr); },
       "EListError: List index out of bounds (3)"},
      {"delete", [&] { list.Delete(2); }, "EListError: List index out of bounds (2)"},
      {"exchange", [&] { list.Exchange(0, 9); }, "EListError: List index out of bounds (9)"},
      {"move to", [&] { list.Move(0, 2); }, "EListError: List index out of bounds (2)"},
      {"move from", [&] { list.Move(-3, 0); }, "EListError: List index out of bounds (-3)"},
      {"count", [&] { list.SetCount(-1); }, "EListError: List count out of bounds (-1)"},
      {"capacity", [&] { list.SetCapacity(1); }, "EListError: List capacity out of bounds (1)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageOf(c.action), c.message) << c.what;
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{1, 2})) << c.what;
  }
  TList empty;
  EXPECT_EQ(MessageOf([&] { empty.First(); }), "EListError: List index out of bounds (0)");
  EXPECT_EQ(MessageOf([&] { empty.Last(); }), "EListError: List index out of bounds (-1)");
}

TEST(TListTest, SortMatchesModel) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 50; ++round) {
    const int size = static_cast<int>(random() % 200);
    TList list;
    std::vector<intptr_t> model;
    for (int i = 0; i < size; ++i) {
      const auto value = static_cast<intptr_t>(random() % 50);
      list.Add(P(value));
      model.push_back(value);
    }
    list.Sort([](void* a, void* b) { return static_cast<int32_t>(N(a) - N(b)); });
    std::sort(model.begin(), model.end());
    ASSERT_EQ(Contents(list), model) << "round " << round;
  }
}

TEST(TListTest, SortSurvivesAnInconsistentComparison) {
  std::mt19937 random(7);
  TList list;
  for (intptr_t i = 0; i < 500; ++i) list.Add(P(i));
  list.Sort([&](void*, void*) { return static_cast<int32_t>(random() % 3) - 1; });
  std::vector<intptr_t> values = Contents(list);
  std::sort(values.begin(), values.end());
  for (intptr_t i = 0; i < 500; ++i) ASSERT_EQ(values[static_cast<size_t>(i)], i);
}

// ---------------------------------------------------------------- TStringList

TEST(TStringListTest, CommaTextQuotesWhatNeedsIt) {
  struct Case {
    Strings lines;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"a", "b"}, "a,b"},
      {{"a b", "c"}, "\"a b\",c"},
      {{"x,y"}, "\"x,y\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"a", ""}, "a,"},
      {{"", "a"}, ",a"},
      {{"a", "", "b"}, "a,,b"},
      {{"caf\xC3\xA9"}, "caf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    TStringList list;
    Fill(list, c.lines);
    EXPECT_EQ(list.CommaText(), c.text);
    TStringList back;
    back.SetCommaText(c.text);
    EXPECT_EQ(Lines(back), c.lines) << c.text;
  }
}

TEST(TStringListTest, CommaTextParsing) {
  struct Case {
    const char* text;
    Strings lines;
  };
  const Case cases[] = {
      {"  a , b  ", {"a", "b"}},
      {"a b", {"a", "b"}},
      {"\"a, b\" , c", {"a, b", "c"}},
      {"\"abc\"def,x", {"abc", "def", "x"}},
      {"\"open", {"open"}},
      {"\"\"", {""}},
      {",", {"", ""}},
      {"a,,", {"a", "", ""}},
      {"\"a\"\"b\"", {"a\"b"}},
  };
  for (const Case& c : cases) {
    TStringList list;
    list.SetCommaText(c.text);
    EXPECT_EQ(Lines(list), c.lines) << c.text;
  }
}

TEST(TStringListTest, DelimitedTextUsesItsCharacters) {
  TStringList list;
  list.SetDelimiter(';');
  list.SetQuoteChar('\'');
  Fill(list, {"a;b", "it's", "x,y", "plain"});
  EXPECT_EQ(list.DelimitedText(), "'a;b';'it''s';x,y;plain");
  EXPECT_EQ(list.CommaText(), "a;b,it's,\"x,y\",plain");
  TStringList back;
  back.SetDelimiter(';');
  back.SetQuoteChar('\'');
  back.SetDelimitedText(list.DelimitedText());
  EXPECT_EQ(Lines(back), Lines(list));
}

TEST(TStringListTest, CommaTextRoundTripsAnyBytes) {
  std::mt19937 random(99);
  // Every character that needs quoting, a NUL and UTF-8 bytes.
  const std::string alphabet("ab ,\"'\t\r\n=;\x01\xC3\xA9\0", 15);
  for (int round = 0; round < 200; ++round) {
    TStringList list;
    const int count = 1 + static_cast<int>(random() % 5);
    for (int i = 0; i < count; ++i) {
      std::string s;
      const int length = static_cast<int>(random() % 6);
      for (int k = 0; k < length; ++k) s += alphabet[random() % alphabet.size()];
      list.Add(s);
    }
    TStringList back;
    back.SetCommaText(list.CommaText());
    ASSERT_EQ(Lines(back), Lines(list)) << list.CommaText();
  }
}

TEST(TStringListTest, SortedWithDuplicates) {
  TStringList list;
  list.SetSorted(true);
  Fill(list, {"pear", "Apple", "fig", "apple"});
  // dupIgnore: "apple" matches "Apple" ignoring case and is not added.
  EXPECT_EQ(Lines(list), (Strings{"Apple", "fig", "pear"}));
  EXPECT_EQ(list.Add("FIG"), 1);
  EXPECT_EQ(list.Count(), 3);

  list.SetDuplicates(dupError);
  EXPECT_EQ(MessageOf([&] { list.Add("PEAR"); }),
            "EStringListError: String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 3);

  list.SetDuplicates(dupAccept);
  list.Add("fig");
  list.Add("Fig");
  EXPECT_EQ(list.Count(), 5);
  int32_t index = -1;
  EXPECT_TRUE(list.Find("FIG", index));
  EXPECT_EQ(index, 1);  // the first of the equal run
  EXPECT_EQ(list.IndexOf("fIg"), 1);
  EXPECT_FALSE(list.Find("grape", index));
  EXPECT_EQ(index, 4);

  EXPECT_EQ(MessageOf([&] { list.Insert(0, "x"); }),
            "EStringListError: Operation not allowed on sorted list");
  EXPECT_EQ(MessageOf([&] { list.SetStrings(0, "x"); }),
            "EStringListError: Operation not allowed on sorted list");
  EXPECT_EQ(MessageOf([&] { list.Move(0, 2); }),
            "EStringListError: Operation not allowed on sorted list");
  EXPECT_EQ(list.Count(), 5);
}

TEST(TStringListTest, CaseSensitivity) {
  TStringList list;
  Fill(list, {"b", "B", "a"});
  EXPECT_EQ(list.IndexOf("B"), 0);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("B"), 1);
  EXPECT_EQ(list.IndexOf("A"), -1);
  list.SetSorted(true);
  EXPECT_EQ(Lines(list), (Strings{"a", "b", "B"}));
  list.SetCaseSensitive(false);
  EXPECT_EQ(list.IndexOf("A"), 0);
}

TEST(TStringListTest, NamesAndValues) {
  TStringList list;
  Fill(list, {"Host=example", "Port=80", "lonely", "Empty=", "Path=a=b"});
  EXPECT_EQ(list.Values("PORT"), "80");
  EXPECT_EQ(list.Values("Path"), "a=b");
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(list.IndexOfName("empty"), 3);
  EXPECT_EQ(list.IndexOfName("lonely"), -1);
  EXPECT_EQ(list.Names(0), "Host");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.ValueFromIndex(4), "a=b");
  EXPECT_EQ(list.ValueFromIndex(2), "");

  list.SetValues("port", "8080");
  list.SetValues("User", "me");
  list.SetValues("Host", "");
  EXPECT_EQ(Lines(list), (Strings{"port=8080", "lonely", "Empty=", "Path=a=b", "User=me"}));
}

TEST(TStringListTest, TextSplitsAtEveryLineBreak) {
  struct Case {
    const char* text;
    Strings lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"\n\n", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
      {"x\r\n\r\ny\r\n", {"x", "", "y"}},
  };
  for (const Case& c : cases) {
    TStringList list;
    list.SetText(c.text);
    EXPECT_EQ(Lines(list), c.lines) << c.text;
  }
  TStringList list;
  Fill(list, {"one", "", "three"});
  EXPECT_EQ(list.Text(), "one\n\nthree\n");
  // A NUL byte is data, not the end of the text.
  list.SetText(std::string("a\0b\nc", 5));
  EXPECT_EQ(Lines(list), (Strings{std::string("a\0b", 3), "c"}));
}

TEST(TStringListTest, ChangeEventsWaitForEndUpdate) {
  TStringList list;
  int changing = 0;
  int changed = 0;
  list.OnChanging = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    ++changing;
  };
  list.OnChange = [&](TObject*) { ++changed; };
  list.Add("a");
  list.SetStrings(0, "b");
  list.Delete(0);
  EXPECT_EQ(changing, 3);
  EXPECT_EQ(changed, 3);

  list.BeginUpdate();
  list.BeginUpdate();
  list.SetText("x\ny\nz");
  list.Exchange(0, 2);
  list.EndUpdate();
  EXPECT_EQ(changed, 3);
  list.EndUpdate();
  EXPECT_EQ(changing, 4);
  EXPECT_EQ(changed, 4);
  EXPECT_EQ(Lines(list), (Strings{"z", "y", "x"}));
}

class Counted : public TObject {
 public:
  explicit Counted(int& alive) : alive_(alive) { ++alive_; }
  ~Counted() override { --alive_; }

 private:
  int& alive_;
};

TEST(TStringListTest, OwnedObjectsAreFreedOnlyWhenDropped) {
  int alive = 0;
  {
    TStringList list(true);
    for (int i = 0; i < 4; ++i) list.AddObject(std::to_string(i), new Counted(alive));
    EXPECT_EQ(alive, 4);
    TObject* first = list.Objects(0);
    list.Move(0, 3);
    list.Exchange(0, 1);
    EXPECT_EQ(alive, 4);
    EXPECT_EQ(list.Objects(3), first);
    list.Delete(0);
    EXPECT_EQ(alive, 3);
    list.SetObjects(0, new Counted(alive));
    EXPECT_EQ(alive, 3);
    list.Clear();
    EXPECT_EQ(alive, 0);
    list.AddObject("x", new Counted(alive));
  }
  EXPECT_EQ(alive, 0);

  Counted shared(alive);
  {
    TStringList list;
    list.AddObject("kept", &shared);
    list.Clear();
  }
  EXPECT_EQ(alive, 1);
}

TEST(TStringListTest, AssignAndAddStrings) {
  TStringList source;
  TObject marker;
  source.AddObject("a", &marker);
  source.Add("b");
  source.SetDelimiter(';');
  TStringList target;
  target.Add("old");
  target.Assign(&source);
  EXPECT_EQ(Lines(target), (Strings{"a", "b"}));
  EXPECT_EQ(target.Objects(0), &marker);
  EXPECT_EQ(target.Delimiter(), ';');
  target.AddStrings(source);
  EXPECT_EQ(target.CommaText(), "a,b,a,b");
  EXPECT_EQ(target.IndexOfObject(&marker), 0);

  TCollection collection(CollectionItemClass<TCollectionItem>());
  EXPECT_EQ(MessageOf([&] { target.Assign(&collection); }),
            "EConvertError: Cannot assign a TCollection to a TStringList");
  EXPECT_EQ(MessageOf([&] { target.Assign(nullptr); }),
            "EConvertError: Cannot assign a nil to a TStringList");
  EXPECT_EQ(target.Count(), 4);
}

TEST(TStringListTest, CustomSortAndSort) {
  TStringList list;
  Fill(list, {"ccc", "a", "bb", "dddd", "e"});
  list.CustomSort([](TStringList& l, int32_t i, int32_t j) {
    return static_cast<int32_t>(l.Strings(i).size()) - static_cast<int32_t>(l.Strings(j).size());
  });
  EXPECT_EQ(list.Strings(2), "bb");
  EXPECT_EQ(list.Strings(4), "dddd");
  list.Sort();
  EXPECT_EQ(Lines(list), (Strings{"a", "bb", "ccc", "dddd", "e"}));
}

TEST(TStringListTest, FilesAndStreams) {
  testsupport::TempDir dir;
  TStringList list;
  Fill(list, {"first", "", "caf\xC3\xA9"});
  list.SaveToFile(dir.File("lines.txt"));
  TStringList back;
  back.LoadFromFile(dir.File("lines.txt"));
  EXPECT_EQ(Lines(back), Lines(list));

  TStringStream stream("x\r\ny");
  stream.SetPosition(3);
  back.LoadFromStream(stream);
  EXPECT_EQ(Lines(back), (Strings{"y"}));

  EXPECT_EQ(MessageOf([&] { back.LoadFromFile(dir.File("missing.txt")); }),
            "EFOpenError: Cannot open file \"" + dir.File("missing.txt") +
                "\". No such file or directory");
  EXPECT_EQ(Lines(back), (Strings{"y"}));
}

TEST(TStringListTest, BadIndexesRaise) {
  TStringList list;
  Fill(list, {"a"});
  EXPECT_EQ(MessageOf([&] { list.Strings(1); }), "EStringListError: List index out of bounds (1)");
  EXPECT_EQ(MessageOf([&] { list.Objects(-1); }),
            "EStringListError: List index out of bounds (-1)");
  EXPECT_EQ(MessageOf([&] { list.Insert(2, "x"); }),
            "EStringListError: List index out of bounds (2)");
  EXPECT_EQ(MessageOf([&] { list.Delete(1); }), "EStringListError: List index out of bounds (1)");
  EXPECT_EQ(MessageOf([&] { list.Move(0, 1); }), "EStringListError: List index out of bounds (1)");
  EXPECT_EQ(Lines(list), (Strings{"a"}));
}

}  // namespace
}  // namespace plat
