#pragma once
// The table definition: a table's identity and provenance, its fields, key
// fields and index definitions, record size, blob settings, sort order and
// encryption level. It is a component so that the catalogue can keep it as
// component text.
//
// For each open table one definition is the master: it owns the table's
// three block stores (index pages, blob blocks, records) and refers to the
// shared table header. Every cursor holds its own copy, which refers to the
// master's stores and header without owning them.
//
// Rules:
//  1. Only a master owns stores, and it owns them exactly while Active.
//  2. A master is never cleared: its stores would be left without owner.
//  3. The three collections live as long as the definition.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelDataFields.h"
#include "engine/storage/zelIndexKeys.h"
#include "engine/storage/zelIndexMgr.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/DateTime.h"

namespace zel {

class TDiskMgr;
class TTableHeader;

// A table's page protection; stored by name in table definitions.
enum TEncryptionLevel : uint8_t { encNone, encWeak, encStrong };

// The access flags of a table's pages: cached, plus XOR scrambling for
// encWeak or Blowfish for encStrong.
uint32_t EncryptionAccessFlags(TEncryptionLevel Level);

// The global header offset of the free-block chain shared by the index pages
// of all tables.
inline constexpr int32_t IndexesFirstEmptyOffset = 0x24;
// Index page size when a table has no index definitions to say otherwise.
inline constexpr int32_t DefaultIndexPageSize = 4096;
// The largest index page size a stored definition may name.
inline constexpr uint32_t MaxIndexPageSize = 0x10000;
inline constexpr int32_t DefaultBlobBlockSize = 512;

class ZEL_API TTableDef : public plat::TComponent {
 public:
  explicit TTableDef(plat::TComponent* AOwner = nullptr);
  ~TTableDef() override;

  std::string ClassName() const override { return "TTableDef"; }

  // Published, in stream order.
  int32_t TableID() const { return TableID_; }
  void SetTableID(int32_t Value) { TableID_ = Value; }
  uint32_t OwnerFlag() const { return OwnerFlag_; }
  void SetOwnerFlag(uint32_t Value) { OwnerFlag_ = Value; }
  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  const std::string& AltName() const { return AltName_; }
  void SetAltName(const std::string& Value) { AltName_ = Value; }
  const std::string& Version() const { return Version_; }
  void SetVersion(const std::string& Value) { Version_ = Value; }
  const std::string& OS() const { return OS_; }
  void SetOS(const std::string& Value) { OS_ = Value; }
  plat::TDateTime CreationDate() const { return CreationDate_; }
  void SetCreationDate(plat::TDateTime Value) { CreationDate_ = Value; }
  plat::TDateTime LastModDate() const { return LastModDate_; }
  void SetLastModDate(plat::TDateTime Value) { LastModDate_ = Value; }
  const std::string& CreatedBy() const { return CreatedBy_; }
  void SetCreatedBy(const std::string& Value) { CreatedBy_ = Value; }
  const std::string& Password() const { return Password_; }
  void SetPassword(const std::string& Value) { Password_ = Value; }
  bool Encrypted() const { return Encrypted_; }
  void SetEncrypted(bool Value) { Encrypted_ = Value; }
  int32_t SecurityLevel() const { return SecurityLevel_; }
  void SetSecurityLevel(int32_t Value) { SecurityLevel_ = Value; }
  bool Memory() const { return Memory_; }
  void SetMemory(bool Value) { Memory_ = Value; }
  int32_t RecordSize() const { return RecordSize_; }
  void SetRecordSize(int32_t Value) { RecordSize_ = Value; }
  int32_t DefaultBlobSize() const { return DefaultBlobSize_; }
  void SetDefaultBlobSize(int32_t Value) { DefaultBlobSize_ = Value; }
  bool UsesBlobs() const { return UsesBlobs_; }
  void SetUsesBlobs(bool Value) { UsesBlobs_ = Value; }
  TSortOrder SortOrder() const { return SortOrder_; }
  void SetSortOrder(TSortOrder Value) { SortOrder_ = Value; }
  bool InternalTable() const { return InternalTable_; }
  void SetInternalTable(bool Value) { InternalTable_ = Value; }
  TEncryptionLevel EncryptionLevel() const { return EncryptionLevel_; }
  void SetEncryptionLevel(TEncryptionLevel Value) { EncryptionLevel_ = Value; }
  TKeyFields& KeyFields() { return *KeyFields_; }
  const TKeyFields& KeyFields() const { return *KeyFields_; }
  TInternalFields& InternalFields() { return *InternalFields_; }
  const TInternalFields& InternalFields() const { return *InternalFields_; }
  TInternalIndexDefs& InternalIndexDefs() { return *InternalIndexDefs_; }
  const TInternalIndexDefs& InternalIndexDefs() const { return *InternalIndexDefs_; }
  bool BlobCompression() const { return BlobCompression_; }
  void SetBlobCompression(bool Value) { BlobCompression_ = Value; }

  // Not published.
  int32_t PrivilegeFlags() const { return PrivilegeFlags_; }
  void SetPrivilegeFlags(int32_t Value) { PrivilegeFlags_ = Value; }
  TTableHeader* TableHeader() const { return TableHeader_; }
  void SetTableHeader(TTableHeader* Value) { TableHeader_ = Value; }
  TBaseIOInterface* IndexInterface() const { return IndexInterface_; }
  void SetIndexInterface(TBaseIOInterface* Value) { IndexInterface_ = Value; }
  TBaseIOInterface* BlobInterface() const { return BlobInterface_; }
  void SetBlobInterface(TBaseIOInterface* Value) { BlobInterface_ = Value; }
  TBaseIOInterface* RecordInterface() const { return RecordInterface_; }
  void SetRecordInterface(TBaseIOInterface* Value) { RecordInterface_ = Value; }
  bool MasterDef() const { return MasterDef_; }
  void SetMasterDef(bool Value) { MasterDef_ = Value; }
  int32_t UserCount() const { return UserCount_; }
  void SetUserCount(int32_t Value) { UserCount_ = Value; }
  bool Active() const { return Active_; }
  void SetActive(bool Value) { Active_ = Value; }

  // From another TTableDef: the table's identity, settings and the three
  // collections; not OwnerFlag, LastModDate, SecurityLevel, InternalTable,
  // nor stores, header and master state.
  void Assign(const plat::TPersistent* Source) override;
  // Everything the catalogue text of a definition holds: Assign plus
  // OwnerFlag, LastModDate, SecurityLevel and InternalTable. PrivilegeFlags
  // stay this definition's own; the record layout is made again.
  void AssignStored(const TTableDef& Source);
  // Back to an empty definition. A master refuses with 0x2181.
  void Clear();
  // Lays the fields out again for the data version of Version and brings
  // RecordSize, UsesBlobs and the key fields' record positions up to date.
  void UpdateVersion();
  // Gives key fields whose index is gone to an index that has none.
  void Validate();
  // A master makes and opens its three stores; a copy does nothing. A disk
  // table needs DiskMgr, a memory table gets an empty root per index.
  void InternalOpen(TDiskMgr* DiskMgr);
  // A master closes and frees its stores; a copy forgets its references.
  void InternalClose();

  // The index page size of the table's index store: the first index
  // definition's, else DefaultIndexPageSize; above MaxIndexPageSize the
  // definition is damaged (0x2103).
  int32_t IndexBlockSize() const;

  const plat::TPropList& PublishedProperties() const override;

 private:
  // Forgets the stores, freeing them when owned.
  void ReleaseStores() noexcept;

  int32_t TableID_ = 0;
  uint32_t OwnerFlag_ = 0;
  std::string TableName_;
  std::string AltName_;
  std::string Version_;
  std::string OS_;
  plat::TDateTime CreationDate_ = 0;
  plat::TDateTime LastModDate_ = 0;
  std::string CreatedBy_;
  std::string Password_;
  bool Encrypted_ = false;
  int32_t SecurityLevel_ = 0;
  bool Memory_ = false;
  int32_t RecordSize_ = 0;
  int32_t DefaultBlobSize_ = DefaultBlobBlockSize;
  bool UsesBlobs_ = false;
  TSortOrder SortOrder_ = soANSI;
  bool InternalTable_ = false;
  TEncryptionLevel EncryptionLevel_ = encNone;
  std::unique_ptr<TKeyFields> KeyFields_;
  std::unique_ptr<TInternalFields> InternalFields_;
  std::unique_ptr<TInternalIndexDefs> InternalIndexDefs_;
  bool BlobCompression_ = false;

  int32_t PrivilegeFlags_ = 0;
  TTableHeader* TableHeader_ = nullptr;
  TBaseIOInterface* IndexInterface_ = nullptr;
  TBaseIOInterface* BlobInterface_ = nullptr;
  TBaseIOInterface* RecordInterface_ = nullptr;
  bool MasterDef_ = false;
  int32_t UserCount_ = 0;
  bool Active_ = false;

  // The stores a master made; the references above point at them.
  std::unique_ptr<TBaseIOInterface> OwnedIndex_;
  std::unique_ptr<TBaseIOInterface> OwnedBlob_;
  std::unique_ptr<TBaseIOInterface> OwnedRecord_;
  bool BlobOpened_ = false;
};

// Stores one empty leaf page of PageSize bytes in Store for each index
// definition of Def and makes it that index's root, depth 1, in Header.
void CreateEmptyIndexRoots(const TTableDef& Def, TBaseIOInterface& Store, TTableHeader& Header,
                           int32_t PageSize);

}  // namespace zel
