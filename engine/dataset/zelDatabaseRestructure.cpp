// The table cursor: restructuring a table, rebuilding it from the backup,
// re-indexing it and copying records between tables.
//
// A restructure runs in one transaction of the database: the storage reset,
// the new catalogue row and every copied record are undone together when any
// step fails or the progress handler aborts, so the table stays as it was.
// The ".zex" backup is made first and stays on disk.
#include <cmath>
#include <functional>
#include <map>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCommonLog.h"
#include "engine/storage/zelCommonText.h"
#include "platform/os/Files.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* CopyCaller = "TZelDataSet.CopyRawTableData";

// Runs a change of the database in a transaction of its own: committed by
// Commit, rolled back when the scope ends without it.
class TOwnTransaction {
 public:
  explicit TOwnTransaction(TZelDataBase& DataBase) : DataBase_(DataBase) {
    DataBase_.StartTransaction();
  }
  ~TOwnTransaction() {
    if (!Active_) return;
    try {
      DataBase_.Rollback();
    } catch (...) {
      // The failure that ended the scope is the one to report.
    }
  }
  TOwnTransaction(const TOwnTransaction&) = delete;
  TOwnTransaction& operator=(const TOwnTransaction&) = delete;
  void Commit() {
    DataBase_.Commit();
    Active_ = false;
  }

 private:
  TZelDataBase& DataBase_;
  bool Active_ = true;
};

// Closes the cursor when the scope ends, unless it was already closed.
class TCloseOnExit {
 public:
  explicit TCloseOnExit(TZelDataSet& Cursor) : Cursor_(Cursor) {}
  ~TCloseOnExit() {
    try {
      if (Cursor_.CursorOpen()) Cursor_.DataSetClose();
    } catch (...) {
    }
  }
  TCloseOnExit(const TCloseOnExit&) = delete;
  TCloseOnExit& operator=(const TCloseOnExit&) = delete;

 private:
  TZelDataSet& Cursor_;
};

}  // namespace

bool TZelDataSet::ReportProgress(int64_t Position, int64_t Count, int32_t& LastPercent) {
  if (DataBase_ == nullptr || !DataBase_->OnUpdateProgress || Count <= 0) return false;
  const int32_t percent =
      static_cast<int32_t>(std::lround(static_cast<double>(Position) * 100.0 / static_cast<double>(Count)));
  if (percent == LastPercent) return false;
  LastPercent = percent;
  bool abort = false;
  DataBase_->OnUpdateProgress(percent, abort);
  return abort;
}

// ---------------------------------------------------------------- re-indexing

int32_t TZelDataSet::InternalReIndex(bool SkipKeyViolations) {
  static const char* const Context = "TZelDataSet.InternalReIndex";
  CheckInternalActive();
  TCursorLock lock(*this, true);
  TTableDef& def = *TableDef_;
  std::vector<uint32_t> blocks;
  def.RecordInterface()->ListBlocks(blocks);
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) IndexMgr_->Items(i)->EmptyIndex();
  def.TableHeader()->SetDirty(true);

  const uint32_t owner = def.RecordInterface()->OwnerFlag();
  int32_t skipped = 0;
  int32_t lastPercent = -1;
  const int64_t count = static_cast<int64_t>(blocks.size());
  for (size_t k = 0; k < blocks.size(); ++k) {
    const uint32_t addr = blocks[k];
    uint8_t* rec = RecBuf_.data();
    RecordMgr_->ReadRecord(addr, rec, false);
    if (rec[rpInUse] == 1 && ix::LoadU32(rec + rpOwnerCode) == owner) {
      TIndexItem* clash = nullptr;
      for (int32_t i = 0; i < IndexMgr_->Count() && clash == nullptr; ++i) {
        TIndexItem* index = IndexMgr_->Items(i);
        index->CreateKeyBuffer(rec);
        if (index->FullIndexSearch(stEQ) == 0) clash = index;
      }
      if (clash != nullptr) {
        if (!SkipKeyViolations)
          ZelDatabaseErrorFmt(0x2601, Context, SzelIndexFmt, {clash->IndexName()}, this);
        ++skipped;
        GDBLogger()->LogItem(TableName_ + ".ReIndex",
                             plat::Format("Record at %d left out: duplicate key in Index %s",
                                          {static_cast<int32_t>(addr), clash->IndexName()}));
      } else {
        for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
          TIndexItem* index = IndexMgr_->Items(i);
          index->CreateKeyBuffer(rec);
          if (index->InsertKey(addr) != 0)
            ZelDatabaseErrorFmt(0x2185, Context, "Failed to add key to Index %s",
                                {index->IndexName()}, this);
        }
      }
    }
    if (ReportProgress(static_cast<int64_t>(k) + 1, count, lastPercent))
      ZelDatabaseError(0x2186, Context, "Re-index aborted", this);
  }
  ClearRecord(nullptr);
  CurrentRecordFlag_ = false;
  return skipped;
}

void TZelDataSet::InitializeRebuild() {
  CheckInternalActive();
  TCursorLock lock(*this, true);
  TableDef_->RecordInterface()->Empty(true);
  TableDef_->RecordInterface()->SetFirstEmpty(0);
  TableDef_->TableHeader()->SetDirty(true);
  ClearRecord(nullptr);
}

void TZelDataSet::FinalizeRebuild() {
  TCursorLock lock(*this, true);
  InternalReIndex(true);
}

// ---------------------------------------------------------------- copying records

int32_t TZelDataSet::CopyRawTableData(TZelDataSet& Source) {
  CheckInternalActive();
  Source.CheckInternalActive();
  TDBLogger& log = *GDBLogger();
  log.LogItem(CopyCaller, "Copying record data - Starting");
  const bool ownTransaction = !Memory_ && !DataBase_->InTransaction();
  if (ownTransaction) DataBase_->StartTransaction();
  int32_t copied = 0;
  try {
    TCursorLock writeLock(*this, true);
    TCursorLock readLock(Source, false);
    std::vector<uint32_t> blocks;
    Source.TableDef_->RecordInterface()->ListBlocks(blocks);
    log.LogItem(CopyCaller, plat::Format("Found %d records (including unallocated and deleted records)",
                                         {static_cast<int32_t>(blocks.size())}));
    log.LogItem(CopyCaller, "Importing data - field mapping...");
    // Destination field number -> source field number (-1: stays null).
    std::vector<int32_t> map(static_cast<size_t>(GetInternalFieldCount()), -1);
    for (int32_t f = 0; f < GetInternalFieldCount(); ++f) {
      const TInternalFieldItem* field = GetInternalField(f);
      const std::string& source = field->SourceField().empty() ? field->FieldName() : field->SourceField();
      const int32_t s = Source.GetFieldNo(source);
      log.LogItem(CopyCaller, source + " -> " + field->FieldName());
      if (s < 0 || IsFieldBlob(f) != Source.IsFieldBlob(s)) continue;
      map[static_cast<size_t>(f)] = s;
    }
    const uint32_t owner = Source.TableDef_->RecordInterface()->OwnerFlag();
    int32_t lastPercent = -1;
    const int64_t count = static_cast<int64_t>(blocks.size());
    for (size_t k = 0; k < blocks.size(); ++k) {
      uint8_t* src = Source.RecBuf_.data();
      Source.RecordMgr_->ReadRecord(blocks[k], src, false);
      if (src[rpInUse] == 1 && ix::LoadU32(src + rpOwnerCode) == owner) {
        ClearRecord(nullptr);
        for (int32_t f = 0; f < static_cast<int32_t>(map.size()); ++f) {
          const int32_t s = map[static_cast<size_t>(f)];
          if (s < 0) continue;
          if (IsFieldBlob(f)) {
            plat::TMemoryStream stream;
            bool isNull = true;
            Source.DataSetGetFieldStreamFromRecBuf(src, s, stream, isNull);
            if (!isNull) {
              stream.SetPosition(0);
              DataSetSetFieldStream(f, false, stream);
            }
          } else {
            DataSetSetFieldDataAsVariant(f, Source.DataSetGetFieldDataFromRecBufAsVariant(src, s));
          }
        }
        AddRecord(false);
        ++copied;
      }
      if (ReportProgress(static_cast<int64_t>(k) + 1, count, lastPercent))
        ZelDatabaseError(0x2186, CopyCaller, "Copy aborted", this);
      if (ownTransaction && (k + 1) % 100 == 0) {
        DataBase_->Commit();
        DataBase_->StartTransaction();
      }
    }
  } catch (...) {
    if (ownTransaction && DataBase_->InTransaction()) {
      try {
        DataBase_->Commit();
      } catch (...) {
      }
    }
    log.LogItem(CopyCaller, plat::Format("Records Copied %d", {copied}));
    throw;
  }
  log.LogItem(CopyCaller, plat::Format("Records Copied %d", {copied}));
  if (ownTransaction) DataBase_->Commit();
  int32_t last = -1;
  ReportProgress(100, 100, last);
  log.LogItem(CopyCaller, "Copying record data - Done");
  log.SaveLogToFile(DataBase_->Directory() + "dblog.txt");
  return copied;
}

// ---------------------------------------------------------------- restructuring

void TZelDataSet::InternalRestructureTable(TInternalRestructureRecord& Request) {
  static const char* const Context = "TZelDataSet.InternalRestructureTable";
  CheckConnected();
  CheckInternalInactive();
  TZelDataBase& db = *DataBase_;
  if (Memory_) ZelDatabaseError(0x2A0E, Context, TableName_, this);
  db.QueryOpenStatus(true, true);
  if (db.GetLocalConnectedUserCount(TableName_, false) > 0)
    ZelDatabaseErrorFmt(0x272F, Context, "The table %s is in use", {TableName_}, this);
  if (db.InTransaction()) ZelDatabaseError(0x278A, Context, "", this);
  // Refused before the backup is made: nothing is touched.
  db.CheckObjectPrivilege(TableName_, MapObjectPrivTypeToConst(opAlterObj), Context);
  if (Request.NewFieldDefs == nullptr || Request.NewIndexDefs == nullptr)
    ZelDatabaseErrorFmt(0x2185, Context, "%s has not been set or is out of range",
                        {std::string("RestructureDetails.NewFieldDefs")}, this);
  if (Request.DestFieldDefs == nullptr || Request.DestIndexDefs == nullptr)
    ZelDatabaseErrorFmt(0x2185, Context, "%s has not been set or is out of range",
                        {std::string("RestructureDetails.DestFieldDefs")}, this);
  const TDefChangeType fieldStatus = Request.NewFieldDefs->ChangeStatus();
  const TDefChangeType indexStatus = Request.NewIndexDefs->ChangeStatus();
  const bool settingsChange = Request.SetBlobBlockSize || Request.SetSortOrder || Request.SetBlobCompression;
  if (fieldStatus == dcNoChange && indexStatus == dcNoChange && !settingsChange) return;

  const std::string backup = db.BackupFileName();
  db.CopyDatabase(backup, true);

  TOwnTransaction transaction(db);
  TCloseOnExit closer(*this);
  TTableDef stored;
  stored.SetMemory(false);
  db.QueryTableDef(TableName_, false, stored);
  std::map<std::string, int32_t> generatorIDs;
  for (int32_t i = 0; i < stored.InternalFields().Count(); ++i) {
    const TInternalFieldItem* f = stored.InternalFields().GetIndex(i);
    generatorIDs[plat::UpperCase(f->FieldName())] = f->FieldGeneratorID();
  }

  if (IsDataChangeStatus(fieldStatus) || settingsChange) {
    // The record layout changes: new definition, then the records back
    // from the backup.
    BlobBlockSize_ = Request.SetBlobBlockSize ? Request.BlobBlockSize : stored.DefaultBlobSize();
    SortOrder_ = Request.SetSortOrder ? Request.SortOrder : stored.SortOrder();
    BlobCompression_ = Request.SetBlobCompression ? Request.BlobCompression : stored.BlobCompression();
    EncryptionLevel_ = stored.EncryptionLevel();
    TableDef_->Assign(&stored);
    SetTableDefFromRSDefs(false, *Request.DestFieldDefs, *Request.DestIndexDefs);
    TTableDef& def = *TableDef_;
    def.SetTableID(stored.TableID());
    def.SetCreationDate(stored.CreationDate());
    def.SetCreatedBy(stored.CreatedBy());
    def.SetVersion(stored.Version());
    def.SetOS(stored.OS());
    std::map<std::string, std::string> sources;
    for (int32_t i = 0; i < Request.DestFieldDefs->Count(); ++i) {
      const TRestructureFieldDef* d = Request.DestFieldDefs->Items(i);
      if (d->ChangeStatus() == dcDeleted || d->SourceFieldName().empty()) continue;
      sources[plat::UpperCase(d->Name())] = d->SourceFieldName();
    }
    for (int32_t i = 0; i < def.InternalFields().Count(); ++i) {
      TInternalFieldItem* f = def.InternalFields().GetIndex(i);
      const auto s = sources.find(plat::UpperCase(f->FieldName()));
      if (s == sources.end()) continue;
      const auto g = generatorIDs.find(plat::UpperCase(s->second));
      if (g != generatorIDs.end()) f->SetFieldGeneratorID(g->second);
    }
    db.UpdateTableDef(def, Request);
    DataSetOpen();
    for (int32_t i = 0; i < GetInternalFieldCount(); ++i) {
      TInternalFieldItem* f = GetInternalField(i);
      const auto s = sources.find(plat::UpperCase(f->FieldName()));
      f->SetSourceField(s != sources.end() ? s->second : f->FieldName());
    }
    DataSetEmptyTable();
    db.RebuildTable(TableName_, backup, this);
    DataSetClose();
  } else if (IsDataChangeStatus(indexStatus)) {
    TableDef_->Assign(&stored);
    SetTableDefFromRSDefs(true, *Request.DestFieldDefs, *Request.DestIndexDefs);
    db.UpdateTableDef(*TableDef_, Request);
    DataSetOpen();
    InternalReIndex(true);
    DataSetClose();
  } else {
    // Names, order or required flags: the stored records stay as they are.
    TTableDef& def = *TableDef_;
    def.Assign(&stored);
    int32_t kept = 0;
    for (int32_t i = 0; i < Request.DestFieldDefs->Count(); ++i)
      if (Request.DestFieldDefs->Items(i)->ChangeStatus() != dcDeleted) ++kept;
    if (kept != def.InternalFields().Count())
      ZelDatabaseError(0x2185, Context,
                       "Unexpected mismatch in restructure field defs count and table defs count", this);
    int32_t position = 0;
    std::vector<std::pair<TInternalFieldItem*, const TRestructureFieldDef*>> changes;
    for (int32_t i = 0; i < Request.DestFieldDefs->Count(); ++i) {
      const TRestructureFieldDef* d = Request.DestFieldDefs->Items(i);
      if (d->ChangeStatus() == dcDeleted) continue;
      const std::string& old = d->SourceFieldName().empty() ? d->Name() : d->SourceFieldName();
      TInternalFieldItem* f = nullptr;
      for (int32_t k = 0; k < def.InternalFields().Count() && f == nullptr; ++k)
        if (plat::SameText(def.InternalFields().GetIndex(k)->FieldName(), old))
          f = def.InternalFields().GetIndex(k);
      if (f == nullptr) ZelDatabaseError(0x2185, Context, "Field def not found for updating", this);
      f->SetFieldIndex(position++);
      changes.emplace_back(f, d);
    }
    // Names change only once every field was found by its old name.
    for (auto& [f, d] : changes) {
      f->SetFieldName(d->Name());
      f->SetRequired(d->Required());
    }
    db.UpdateTableDef(def, Request);
  }
  transaction.Commit();
  db.DumpDefinitionsIfSaved(Context);
}

void TZelDataSet::InternalRebuildTable() {
  static const char* const Context = "TZelDataSet.InternalRebuildTable";
  CheckConnected();
  CheckInternalInactive();
  TZelDataBase& db = *DataBase_;
  if (Memory_) ZelDatabaseError(0x2A0E, Context, TableName_, this);
  db.QueryOpenStatus(true, true);
  if (db.InTransaction()) ZelDatabaseError(0x278A, Context, "", this);
  const std::string backup = db.BackupFileName();
  db.CopyDatabase(backup, true);
  TOwnTransaction transaction(db);
  TCloseOnExit closer(*this);
  DataSetOpen();
  DataSetEmptyTable();
  db.RebuildTable(TableName_, backup, this);
  DataSetClose();
  transaction.Commit();
}

}  // namespace zel

// ---------------------------------------------------------------- the table component

namespace zel {

void TZelTable::DropRestructureDefs() {
  RestructureFieldDefs_.reset();
  RestructureIndexDefs_.reset();
  CurrentFieldDefs_.reset();
  CurrentIndexDefs_.reset();
}

void TZelTable::EnsureRestructureDefs() {
  if (RestructureFieldDefs_ != nullptr) return;
  const bool opened = !Active();
  if (opened) Open();
  try {
    auto fields = std::make_unique<plat::TFieldDefs>();
    fields->Assign(&FieldDefs());
    auto indexes = std::make_unique<plat::TIndexDefs>();
    indexes->Assign(&IndexDefs());
    if (opened) Close();
    auto newFields = std::make_unique<TRestructureFieldDefs>();
    newFields->Assign(fields.get());
    auto newIndexes = std::make_unique<TRestructureIndexDefs>();
    newIndexes->Assign(indexes.get());
    CurrentFieldDefs_ = std::move(fields);
    CurrentIndexDefs_ = std::move(indexes);
    RestructureFieldDefs_ = std::move(newFields);
    RestructureIndexDefs_ = std::move(newIndexes);
  } catch (...) {
    if (opened && Active()) Close();
    throw;
  }
}

TRestructureFieldDefs& TZelTable::RestructureFieldDefs() {
  EnsureRestructureDefs();
  return *RestructureFieldDefs_;
}

TRestructureIndexDefs& TZelTable::RestructureIndexDefs() {
  EnsureRestructureDefs();
  return *RestructureIndexDefs_;
}

void TZelTable::RestructureTable(const TInternalRestructureRecord& Settings) {
  static const char* const Context = "TZelTable.RestructureTable";
  if (Active() || CursorOpen()) ZelDatabaseError(0x272F, Context, TableName_, this);
  if (Memory_) ZelDatabaseError(0x2A0E, Context, TableName_, this);
  if (DataBase_ == nullptr) ZelDatabaseError(0x2780, Context, TableName_, this);
  if (DataBase_->InTransaction()) ZelDatabaseError(0x278A, Context, "", this);
  if (DataBase_->GetLocalConnectedUserCount(TableName_, false) > 0)
    ZelDatabaseErrorFmt(0x272F, Context, "The table %s is in use", {TableName_}, this);
  // Blob fields hold no compression marks before data version 3.
  if (Settings.SetBlobCompression && Settings.BlobCompression && DataBase_->GetConnected() &&
      GetDataVersionFromFullVersion(DataBase_->DataFileVersion()) < 3)
    ZelDatabaseError(0x2A0E, Context, "This database version does not support this operation ", this);
  if (Settings.SetBlobBlockSize && (Settings.BlobBlockSize < 64 || Settings.BlobBlockSize > 65536))
    ZelDatabaseError(0x272D, Context,
                     plat::Format("%d is not a valid value (min. length %d, max. length %d)",
                                  {Settings.BlobBlockSize, int32_t{64}, int32_t{65536}}) + " bytes",
                     this);
  EnsureRestructureDefs();
  TRestructureFieldDefs fields;
  fields.Assign(RestructureFieldDefs_.get());
  fields.SetChangeLog(GDBLogger()->LogList());
  TRestructureIndexDefs indexes;
  indexes.Assign(RestructureIndexDefs_.get());
  indexes.SetChangeLog(GDBLogger()->LogList());
  fields.ValidateAgainstOriginalDefs(CurrentFieldDefs_.get());
  indexes.ValidateAgainstOriginalDefs(CurrentIndexDefs_.get(), fields);
  indexes.ValidateNewIndexDefs(fields);
  TInternalRestructureRecord request = Settings;
  if (Settings.SetBlobBlockSize || Settings.SetSortOrder || Settings.SetBlobCompression ||
      Settings.ResetAutoIncValue)
    fields.SetChangeStatus(std::max(fields.ChangeStatus(), dcDataChange));
  request.NewFieldDefs = &fields;
  request.NewIndexDefs = &indexes;
  request.DestFieldDefs = &fields;
  request.DestIndexDefs = &indexes;
  InternalRestructureTable(request);
  DropRestructureDefs();
}

void TZelTable::RestructureKeepingPosition(const std::function<bool()>& Change) {
  const bool wasActive = Active();
  plat::TBookmark mark;
  if (wasActive) {
    CheckBrowseMode();
    mark = GetBookmark();
  }
  bool keepPosition = true;
  try {
    EnsureRestructureDefs();
    keepPosition = Change();
    if (wasActive) Close();
    RestructureTable(TInternalRestructureRecord{});
  } catch (...) {
    DropRestructureDefs();
    if (wasActive && !Active()) Open();
    throw;
  }
  if (wasActive) {
    Open();
    if (keepPosition && BookmarkValid(mark)) GotoBookmark(mark);
  }
}

void TZelTable::AddIndex(const std::string& Name, const std::string& Fields,
                         plat::TIndexOptions Options) {
  RestructureKeepingPosition([&] {
    RestructureIndexDefs_->AddAndSetIndexDef(Name, Fields, "", "", Options, nullptr);
    return true;
  });
}

void TZelTable::DeleteIndex(const std::string& Name) {
  static const char* const Context = "TZelTable.DeleteIndex";
  RestructureKeepingPosition([&] {
    TRestructureIndexDef* item = RestructureIndexDefs_->Find(Name);
    if (CurrentIndexDefs_->IndexOf(Name) < 0 || item == nullptr)
      ZelDatabaseErrorFmt(0x270D, Context, SzelIndexFmt, {Name}, this);
    RestructureIndexDefs_->DeleteItem(item->Index());
    // The deleted index can no longer be the current one, nor its position.
    if (!plat::SameText(IndexName(), Name)) return true;
    if (Active()) Close();
    SetIndexName("");
    return false;
  });
}

int32_t TZelTable::ReIndex(bool Flag) {
  static const char* const Context = "TZelTable.ReIndex";
  if (DataBase_ == nullptr) ZelDatabaseError(0x2780, Context, TableName_, this);
  DataBase_->QueryOpenStatus(true, true);
  CheckActive();
  CheckBrowseMode();
  int32_t skipped = 0;
  if (Memory_) {
    skipped = InternalReIndex(Flag);
  } else {
    const bool own = !DataBase_->InTransaction();
    if (own) {
      TOwnTransaction transaction(*DataBase_);
      skipped = InternalReIndex(Flag);
      transaction.Commit();
    } else {
      skipped = InternalReIndex(Flag);
    }
  }
  First();
  return skipped;
}

void TZelTable::RebuildTable() {
  static const char* const Context = "TZelTable.RebuildTable";
  if (Active() || CursorOpen()) ZelDatabaseError(0x272F, Context, TableName_, this);
  if (Memory_) ZelDatabaseError(0x2A0E, Context, TableName_, this);
  InternalRebuildTable();
}

namespace {

std::string QuotedPadded(const std::string& Name) {
  std::string text = Name;
  if (text.size() < 10) text.append(10 - text.size(), ' ');
  return "\"" + text + "\"";
}

}  // namespace

int32_t TZelTable::ImportData(plat::TDataSet& Source) {
  static const char* const Context = "TZelTable.ImportData";
  CheckActive();
  Source.CheckBrowseMode();
  if (RestructureFieldDefs_ == nullptr)
    ZelDatabaseError(0x2180, Context, "FRestructureFieldDefs", this);
  TDBLogger& log = *GDBLogger();
  const std::string caller = TableName_ + ".DataImport";
  log.LogItem(caller, "Matching fields");
  // Destination field -> source field (nullptr: none).
  std::vector<std::pair<plat::TField*, plat::TField*>> map;
  for (int32_t i = 0; i < FieldCount(); ++i) {
    plat::TField* field = Fields().Fields(i);
    field->SetReadOnly(false);
    plat::TField* from = nullptr;
    if (i < RestructureFieldDefs_->Count())
      from = Source.FindField(RestructureFieldDefs_->Items(i)->SourceFieldName());
    if (from != nullptr) {
      log.LogItem(caller, plat::Format("Source field [%s] mapped to Field [%s]",
                                       {from->FieldName(), field->FieldName()}));
      map.emplace_back(field, from);
    } else {
      log.LogItem(caller, plat::Format("No Source field set for Field [%s]", {field->FieldName()}));
    }
  }
  Source.First();
  log.LogItem(caller, "Starting import");
  int32_t record = 0, errors = 0, inserted = 0;
  for (; !Source.Eof(); Source.Next()) {
    ++record;
    Insert();
    for (auto& [field, from] : map) {
      try {
        field->SetValue(from->Value());
      } catch (const std::exception& e) {
        std::string value;
        try {
          value = from->AsString();
        } catch (...) {
        }
        log.LogItem(caller, plat::Format("   Record %d  Source field ", {record}) +
                                QuotedPadded(from->FieldName()) +
                                " could not be converted to Destination field " +
                                QuotedPadded(field->FieldName()) + ". Source value \"" + value +
                                "\"   Error: " + e.what());
      }
    }
    try {
      Post();
      ++inserted;
    } catch (const std::exception& e) {
      log.LogItem(caller, plat::Format("Record %d could not be added. Error: %s", {record, std::string(e.what())}));
      Cancel();
      ++errors;
    }
  }
  log.LogItem(caller, plat::Format("Errors detected = %d", {errors}));
  log.LogItem(caller, plat::Format("Records inserted = %d", {inserted}));
  return inserted;
}

}  // namespace zel
