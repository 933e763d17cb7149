// The database component: the definition record, creating a database file,
// the disk connections and the catalogue of table definitions.
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCommonLog.h"
#include "engine/storage/zelCrypt.h"
#include "platform/os/Files.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr int32_t AllPrivileges = 0x7FFFFFFF;

// Every right, for connections where security is not in force.
void GrantAll(TTableDef& Def) {
  Def.SetPrivilegeFlags(AllPrivileges);
  for (int32_t i = 0; i < Def.InternalFields().Count(); ++i)
    Def.InternalFields().GetIndex(i)->SetPrivilegeFlags(AllPrivileges);
}

int32_t ParseNumber(const std::string& Text) {
  try {
    return Text.empty() ? 0 : plat::StrToInt(Text);
  } catch (const plat::Exception&) {
    return 0;
  }
}

// A read lock of a catalogue cursor for one step, unless one is held.
class TCatalogueReadLock {
 public:
  explicit TCatalogueReadLock(TZelDataSet& Master) : Master_(Master) {
    if (Master_.ReadLocked() || Master_.WriteLocked()) return;
    Master_.ReadLockTable();
    Taken_ = true;
  }
  ~TCatalogueReadLock() {
    if (!Taken_) return;
    try {
      Master_.UnlockTable();
    } catch (...) {
      // The error that ended the scope, if any, is the one to report.
    }
  }
  TCatalogueReadLock(const TCatalogueReadLock&) = delete;
  TCatalogueReadLock& operator=(const TCatalogueReadLock&) = delete;

 private:
  TZelDataSet& Master_;
  bool Taken_ = false;
};

}  // namespace

// ---------------------------------------------------------------- the definition record

void TZelDataBase::SetDBText(int32_t Offset, int32_t Units, const std::string& Text) {
  std::memset(DBDef_.data() + Offset, 0, static_cast<size_t>(Units) * 2);
  std::vector<char16_t> wide(static_cast<size_t>(Units), u'\0');
  StringLToWideChar(Text, wide.data(), Units - 1);
  for (int32_t i = 0; i < Units; ++i)
    ix::StoreU16(DBDef_.data() + Offset + 2 * i, static_cast<uint16_t>(wide[static_cast<size_t>(i)]));
}

std::string TZelDataBase::GetDBText(int32_t Offset, int32_t Units) const {
  std::u16string text;
  for (int32_t i = 0; i < Units; ++i) {
    const char16_t unit = static_cast<char16_t>(ix::LoadU16(DBDef_.data() + Offset + 2 * i));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return plat::WideToUtf8(text);
}

void TZelDataBase::InitDBDef() {
  DBDef_.fill(0);
  ix::StoreU16(DBDef_.data() + ddFormat, 1);
  SetDBText(ddDatabaseName, ddNameUnits, DataBaseName_);
  SetDBText(ddOS, ddNameUnits, GetOSDetails());
  ix::StoreDouble(DBDef_.data() + ddDateCreated, plat::Now());
  SetDBText(ddOwner, ddNameUnits, GetCurrentUser());
  SetDBText(ddVersion, ddVersionUnits, ZelEngineVersion);
  GetVersionNumbersFromDef();
}

uint32_t TZelDataBase::CreateDBDefCrc() const {
  uint8_t buffer[256 + DBDefSize];
  for (int32_t i = 0; i < 256; ++i) buffer[i] = static_cast<uint8_t>(i);
  std::memcpy(buffer + 256, DBDef_.data(), DBDefSize);
  return CalcCRC(buffer, static_cast<int32_t>(sizeof buffer));
}

bool TZelDataBase::ValidateDBDef() {
  const uint32_t stored = ix::LoadU32(DBDef_.data() + ddCRC);
  ix::StoreU32(DBDef_.data() + ddCRC, 0);
  const uint32_t computed = CreateDBDefCrc();
  ix::StoreU32(DBDef_.data() + ddCRC, stored);
  return stored == computed;
}

void TZelDataBase::ReadDBDef() {
  DiskMgr_->ReadCustomSize(0, DBDefSize, 0, 0, DBDef_.data());
  const uint32_t order = ix::LoadU32(DBDef_.data() + ddDefaultSortOrder);
  DefaultSortOrder_ = order == soASCII ? soASCII : soANSI;
  const uint32_t level = ix::LoadU32(DBDef_.data() + ddSecurityLevel);
  EnforceSecurity_ = level >= 2;
  UseEncryption_ = level >= 1;
  GetVersionNumbersFromDef();
}

void TZelDataBase::WriteDBDef() {
  ix::StoreU32(DBDef_.data() + ddCRC, 0);
  ix::StoreU32(DBDef_.data() + ddCRC, CreateDBDefCrc());
  DiskMgr_->WriteCustomSize(0, DBDefSize, 0, 0, DBDef_.data());
  GetVersionNumbersFromDef();
}

void TZelDataBase::ResetDBHeader() {
  CheckConnected(false);
  CheckExclusive();
  WriteDBDef();
}

void TZelDataBase::GetVersionNumbersFromDef() {
  std::string rest = GetDBText(ddVersion, ddVersionUnits);
  size_t dot = rest.find('.');
  if (dot != std::string::npos) {
    MajorVersion_ = ParseNumber(rest.substr(0, dot));
    rest = rest.substr(dot + 1);
    dot = rest.find('.');
    if (dot != std::string::npos) {
      MinorVersion_ = ParseNumber(rest.substr(0, dot));
      rest = rest.substr(dot + 1);
    }
  }
  ReleaseVersion_ = ParseNumber(rest);
}

void TZelDataBase::CheckMinorVersion(int32_t Required) const {
  if (Required > MinorVersion_)
    ZelDatabaseErrorFmt(0x2F09, "TZelDataBase.CheckMinorVersion", "%s%d",
                        {SzelFileVersionDoesNotSupportOperation, Required}, this);
}

std::string TZelDataBase::DBOwner() const { return GetDBText(ddOwner, ddNameUnits); }

void TZelDataBase::SetDBOwner(const std::string& Value) {
  CheckNotConnected();
  SetDBText(ddOwner, ddNameUnits, Value);
}

plat::TDateTime TZelDataBase::DateCreated() const {
  return ix::LoadDouble(DBDef_.data() + ddDateCreated);
}

std::string TZelDataBase::DataFileVersion() const {
  return Connected_ ? GetDBText(ddVersion, ddVersionUnits) : std::string();
}

// ---------------------------------------------------------------- the file

void TZelDataBase::InternalCreateDiskInterfaces() {
  if (DiskMgr_ != nullptr) return;
  DiskMgr_ = std::make_unique<TDiskMgr>();
  DiskMgr_->SetPageSize(DatabasePageSize);
  const auto makeHeaders = [&](int32_t Slot) {
    auto store = std::make_unique<TDiskIOInterface>();
    store->SetDiskMgr(DiskMgr_.get());
    store->SetBlockSize(TableHeaderBlockSize);
    store->SetGlobalFirstEmptyOffset(Slot);
    store->SetAccessFlags(0);
    store->SetTableID(0);
    store->SetUsage(iuTableHeaders);
    store->SetIOMode(iomDiskFixedSize);
    return store;
  };
  SystemHeaders_ = makeHeaders(ghSystemHeadersFirstEmpty);
  UserHeaders_ = makeHeaders(ghTableHeadersFirstEmpty);
  SystemMgr_ = std::make_unique<TDiskTableDefMgr>();
  SystemMgr_->SetHdrDiskInterface(SystemHeaders_.get());
  SystemMgr_->SetBaseDefMgrAddress(DatabasePageSize);
  SystemMgr_->SetSystemTableMgr(true);
  UserMgr_ = std::make_unique<TDiskTableDefMgr>();
  UserMgr_->SetHdrDiskInterface(UserHeaders_.get());
  UserMgr_->SetBaseDefMgrAddress(3 * DatabasePageSize);
  UserMgr_->SetSystemTableMgr(false);
}

void TZelDataBase::InternalOpenDiskConnections() {
  const std::string file = FileName();
  if (!plat::FileExists(file)) ZelDatabaseError(0x2704, "TZelDataBase.InternalOpenDiskConnections", file, this);
  DiskMgr_->SetPageSize(DatabasePageSize);
  DiskMgr_->SetFileName(file);
  DiskMgr_->SetOpenFlags((ReadOnly_ ? ofReadOnly : ofReadWrite) | (Exclusive_ ? ofExclusive : ofShared));
  DiskMgr_->SetLockRetryCount(LockRetryMaximum_);
  DiskMgr_->SetLockRetryInterval(LockRetryInterval_);
  DiskMgr_->Open();
  try {
    SystemHeaders_->SetFirstEmptyValid(false);
    SystemHeaders_->Open();
    SystemMgr_->Open();
    UserHeaders_->SetFirstEmptyValid(false);
    UserHeaders_->Open();
    UserMgr_->Open();
  } catch (...) {
    InternalCloseDiskConnections();
    throw;
  }
}

void TZelDataBase::InternalCloseDiskConnections() noexcept {
  // Closing goes on whatever one step reports: the file must end closed.
  ForgetCatalogue();
  const auto quietly = [](auto&& Step) {
    try {
      Step();
    } catch (...) {
    }
  };
  if (SystemMgr_ != nullptr) quietly([&] { SystemMgr_->Close(); });
  if (SystemHeaders_ != nullptr) quietly([&] { SystemHeaders_->Close(); });
  if (UserMgr_ != nullptr) quietly([&] { UserMgr_->Close(); });
  if (UserHeaders_ != nullptr) quietly([&] { UserHeaders_->Close(); });
  if (DiskMgr_ != nullptr) quietly([&] { DiskMgr_->Close(); });
}

void TZelDataBase::CreateDatabase() {
  static const char* const Context = "TZelDataBase.CreateDatabase";
  CheckNotConnected();
  if (DataBaseName_.empty() || IsMemoryDatabase())
    ZelDatabaseError(0x2786, Context, Directory_ + DataBaseName_, this);
  if (UseEncryption_ && MasterKey_.size() < 4)
    ZelDatabaseErrorFmt(0x271F, Context, SzelStringInvalidFmt, {MasterKey_, int32_t{4}, int32_t{100}},
                        this);
  const std::string file = FileName();
  // An existing file is never overwritten.
  if (plat::FileExists(file)) ZelDatabaseError(0x2184, Context, file, this);
  const std::string owner = DBOwner();
  const int32_t level = EnforceSecurity_ ? 2 : UseEncryption_ ? 1 : 0;
  const bool useEncryption = UseEncryption_, enforceSecurity = EnforceSecurity_;
  const std::string key = MasterKey_;
  InitDBDef();
  SetDBText(ddOwner, ddNameUnits, owner);
  ix::StoreU32(DBDef_.data() + ddDefaultSortOrder, DefaultSortOrder_);
  ix::StoreU32(DBDef_.data() + ddSecurityLevel, static_cast<uint32_t>(level));
  try {
    {
      TDiskMgr creator;
      creator.SetPageSize(DatabasePageSize);
      creator.SetFileName(file);
      creator.CreateNewFile();
    }
    MemoryMgr_->Open();
    InternalCreateDiskInterfaces();
    InternalOpenDiskConnections();
    Connected_ = true;
    DiskMgr_->SetCryptKey(MasterKey_);
    THeaderLock lock(*this);
    WriteDBDef();
    if (UseEncryption_) {
      TSecurityHeader header;
      DiskMgr_->WriteSecurityHeader(header);
    }
    SystemHeaders_->SetFirstEmpty(DiskMgr_->GlobalHdr()->GetSystemHeadersFirstEmpty());
    CreateMasterTables();
    MasterSystem_ = OpenMasterTable(MasterTableSystem, MasterTableSystemID);
    if (MinorVersion_ > 1) CreateSystemTables();
    if (level == 2) CreateSecurityTables();
  } catch (...) {
    MasterSystem_.reset();
    SetLocked(false);
    InternalCloseDiskConnections();
    MemoryMgr_->Close();
    Connected_ = false;
    // A database that could not be made whole is not left behind.
    plat::DeleteFile(file);
    plat::DeleteFile(TDiskMgr::GetLockFileName(file));
    InitDBDef();
    throw;
  }
  MasterSystem_.reset();
  SetLocked(false);
  InternalCloseDiskConnections();
  MemoryMgr_->Close();
  Connected_ = false;
  InitDBDef();
  UseEncryption_ = useEncryption;
  EnforceSecurity_ = enforceSecurity;
  MasterKey_ = key;
}

// ---------------------------------------------------------------- catalogue and system tables

void TZelDataBase::SetMasterTableDef(TTableDef& Def, bool Encrypted, const std::string& Version) {
  Def.Clear();
  Def.SetMemory(false);
  Def.SetOwnerFlag(0);
  Def.SetInternalTable(true);
  Def.SetEncryptionLevel(Encrypted ? encStrong : encNone);
  Def.SetEncrypted(Encrypted);
  Def.SetVersion(Version);
  Def.InternalFields().SetDataVersion(GetDataVersionFromFullVersion(Version));
  const struct {
    const char* Name;
    plat::TFieldType Type;
    int32_t Size;
  } fields[] = {{"AutoID", plat::ftAutoInc, 0}, {"Name", plat::ftString, 41}, {"TableDef", plat::ftBlob, 0}};
  for (const auto& item : fields) {
    TInternalFieldItem* field = Def.InternalFields().Add();
    field->SetDataType(item.Type);
    if (item.Size > 0) {
      field->SetFieldSize(item.Size);
      field->SetIsVariable(true);
    }
    field->SetFieldName(item.Name);
    field->SetFieldIndex(Def.InternalFields().Count() - 1);
    field->SetFieldNo(Def.InternalFields().Count());
  }
  Def.SetDefaultBlobSize(1024);
  Def.InternalFields().SetDefaultOffsets();
  Def.InternalFields().Open();
  Def.SetRecordSize(Def.InternalFields().RecordSize());
  Def.SetUsesBlobs(true);
  TInternalIndexDef* index = Def.InternalIndexDefs().Add();
  index->SetIndexName("");
  index->SetPrimary(true);
  index->SetUnique(true);
  index->SetMaintained(true);
  index->SetIndexSequence(0);
  const TInternalFieldItem* name = Def.InternalFields().FindField("Name");
  TKeyFieldItem* key = Def.KeyFields().Add();
  key->SetIndexName("");
  key->SetFieldName("Name");
  key->SetFieldSize(name->FieldSize());
  key->SetDataType(plat::ftString);
  key->SetIsVariable(true);
  key->SetPhysicalFieldNo(name->FieldIndex());
  key->SetRecBufOffset(name->DataOffset());
  key->SetNullFlagOffset(name->NullFlagOffset());
  key->SetSizeMarkerOffset(name->SizeMarkerOffset());
  key->SetCaseInsensitive(true);
  index->SetKeyDataOffset(CalculateKeyBitmapSize(1));
  index->SetIndexPageSize(DefaultIndexPageSize);
  CalculateIndexDefSizes(*index, Def.KeyFields());
}

std::unique_ptr<TZelDataSet> TZelDataBase::OpenMasterTable(const std::string& Name, int32_t TableID) {
  auto cursor = std::make_unique<TZelDataSet>();
  cursor->SetInternalTableFlag(true);
  cursor->SetDataBase(this);
  cursor->SetTableName(Name);
  cursor->SetReadOnly(ReadOnly_);
  TTableDef& def = cursor->TableDef();
  SetMasterTableDef(def, UseEncryption_, GetDBText(ddVersion, ddVersionUnits));
  def.SetTableName(Name);
  def.SetTableID(TableID);
  GrantAll(def);
  SystemMgr_->OpenTableDefConnection(Name, def);
  try {
    cursor->DataSetOpenConnected();
  } catch (...) {
    SystemMgr_->CloseTableDefConnection(TableID);
    throw;
  }
  return cursor;
}

void TZelDataBase::CreateMasterTables() {
  if (!HeaderLocked_)
    ZelDatabaseError(0x2185, "TZelDataBase.CreateMasterTables",
                     "Database header not locked prior to system change", this);
  for (const char* name : {MasterTableUser, MasterTableSystem}) {
    TTableDef def;
    SetMasterTableDef(def, UseEncryption_, ZelEngineVersion);
    def.SetTableName(name);
    SystemMgr_->CreateTableDef(name, def);
  }
}

namespace {

struct TSysField {
  const char* Name;
  plat::TFieldType Type;
  int32_t Size;
};
struct TSysIndex {
  const char* Name;
  const char* Fields;
  bool Unique;
};

// The definition of one of the engine's own tables in Cursor: its indexes
// ignore case; an encrypted one is strongly encrypted.
void BuildInternalTableDef(TZelDataSet& Cursor, const char* Name,
                           std::initializer_list<TSysField> Fields,
                           std::initializer_list<TSysIndex> Indexes, bool Encrypted) {
  Cursor.SetInternalTableFlag(true);
  Cursor.SetTableName(Name);
  Cursor.SetEncryptionLevel(Encrypted ? encStrong : encNone);
  TRestructureFieldDefs fields;
  for (const TSysField& f : Fields) fields.AddAndSetFieldDef(f.Name, f.Type, f.Size, 0, false, "");
  TRestructureIndexDefs indexes;
  for (const TSysIndex& i : Indexes) {
    plat::TIndexOptions options{plat::ixCaseInsensitive};
    if (i.Unique) options.Include(plat::ixUnique);
    indexes.AddAndSetIndexDef(i.Name, i.Fields, "", "", options, nullptr);
  }
  Cursor.SetTableDefFromRSDefs(false, fields, indexes);
  Cursor.TableDef().SetInternalTable(true);
}

}  // namespace

void TZelDataBase::CreateSystemTables() {
  if (!HeaderLocked_)
    ZelDatabaseError(0x2185, "TZelDataBase.CreateSystemTables",
                     "Database header not locked prior to system change", this);
  const auto create = [&](const char* Name, std::initializer_list<TSysField> Fields,
                          std::initializer_list<TSysIndex> Indexes, bool Encrypted) {
    TZelDataSet cursor;
    BuildInternalTableDef(cursor, Name, Fields, Indexes, Encrypted);
    InternalCreateTable(cursor.TableDef(), true);
  };
  create("$SYSTBL_OBJECTIDREF", {{"ObjectID", plat::ftInteger, 0}, {"ObjectName", plat::ftString, 40}},
         {{"ixObjectID", "ObjectID", true}, {"ixObjectName", "ObjectName", true}}, UseEncryption_);
  create("$SYSTBL_INTGENERATOR",
         {{"GeneratorName", plat::ftString, 20},
          {"GeneratorValue", plat::ftInteger, 0},
          {"GeneratorStep", plat::ftInteger, 0},
          {"GeneratorResetValue", plat::ftInteger, 0}},
         {{"ixGenName", "GeneratorName", true}}, false);
}

void TZelDataBase::CreateSecurityTables() {
  if (!HeaderLocked_)
    ZelDatabaseError(0x2185, "TZelDataBase.CreateSecurityTables",
                     "Database header not locked prior to system change", this);
  const auto create = [&](const char* Name, std::initializer_list<TSysField> Fields,
                          std::initializer_list<TSysIndex> Indexes) {
    TZelDataSet cursor;
    BuildInternalTableDef(cursor, Name, Fields, Indexes, true);
    InternalCreateTable(cursor.TableDef(), true);
  };
  create("$SYSTBL_SECGROUPS", {{"GroupID", plat::ftAutoInc, 0}, {"GroupName", plat::ftString, 30}},
         {{"ixGroupName", "GroupName", true}, {"ixGroupID", "GroupID", true}});
  create("$SYSTBL_SECUSERS",
         {{"UserID", plat::ftAutoInc, 0},
          {"UserName", plat::ftString, 30},
          {"Pwd0", plat::ftInteger, 0},
          {"Pwd1", plat::ftInteger, 0},
          {"Pwd2", plat::ftInteger, 0},
          {"Pwd3", plat::ftInteger, 0},
          {"Pwd4", plat::ftInteger, 0},
          {"GroupID", plat::ftInteger, 0},
          {"DateCreated", plat::ftDateTime, 0},
          {"DateLastModified", plat::ftDateTime, 0},
          {"DateLastPWordChange", plat::ftDateTime, 0}},
         {{"ixUserName", "UserName", true},
          {"ixGroupUsers", "GroupID;UserName", false},
          {"ixPasswordAge", "DateLastPWordChange", false}});
  create("$SYSTBL_SECOBJPRIV",
         {{"GroupID", plat::ftInteger, 0},
          {"ObjectType", plat::ftInteger, 0},
          {"ObjectID", plat::ftInteger, 0},
          {"PrivilegeID", plat::ftInteger, 0},
          {"ALL", plat::ftBoolean, 0},
          {"FieldsShort", plat::ftString, 100},
          {"FieldsLong", plat::ftMemo, 0},
          {"GrantOption", plat::ftBoolean, 0}},
         {{"ixGroupPriv", "GroupID;ObjectType;ObjectID;PrivilegeID", true}});
  create("$SYSTBL_SECSYSPRIV",
         {{"GroupID", plat::ftInteger, 0}, {"PrivilegeID", plat::ftInteger, 0}, {"GrantOption", plat::ftBoolean, 0}},
         {{"ixGroupPriv", "GroupID;PrivilegeID", true}});
}

void TZelDataBase::InternalOpenSystemTables() {
  MasterUser_ = OpenMasterTable(MasterTableUser, MasterTableUserID);
  if (MinorVersion_ <= 1) return;
  MasterSystem_ = OpenMasterTable(MasterTableSystem, MasterTableSystemID);
  const auto open = [&](const char* Name, const char* IndexName) {
    auto cursor = std::make_unique<TZelDataSet>();
    cursor->SetInternalTableFlag(true);
    cursor->SetDataBase(this);
    cursor->SetTableName(Name);
    cursor->SetReadOnly(ReadOnly_);
    cursor->DataSetOpen();
    cursor->InternalSetIndexName(IndexName);
    return cursor;
  };
  ObjectIDs_ = open("$SYSTBL_OBJECTIDREF", "ixObjectName");
  Generators_ = open("$SYSTBL_INTGENERATOR", "ixGenName");
  if (!NeedSecurity()) return;
  SecurityTables_[0] = open("$SYSTBL_SECGROUPS", "ixGroupName");
  SecurityTables_[1] = open("$SYSTBL_SECUSERS", "ixUserName");
  SecurityTables_[2] = open("$SYSTBL_SECOBJPRIV", "ixGroupPriv");
  SecurityTables_[3] = open("$SYSTBL_SECSYSPRIV", "ixGroupPriv");
  SecurityMgr_->Open(this, SecurityTables_[1].get(), ObjectIDs_.get(), SecurityTables_[3].get(),
                     SecurityTables_[2].get(), SecurityTables_[0].get());
}

void TZelDataBase::InternalCloseSystemTables() noexcept {
  SecurityMgr_->Close();
  for (std::unique_ptr<TZelDataSet>& table : SecurityTables_) {
    try {
      if (table != nullptr) table->DataSetClose();
    } catch (...) {
      // Disconnecting goes on: the file is closed whatever a table reports.
    }
    table.reset();
  }
  for (std::unique_ptr<TZelDataSet>* master : {&ObjectIDs_, &Generators_, &MasterUser_, &MasterSystem_}) {
    try {
      if (*master != nullptr) (*master)->DataSetClose();
    } catch (...) {
      // Disconnecting goes on: the file is closed whatever a table reports.
    }
    master->reset();
  }
}

TZelDataSet& TZelDataBase::GetMasterTable(const TTableDef& Def) {
  TZelDataSet* master = Def.InternalTable() ? MasterSystem_.get() : MasterUser_.get();
  if (master == nullptr)
    ZelDatabaseError(0x2180, "TZelDataBase.GetMasterTable", Def.InternalTable() ? MasterTableSystem : MasterTableUser,
                     this);
  return *master;
}

TBaseTableDefMgr& TZelDataBase::GetTableDefMgr(const TTableDef& Def) {
  if (Def.Memory()) return *MemoryMgr_;
  return Def.InternalTable() ? static_cast<TBaseTableDefMgr&>(*SystemMgr_) : *UserMgr_;
}

bool TZelDataBase::FindCatalogueRow(TZelDataSet& Master, const std::string& Name) {
  uint8_t* rec = Master.RecordBuffer();
  Master.InitializeNewRecord(rec, false);
  Master.DataSetSetFieldDataToRecBufAsVariant(rec, 1, plat::Variant(Name.substr(0, 40)));
  return Master.SeekCurrentKey();
}

// ---------------------------------------------------------------- tables

void TZelDataBase::CreateTable(TTableDef& Def, bool DumpDefinitions, bool SetVersion) {
  CheckConnected(Def.Memory());
  if (Def.Memory()) {
    InternalCreateTable(Def, SetVersion);
    return;
  }
  if (!Def.InternalTable())
    CheckObjectPrivilege("ALL", MapObjectPrivTypeToConst(opCreateObj), "TZelDataBase.CreateTable");
  THeaderLock lock(*this);
  InternalCreateTable(Def, SetVersion);
  if (DumpDefinitions) DumpDefinitionsIfSaved("TZelDataBase.CreateTable");
}

void TZelDataBase::DumpDefinitionsIfSaved(const char* Caller) {
  if (!SaveTableDefinitions_) return;
  // The table stands: a dump that cannot be written is logged, not raised.
  try {
    DumpTableDefinitions();
  } catch (const std::exception& e) {
    GDBLogger()->LogItem(Caller, std::string("Table definition dump failed: ") + e.what());
  } catch (...) {
    GDBLogger()->LogItem(Caller, "Table definition dump failed");
  }
}

void TZelDataBase::InternalCreateTable(TTableDef& Def, bool SetVersion) {
  static const char* const Context = "TZelDataBase.InternalCreateTable";
  const std::string& name = Def.TableName();
  if (name.empty() || name.size() > 40)
    ZelDatabaseErrorFmt(0x2737, Context, SzelStringInvalidFmt, {name, int32_t{1}, int32_t{40}}, this);
  if (SetVersion) Def.SetVersion(ZelEngineVersion);
  Def.SetOS(GetOSDetails());
  Def.SetCreationDate(plat::Now());
  if (Def.CreatedBy().empty()) Def.SetCreatedBy(GetCurrentUser());
  Def.SetLastModDate(plat::Now());
  if (Def.Memory()) {
    if (MemoryMgr_->IndexOfTableName(name) >= 0) ZelDatabaseError(0x3304, Context, name, this);
    MemoryMgr_->CreateTableDef(name, Def);
    return;
  }
  if (!name.empty() && name[0] == '$') Def.SetInternalTable(true);
  InternalUpdateTableDef(name, Def, true);
}

void TZelDataBase::InternalUpdateTableDef(const std::string& Name, TTableDef& Def, bool IsNew) {
  static const char* const Context = "TZelDataBase.InternalUpdateTableDef";
  THeaderLock lock(*this);
  for (const std::string* name : {&Def.TableName(), &Name})
    if (name->empty() || name->size() > 40)
      ZelDatabaseErrorFmt(0x2737, Context, SzelStringInvalidFmt, {*name, int32_t{1}, int32_t{40}},
                          this);
  if (Def.Memory()) ZelDatabaseError(0x2A0E, Context, Name, this);
  const bool renaming = !plat::SameText(Name, Def.TableName());
  TZelDataSet& master = GetMasterTable(Def);
  TBaseTableDefMgr& mgr = GetTableDefMgr(Def);
  if (!IsNew && renaming && FindCatalogueRow(master, Name)) ZelDatabaseError(0x3304, Context, Name, this);
  const bool found = FindCatalogueRow(master, Def.TableName());
  const std::string oldName = Def.TableName();
  const bool objectIDs = MinorVersion_ >= 2 && ObjectIDs_ != nullptr;
  bool created = false, objectIDWritten = false;
  if (IsNew) {
    if (found) ZelDatabaseError(0x3304, Context, Def.TableName(), this);
    mgr.CreateTableDef(Def.TableName(), Def);
    created = true;
  } else {
    if (!found) ZelDatabaseError(0x2728, Context, Def.TableName(), this);
    Def.SetTableName(Name);
    // The scrambled name must follow the name, or the table no longer opens.
    if (Def.Encrypted()) Def.SetAltName(ScrambleTableName(Name));
  }
  try {
    if (objectIDs) {
      const int32_t objectID = IsNew ? InternalGetGenerator("$INTGEN_OBJID", true) : 0;
      UpdateObjectID(oldName, Def.TableName(), objectID);
      objectIDWritten = true;
    }
    const std::string text = plat::WriteComponentText(Def);
    plat::TMemoryStream stream;
    stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    if (IsNew) master.InitializeNewRecord(master.RecordBuffer(), false);
    master.DataSetSetFieldDataAsVariant(1, plat::Variant(Def.TableName()));
    master.DataSetSetFieldStream(2, false, stream);
    if (IsNew)
      master.AddRecord(true);
    else
      master.UpdateRecord();
  } catch (...) {
    // No table without its catalogue row, no object ID without its table.
    if (objectIDWritten) {
      try {
        if (IsNew)
          DeleteObjectID(Def.TableName());
        else
          UpdateObjectID(Def.TableName(), oldName, 0);
      } catch (...) {
        // The first failure is the one to report.
      }
    }
    if (!IsNew) Def.SetTableName(oldName);
    if (created) {
      try {
        mgr.DeleteTableDef(Def.TableName(), Def);
      } catch (...) {
        // The first failure is the one to report.
      }
    }
    master.ClearBlobSlots();
    throw;
  }
}

void TZelDataBase::InternalGetTableDef(const std::string& Name, TTableDef& Def) {
  if (Def.Memory()) {
    const int32_t i = MemoryMgr_->IndexOfTableName(Name);
    if (i < 0) ZelDatabaseError(0x2728, "TZelDataBase.InternalGetTableDef", Name, this);
    Def.Assign(MemoryMgr_->Items(i));
    Def.SetMemory(true);
    return;
  }
  const bool internal = Def.InternalTable() || (!Name.empty() && Name[0] == '$');
  Def.SetInternalTable(internal);
  Def.AssignStored(*StoredTableDef(GetMasterTable(Def), Name, internal));
  Def.SetMemory(false);
  Def.SetInternalTable(internal);
}

std::shared_ptr<const TTableDef> TZelDataBase::StoredTableDef(TZelDataSet& Master,
                                                              const std::string& Name,
                                                              bool Internal) {
  static const char* const Context = "TZelDataBase.InternalGetTableDef";
  // The stamp is read and the row parsed under one read lock, so that the
  // row belongs to the stamp.
  const TCatalogueReadLock lock(Master);
  uint32_t stamp = 0;
  const bool stamped = CatalogueStamp(Master, stamp);
  auto key = std::make_pair(Internal, Name);
  if (stamped) {
    const auto it = StoredTableDefs_.find(key);
    if (it != StoredTableDefs_.end() && it->second.Stamp == stamp) return it->second.Def;
  }

  if (!FindCatalogueRow(Master, Name)) ZelDatabaseError(0x2728, Context, Name, this);
  plat::TMemoryStream stream;
  bool isNull = true;
  Master.DataSetGetFieldStreamFromRecBuf(Master.RecordBuffer(), 2, stream, isNull);
  if (isNull || stream.Size() == 0)
    ZelDatabaseError(0x2185, Context, "Internal error - the table definition could not be read", this);
  const std::string text(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
  auto def = std::make_shared<TTableDef>();
  def->SetInternalTable(Internal);
  try {
    plat::ReadComponentText(text, *def);
    def->InternalFields().SetDataVersion(GetDataVersionFromFullVersion(def->Version()));
    // The layout is made again from the fields: a damaged text can then
    // never make a reader step outside a record.
    const int32_t stored = def->RecordSize();
    def->UpdateVersion();
    if (def->RecordSize() != stored || stored <= 0 || def->InternalIndexDefs().Count() == 0)
      ZelDatabaseError(0x2103, Context, Name, this);
  } catch (const EZelDatabaseError&) {
    throw;
  } catch (const plat::Exception& e) {
    ZelDatabaseError(0x2103, Context, Name + ": " + e.Message(), this);
  }
  def->SetMemory(false);
  if (stamped) StoredTableDefs_[std::move(key)] = {stamp, def};
  return def;
}

bool TZelDataBase::CatalogueStamp(const TZelDataSet& Master, uint32_t& Stamp) {
  const TTableHeader* header = Master.TableDef().TableHeader();
  // A header changed here and not yet written says nothing of the rows.
  if (!Master.ReadLocked() || header == nullptr || header->Dirty()) return false;
  Stamp = header->GetModifiedFlag();
  return true;
}

void TZelDataBase::QueryTableDef(const std::string& Name, bool Memory, TTableDef& Def) {
  CheckConnected(Memory);
  Def.SetMemory(Memory);
  InternalGetTableDef(Name, Def);
}

void TZelDataBase::OpenTable(const std::string& Name, TTableDef& Def) {
  CheckConnected(Def.Memory());
  InternalGetTableDef(Name, Def);
  const bool secured = NeedSecurity() && !Def.Memory() && !Def.InternalTable();
  if (secured) InternalCheckCanOpenDataObject(doTable, Name);
  GetTableDefMgr(Def).OpenTableDefConnection(Def.TableName(), Def);
  SecurityMgr_->InternalSetTablePrivileges(Def, !secured);
}

void TZelDataBase::CloseTable(TTableDef& Def) {
  if (Def.TableID() == 0) return;
  if (!Def.Memory() && (SystemMgr_ == nullptr || UserMgr_ == nullptr)) return;
  TBaseTableDefMgr& mgr = GetTableDefMgr(Def);
  if (mgr.IndexOfTableDef(Def.TableID()) >= 0) mgr.CloseTableDefConnection(Def.TableID());
}

int32_t TZelDataBase::GetLocalConnectedUserCount(const std::string& TableName, bool Memory) const {
  if (Memory) return MemoryMgr_->CheckTableUserCount(TableName);
  const TDiskTableDefMgr* mgr = !TableName.empty() && TableName[0] == '$' ? SystemMgr_.get() : UserMgr_.get();
  return mgr != nullptr ? mgr->CheckTableUserCount(TableName) : 0;
}

void TZelDataBase::RenameTable(const std::string& OldName, const std::string& NewName) {
  static const char* const Context = "TZelDataBase.RenameTable";
  CheckConnected(false);
  CheckExclusive();
  TTableDef def;
  def.SetMemory(false);
  InternalGetTableDef(OldName, def);
  def.SetLastModDate(plat::Now());
  CheckObjectPrivilege(def.TableName(), MapObjectPrivTypeToConst(opAlterObj), Context);
  if (GetLocalConnectedUserCount(OldName, false) > 0)
    ZelDatabaseErrorFmt(0x2787, Context, SzelTableInUseFmt, {OldName}, this);
  InternalUpdateTableDef(NewName, def, false);
}

void TZelDataBase::DeleteTable(const std::string& Name, bool Memory) {
  static const char* const Context = "TZelDataBase.DeleteTable";
  CheckConnected(Memory);
  if (!Memory) CheckExclusive();
  TTableDef def;
  def.SetMemory(Memory);
  InternalGetTableDef(Name, def);
  if (!Memory) CheckObjectPrivilege(def.TableName(), MapObjectPrivTypeToConst(opDeleteObj), Context);
  if (GetLocalConnectedUserCount(Name, Memory) > 0)
    ZelDatabaseErrorFmt(0x2745, Context, SzelTableInUseFmt, {Name}, this);
  if (Memory) {
    MemoryMgr_->DeleteTableDef(Name, def);
    return;
  }
  THeaderLock lock(*this);
  if (GetLocalConnectedUserCount(Name, false) > 0)
    ZelDatabaseErrorFmt(0x2745, Context, SzelTableInUseFmt, {Name}, this);
  TZelDataSet& master = GetMasterTable(def);
  GetTableDefMgr(def).DeleteTableDef(def.TableName(), def);
  if (!FindCatalogueRow(master, Name))
    ZelDatabaseError(0x2185, Context, "Unable to delete internal table definition: " + Name, this);
  master.DeleteRecord(nullptr);
  if (MinorVersion_ >= 2 && ObjectIDs_ != nullptr) DeleteObjectID(def.TableName());
}

void TZelDataBase::GetTableNames(plat::TStrings& List, bool Memory) {
  CheckConnected(true);
  if (Memory) {
    MemoryMgr_->GetCurrentTableNames(List);
    return;
  }
  if (IsMemoryDatabase() || MasterUser_ == nullptr) return;
  const TCatalogueReadLock lock(*MasterUser_);
  uint32_t stamp = 0;
  const bool stamped = CatalogueStamp(*MasterUser_, stamp);
  if (!stamped || !UserTableNames_.Valid || UserTableNames_.Stamp != stamp) {
    UserTableNames_.Valid = false;
    UserTableNames_.Names.clear();
    for (bool more = MasterUser_->DataSetFirst(); more; more = MasterUser_->DataSetNext())
      UserTableNames_.Names.push_back(MasterUser_->DataSetGetFieldDataAsVariant(1).AsString());
    UserTableNames_.Valid = stamped;
    UserTableNames_.Stamp = stamp;
  }
  for (const std::string& name : UserTableNames_.Names) List.Add(name);
}

bool TZelDataBase::MemoryTableExists(const std::string& Name) const {
  return Connected_ && MemoryMgr_->IndexOfTableName(Name) >= 0;
}

void TZelDataBase::GetSystemTableNames(plat::TStrings& List) {
  CheckConnected(true);
  if (IsMemoryDatabase() || MasterSystem_ == nullptr || MinorVersion_ <= 1) return;
  for (bool more = MasterSystem_->DataSetFirst(); more; more = MasterSystem_->DataSetNext())
    List.Add(MasterSystem_->DataSetGetFieldDataAsVariant(1).AsString());
}

}  // namespace zel
