// The database component: transactions and what they do to the open
// datasets, generators, object IDs of tables and the table-definition dump.
#include <limits>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCommonLog.h"
#include "platform/os/Files.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* GeneratorTableName = "$SYSTBL_INTGENERATOR";
constexpr const char* ObjectIDTableName = "$SYSTBL_OBJECTIDREF";
constexpr const char* ObjectIDGenerator = "$INTGEN_OBJID";
constexpr int32_t MaxGeneratorName = 20;
// Field numbers of the generator and object-ID tables.
constexpr int32_t gfName = 0, gfValue = 1, gfStep = 2, gfResetValue = 3;
constexpr int32_t ofObjectID = 0, ofObjectName = 1;

// Holds a cursor's write lock for a scope unless it was held.
class TWriteLockScope {
 public:
  explicit TWriteLockScope(TZelDataSet& Cursor) : Cursor_(Cursor), Taken_(!Cursor.WriteLocked()) {
    if (Taken_) Cursor_.LockTable();
  }
  ~TWriteLockScope() {
    if (!Taken_) return;
    try {
      Cursor_.UnlockTable();
    } catch (...) {
      // The error that ended the scope, if any, is the one to report.
    }
  }
  TWriteLockScope(const TWriteLockScope&) = delete;
  TWriteLockScope& operator=(const TWriteLockScope&) = delete;
  // Releases now, so that a failure to write the header is reported.
  void Release() {
    if (!Taken_) return;
    Taken_ = false;
    Cursor_.UnlockTable();
  }

 private:
  TZelDataSet& Cursor_;
  bool Taken_;
};

// Positions Cursor on the row whose key field FieldNo (of the current
// index) holds Name; false when none.
bool FindByName(TZelDataSet& Cursor, int32_t FieldNo, const std::string& Name) {
  uint8_t* rec = Cursor.RecordBuffer();
  Cursor.InitializeNewRecord(rec, false);
  Cursor.DataSetSetFieldDataToRecBufAsVariant(rec, FieldNo, plat::Variant(Name));
  return Cursor.SeekCurrentKey();
}

}  // namespace

// ---------------------------------------------------------------- transactions

void TZelDataBase::StartTransaction() {
  CheckConnected(false);
  if (DiskMgr_ != nullptr) DiskMgr_->DiskStartTransaction(QueryActive_ && !QueryFlag_);
}

void TZelDataBase::Commit() {
  if (DiskMgr_ == nullptr || IsMemoryDatabase() || !Connected_) return;
  if (!DiskMgr_->IsTransactionActive()) ZelDatabaseError(0x2811, "TZelDataBase.Commit", "", this);
  // Headers changed under a lock a cursor still holds go into the
  // transaction before its locks end with it. The cursors are gathered once:
  // a statement's own transaction ends on every run.
  const std::vector<TZelDataSet*> cursors = InternalCursors();
  for (TZelDataSet* cursor : cursors)
    if (cursor->WriteLocked()) cursor->UnlockTable();
  DiskMgr_->DiskCommit();
  ForgetCursorLocks(cursors);
  SendTransactionEnd();
}

void TZelDataBase::Rollback() {
  std::exception_ptr failure;
  if (DiskMgr_ != nullptr && !IsMemoryDatabase() && Connected_) {
    // Without a transaction nothing is undone and no lock is let go.
    if (!DiskMgr_->IsTransactionActive())
      ZelDatabaseError(0x2811, "TZelDataBase.Rollback", "", this);
    try {
      DiskMgr_->DiskRollback();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  ForgetCatalogue();
  RollbackDataSets();
  SendTransactionEnd();
  CancelDataSets();
  RefreshDataSets();
  if (failure) std::rethrow_exception(failure);
}

void TZelDataBase::NotifyTransactionEnd(const plat::TObject* Client, std::function<void()> Event) {
  CancelTransactionEndNotify(Client);
  TransactionEndClients_.emplace_back(Client, std::move(Event));
}

void TZelDataBase::CancelTransactionEndNotify(const plat::TObject* Client) {
  std::erase_if(TransactionEndClients_, [Client](const auto& c) { return c.first == Client; });
}

void TZelDataBase::SendTransactionEnd() noexcept {
  // An event may register anew: the events of this end are taken first.
  const auto clients = std::move(TransactionEndClients_);
  TransactionEndClients_.clear();
  for (const auto& client : clients) {
    try {
      client.second();
    } catch (...) {
      // The transaction is over whatever a client reports.
    }
  }
}

std::vector<TZelDataSet*> TZelDataBase::InternalCursors() const {
  std::vector<TZelDataSet*> cursors;
  for (const std::unique_ptr<TZelDataSet>* own : {&MasterUser_, &MasterSystem_, &ObjectIDs_, &Generators_})
    if (*own != nullptr) cursors.push_back(own->get());
  for (const std::unique_ptr<TZelDataSet>& own : SecurityTables_)
    if (own != nullptr) cursors.push_back(own.get());
  for (int32_t i = 0; i < DataSetCount(); ++i)
    if (auto* cursor = dynamic_cast<TZelDataSet*>(DataSets(i))) cursors.push_back(cursor);
  return cursors;
}

void TZelDataBase::ForgetCursorLocks(const std::vector<TZelDataSet*>& Cursors) noexcept {
  for (TZelDataSet* cursor : Cursors) cursor->ForgetLocks();
  HeaderLocked_ = DiskMgr_ != nullptr && DiskMgr_->HeaderWriteLocked();
}

// The sweeps go on whatever one dataset reports.
void TZelDataBase::RollbackDataSets() noexcept {
  for (TZelDataSet* cursor : InternalCursors()) {
    try {
      cursor->DumpInternalCaches();
    } catch (...) {
    }
  }
  HeaderLocked_ = DiskMgr_ != nullptr && DiskMgr_->HeaderWriteLocked();
}

void TZelDataBase::CancelDataSets() noexcept {
  for (int32_t i = 0; i < DataSetCount(); ++i) {
    try {
      plat::TDataSet* dataSet = DataSets(i);
      if (dataSet->State() == plat::dsEdit || dataSet->State() == plat::dsInsert) dataSet->Cancel();
    } catch (...) {
    }
  }
}

void TZelDataBase::RefreshDataSets() noexcept {
  for (int32_t i = 0; i < DataSetCount(); ++i) {
    try {
      plat::TDataSet* dataSet = DataSets(i);
      if (dataSet->Active()) dataSet->Refresh();
    } catch (...) {
    }
  }
}

// ---------------------------------------------------------------- generators

void TZelDataBase::CheckGeneratorsAvailable(const char* Context) const {
  CheckConnected(false);
  CheckMinorVersion(2);
  if (Generators_ == nullptr) ZelDatabaseError(0x2180, Context, GeneratorTableName, this);
}

void TZelDataBase::CheckGeneratorName(const std::string& Name, const char* Context) const {
  // The engine's own generators ("$...") are out of a host's reach, so that
  // object IDs can never be handed out twice.
  if (Name.empty() || Name[0] == '$')
    ZelDatabaseErrorFmt(0x278D, Context,
                        "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character",
                        {Name}, this);
}

bool TZelDataBase::FindGenerator(const std::string& Name) {
  return FindByName(*Generators_, gfName, Name.substr(0, MaxGeneratorName));
}

void TZelDataBase::CreateGenerator(const std::string& Name, int32_t InitialValue, int32_t Step) {
  static const char* const Context = "TZelDataBase.CreateGenerator";
  CheckGeneratorsAvailable(Context);
  CheckGeneratorName(Name, Context);
  TZelDataSet& g = *Generators_;
  TWriteLockScope lock(g);
  if (FindGenerator(Name)) ZelDatabaseError(0x2184, Context, Name, this);
  if (Name.size() > static_cast<size_t>(MaxGeneratorName))
    ZelDatabaseErrorFmt(0x2585, Context, SzelStringInvalidFmt,
                        {Name, int32_t{1}, MaxGeneratorName}, this);
  uint8_t* rec = g.RecordBuffer();
  g.InitializeNewRecord(rec, false);
  g.DataSetSetFieldDataAsVariant(gfName, plat::Variant(Name));
  g.DataSetSetFieldDataAsVariant(gfValue, plat::Variant(InitialValue));
  g.DataSetSetFieldDataAsVariant(gfStep, plat::Variant(Step));
  g.DataSetSetFieldDataAsVariant(gfResetValue, plat::Variant(InitialValue));
  g.AddRecord(false);
  lock.Release();
}

void TZelDataBase::DeleteGenerator(const std::string& Name) {
  static const char* const Context = "TZelDataBase.DeleteGenerator";
  CheckGeneratorsAvailable(Context);
  CheckGeneratorName(Name, Context);
  TWriteLockScope lock(*Generators_);
  if (FindGenerator(Name)) Generators_->DeleteRecord(nullptr);
  lock.Release();
}

int32_t TZelDataBase::GetGeneratorValue(const std::string& Name, bool PeekOnly) {
  static const char* const Context = "TZelDataBase.GetGeneratorValue";
  CheckGeneratorsAvailable(Context);
  CheckGeneratorName(Name, Context);
  return NextGeneratorValue(Name, PeekOnly, false, Context);
}

int32_t TZelDataBase::InternalGetGenerator(const std::string& Name, bool CreateIfMissing) {
  static const char* const Context = "TZelDataBase.InternalGetGenerator";
  CheckGeneratorsAvailable(Context);
  return NextGeneratorValue(Name, false, CreateIfMissing, Context);
}

int32_t TZelDataBase::NextGeneratorValue(const std::string& Name, bool PeekOnly,
                                         bool CreateIfMissing, const char* Context) {
  TZelDataSet& g = *Generators_;
  if (PeekOnly) {
    if (!FindGenerator(Name)) ZelDatabaseError(0x2183, Context, Name, this);
    return g.DataSetGetFieldDataAsVariant(gfValue).AsInteger();
  }
  // Read, advance and post under the table's write lock: two processes never
  // get the same value.
  TWriteLockScope lock(g);
  int32_t result;
  if (FindGenerator(Name)) {
    result = g.DataSetGetFieldDataAsVariant(gfValue).AsInteger();
    const int64_t next = int64_t{result} + g.DataSetGetFieldDataAsVariant(gfStep).AsInteger();
    // A value that does not fit would be handed out again later.
    if (next < std::numeric_limits<int32_t>::min() || next > std::numeric_limits<int32_t>::max())
      ZelDatabaseError(0x2701, Context, Name, this);
    g.DataSetSetFieldDataAsVariant(gfValue, plat::Variant(static_cast<int32_t>(next)));
    g.UpdateRecord();
  } else {
    if (!CreateIfMissing) ZelDatabaseError(0x2183, Context, Name, this);
    g.InitializeNewRecord(g.RecordBuffer(), false);
    g.DataSetSetFieldDataAsVariant(gfName, plat::Variant(Name));
    g.DataSetSetFieldDataAsVariant(gfValue, plat::Variant(2));
    g.DataSetSetFieldDataAsVariant(gfStep, plat::Variant(1));
    g.DataSetSetFieldDataAsVariant(gfResetValue, plat::Variant(2));
    g.AddRecord(false);
    result = 1;
  }
  lock.Release();
  return result;
}

bool TZelDataBase::QueryGenerator(const std::string& Name, int32_t& Value, int32_t& Step) {
  static const char* const Context = "TZelDataBase.QueryGenerator";
  CheckGeneratorsAvailable(Context);
  CheckGeneratorName(Name, Context);
  if (!FindGenerator(Name)) return false;
  Value = Generators_->DataSetGetFieldDataAsVariant(gfValue).AsInteger();
  Step = Generators_->DataSetGetFieldDataAsVariant(gfStep).AsInteger();
  return true;
}

void TZelDataBase::GetGeneratorNames(plat::TStrings& List) {
  CheckGeneratorsAvailable("TZelDataBase.GetGeneratorNames");
  List.Clear();
  TZelDataSet& g = *Generators_;
  for (bool more = g.DataSetFirst(); more; more = g.DataSetNext()) {
    const std::string name = g.DataSetGetFieldDataAsVariant(gfName).AsString();
    if (!name.empty() && name[0] != '$') List.Add(name);
  }
}

// ---------------------------------------------------------------- object IDs

int32_t TZelDataBase::InternalGetObjectIDFromName(const std::string& Name) {
  if (ObjectIDs_ == nullptr || plat::SameText(Name, "ALL")) return 0;
  if (!FindByName(*ObjectIDs_, ofObjectName, Name)) return 0;
  return ObjectIDs_->DataSetGetFieldDataAsVariant(ofObjectID).AsInteger();
}

void TZelDataBase::UpdateObjectID(const std::string& OldName, const std::string& NewName,
                                  int32_t ObjectID) {
  TZelDataSet& o = *ObjectIDs_;
  TWriteLockScope lock(o);
  if (FindByName(o, ofObjectName, OldName)) {
    o.DataSetSetFieldDataAsVariant(ofObjectName, plat::Variant(NewName));
    o.UpdateRecord();
  } else {
    if (ObjectID == 0) ObjectID = InternalGetGenerator(ObjectIDGenerator, true);
    o.InitializeNewRecord(o.RecordBuffer(), false);
    o.DataSetSetFieldDataAsVariant(ofObjectID, plat::Variant(ObjectID));
    o.DataSetSetFieldDataAsVariant(ofObjectName, plat::Variant(NewName));
    o.AddRecord(false);
  }
  lock.Release();
}

void TZelDataBase::DeleteObjectID(const std::string& Name) {
  TZelDataSet& o = *ObjectIDs_;
  TWriteLockScope lock(o);
  if (FindByName(o, ofObjectName, Name)) o.DeleteRecord(nullptr);
  lock.Release();
}

// ---------------------------------------------------------------- definition dump

void TZelDataBase::DumpTableDefinitions() {
  static const char* const Context = "TZelDataBase.DumpTableDefinitions";
  CheckConnected(false);
  THeaderLock lock(*this);
  const std::string dumpName = plat::ChangeFileExt(DataBaseName_, ".zed");
  const std::string dumpFile = Directory_ + dumpName;
  const std::string tempName = dumpName + "~";
  const std::string tempFile = Directory_ + tempName;
  // A database that has the dump's name is never replaced by its own dump.
  if (plat::SameText(dumpName, DataBaseName_)) ZelDatabaseError(0x2703, Context, dumpFile, this);
  // The new dump is made under another name and replaces the old one only
  // once it is whole.
  plat::DeleteFile(tempFile);
  plat::DeleteFile(TDiskMgr::GetLockFileName(tempFile));
  plat::TStringList names;
  GetTableNames(names, false);
  {
    TZelDataBase dump;
    dump.SetDirectory(Directory_);
    dump.SetDataBaseName(tempName);
    dump.SetExclusive(true);
    if (UseEncryption_) {
      dump.SetUseEncryption(true);
      dump.SetMasterKey(MasterKey_);
    }
    dump.CreateDatabase();
    try {
      dump.SetConnected(true);
      for (int32_t i = 0; i < names.Count(); ++i) {
        TTableDef def;
        def.SetMemory(false);
        InternalGetTableDef(names.Strings(i), def);
        dump.CreateTable(def, false, false);
      }
      dump.SetConnected(false);
    } catch (...) {
      try {
        dump.SetConnected(false);
      } catch (...) {
      }
      plat::DeleteFile(tempFile);
      plat::DeleteFile(TDiskMgr::GetLockFileName(tempFile));
      throw;
    }
  }
  plat::DeleteFile(TDiskMgr::GetLockFileName(tempFile));
  if ((plat::FileExists(dumpFile) && !plat::DeleteFile(dumpFile)) || !plat::RenameFile(tempFile, dumpFile)) {
    plat::DeleteFile(tempFile);
    ZelDatabaseError(0x2480, Context, dumpFile, this);
  }
}

}  // namespace zel
