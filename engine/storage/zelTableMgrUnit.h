#pragma once
// Table-definition managers: one master definition per open table, shared by
// every cursor of that table in the process. A manager creates and deletes
// tables in its table map, connects a cursor's copy of a definition to the
// master's stores and header, and resets a table's storage for a
// restructure. TDiskTableDefMgr serves tables in the database file,
// TMemoryTableDefMgr tables that live in memory.
//
// Rules:
//  1. At most one master per table name (ignoring case) and per table ID.
//  2. A master's UserCount is the number of cursor copies connected to it.
//     A table whose master has users is never deleted or restructured.
//  3. A disk master is freed when its last user disconnects; a memory master
//     (and with it the table's data) lives until the table is deleted or
//     the manager closed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelDataRestructure.h"
#include "engine/storage/zelDataTableDef.h"
#include "engine/storage/zelDataTableHdr.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/rtl/Classes.h"

namespace zel {

class TDiskMgr;

// Table IDs of the system tables' manager start here, the user tables' at 1.
inline constexpr uint32_t SystemTableBaseID = 1024;
inline constexpr uint32_t UserTableBaseID = 1;

class ZEL_API TBaseTableDefMgr : public plat::TObject {
 public:
  TBaseTableDefMgr();
  TBaseTableDefMgr(const TBaseTableDefMgr&) = delete;
  TBaseTableDefMgr& operator=(const TBaseTableDefMgr&) = delete;
  ~TBaseTableDefMgr() override;

  std::string ClassName() const override { return "TBaseTableDefMgr"; }

  // The base versions do nothing; CreateTableDef and DeleteTableDef return
  // -1 and 0.
  virtual void InitializeIndexInterface(TTableDef& Def);
  virtual int32_t CreateTableDef(const std::string& Name, TTableDef& Def);
  virtual void CloseTableDefConnection(int32_t TableID);
  virtual void OpenTableDefConnection(const std::string& Name, TTableDef& Def);
  virtual int32_t DeleteTableDef(const std::string& Name, TTableDef& Def);
  virtual void RestructureTableDef(TTableDef& Def, const TInternalRestructureRecord& Restructure);
  virtual void Open();
  // Frees every master.
  virtual void Close();

  // Position of the master named Name (ignoring case), -1 when none.
  int32_t IndexOfTableName(const std::string& Name) const;
  // Position of the master with that ID, -1 when none.
  int32_t IndexOfTableDef(int32_t TableID) const;
  // The master's UserCount, 0 when the table is not open here.
  int32_t CheckTableUserCount(const std::string& Name) const;
  // Appends the names of all masters.
  void GetCurrentTableNames(plat::TStrings& Strings) const;

  int32_t Count() const { return static_cast<int32_t>(Defs_.size()); }
  TTableDef* Items(int32_t Index) const { return Defs_.at(static_cast<size_t>(Index)).get(); }

  TTableHeaderMgr* HeaderMgr() const { return HeaderMgr_.get(); }
  void SetHeaderMgr(std::unique_ptr<TTableHeaderMgr> Value) { HeaderMgr_ = std::move(Value); }
  bool SystemTableMgr() const { return SystemTableMgr_; }
  void SetSystemTableMgr(bool Value) { SystemTableMgr_ = Value; }

 protected:
  uint32_t BaseTableID() const { return SystemTableMgr_ ? SystemTableBaseID : UserTableBaseID; }
  // A master made from Def, marked master; not yet listed.
  std::unique_ptr<TTableDef> MakeMaster(const TTableDef& Def) const;
  // Takes the master at Index out of the list, closes it and its header,
  // and frees it.
  void FreeMaster(int32_t Index);
  // Closes every master and its header, without throwing.
  void CloseMasters() noexcept;
  // Gives Def the master's stores and header and counts one user more.
  static void ConnectCopy(TTableDef& Master, TTableDef& Def);

  std::vector<std::unique_ptr<TTableDef>> Defs_;
  bool SystemTableMgr_ = false;
  std::unique_ptr<TTableHeaderMgr> HeaderMgr_;
};

// Tables in the database file. The header store and the disk manager behind
// it belong to the database.
class ZEL_API TDiskTableDefMgr : public TBaseTableDefMgr {
 public:
  TDiskTableDefMgr() = default;
  ~TDiskTableDefMgr() override;

  std::string ClassName() const override { return "TDiskTableDefMgr"; }

  void InitializeIndexInterface(TTableDef& Def) override;
  int32_t CreateTableDef(const std::string& Name, TTableDef& Def) override;
  void CloseTableDefConnection(int32_t TableID) override;
  void OpenTableDefConnection(const std::string& Name, TTableDef& Def) override;
  // Also gives every page of the table back to the page map.
  int32_t DeleteTableDef(const std::string& Name, TTableDef& Def) override;
  void RestructureTableDef(TTableDef& Def, const TInternalRestructureRecord& Restructure) override;
  void Open() override;
  void Close() override;

  uint32_t BaseDefMgrAddress() const { return BaseDefMgrAddress_; }
  void SetBaseDefMgrAddress(uint32_t Value) { BaseDefMgrAddress_ = Value; }
  TBaseIOInterface* HdrDiskInterface() const { return HdrDiskInterface_; }
  void SetHdrDiskInterface(TBaseIOInterface* Value) { HdrDiskInterface_ = Value; }

 private:
  TDiskMgr& DiskMgr(const char* Context) const;
  void CheckOpen(const char* Context) const;
  // A disk block store of the table's pages of one use, set up but not open.
  std::unique_ptr<TDiskIOInterface> MakeTableStore(const TTableDef& Def, uint16_t Usage,
                                                   uint32_t BlockSize, const char* Context) const;

  uint32_t BaseDefMgrAddress_ = 0;
  TBaseIOInterface* HdrDiskInterface_ = nullptr;
};

// Tables in memory: headers and map live in a memory block store of the
// manager's own.
class TMemoryTableDefMgr : public TBaseTableDefMgr {
 public:
  TMemoryTableDefMgr() = default;
  ~TMemoryTableDefMgr() override;

  std::string ClassName() const override { return "TMemoryTableDefMgr"; }

  int32_t CreateTableDef(const std::string& Name, TTableDef& Def) override;
  void CloseTableDefConnection(int32_t TableID) override;
  void OpenTableDefConnection(const std::string& Name, TTableDef& Def) override;
  int32_t DeleteTableDef(const std::string& Name, TTableDef& Def) override;
  void RestructureTableDef(TTableDef& Def, const TInternalRestructureRecord& Restructure) override;
  // Frees every table with its data, the headers and the map.
  void Close() override;

  TBaseIOInterface* MemoryInterface() const { return MemoryInterface_.get(); }

 private:
  // Makes the header store, the map and the header manager on first use.
  void PrepareHeaderMgr();

  std::unique_ptr<TMemoryIOInterface> MemoryInterface_;
};

}  // namespace zel
