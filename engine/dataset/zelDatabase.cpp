// The database component: properties, connecting and disconnecting, table
// locks.
#include "engine/dataset/zelDatabase.h"

#include "engine/dataset/zelPwDlg.h"
#include "engine/storage/zelCommon.h"
#include "platform/os/Files.h"
#include "platform/rtl/Strings.h"

namespace zel {

TZelDataBase::TZelDataBase(plat::TComponent* AOwner)
    : plat::TCustomConnection(AOwner),
      SecurityMgr_(std::make_unique<TSecurityManager>()),
      Privileges_(std::make_unique<TPrivileges>()),
      MemoryMgr_(std::make_unique<TMemoryTableDefMgr>()) {
  InitDBDef();
}

TZelDataBase::~TZelDataBase() {
  try {
    SetConnected(false);
  } catch (...) {
    // Nothing may leave a destructor.
  }
  ObjectIDs_.reset();
  Generators_.reset();
  MasterUser_.reset();
  MasterSystem_.reset();
  MemoryMgr_.reset();
  SystemMgr_.reset();
  UserMgr_.reset();
  SystemHeaders_.reset();
  UserHeaders_.reset();
  DiskMgr_.reset();
  SecurityMgr_.reset();
  Privileges_.reset();
}

// ---------------------------------------------------------------- properties

void TZelDataBase::CheckConnected(bool AllowMemory) const {
  if (!Connected_) ZelDatabaseError(0x2781, "TZelDataBase.CheckConnected", "", this);
  if (!AllowMemory && IsMemoryDatabase())
    ZelDatabaseError(0x2A80, "TZelDataBase.CheckConnected", "", this);
}

void TZelDataBase::CheckNotConnected() const {
  if (Connected_) ZelDatabaseError(0x2788, "TZelDataBase.CheckNotConnected", "", this);
}

void TZelDataBase::CheckExclusive() const {
  if (!Exclusive_) ZelDatabaseError(0x2789, "TZelDataBase.CheckExclusive", "", this);
}

void TZelDataBase::QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive) const {
  if (MustBeConnected)
    CheckConnected(false);
  else
    CheckNotConnected();
  if (MustBeExclusive) CheckExclusive();
}

bool TZelDataBase::NeedSecurity() const {
  return ix::LoadU32(DBDef_.data() + ddSecurityLevel) >= 2 && TempPrivilegeStatus_ != 0x7FFFFFFF;
}

bool TZelDataBase::InTransaction() const {
  return Connected_ && !IsMemoryDatabase() && DiskMgr_ != nullptr && DiskMgr_->IsTransactionActive();
}

void TZelDataBase::SetDataBaseName(const std::string& Value) {
  CheckNotConnected();
  std::string name = plat::ExtractFileName(Value);
  if (plat::SameText(name, MemoryDatabaseName)) name = MemoryDatabaseName;
  const std::string dir = plat::ExtractFilePath(Value);
  if (!dir.empty()) SetDirectory(dir);
  DataBaseName_ = name;
}

void TZelDataBase::SetDirectory(const std::string& Value) {
  CheckNotConnected();
  Directory_ = Value.empty() ? Value : ZelIncludeTrailingBackslash(Value);
}

void TZelDataBase::SetExclusive(bool Value) {
  CheckNotConnected();
  Exclusive_ = Value;
}

void TZelDataBase::SetReadOnly(bool Value) {
  CheckNotConnected();
  ReadOnly_ = Value;
}

void TZelDataBase::SetDefaultSortOrder(TSortOrder Value) {
  CheckNotConnected();
  DefaultSortOrder_ = Value;
}

// The lock managers of an open file take their settings when they are made:
// a change while connected is handed to them too.
void TZelDataBase::SetLockRetryMaximum(int32_t Value) {
  LockRetryMaximum_ = Value;
  if (DiskMgr_ == nullptr) return;
  DiskMgr_->SetLockRetryCount(Value);
  for (TBaseLockMgr* mgr : {DiskMgr_->TableLockMgr(), DiskMgr_->RecordLockMgr()})
    if (mgr != nullptr) mgr->SetLockRetryCount(Value);
}

void TZelDataBase::SetLockRetryInterval(int32_t Value) {
  LockRetryInterval_ = Value;
  if (DiskMgr_ == nullptr) return;
  DiskMgr_->SetLockRetryInterval(Value);
  for (TBaseLockMgr* mgr : {DiskMgr_->TableLockMgr(), DiskMgr_->RecordLockMgr()})
    if (mgr != nullptr) mgr->SetLockRetryInterval(Value);
}

void TZelDataBase::SetMasterKey(const std::string& Value) {
  CheckNotConnected();
  if (!Value.empty() && (Value.size() < 4 || Value.size() > 100))
    ZelDatabaseErrorFmt(0x2582, "TZelDataBase.SetMasterKey", SzelStringInvalidFmt,
                        {Value, int32_t{4}, int32_t{100}}, this);
  MasterKey_ = Value;
}

void TZelDataBase::SetUseEncryption(bool Value) {
  CheckNotConnected();
  if (!Value && EnforceSecurity_)
    ZelDatabaseError(0x2A0E, "TZelDataBase.SetUseEncryption",
                     "This operation can not be performed on this database/table", this);
  UseEncryption_ = Value;
}

void TZelDataBase::SetEnforceSecurity(bool Value) {
  CheckNotConnected();
  EnforceSecurity_ = Value;
  if (Value) UseEncryption_ = true;
}

// ---------------------------------------------------------------- connecting

void TZelDataBase::DoConnect() {
  static const char* const Context = "TZelDataBase.DoConnect";
  if (Connected_) return;
  if (DataBaseName_.empty()) ZelDatabaseError(0x2786, Context, Directory_ + DataBaseName_, this);
  if (IsMemoryDatabase()) {
    MemoryMgr_->Open();
    InitDBDef();
    EnforceSecurity_ = false;
    DatabasePrivileges_ = 0x7FFFFFFF;
    Connected_ = true;
    return;
  }
  std::string username, password;
  MemoryMgr_->Open();
  InternalCreateDiskInterfaces();
  InternalOpenDiskConnections();
  Connected_ = true;
  try {
    ReadDBDef();
    if (!ValidateDBDef()) ZelDatabaseError(0x2301, Context, FileName(), this);
    if (ReleaseVersion_ > 3)
      ZelDatabaseErrorFmt(0x2F09, Context, "Current database disk format is %s",
                          {DataFileVersion()}, this);
    int32_t flags = 0;
    if (NeedSecurity())
      flags = MasterKey_.empty() ? 3 : 2;
    else if (UseEncryption_ && MasterKey_.empty())
      flags = 1;
    if (flags != 0) Login(username, password, flags);
    DiskMgr_->SetCryptKey(MasterKey_);
    if (UseEncryption_ || NeedSecurity()) {
      TSecurityHeader header;
      DiskMgr_->ReadSecurityHeader(header);
    }
    InternalOpenSystemTables();
    if (NeedSecurity())
      SecuredLogon(username, password);
    else
      DatabasePrivileges_ = 0x7FFFFFFF;
  } catch (...) {
    MasterKey_.clear();
    try {
      DoDisconnect();
    } catch (...) {
      // The connect failure is the error to report.
    }
    throw;
  }
}

void TZelDataBase::Login(std::string& Username, std::string& Password, int32_t Flags) {
  std::string key = MasterKey_;
  if (BeforeLogin) {
    BeforeLogin(this, Username, Password, key);
  } else if (!ShowZelLoginDialog(DataBaseName_, Flags, key, Password, Username)) {
    ZelDatabaseError(0x271F, "TZelDataBase.Login", "", this);
  }
  if (Flags != 2) {
    // A key of another length than the file can have is a wrong key.
    if (!key.empty() && (key.size() < 4 || key.size() > 100))
      ZelDatabaseErrorFmt(0x2582, "TZelDataBase.Login", SzelStringInvalidFmt,
                          {key, int32_t{4}, int32_t{100}}, this);
    MasterKey_ = key;
  }
}

void TZelDataBase::DoDisconnect() {
  if (!Connected_) return;
  std::exception_ptr failure;
  try {
    SetLocked(false);
  } catch (...) {
    failure = std::current_exception();
  }
  CloseDataSets();
  if (!IsMemoryDatabase()) {
    InternalCloseSystemTables();
    InternalCloseDiskConnections();
  }
  MemoryMgr_->Close();
  Privileges_->ClearPrivileges();
  Privileges_->SetGroupName("");
  DatabasePrivileges_ = 0;
  TempPrivilegeStatus_ = 0;
  MasterKey_.clear();
  InitDBDef();
  Connected_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TZelDataBase::CloseDataSets() noexcept {
  for (int32_t i = DataSetCount() - 1; i >= 0; --i) {
    try {
      DataSets(i)->Close();
      if (auto* cursor = dynamic_cast<TZelDataSet*>(DataSets(i))) cursor->DataSetClose();
    } catch (...) {
      // Disconnecting goes on: every table is closed, whatever one reports.
    }
  }
}

// ---------------------------------------------------------------- locks

bool TZelDataBase::LockTable(const TTableDef& Def, int32_t LockType) {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr) return false;
  return DiskMgr_->SetTableLock(static_cast<uint32_t>(Def.TableID()), LockType) != ltNone;
}

bool TZelDataBase::UnLockTable(const TTableDef& Def) {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr || !DiskMgr_->IsOpen()) return false;
  DiskMgr_->ReleaseTableLock(static_cast<uint32_t>(Def.TableID()));
  return true;
}

bool TZelDataBase::TableLockExists(const TTableDef& Def, int32_t LockType) const {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr || !DiskMgr_->IsOpen()) return false;
  return DiskMgr_->QueryTableLockStatus(static_cast<uint32_t>(Def.TableID())) == LockType;
}

bool TZelDataBase::LockRecord(const TTableDef& Def, uint32_t RecAddr) {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr) return false;
  return DiskMgr_->SetRecordLock(RecAddr, static_cast<uint32_t>(Def.TableID())) != ltNone;
}

bool TZelDataBase::UnLockRecord(const TTableDef& Def, uint32_t RecAddr) {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr || !DiskMgr_->IsOpen()) return false;
  DiskMgr_->ReleaseRecordLock(RecAddr);
  return true;
}

bool TZelDataBase::RecordLockExists(const TTableDef& Def, uint32_t RecAddr) const {
  if (Def.Memory() || IsMemoryDatabase() || DiskMgr_ == nullptr || !DiskMgr_->IsOpen()) return false;
  return DiskMgr_->QueryRecordLockStatus(RecAddr) == ltWrite;
}

void TZelDataBase::SetLocked(bool Value) {
  if (Value == HeaderLocked_) return;
  if (Value) {
    // A database without a file has no header to lock: the flag is kept.
    if (DiskMgr_ != nullptr && !IsMemoryDatabase()) {
      CheckConnected(true);
      DiskMgr_->SetHeaderWriteLock();
    }
    HeaderLocked_ = true;
  } else {
    HeaderLocked_ = false;
    if (DiskMgr_ != nullptr && DiskMgr_->IsOpen()) DiskMgr_->ReleaseHeaderLock();
  }
}

TZelDataBase::THeaderLock::THeaderLock(TZelDataBase& DataBase) : DataBase_(DataBase) {
  if (DataBase_.HeaderLocked_) return;
  DataBase_.SetLocked(true);
  Taken_ = true;
}

TZelDataBase::THeaderLock::~THeaderLock() {
  if (!Taken_) return;
  try {
    DataBase_.SetLocked(false);
  } catch (...) {
    // The error that ended the scope, if any, is the one to report.
  }
}

void TZelDataBase::FlushBuffers() {
  CheckConnected(true);
  // Inside a transaction this writes what the transaction did so far and
  // goes on with it: a later rollback still undoes everything.
  if (DiskMgr_ != nullptr && !IsMemoryDatabase() && !DiskMgr_->IsTransactionActive())
    DiskMgr_->ForceToDisk();
}

void TZelDataBase::GetCurrentUsers(plat::TStrings& List) {
  CheckConnected(true);
  if (IsMemoryDatabase() || DiskMgr_ == nullptr)
    ZelDatabaseError(0x2905, "TZelDataBase.GetCurrentUsers",
                     "Connection details unavailable on memory only databases", this);
  DiskMgr_->GetCurrentUsers(List);
}

int64_t TZelDataBase::DatabaseSize() {
  CheckConnected(true);
  if (IsMemoryDatabase() || DiskMgr_ == nullptr) return 0;
  return DiskMgr_->GetFileSize();
}

}  // namespace zel
