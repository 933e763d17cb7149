#include "engine/storage/zelTableMgrUnit.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelDisk.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Keeps a table header opened for one step and closes it again; on the way
// out of a failed step the header is not written.
class THeaderScope {
 public:
  THeaderScope(TTableHeaderMgr& Mgr, uint32_t TableID)
      : Mgr_(Mgr), Header_(Mgr.OpenTable(TableID)), Exceptions_(std::uncaught_exceptions()) {}
  THeaderScope(const THeaderScope&) = delete;
  THeaderScope& operator=(const THeaderScope&) = delete;
  ~THeaderScope() {
    if (Header_ == nullptr) return;
    try {
      if (std::uncaught_exceptions() > Exceptions_) Header_->SetDirty(false);
      Mgr_.CloseTable(Header_);
    } catch (...) {
    }
  }

  TTableHeader& operator*() const { return *Header_; }
  TTableHeader* operator->() const { return Header_; }
  // Closes now, so that a failure to write is reported.
  void Close() {
    TTableHeader* header = std::exchange(Header_, nullptr);
    Mgr_.CloseTable(header);
  }

 private:
  TTableHeaderMgr& Mgr_;
  TTableHeader* Header_;
  // Exceptions on their way when the step began: a scope opened while
  // unwinding (in a destructor) still writes what its own step did.
  int Exceptions_;
};

// Opens a master's stores. When that fails, the header is closed again if
// this connection opened it (CloseHeader).
void OpenMaster(TTableHeaderMgr& Headers, TTableDef& Master, bool CloseHeader, TDiskMgr* Disk) {
  const auto closeHeader = plat::OnScopeFailure([&] {
    if (!CloseHeader) return;
    TTableHeader* header = Master.TableHeader();
    Master.SetTableHeader(nullptr);
    Headers.CloseTable(header);
  });
  Master.InternalOpen(Disk);
}

}  // namespace

// ---------------------------------------------------------------------------
// TBaseTableDefMgr

TBaseTableDefMgr::TBaseTableDefMgr() = default;

TBaseTableDefMgr::~TBaseTableDefMgr() {
  CloseMasters();
}

void TBaseTableDefMgr::InitializeIndexInterface(TTableDef&) {}

int32_t TBaseTableDefMgr::CreateTableDef(const std::string&, TTableDef&) {
  return -1;
}

void TBaseTableDefMgr::CloseTableDefConnection(int32_t) {}

void TBaseTableDefMgr::OpenTableDefConnection(const std::string&, TTableDef&) {}

int32_t TBaseTableDefMgr::DeleteTableDef(const std::string&, TTableDef&) {
  return 0;
}

void TBaseTableDefMgr::RestructureTableDef(TTableDef&, const TInternalRestructureRecord&) {}

void TBaseTableDefMgr::Open() {}

void TBaseTableDefMgr::Close() {
  CloseMasters();
}

int32_t TBaseTableDefMgr::IndexOfTableName(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (plat::AnsiSameText(Items(i)->TableName(), Name)) return i;
  }
  return -1;
}

int32_t TBaseTableDefMgr::IndexOfTableDef(int32_t TableID) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->TableID() == TableID) return i;
  }
  return -1;
}

int32_t TBaseTableDefMgr::CheckTableUserCount(const std::string& Name) const {
  const int32_t i = IndexOfTableName(Name);
  return i < 0 ? 0 : Items(i)->UserCount();
}

void TBaseTableDefMgr::GetCurrentTableNames(plat::TStrings& Strings) const {
  for (const auto& def : Defs_) Strings.Add(def->TableName());
}

std::unique_ptr<TTableDef> TBaseTableDefMgr::MakeMaster(const TTableDef& Def) const {
  auto master = std::make_unique<TTableDef>();
  master->Assign(&Def);
  master->SetOwnerFlag(static_cast<uint32_t>(Def.TableID()) << 4);
  master->SetInternalTable(Def.InternalTable());
  master->SetMasterDef(true);
  return master;
}

void TBaseTableDefMgr::FreeMaster(int32_t Index) {
  std::unique_ptr<TTableDef> master = std::move(Defs_.at(static_cast<size_t>(Index)));
  Defs_.erase(Defs_.begin() + Index);
  master->InternalClose();
  if (TTableHeader* header = master->TableHeader(); header != nullptr && HeaderMgr_ != nullptr) {
    master->SetTableHeader(nullptr);
    HeaderMgr_->CloseTable(header);
  }
}

void TBaseTableDefMgr::CloseMasters() noexcept {
  for (auto& master : Defs_) {
    master->InternalClose();
    TTableHeader* header = master->TableHeader();
    master->SetTableHeader(nullptr);
    if (header != nullptr && HeaderMgr_ != nullptr) {
      try {
        HeaderMgr_->CloseTable(header);
      } catch (...) {
      }
    }
  }
  Defs_.clear();
}

void TBaseTableDefMgr::ConnectCopy(TTableDef& Master, TTableDef& Def) {
  Def.SetRecordInterface(Master.RecordInterface());
  Def.SetBlobInterface(Master.BlobInterface());
  Def.SetIndexInterface(Master.IndexInterface());
  Def.SetTableHeader(Master.TableHeader());
  Master.SetUserCount(Master.UserCount() + 1);
}

// ---------------------------------------------------------------------------
// TDiskTableDefMgr

TDiskTableDefMgr::~TDiskTableDefMgr() {
  try {
    Close();
  } catch (...) {
  }
}

void TDiskTableDefMgr::CheckOpen(const char* Context) const {
  if (HeaderMgr_ == nullptr) ZelDatabaseError(0x2180, Context, "Table header manager", this);
}

TDiskMgr& TDiskTableDefMgr::DiskMgr(const char* Context) const {
  if (HdrDiskInterface_ == nullptr || HdrDiskInterface_->DiskMgr() == nullptr)
    ZelDatabaseError(0x2180, Context, "Disk manager", this);
  return *HdrDiskInterface_->DiskMgr();
}

std::unique_ptr<TDiskIOInterface> TDiskTableDefMgr::MakeTableStore(const TTableDef& Def,
                                                                   uint16_t Usage,
                                                                   uint32_t BlockSize,
                                                                   const char* Context) const {
  auto store = std::make_unique<TDiskIOInterface>();
  store->SetDiskMgr(&DiskMgr(Context));
  store->SetTableID(static_cast<uint16_t>(Def.TableID()));
  store->SetUsage(Usage);
  store->SetBlockSize(BlockSize);
  store->SetAccessFlags(EncryptionAccessFlags(Def.EncryptionLevel()));
  if (Usage == iuIndexPages) store->SetGlobalFirstEmptyOffset(IndexesFirstEmptyOffset);
  return store;
}

void TDiskTableDefMgr::Open() {
  static const char* const Context = "TDiskTableDefMgr.Open";
  Close();
  if (HdrDiskInterface_ == nullptr) ZelDatabaseError(0x2183, Context, "Header store", this);
  if (BaseDefMgrAddress_ == 0) ZelDatabaseError(0x2180, Context, "Table map address", this);
  auto mgr = std::make_unique<TTableHeaderMgr>();
  mgr->SetBaseAddress(BaseDefMgrAddress_);
  mgr->SetBaseTableID(BaseTableID());
  mgr->Open(HdrDiskInterface_);
  HeaderMgr_ = std::move(mgr);
}

void TDiskTableDefMgr::Close() {
  CloseMasters();
  if (HeaderMgr_ != nullptr) {
    std::unique_ptr<TTableHeaderMgr> mgr = std::move(HeaderMgr_);
    mgr->Close();
  }
}

void TDiskTableDefMgr::InitializeIndexInterface(TTableDef& Def) {
  static const char* const Context = "TDiskTableDefMgr.InitializeIndexInterface";
  CheckOpen(Context);
  THeaderScope header(*HeaderMgr_, static_cast<uint32_t>(Def.TableID()));
  const int32_t pageSize = Def.IndexBlockSize();
  std::unique_ptr<TDiskIOInterface> store =
      MakeTableStore(Def, iuIndexPages, static_cast<uint32_t>(pageSize), Context);
  store->Open();
  CreateEmptyIndexRoots(Def, *store, *header, pageSize);
  header->WriteHeader();
  store->Close();
  header.Close();
}

int32_t TDiskTableDefMgr::CreateTableDef(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TDiskTableDefMgr.CreateTableDef";
  if (Def.Memory()) ZelDatabaseError(0x2181, Context, Name, this);
  CheckOpen(Context);
  if (IndexOfTableName(Name) >= 0) ZelDatabaseError(0x2184, Context, Name, this);

  std::unique_ptr<TTableDef> master = MakeMaster(Def);
  const uint32_t id = HeaderMgr_->AddTable(Def.InternalIndexDefs().Count());
  master->SetTableID(static_cast<int32_t>(id));
  master->SetOwnerFlag(id << 4);
  {
    // Leave no half-made table behind.
    const auto removeTable = plat::OnScopeFailure([&] {
      DiskMgr(Context).DeleteOwnedPages(id, 0, false);
      HeaderMgr_->DeleteTable(id);
    });
    InitializeIndexInterface(*master);
  }
  Def.SetTableID(static_cast<int32_t>(id));
  Def.SetOwnerFlag(id << 4);
  Defs_.push_back(std::move(master));
  return 0;
}

void TDiskTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TDiskTableDefMgr.OpenTableDefConnection";
  CheckOpen(Context);
  TDiskMgr& diskMgr = DiskMgr(Context);
  std::unique_ptr<TTableDef> fresh;
  TTableDef* master = nullptr;
  const int32_t i = IndexOfTableName(Name);
  if (i >= 0) {
    master = Items(i);
  } else {
    TTableHeader* header = HeaderMgr_->OpenTable(static_cast<uint32_t>(Def.TableID()));
    fresh = MakeMaster(Def);
    fresh->SetTableHeader(header);
    master = fresh.get();
  }
  if (!master->Active()) {
    const bool openedHeader = master->TableHeader() == nullptr;
    if (openedHeader)
      master->SetTableHeader(HeaderMgr_->OpenTable(static_cast<uint32_t>(master->TableID())));
    OpenMaster(*HeaderMgr_, *master, openedHeader || fresh != nullptr, &diskMgr);
  }
  if (fresh != nullptr) Defs_.push_back(std::move(fresh));
  ConnectCopy(*master, Def);
}

void TDiskTableDefMgr::CloseTableDefConnection(int32_t TableID) {
  static const char* const Context = "TDiskTableDefMgr.CloseTableDefConnection";
  const int32_t i = IndexOfTableDef(TableID);
  if (i < 0) ZelDatabaseErrorFmt(0x2183, Context, "Table ID %d", {TableID}, this);
  TTableDef& master = *Items(i);
  master.SetUserCount(std::max(master.UserCount() - 1, 0));
  if (master.UserCount() == 0) FreeMaster(i);
}

int32_t TDiskTableDefMgr::DeleteTableDef(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TDiskTableDefMgr.DeleteTableDef";
  CheckOpen(Context);
  TDiskMgr& diskMgr = DiskMgr(Context);
  const int32_t i = Def.TableID() != 0 ? IndexOfTableDef(Def.TableID()) : IndexOfTableName(Name);
  const int32_t id = Def.TableID() != 0 ? Def.TableID() : (i >= 0 ? Items(i)->TableID() : 0);
  // A table in use keeps everything: its master, its user count, its pages.
  if (i >= 0 && Items(i)->UserCount() > 0) ZelDatabaseError(0x2182, Context, Name, this);
  HeaderMgr_->InternalReadMap();
  int32_t entry = -1;
  if (id <= 0 || !HeaderMgr_->FindTableHeaderInMap(static_cast<uint32_t>(id), entry))
    ZelDatabaseError(0x2183, Context, "Delete table", this);
  if (i >= 0) FreeMaster(i);
  if (HeaderMgr_->FindHdrItemByID(static_cast<uint32_t>(id)) != nullptr)
    ZelDatabaseError(0x2182, Context, Name, this);

  // The pages go before the map entry, so that a table that gets the ID
  // next never finds pages of this one.
  diskMgr.DeleteOwnedPages(static_cast<uint32_t>(id), 0, false);
  HeaderMgr_->DeleteTable(static_cast<uint32_t>(id));
  Def.SetTableHeader(nullptr);
  Def.SetTableID(0);
  return 0;
}

void TDiskTableDefMgr::RestructureTableDef(TTableDef& Def,
                                           const TInternalRestructureRecord& Restructure) {
  static const char* const Context = "TDiskTableDefMgr.RestructureTableDef";
  if (Def.Memory()) ZelDatabaseError(0x2181, Context, Def.TableName(), this);
  CheckOpen(Context);
  TDiskMgr& diskMgr = DiskMgr(Context);
  const uint32_t id = static_cast<uint32_t>(Def.TableID());

  const int32_t indexCount = Def.InternalIndexDefs().Count();
  int32_t headerSize = 0;
  try {
    headerSize = CalcTableHeaderSize(indexCount);
  } catch (const plat::Exception& e) {
    ZelDatabaseError(0x2584, Context, e.Message(), this);
  }
  const int32_t m = IndexOfTableDef(Def.TableID());
  if (m >= 0) {
    if (Items(m)->UserCount() > 0) ZelDatabaseError(0x2182, Context, Def.TableName(), this);
    // An unused master still holds the old definition.
    FreeMaster(m);
  }

  const TDefChangeType fieldStatus =
      Restructure.NewFieldDefs != nullptr ? Restructure.NewFieldDefs->ChangeStatus() : dcNoChange;
  const TDefChangeType indexStatus =
      Restructure.NewIndexDefs != nullptr ? Restructure.NewIndexDefs->ChangeStatus() : dcNoChange;
  const bool recordsChange = IsDataChangeStatus(fieldStatus);
  const bool rebuild = recordsChange || IsDataChangeStatus(indexStatus);

  THeaderScope header(*HeaderMgr_, id);
  const int32_t autoInc =
      Restructure.ResetAutoIncValue ? Restructure.AutoIncValue : header->GetRecordAutoIncVal();
  const int32_t generator1 =
      Restructure.ResetGenerator1 ? Restructure.Generator1 : header->GetGenerator1();
  const int32_t generator2 =
      Restructure.ResetGenerator2 ? Restructure.Generator2 : header->GetGenerator2();

  // The old trees are replaced by empty ones. Index blocks of a page or more
  // go back to the page map when released, so none of them is on the
  // free-block chain that all tables share, and the table's index pages can
  // be given back whole; otherwise they are left where they are.
  std::vector<uint32_t> oldIndexPages;
  const int32_t indexBlock = Def.IndexBlockSize();
  const int32_t pageSize = diskMgr.PageSize();
  if (rebuild && pageSize > 0 && indexBlock % pageSize == 0)
    diskMgr.ListAllocatedFixedBlocks(static_cast<uint32_t>(pageSize), id, iuIndexPages,
                                     oldIndexPages);

  if (rebuild) {
    const uint32_t modified = header->GetModifiedFlag();
    const int32_t logicalRecordNo = header->GetLogicalRecordNo();
    const uint32_t recordFirstEmpty = header->GetRecordFirstEmpty();
    const uint32_t blobFirstEmpty = header->GetBlobFirstEmpty();
    const int32_t internalGenerator = header->GetInternalGenerator();
    header->ResetHeaderSize(headerSize, true);
    header->SetTableID(id);
    header->SetIndexCount(indexCount);
    header->SetModifiedFlag(modified);
    if (!recordsChange) {
      // The records stay: so do their free blocks and their numbers, or new
      // records would repeat numbers that non-unique keys rely on.
      header->SetLogicalRecordNo(logicalRecordNo);
      header->SetRecordFirstEmpty(recordFirstEmpty);
      header->SetBlobFirstEmpty(blobFirstEmpty);
      header->SetInternalGenerator(internalGenerator);
    }
  }
  header->SetRecordAutoIncVal(autoInc);
  header->SetGenerator1(generator1);
  header->SetGenerator2(generator2);

  if (rebuild) {
    std::unique_ptr<TDiskIOInterface> store =
        MakeTableStore(Def, iuIndexPages, static_cast<uint32_t>(indexBlock), Context);
    store->Open();
    store->GetGlobalFirstEmpty();
    CreateEmptyIndexRoots(Def, *store, *header, indexBlock);
    store->Close();
  }
  header->WriteHeader();
  header.Close();

  // Pages are given back only once the header no longer names them: a
  // failure before this point leaves the old table as it was.
  for (size_t i = 0; i < oldIndexPages.size();) {
    size_t n = 1;
    while (i + n < oldIndexPages.size() &&
           oldIndexPages[i + n] == oldIndexPages[i] + n * static_cast<uint32_t>(pageSize))
      ++n;
    diskMgr.ReleasePages(oldIndexPages[i], static_cast<int32_t>(n));
    i += n;
  }
  if (recordsChange) {
    // The records are copied in again from the backup; their blob chains
    // would be reachable from nothing.
    diskMgr.DeleteOwnedPages(id, iuRecords, true);
    diskMgr.DeleteOwnedPages(id, iuBlobBlocks, true);
  }
}

// ---------------------------------------------------------------------------
// TMemoryTableDefMgr

TMemoryTableDefMgr::~TMemoryTableDefMgr() {
  try {
    Close();
  } catch (...) {
  }
}

void TMemoryTableDefMgr::PrepareHeaderMgr() {
  if (HeaderMgr_ != nullptr) return;
  auto store = std::make_unique<TMemoryIOInterface>();
  store->SetBlockSize(DefaultIndexPageSize);
  store->SetUsage(iuTableHeaders);
  store->Open();
  const std::vector<uint8_t> map(TableMapSize, 0);
  const uint32_t address = store->AllocateNewAddress(TableMapSize, map.data());
  auto mgr = std::make_unique<TTableHeaderMgr>();
  mgr->SetBaseAddress(address);
  mgr->SetBaseTableID(BaseTableID());
  mgr->Open(store.get());
  MemoryInterface_ = std::move(store);
  HeaderMgr_ = std::move(mgr);
}

int32_t TMemoryTableDefMgr::CreateTableDef(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TMemoryTableDefMgr.CreateTableDef";
  if (!Def.Memory()) ZelDatabaseError(0x2181, Context, Name, this);
  if (IndexOfTableName(Name) >= 0) ZelDatabaseError(0x2184, Context, Name, this);
  PrepareHeaderMgr();
  std::unique_ptr<TTableDef> master = MakeMaster(Def);
  const uint32_t id = HeaderMgr_->AddTable(Def.InternalIndexDefs().Count());
  master->SetTableID(static_cast<int32_t>(id));
  master->SetOwnerFlag(id << 4);
  Def.SetTableID(static_cast<int32_t>(id));
  Def.SetOwnerFlag(id << 4);
  Defs_.push_back(std::move(master));
  return 0;
}

void TMemoryTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TMemoryTableDefMgr.OpenTableDefConnection";
  const int32_t i = IndexOfTableName(Name);
  if (i < 0 || HeaderMgr_ == nullptr) ZelDatabaseError(0x2183, Context, Name, this);
  TTableDef& master = *Items(i);
  if (!master.Active()) {
    const bool openedHeader = master.TableHeader() == nullptr;
    if (openedHeader)
      master.SetTableHeader(HeaderMgr_->OpenTable(static_cast<uint32_t>(master.TableID())));
    OpenMaster(*HeaderMgr_, master, openedHeader, nullptr);
  }
  ConnectCopy(master, Def);
}

void TMemoryTableDefMgr::CloseTableDefConnection(int32_t TableID) {
  static const char* const Context = "TMemoryTableDefMgr.CloseTableDefConnection";
  const int32_t i = IndexOfTableDef(TableID);
  if (i < 0) ZelDatabaseErrorFmt(0x2183, Context, "Table ID %d", {TableID}, this);
  // The table and its data stay until it is deleted.
  TTableDef& master = *Items(i);
  master.SetUserCount(std::max(master.UserCount() - 1, 0));
}

int32_t TMemoryTableDefMgr::DeleteTableDef(const std::string& Name, TTableDef& Def) {
  static const char* const Context = "TMemoryTableDefMgr.DeleteTableDef";
  const int32_t i = Def.TableID() != 0 ? IndexOfTableDef(Def.TableID()) : IndexOfTableName(Name);
  const int32_t id = Def.TableID() != 0 ? Def.TableID() : (i >= 0 ? Items(i)->TableID() : 0);
  if (i >= 0 && Items(i)->UserCount() > 0) ZelDatabaseError(0x2182, Context, Name, this);
  int32_t entry = -1;
  if (HeaderMgr_ == nullptr || id <= 0 ||
      !HeaderMgr_->FindTableHeaderInMap(static_cast<uint32_t>(id), entry))
    ZelDatabaseError(0x2183, Context, "Delete table", this);
  if (i >= 0) FreeMaster(i);
  HeaderMgr_->DeleteTable(static_cast<uint32_t>(id));
  Def.SetTableHeader(nullptr);
  Def.SetTableID(0);
  return 0;
}

void TMemoryTableDefMgr::RestructureTableDef(TTableDef& Def, const TInternalRestructureRecord&) {
  ZelDatabaseError(0x2A0E, "TMemoryTableDefMgr.RestructureTableDef", Def.TableName(), this);
}

void TMemoryTableDefMgr::Close() {
  CloseMasters();
  std::unique_ptr<TTableHeaderMgr> mgr = std::move(HeaderMgr_);
  std::unique_ptr<TMemoryIOInterface> store = std::move(MemoryInterface_);
  if (mgr != nullptr) mgr->Close();
}

}  // namespace zel
