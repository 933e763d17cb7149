#pragma once
// Databases and tables a host can use: the database component TZelDataBase
// (a database file, or the memory database "MEMORY"), the table cursor and
// the dataset protocol (zelDatabaseCursor.h, zelDatabaseTable.h).
//
// Definition record (file offset 0, 254 bytes, little-endian; text fields
// are UTF-16 arrays ending in a null unit, the units after it zero):
//   0    u16  format, always 1
//   2    62   database name (at most 29 characters)
//   64   62   operating-system text of the creating machine
//   126  f64  date created
//   134  62   owner
//   196  u32  reserved, 0
//   200  u32  default sort order
//   204  42   version text (at most 19 characters)
//   246  u32  security level: 0 none, 1 encrypted, 2 enforced security
//   250  u32  CRC-32 over the bytes 0, 1, ..., 255 followed by the record
//             with this field 0
//
// Rules:
//  1. The in-memory record holds defaults while disconnected, the file's
//     record while connected.
//  2. Every failure of a connect leaves the component disconnected, the
//     file closed and the master key cleared.
//  3. Every disk table but the two catalogue tables has one catalogue row
//     ("$MSTRTBLSYSTEM" for names beginning with "$", else "$MSTRTBLUSER")
//     holding its definition as component text, and one entry in the table
//     map of its manager; a failed creation leaves neither.
//  4. Memory tables live only in the memory table-definition manager.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabaseCursor.h"
#include "engine/dataset/zelDatabaseSecurity.h"
#include "engine/dataset/zelDatabaseTable.h"
#include "engine/storage/zelApi.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelTableMgrUnit.h"
#include "platform/db/Connection.h"

namespace zel {

// Definition record layout.
inline constexpr int32_t DBDefSize = 254;
inline constexpr int32_t ddFormat = 0;
inline constexpr int32_t ddDatabaseName = 2;
inline constexpr int32_t ddOS = 64;
inline constexpr int32_t ddDateCreated = 126;
inline constexpr int32_t ddOwner = 134;
inline constexpr int32_t ddReserved = 196;
inline constexpr int32_t ddDefaultSortOrder = 200;
inline constexpr int32_t ddVersion = 204;
inline constexpr int32_t ddSecurityLevel = 246;
inline constexpr int32_t ddCRC = 250;
inline constexpr int32_t ddNameUnits = 31;
inline constexpr int32_t ddVersionUnits = 21;

inline constexpr const char* MemoryDatabaseName = "MEMORY";
inline constexpr const char* MasterTableUser = "$MSTRTBLUSER";
inline constexpr const char* MasterTableSystem = "$MSTRTBLSYSTEM";
inline constexpr int32_t MasterTableUserID = 1024;
inline constexpr int32_t MasterTableSystemID = 1025;
inline constexpr int32_t DatabasePageSize = 4096;

// Username, Password, MasterKey.
using TBeforeLoginEvent =
    std::function<void(plat::TObject* Sender, std::string& Username, std::string& Password,
                       std::string& MasterKey)>;
using TUpdateProgressProc = std::function<void(int32_t PercentDone, bool& Cancel)>;

class ZEL_API TZelDataBase : public plat::TCustomConnection {
 public:
  explicit TZelDataBase(plat::TComponent* AOwner = nullptr);
  ~TZelDataBase() override;
  std::string ClassName() const override { return "TZelDataBase"; }

  // --- Published properties ---
  const std::string& DataBaseName() const { return DataBaseName_; }
  void SetDataBaseName(const std::string& Value);
  const std::string& Directory() const { return Directory_; }
  void SetDirectory(const std::string& Value);
  bool Exclusive() const { return Exclusive_; }
  void SetExclusive(bool Value);
  bool ReadOnly() const { return ReadOnly_; }
  void SetReadOnly(bool Value);
  TSortOrder DefaultSortOrder() const { return DefaultSortOrder_; }
  void SetDefaultSortOrder(TSortOrder Value);
  std::string Version() const { return ZelEngineVersion; }
  void SetVersion(const std::string&) {}
  int32_t LockRetryMaximum() const { return LockRetryMaximum_; }
  void SetLockRetryMaximum(int32_t Value);
  int32_t LockRetryInterval() const { return LockRetryInterval_; }
  void SetLockRetryInterval(int32_t Value);
  bool SaveTableDefinitions() const { return SaveTableDefinitions_; }
  void SetSaveTableDefinitions(bool Value) { SaveTableDefinitions_ = Value; }
  TBeforeLoginEvent BeforeLogin;
  TUpdateProgressProc OnUpdateProgress;

  // --- Definition-record values ---
  const std::string& MasterKey() const { return MasterKey_; }
  void SetMasterKey(const std::string& Value);
  bool UseEncryption() const { return UseEncryption_; }
  void SetUseEncryption(bool Value);
  bool EnforceSecurity() const { return EnforceSecurity_; }
  void SetEnforceSecurity(bool Value);
  std::string DBOwner() const;
  void SetDBOwner(const std::string& Value);
  plat::TDateTime DateCreated() const;
  std::string DataFileVersion() const;
  int32_t MajorVersion() const { return MajorVersion_; }
  int32_t MinorVersion() const { return MinorVersion_; }
  int32_t ReleaseVersion() const { return ReleaseVersion_; }
  const std::array<uint8_t, DBDefSize>& DBDef() const { return DBDef_; }

  void InitDBDef();
  uint32_t CreateDBDefCrc() const;
  bool ValidateDBDef();
  void ReadDBDef();
  void WriteDBDef();
  void ResetDBHeader();
  void GetVersionNumbersFromDef();
  void CheckMinorVersion(int32_t Required) const;
  void CreateDatabase();

  // --- Connection ---
  bool GetConnected() const override { return Connected_; }
  bool IsMemoryDatabase() const { return DataBaseName_ == MemoryDatabaseName; }
  void CheckConnected(bool AllowMemory) const;
  void CheckNotConnected() const;
  void CheckExclusive() const;
  void QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive) const;
  bool NeedSecurity() const;
  // Whether a transaction of the database file is running.
  bool InTransaction() const;
  TDiskMgr* DiskMgr() const { return DiskMgr_.get(); }

  // --- Security (databases with enforced security) ---
  TSecurityManager& SecurityManager() const { return *SecurityMgr_; }
  // The logged-on group's rights as a host reads them.
  const TPrivileges& Privileges() const { return *Privileges_; }
  // The logged-on group's system privileges as bits.
  uint32_t DatabasePrivileges() const { return DatabasePrivileges_; }
  // Whether the logged-on group holds the object privilege PrivilegeConst on
  // the table Name ("ALL" for all tables); always without enforced security.
  bool QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                  int32_t PrivilegeConst);

  // --- Tables ---
  void CreateTable(TTableDef& Def, bool DumpDefinitions, bool SetVersion);
  void InternalCreateTable(TTableDef& Def, bool SetVersion);
  void QueryTableDef(const std::string& Name, bool Memory, TTableDef& Def);
  // Fills Def (whose Memory flag says where to look) and connects it to the
  // table's stores; CloseTable ends that connection.
  void OpenTable(const std::string& Name, TTableDef& Def);
  void CloseTable(TTableDef& Def);
  void RenameTable(const std::string& OldName, const std::string& NewName);
  void DeleteTable(const std::string& Name, bool Memory);
  void GetTableNames(plat::TStrings& List, bool Memory);
  void GetSystemTableNames(plat::TStrings& List);
  // Whether a memory table of this connection has that name (ignoring case).
  bool MemoryTableExists(const std::string& Name) const;
  int32_t GetLocalConnectedUserCount(const std::string& TableName, bool Memory) const;
  void FlushBuffers();
  // One line per connection through the lock file; 0x2905 without a file.
  void GetCurrentUsers(plat::TStrings& List);
  int64_t DatabaseSize();
  static void SetMasterTableDef(TTableDef& Def, bool Encrypted, const std::string& Version);

  // --- Transactions (one per connection, database files only) ---
  void StartTransaction();
  void Commit();
  // Undoes the file's transaction, then every dataset forgets what it held
  // of it, cancels a pending edit or insert and is refreshed.
  void Rollback();
  // Event runs once, when the transaction active now ends (committed or
  // rolled back): what a client keeps open for the transaction's length
  // goes then. A client has one event at a time.
  void NotifyTransactionEnd(const plat::TObject* Client, std::function<void()> Event);
  void CancelTransactionEndNotify(const plat::TObject* Client);
  void SetQueryActive(bool Value) { QueryActive_ = Value; }
  void ActivateQueryMode(bool Flag) {
    QueryActive_ = true;
    QueryFlag_ = Flag;
  }

  // --- Locks of the cursors (tables in memory take none: false) ---
  bool LockTable(const TTableDef& Def, int32_t LockType);
  bool UnLockTable(const TTableDef& Def);
  bool TableLockExists(const TTableDef& Def, int32_t LockType) const;
  bool LockRecord(const TTableDef& Def, uint32_t RecAddr);
  bool UnLockRecord(const TTableDef& Def, uint32_t RecAddr);
  bool RecordLockExists(const TTableDef& Def, uint32_t RecAddr) const;
  // The header lock of the file (catalogue changes); Locked while held.
  bool Locked() const { return HeaderLocked_; }
  void SetLocked(bool Value);

  // --- Generators (named counters of the file; names beginning with "$"
  // are the engine's own and refused here) ---
  void CreateGenerator(const std::string& Name, int32_t InitialValue, int32_t Step);
  void DeleteGenerator(const std::string& Name);
  // The next value; PeekOnly reads it without advancing.
  int32_t GetGeneratorValue(const std::string& Name, bool PeekOnly);
  bool QueryGenerator(const std::string& Name, int32_t& Value, int32_t& Step);
  void GetGeneratorNames(plat::TStrings& List);
  // The engine's own form: any name; a missing generator is made (starting
  // at 1, step 1) when CreateIfMissing, else 0x2183.
  int32_t InternalGetGenerator(const std::string& Name, bool CreateIfMissing);
  // The object ID of a disk table, 0 when it has none (and for "ALL").
  int32_t InternalGetObjectIDFromName(const std::string& Name);
  // Writes the definitions of every user table into an empty database file
  // beside this one (extension ".zed"), replacing an older dump.
  void DumpTableDefinitions();
  // The dump after a table was created or restructured, when
  // SaveTableDefinitions is set; a failure is logged.
  void DumpDefinitionsIfSaved(const char* Caller);

  // --- Maintenance (zelDatabaseMaintenance.cpp) ---
  // The backup of a restructure or rebuild: the file's name with ".zex".
  std::string BackupFileName() const;
  // Copies the database file (the open one while connected). A destination
  // naming the database file itself is refused with 0x2480.
  void CopyDatabase(const std::string& DestFileName, bool Overwrite);
  // Applies a restructure to the table's storage and rewrites its catalogue
  // row; needs exclusive access.
  void UpdateTableDef(TTableDef& Def, const TInternalRestructureRecord& Restructure);
  // Copies the rows of TableName from the database file SourceFileName into
  // Target (or into this database's table, emptied first); returns the
  // number of rows copied.
  int32_t RebuildTable(const std::string& TableName, const std::string& SourceFileName,
                       TZelDataSet* Target);
  // Rebuilds the (disconnected) database file table by table into a new
  // file with the same security, key, owner and sort order; the old file is
  // kept as the ".zex" backup and replaced only once every table's rows
  // were copied and counted.
  void RebuildDatabase();
  // Salvage: hands every allocated record block of table TableID in the
  // (disconnected) file to Callback as RecordSize raw bytes, with no field
  // list, its position and the number of blocks; Callback clears Continue
  // to stop. The table is read-locked meanwhile.
  using TTransferRecordProc = std::function<void(const uint8_t* Buffer, TInternalFields* Fields,
                                                 int32_t Position, int32_t Count, bool& Continue)>;
  void TransferRecordBuffers(int32_t TableID, int32_t RecordSize, const TTransferRecordProc& Callback);
  // Copies the rows of TableName from the connected Source into Target (or
  // into this database's table, emptied first).
  int32_t CopyTableFrom(TZelDataBase& Source, const std::string& TableName, TZelDataSet* Target);

 protected:
  void DoConnect() override;
  void DoDisconnect() override;

 private:
  friend class TZelDataSet;

  // Holds the file's header write lock for a scope unless it was held.
  class THeaderLock {
   public:
    explicit THeaderLock(TZelDataBase& DataBase);
    ~THeaderLock();
    THeaderLock(const THeaderLock&) = delete;
    THeaderLock& operator=(const THeaderLock&) = delete;

   private:
    TZelDataBase& DataBase_;
    bool Taken_ = false;
  };

  std::string FileName() const { return Directory_ + DataBaseName_; }
  void InternalCreateDiskInterfaces();
  void InternalOpenDiskConnections();
  void InternalCloseDiskConnections() noexcept;
  void InternalOpenSystemTables();
  void InternalCloseSystemTables() noexcept;
  void CloseDataSets() noexcept;
  void RefreshDataSets() noexcept;
  void CancelDataSets() noexcept;
  void RollbackDataSets() noexcept;
  // The transaction ended: the locks of Cursors (InternalCursors) went
  // with it.
  void ForgetCursorLocks(const std::vector<TZelDataSet*>& Cursors) noexcept;
  void SendTransactionEnd() noexcept;
  // The database's own cursors (catalogue and system tables).
  std::vector<TZelDataSet*> InternalCursors() const;
  void CheckGeneratorsAvailable(const char* Context) const;
  void CheckGeneratorName(const std::string& Name, const char* Context) const;
  // Positions the generator cursor on Name; false when none.
  bool FindGenerator(const std::string& Name);
  int32_t NextGeneratorValue(const std::string& Name, bool PeekOnly, bool CreateIfMissing,
                             const char* Context);
  // Registers a new table name (or a renamed one) with its object ID.
  void UpdateObjectID(const std::string& OldName, const std::string& NewName, int32_t ObjectID);
  void DeleteObjectID(const std::string& Name);
  // The catalogue cursor of a definition (system or user).
  TZelDataSet& GetMasterTable(const TTableDef& Def);
  TBaseTableDefMgr& GetTableDefMgr(const TTableDef& Def);
  // Opens a catalogue cursor on the system manager.
  std::unique_ptr<TZelDataSet> OpenMasterTable(const std::string& Name, int32_t TableID);
  void CreateMasterTables();
  void CreateSystemTables();
  void CreateSecurityTables();
  void InternalUpdateTableDef(const std::string& Name, TTableDef& Def, bool IsNew);
  void InternalGetTableDef(const std::string& Name, TTableDef& Def);
  // The parsed catalogue row of Name, from StoredTableDefs_ while the
  // catalogue's header stamp is the one it was read at.
  std::shared_ptr<const TTableDef> StoredTableDef(TZelDataSet& Master, const std::string& Name,
                                                  bool Internal);
  // The ModifiedFlag of the catalogue's header as the read lock held (and
  // taken by the caller) sees it; false when it cannot vouch for the rows.
  static bool CatalogueStamp(const TZelDataSet& Master, uint32_t& Stamp);
  // Drops what was kept of the catalogues: on rollback and disconnect.
  void ForgetCatalogue() noexcept {
    StoredTableDefs_.clear();
    UserTableNames_.Valid = false;
  }
  // Positions the catalogue cursor on the row of Name; false when none.
  bool FindCatalogueRow(TZelDataSet& Master, const std::string& Name);
  void SetDBText(int32_t Offset, int32_t Units, const std::string& Text);
  std::string GetDBText(int32_t Offset, int32_t Units) const;
  void Login(std::string& Username, std::string& Password, int32_t Flags);
  // Logs on through the security manager until it succeeds or the host
  // gives up; loads the group's rights.
  void SecuredLogon(std::string& Username, std::string& Password);
  void InternalSetDatabasePrivileges();
  void InternalCheckCanOpenDataObject(TDatabaseObjectType ObjectType, const std::string& Name);
  // Refuses a catalogue change of a table without the privilege (0x2980).
  void CheckObjectPrivilege(const std::string& Name, int32_t PrivilegeConst, const char* Context);

  std::string DataBaseName_;
  std::string Directory_;
  bool Exclusive_ = false;
  bool ReadOnly_ = false;
  TSortOrder DefaultSortOrder_ = soANSI;
  int32_t LockRetryMaximum_ = 10;
  int32_t LockRetryInterval_ = 200;
  bool SaveTableDefinitions_ = false;
  std::string MasterKey_;
  bool UseEncryption_ = false;
  bool EnforceSecurity_ = false;
  int32_t MajorVersion_ = 0;
  int32_t MinorVersion_ = 0;
  int32_t ReleaseVersion_ = 0;
  std::array<uint8_t, DBDefSize> DBDef_{};
  bool Connected_ = false;
  bool HeaderLocked_ = false;
  bool QueryActive_ = false;
  bool QueryFlag_ = false;
  std::vector<std::pair<const plat::TObject*, std::function<void()>>> TransactionEndClients_;
  uint32_t DatabasePrivileges_ = 0;
  int32_t TempPrivilegeStatus_ = 0;

  std::unique_ptr<TSecurityManager> SecurityMgr_;
  std::unique_ptr<TPrivileges> Privileges_;
  std::unique_ptr<TMemoryTableDefMgr> MemoryMgr_;
  std::unique_ptr<TDiskMgr> DiskMgr_;
  std::unique_ptr<TDiskIOInterface> SystemHeaders_;
  std::unique_ptr<TDiskIOInterface> UserHeaders_;
  std::unique_ptr<TDiskTableDefMgr> SystemMgr_;
  std::unique_ptr<TDiskTableDefMgr> UserMgr_;
  std::unique_ptr<TZelDataSet> MasterUser_;
  std::unique_ptr<TZelDataSet> MasterSystem_;
  std::unique_ptr<TZelDataSet> ObjectIDs_;
  std::unique_ptr<TZelDataSet> Generators_;
  // Groups, users, object and system privileges, while security is in force.
  std::array<std::unique_ptr<TZelDataSet>, 4> SecurityTables_;

  // What a catalogue held when the header of the catalogue table had
  // ModifiedFlag Stamp. Every change of a catalogue row writes that header
  // and so raises the flag, in any process; a rolled-back transaction can
  // bring back a flag seen inside it, so rollback empties the cache.
  struct TStoredTableDefEntry {
    uint32_t Stamp = 0;
    std::shared_ptr<const TTableDef> Def;
  };
  // By (system catalogue, name as looked up).
  std::map<std::pair<bool, std::string>, TStoredTableDefEntry> StoredTableDefs_;
  // The names of the user catalogue's rows at Stamp.
  struct TTableNamesEntry {
    bool Valid = false;
    uint32_t Stamp = 0;
    std::vector<std::string> Names;
  } UserTableNames_;
};

}  // namespace zel
