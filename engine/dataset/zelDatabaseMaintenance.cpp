// The database component: copying the database file, applying a restructure
// to a table's storage and copying a table's rows from another file.
#include <filesystem>
#include <system_error>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCommonLog.h"
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
  } catch (...) {
    // No partial copy is left behind under the destination's name.
    plat::DeleteFile(DestFileName);
    throw;
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
  int32_t copied = 0;
  try {
    TZelTable from;
    from.SetDataBase(&source);
    from.SetTableName(TableName);
    from.SetInternalTableFlag(!TableName.empty() && TableName[0] == '$');
    from.DataSetOpen();
    std::unique_ptr<TZelTable> own;
    try {
      if (Target == nullptr) {
        own = std::make_unique<TZelTable>();
        own->SetDataBase(this);
        own->SetTableName(TableName);
        own->DataSetOpen();
        own->DataSetEmptyTable();
        Target = own.get();
      }
      copied = Target->CopyRawTableData(from);
    } catch (...) {
      if (own != nullptr && own->CursorOpen()) own->DataSetClose();
      from.DataSetClose();
      throw;
    }
    if (own != nullptr) own->DataSetClose();
    from.DataSetClose();
  } catch (...) {
    try {
      source.SetConnected(false);
    } catch (...) {
    }
    throw;
  }
  source.SetConnected(false);
  return copied;
}

}  // namespace zel
