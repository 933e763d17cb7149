#include "engine/storage/zelDataTableDef.h"

#include <string>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelDataTableHdr.h"
#include "engine/storage/zelDisk.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Page offset of the leaf flag of an index page.
constexpr int32_t ipLeafFlag = 0;

}  // namespace

uint32_t EncryptionAccessFlags(TEncryptionLevel Level) {
  switch (Level) {
    case encWeak:
      return afCached | afXOR;
    case encStrong:
      return afCached | afBlowfish;
    default:
      return afCached;
  }
}

void CreateEmptyIndexRoots(const TTableDef& Def, TBaseIOInterface& Store, TTableHeader& Header,
                           int32_t PageSize) {
  std::vector<uint8_t> page(static_cast<size_t>(PageSize), 0);
  page[ipLeafFlag] = 1;
  const TInternalIndexDefs& defs = Def.InternalIndexDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const int32_t slot = defs.Items(i)->IndexSequence();
    const uint32_t root = Store.AllocateNewAddress(PageSize, page.data());
    Header.SetIndexRoot(slot, root);
    Header.SetIndexDepth(slot, 1);
  }
}

TTableDef::TTableDef(plat::TComponent* AOwner)
    : plat::TComponent(AOwner),
      KeyFields_(std::make_unique<TKeyFields>(this)),
      InternalFields_(std::make_unique<TInternalFields>(this)),
      InternalIndexDefs_(std::make_unique<TInternalIndexDefs>(this)) {}

TTableDef::~TTableDef() {
  ReleaseStores();
}

void TTableDef::ReleaseStores() noexcept {
  if (OwnedIndex_ != nullptr || OwnedBlob_ != nullptr || OwnedRecord_ != nullptr) {
    // Closing only drops buffers; a failure must not stop the others.
    for (TBaseIOInterface* store : {OwnedIndex_.get(), OwnedRecord_.get()}) {
      try {
        if (store != nullptr) store->Close();
      } catch (...) {
      }
    }
    try {
      if (OwnedBlob_ != nullptr && BlobOpened_) OwnedBlob_->Close();
    } catch (...) {
    }
  }
  OwnedIndex_.reset();
  OwnedBlob_.reset();
  OwnedRecord_.reset();
  BlobOpened_ = false;
  IndexInterface_ = nullptr;
  BlobInterface_ = nullptr;
  RecordInterface_ = nullptr;
}

void TTableDef::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TTableDef*>(Source);
  if (source == nullptr) {
    plat::TComponent::Assign(Source);
    return;
  }
  if (source == this) return;
  TableID_ = source->TableID_;
  TableName_ = source->TableName_;
  Version_ = source->Version_;
  OS_ = source->OS_;
  CreationDate_ = source->CreationDate_;
  CreatedBy_ = source->CreatedBy_;
  Encrypted_ = source->Encrypted_;
  EncryptionLevel_ = source->EncryptionLevel_;
  Password_ = source->Password_;
  Memory_ = source->Memory_;
  KeyFields_->Assign(source->KeyFields_.get());
  InternalFields_->Assign(source->InternalFields_.get());
  InternalIndexDefs_->Assign(source->InternalIndexDefs_.get());
  RecordSize_ = source->RecordSize_;
  UsesBlobs_ = source->UsesBlobs_;
  DefaultBlobSize_ = source->DefaultBlobSize_;
  SortOrder_ = source->SortOrder_;
  AltName_ = source->AltName_;
  PrivilegeFlags_ = source->PrivilegeFlags_;
  BlobCompression_ = source->BlobCompression_;
}

void TTableDef::AssignStored(const TTableDef& Source) {
  const int32_t privileges = PrivilegeFlags_;
  Assign(&Source);
  PrivilegeFlags_ = privileges;
  OwnerFlag_ = Source.OwnerFlag_;
  LastModDate_ = Source.LastModDate_;
  SecurityLevel_ = Source.SecurityLevel_;
  InternalTable_ = Source.InternalTable_;
  UpdateVersion();
}

void TTableDef::Clear() {
  if (MasterDef_) ZelDatabaseError(0x2181, "TTableDef.Clear", "", this);
  ReleaseStores();
  TableHeader_ = nullptr;
  MasterDef_ = false;
  UserCount_ = 0;
  Active_ = false;
  TableID_ = 0;
  OwnerFlag_ = 0;
  CreationDate_ = 0;
  EncryptionLevel_ = encNone;
  Memory_ = false;
  KeyFields_->Clear();
  InternalFields_->Clear();
  InternalIndexDefs_->Clear();
  RecordSize_ = 0;
  DefaultBlobSize_ = DefaultBlobBlockSize;
  UsesBlobs_ = false;
  BlobCompression_ = false;
}

void TTableDef::UpdateVersion() {
  TInternalFields& fields = *InternalFields_;
  fields.SetDataVersion(GetDataVersionFromFullVersion(Version_));
  fields.SetDefaultOffsets();
  fields.Open();
  RecordSize_ = fields.RecordSize();
  UsesBlobs_ = fields.UsesBlobs();
  for (int32_t i = 0; i < KeyFields_->Count(); ++i) {
    TKeyFieldItem& key = *KeyFields_->Items(i);
    const TInternalFieldItem* field = fields.FindField(key.FieldName());
    // Key parts that are no record field (the hidden record number) keep
    // their positions.
    if (field == nullptr) continue;
    key.SetFieldSize(field->FieldSize());
    key.SetDataType(field->DataType());
    key.SetIsVariable(field->IsVariable());
    key.SetPhysicalFieldNo(field->FieldNo());
    key.SetRecBufOffset(field->DataOffset());
    key.SetNullFlagOffset(field->NullFlagOffset());
    key.SetSizeMarkerOffset(field->SizeMarkerOffset());
  }
}

void TTableDef::Validate() {
  const TInternalIndexDefs& defs = *InternalIndexDefs_;
  // The indexes without key fields, in order: each index name that is gone
  // hands its key fields to the next of them, so that the parts of one index
  // stay together.
  std::vector<std::string> empty;
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const std::string& name = defs.Items(i)->IndexName();
    if (KeyFields_->FindFieldCountForIndex(name) == 0) empty.push_back(name);
  }
  std::vector<std::pair<std::string, std::string>> moves;  // lost name -> new name
  size_t next = 0;
  for (int32_t i = 0; i < KeyFields_->Count(); ++i) {
    TKeyFieldItem& key = *KeyFields_->Items(i);
    if (defs.FindIndexDef(key.IndexName()) != nullptr) continue;
    const std::string* target = nullptr;
    for (const auto& move : moves) {
      if (plat::AnsiSameText(move.first, key.IndexName())) target = &move.second;
    }
    if (target == nullptr) {
      if (next >= empty.size()) continue;
      moves.emplace_back(key.IndexName(), empty[next++]);
      target = &moves.back().second;
    }
    key.SetIndexName(*target);
  }
}

int32_t TTableDef::IndexBlockSize() const {
  if (InternalIndexDefs_->Count() == 0) return DefaultIndexPageSize;
  const uint32_t size = InternalIndexDefs_->Items(0)->IndexPageSize();
  if (size == 0) return DefaultIndexPageSize;
  // The size comes from the stored definition: no key allows more.
  if (size > MaxIndexPageSize)
    ZelDatabaseErrorFmt(0x2103, "TTableDef.IndexBlockSize", "Index page size %u", {size}, this);
  return static_cast<int32_t>(size);
}

void TTableDef::InternalOpen(TDiskMgr* DiskMgr) {
  static const char* const Context = "TTableDef.InternalOpen";
  if (!MasterDef_) return;
  if (TableHeader_ == nullptr) ZelDatabaseError(0x2180, Context, "Table header", this);
  if (Active_) return;
  if (!Memory_ && DiskMgr == nullptr) ZelDatabaseError(0x2180, Context, "Disk manager", this);

  TInternalFields& fields = *InternalFields_;
  KeyFields_->SetKeyFieldLogicalFieldNumbers(fields);
  // A copied field list has to be laid out before its record size is known.
  if (fields.RecordSize() == 0) fields.SetDefaultOffsets();
  bool usesBlobs = UsesBlobs_;
  for (int32_t i = 0; i < fields.Count() && !usesBlobs; ++i) {
    usesBlobs = IsBlobFieldType(fields.GetIndex(i)->DataType());
  }

  const int32_t indexBlock = IndexBlockSize();
  std::unique_ptr<TBaseIOInterface> index;
  std::unique_ptr<TBaseIOInterface> blob;
  std::unique_ptr<TBaseIOInterface> record;
  if (Memory_) {
    index = std::make_unique<TMemoryIOInterface>();
    blob = std::make_unique<TMemoryIOInterface>();
    record = std::make_unique<TMemoryIOInterface>();
  } else {
    index = std::make_unique<TDiskIOInterface>();
    blob = std::make_unique<TDiskIOInterface>();
    record = std::make_unique<TDiskIOInterface>();
    for (TBaseIOInterface* store : {index.get(), blob.get(), record.get()}) {
      store->SetDiskMgr(DiskMgr);
    }
    // Index pages of all tables share one free-block chain in the global
    // header; blobs and records keep theirs in the table header.
    index->SetGlobalFirstEmptyOffset(IndexesFirstEmptyOffset);
    blob->SetFirstEmpty(TableHeader_->GetBlobFirstEmpty());
    blob->SetFirstEmptyValid(true);
    record->SetFirstEmpty(TableHeader_->GetRecordFirstEmpty());
    record->SetFirstEmptyValid(true);
  }
  index->SetBlockSize(static_cast<uint32_t>(indexBlock));
  blob->SetBlockSize(static_cast<uint32_t>(DefaultBlobSize_ > 0 ? DefaultBlobSize_ : 0));
  record->SetBlockSize(static_cast<uint32_t>(fields.RecordSize()));
  index->SetUsage(iuIndexPages);
  blob->SetUsage(iuBlobBlocks);
  record->SetUsage(iuRecords);
  const uint32_t flags = EncryptionAccessFlags(EncryptionLevel_);
  for (TBaseIOInterface* store : {index.get(), blob.get(), record.get()}) {
    store->SetTableID(static_cast<uint16_t>(TableID_));
    store->SetAccessFlags(flags);
  }

  {
    // A failed open closes again what it opened.
    index->Open();
    const auto closeIndex = plat::OnScopeFailure([&] { index->Close(); });
    if (usesBlobs) blob->Open();
    const auto closeBlob = plat::OnScopeFailure([&] {
      if (usesBlobs) blob->Close();
    });
    record->Open();
    if (Memory_) {
      // A memory table starts with an empty root page per index.
      CreateEmptyIndexRoots(*this, *index, *TableHeader_, indexBlock);
      TableHeader_->WriteHeader();
    }
  }

  OwnedIndex_ = std::move(index);
  OwnedBlob_ = std::move(blob);
  OwnedRecord_ = std::move(record);
  BlobOpened_ = usesBlobs;
  IndexInterface_ = OwnedIndex_.get();
  BlobInterface_ = OwnedBlob_.get();
  RecordInterface_ = OwnedRecord_.get();
  Active_ = true;
}

void TTableDef::InternalClose() {
  if (MasterDef_ && Active_) {
    ReleaseStores();
  } else if (OwnedIndex_ == nullptr) {
    IndexInterface_ = nullptr;
    BlobInterface_ = nullptr;
    RecordInterface_ = nullptr;
  }
  Active_ = false;
}

const plat::TPropList& TTableDef::PublishedProperties() const {
  using T = TTableDef;
  static const plat::TPropList list =
      plat::TPublished<T>(plat::TComponent::PublishedProperties())
          .Integer("TableID", &T::TableID, &T::SetTableID)
          .Integer("OwnerFlag", &T::OwnerFlag, &T::SetOwnerFlag)
          .String("TableName", &T::TableName, &T::SetTableName)
          .String("AltName", &T::AltName, &T::SetAltName)
          .String("Version", &T::Version, &T::SetVersion)
          .String("OS", &T::OS, &T::SetOS)
          .Date("CreationDate", &T::CreationDate, &T::SetCreationDate)
          .Date("LastModDate", &T::LastModDate, &T::SetLastModDate)
          .String("CreatedBy", &T::CreatedBy, &T::SetCreatedBy)
          .String("Password", &T::Password, &T::SetPassword)
          .Boolean("Encrypted", &T::Encrypted, &T::SetEncrypted)
          .Integer("SecurityLevel", &T::SecurityLevel, &T::SetSecurityLevel)
          .Boolean("Memory", &T::Memory, &T::SetMemory)
          .Integer("RecordSize", &T::RecordSize, &T::SetRecordSize)
          .Integer("DefaultBlobSize", &T::DefaultBlobSize, &T::SetDefaultBlobSize)
          .Boolean("UsesBlobs", &T::UsesBlobs, &T::SetUsesBlobs)
          .Enumeration("SortOrder", &T::SortOrder, &T::SetSortOrder, {"soANSI", "soASCII"})
          .Boolean("InternalTable", &T::InternalTable, &T::SetInternalTable)
          .Enumeration("EncryptionLevel", &T::EncryptionLevel, &T::SetEncryptionLevel,
                       {"encNone", "encWeak", "encStrong"})
          .Collection("KeyFields", [](T& d) -> plat::TCollection& { return d.KeyFields(); })
          .Collection("InternalFields",
                      [](T& d) -> plat::TCollection& { return d.InternalFields(); })
          .Collection("InternalIndexDefs",
                      [](T& d) -> plat::TCollection& { return d.InternalIndexDefs(); })
          .Boolean("BlobCompression", &T::BlobCompression, &T::SetBlobCompression);
  return list;
}

}  // namespace zel
