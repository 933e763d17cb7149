// The database component: copying the database file, applying a restructure
// to a table's storage and copying a table's rows from another file.
#include <filesystem>
#include <system_error>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCommonLog.h"
#include "engine/storage/zelDiskFile.h"
#include "engine/storage/zelLockMgrUnit.h"
#include "platform/os/Files.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace zel {

std::string TZelDataBase::BackupFileName() const {
  return Directory_ + plat::ChangeFileExt(DataBaseName_, ".zex");
}

void TZelDataBase::CopyDatabase(const std::string& DestFileName, bool Overwrite) {
  static const char* const Context = "TZelDataBase.CopyDatabase";
  const std::string source = FileName();
  if (IsMemoryDatabase() || !plat::FileExists(source)) ZelDatabaseError(0x2704, Context, source, this);
  std::error_code error;
  // Copying a file onto itself would destroy it.
  if (std::filesystem::equivalent(source, DestFileName, error) || plat::SameText(source, DestFileName))
    ZelDatabaseError(0x2480, Context, DestFileName, this);
  if (plat::FileExists(DestFileName)) {
    if (!Overwrite) ZelDatabaseError(0x2480, Context, DestFileName, this);
    if (!plat::DeleteFile(DestFileName)) ZelDatabaseError(0x2480, Context, DestFileName, this);
  }
  try {
    if (Connected_ && DiskMgr_ != nullptr) {
      DiskMgr_->ForceToDisk();
      DiskMgr_->CopyCurrentFile(DestFileName);
    } else if (!TDiskMgr::DoCopyFile(source, DestFileName, true)) {
      ZelDatabaseError(0x2480, Context, DestFileName, this);
    }
  } catch (const EZelDatabaseError& e) {
    // No partial copy is left behind under the destination's name.
    plat::DeleteFile(DestFileName);
    if (e.ErrorCode() == 0x2480) throw;
    ZelDatabaseError(0x2480, Context, e.Message() + ".", this);
  }
}

void TZelDataBase::UpdateTableDef(TTableDef& Def, const TInternalRestructureRecord& Restructure) {
  CheckConnected(false);
  CheckExclusive();
  THeaderLock lock(*this);
  GetTableDefMgr(Def).RestructureTableDef(Def, Restructure);
  Def.SetLastModDate(plat::Now());
  InternalUpdateTableDef(Def.TableName(), Def, false);
}

int32_t TZelDataBase::RebuildTable(const std::string& TableName, const std::string& SourceFileName,
                                   TZelDataSet* Target) {
  static const char* const Context = "TZelDataBase.RebuildTable";
  CheckConnected(false);
  CheckExclusive();
  if (GetLocalConnectedUserCount(TableName, false) > (Target != nullptr ? 1 : 0))
    ZelDatabaseErrorFmt(0x272F, Context, "The table %s is in use", {TableName}, this);
  TZelDataBase source;
  source.SetDirectory(plat::ExtractFilePath(SourceFileName));
  source.SetDataBaseName(plat::ExtractFileName(SourceFileName));
  source.SetExclusive(true);
  source.SetReadOnly(true);
  source.SetMasterKey(MasterKey_);
  source.BeforeLogin = BeforeLogin;
  source.TempPrivilegeStatus_ = TempPrivilegeStatus_;
  source.SetConnected(true);
  // Emptying the table and copying its rows succeed or fail together.
  const bool ownTransaction = !InTransaction();
  int32_t copied = 0;
  try {
    if (ownTransaction) StartTransaction();
    copied = CopyTableFrom(source, TableName, Target);
    if (ownTransaction) Commit();
  } catch (...) {
    try {
      if (ownTransaction && InTransaction()) Rollback();
    } catch (...) {
    }
    try {
      source.SetConnected(false);
    } catch (...) {
    }
    throw;
  }
  source.SetConnected(false);
  return copied;
}

int32_t TZelDataBase::CopyTableFrom(TZelDataBase& Source, const std::string& TableName,
                                    TZelDataSet* Target) {
  TZelTable from;
  from.SetDataBase(&Source);
  from.SetTableName(TableName);
  from.SetInternalTableFlag(!TableName.empty() && TableName[0] == '$');
  from.DataSetOpen();
  std::unique_ptr<TZelTable> own;
  int32_t copied = 0;
  try {
    if (Target == nullptr) {
      own = std::make_unique<TZelTable>();
      own->SetDataBase(this);
      own->SetTableName(TableName);
      own->SetInternalTableFlag(from.InternalTableFlag());
      own->DataSetOpen();
      own->DataSetEmptyTable();
      Target = own.get();
    }
    copied = Target->CopyRawTableData(from);
  } catch (...) {
    try {
      if (own != nullptr && own->CursorOpen()) own->DataSetClose();
      from.DataSetClose();
    } catch (...) {
    }
    throw;
  }
  if (own != nullptr) own->DataSetClose();
  from.DataSetClose();
  return copied;
}


namespace {

constexpr const char* RebuildCaller = "TZelDataBase.RebuildDatabase";

// The rows of a table as its natural order counts them.
int32_t CountRows(TZelDataBase& DataBase, const std::string& Name) {
  TZelTable table;
  table.SetDataBase(&DataBase);
  table.SetTableName(Name);
  table.SetInternalTableFlag(!Name.empty() && Name[0] == '$');
  table.DataSetOpen();
  const int32_t count = table.GetTotalRecordCount();
  table.DataSetClose();
  return count;
}

}  // namespace

void TZelDataBase::RebuildDatabase() {
  static const char* const Context = "TZelDataBase.RebuildDatabase";
  CheckNotConnected();
  TDBLogger& log = *GDBLogger();
  log.LogItem(DataBaseName_, "Rebuild database start");
  const std::string original = FileName();
  const std::string backup = BackupFileName();
  CopyDatabase(backup, true);
  log.LogItem(DataBaseName_, "Backup database created -" + backup);
  const int32_t savedMax = log.MaxLogItemCount();
  log.SetMaxLogItemCount(-1);
  const bool savedExclusive = Exclusive_;
  // The new file is made beside the old one, which goes only once the copy
  // is complete.
  const std::string newName = DataBaseName_ + "~rebuild";
  const std::string newFile = Directory_ + newName;
  const std::string oldName = DataBaseName_;
  const std::string savedMasterKey = MasterKey_;
  auto cleanUp = [&] {
    DataBaseName_ = oldName;
    Exclusive_ = savedExclusive;
    TempPrivilegeStatus_ = 0;
    MasterKey_ = savedMasterKey;
    log.LogItem(DataBaseName_, "Rebuild database complete");
    log.SaveLogToFile(Directory_ + "dblog.txt");
    log.SetMaxLogItemCount(savedMax);
  };
  try {
    TZelDataBase source;
    source.SetDirectory(Directory_);
    source.SetDataBaseName(plat::ExtractFileName(backup));
    source.SetExclusive(true);
    source.SetReadOnly(true);
    source.SetMasterKey(MasterKey_);
    source.BeforeLogin = BeforeLogin;
    source.TempPrivilegeStatus_ = 0x7FFFFFFF;
    log.LogItem(DataBaseName_, "Opening Backup dir " + Directory_);
    log.LogItem(DataBaseName_, "Opening Backup file " + source.DataBaseName());
    log.LogItem(DataBaseName_, "Opening Source database");
    try {
      source.SetConnected(true);
    } catch (...) {
      log.LogItem(DataBaseName_, "Could not open source database");
      throw;
    }
    // A secured database rebuilds secured, with its key, owner and order.
    const uint32_t level = ix::LoadU32(source.DBDef_.data() + ddSecurityLevel);
    MasterKey_ = source.MasterKey();
    SetUseEncryption(level >= 1);
    SetEnforceSecurity(level >= 2);
    SetDBOwner(source.DBOwner());
    SetDefaultSortOrder(static_cast<TSortOrder>(ix::LoadU32(source.DBDef_.data() + ddDefaultSortOrder)));
    plat::DeleteFile(newFile);
    plat::DeleteFile(TDiskMgr::GetLockFileName(newFile));
    DataBaseName_ = newName;
    Exclusive_ = true;
    TempPrivilegeStatus_ = 0x7FFFFFFF;
    CreateDatabase();
    try {
      TempPrivilegeStatus_ = 0x7FFFFFFF;
      SetConnected(true);
      TempPrivilegeStatus_ = 0x7FFFFFFF;
      plat::TStringList names, made;
      source.GetSystemTableNames(names);
      source.GetTableNames(names, false);
      GetSystemTableNames(made);
      log.LogItem(oldName, "Creating tables...");
      for (int32_t i = 0; i < names.Count(); ++i) {
        const std::string& name = names.Strings(i);
        // The system and security tables of the new file exist already.
        if (made.IndexOf(name) >= 0) continue;
        TTableDef def;
        def.SetMemory(false);
        source.InternalGetTableDef(name, def);
        def.SetTableName(name);
        def.SetVersion(ZelEngineVersion);
        log.LogItem(oldName, "Creating table " + name);
        InternalCreateTable(def, false);
      }
      for (int32_t i = 0; i < names.Count(); ++i) {
        const std::string& name = names.Strings(i);
        log.LogItem(oldName, "Copying data from source table " + name);
        try {
          CopyTableFrom(source, name, nullptr);
        } catch (const std::exception& e) {
          log.LogItem(oldName, "Exception while copying data from source table " + name);
          log.LogItem(oldName, std::string("Exception was ") + e.what());
          throw;
        }
        if (CountRows(*this, name) != CountRows(source, name))
          ZelDatabaseErrorFmt(0x2185, Context, "The rows of table %s were not all copied", {name}, this);
      }
      SetConnected(false);
    } catch (...) {
      try {
        SetConnected(false);
      } catch (...) {
      }
      plat::DeleteFile(newFile);
      plat::DeleteFile(TDiskMgr::GetLockFileName(newFile));
      throw;
    }
    source.SetConnected(false);
    // The new file takes the old one's place in one step.
    std::error_code error;
    std::filesystem::rename(newFile, original, error);
    if (error) ZelDatabaseError(0x2480, Context, original + ": " + error.message(), this);
    plat::DeleteFile(TDiskMgr::GetLockFileName(newFile));
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
}

void TZelDataBase::TransferRecordBuffers(int32_t TableID, int32_t RecordSize,
                                         const TTransferRecordProc& Callback) {
  static const char* const Context = "TZelDataBase.TransferRecordBuffers";
  CheckNotConnected();
  if (TableID <= 0 || RecordSize <= 0) ZelDatabaseError(0x2185, Context, "", this);
  TDiskMgr disk;
  disk.SetPageSize(DatabasePageSize);
  disk.SetFileName(FileName());
  disk.SetOpenFlags(16);
  disk.SetLockRetryCount(LockRetryMaximum_);
  disk.SetLockRetryInterval(LockRetryInterval_);
  disk.Open();
  disk.SetCryptKey(MasterKey_);
  const uint32_t table = static_cast<uint32_t>(TableID);
  // The lock names the table that is read.
  disk.SetTableLock(table, ltRead);
  try {
    std::vector<uint32_t> blocks;
    disk.ListAllocatedFixedBlocks(static_cast<uint32_t>(RecordSize), table, iuRecords, blocks);
    std::vector<uint8_t> buffer(static_cast<size_t>(RecordSize));
    const int32_t count = static_cast<int32_t>(blocks.size());
    bool goOn = true;
    for (int32_t i = 0; i < count && goOn; ++i) {
      disk.ReadCustomSize(blocks[static_cast<size_t>(i)], RecordSize, table, afCached, buffer.data());
      if (Callback) Callback(buffer.data(), nullptr, i, count, goOn);
    }
  } catch (...) {
    try {
      disk.ReleaseTableLock(table);
      disk.Close();
    } catch (...) {
    }
    throw;
  }
  disk.ReleaseTableLock(table);
  disk.Close();
}

}  // namespace zel
