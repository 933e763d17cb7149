#include "engine/storage/zelDataTableDef.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelDataTableDefSupport.h"
#include "engine/storage/zelDataTableHdr.h"
#include "engine/storage/zelDataTestSupport.h"
#include "platform/rtl/ComponentText.h"

namespace zel {
namespace {

using tabledefs::MakeDef;
using testdata::ExpectError;

// A table map and its headers in memory.
struct MemoryHeaders {
  MemoryHeaders() {
    store.SetBlockSize(TableHeaderBlockSize);
    store.SetUsage(iuTableHeaders);
    store.Open();
    const std::vector<uint8_t> zeros(TableMapSize, 0);
    mgr.SetBaseAddress(store.AllocateNewAddress(TableMapSize, zeros.data()));
    mgr.SetBaseTableID(1);
    mgr.Open(&store);
  }
  TMemoryIOInterface store;
  TTableHeaderMgr mgr;
};

// Every byte value, as an encrypted table's scrambled second name holds.
std::string ScrambledName() {
  std::string name;
  for (int i = 0; i < 256; ++i) name += static_cast<char>((i * 37 + 11) & 0xFF);
  return name + '\0' + "'#13";
}

TEST(TableDef, AFreshDefinitionIsEmpty) {
  TTableDef def;
  EXPECT_EQ(def.DefaultBlobSize(), 512);
  EXPECT_EQ(def.KeyFields().Count(), 0);
  EXPECT_EQ(def.InternalFields().Count(), 0);
  EXPECT_EQ(def.InternalIndexDefs().Count(), 0);
  EXPECT_EQ(def.TableID(), 0);
  EXPECT_EQ(def.EncryptionLevel(), encNone);
  EXPECT_EQ(def.SortOrder(), soANSI);
  EXPECT_FALSE(def.MasterDef());
  EXPECT_FALSE(def.Active());
  EXPECT_EQ(def.IndexInterface(), nullptr);
  EXPECT_EQ(def.IndexBlockSize(), 4096);
  // The first index names the index page size; a damaged size is refused.
  def.InternalIndexDefs().Add()->SetIndexPageSize(8192);
  EXPECT_EQ(def.IndexBlockSize(), 8192);
  def.InternalIndexDefs().Items(0)->SetIndexPageSize(1u << 20);
  ExpectError(0x2103, "Index page size", [&] { def.IndexBlockSize(); });
}

TEST(TableDef, EncryptionLevelsGiveAccessFlags) {
  EXPECT_EQ(EncryptionAccessFlags(encNone), 1u);
  EXPECT_EQ(EncryptionAccessFlags(encWeak), 3u);
  EXPECT_EQ(EncryptionAccessFlags(encStrong), 5u);
}

TEST(TableDef, ComponentTextRoundTrip) {
  std::unique_ptr<TTableDef> def = MakeDef("Orders", false, tabledefs::ThreeIndexes(), encStrong);
  def->SetName("TableDef1");
  def->SetTableID(7);
  def->SetOwnerFlag(7 << 4);
  def->SetAltName(ScrambledName());
  def->SetOS("XX:  Linux.6.1.0  ");
  def->SetCreationDate(45123.123456789012);
  def->SetLastModDate(45124.5);
  def->SetCreatedBy("clerk");
  def->SetPassword("pa'ss");
  def->SetSecurityLevel(2);
  def->SetDefaultBlobSize(1024);
  def->SetSortOrder(soASCII);
  def->SetInternalTable(true);
  def->SetBlobCompression(true);
  def->InternalFields().GetIndex(3)->SetRequired(true);

  const std::string text = plat::WriteComponentText(*def);
  // The properties stand in stream order.
  const char* order[] = {"TableID =",         "OwnerFlag =",
                         "TableName =",       "AltName =",
                         "Version =",         "OS =",
                         "CreationDate =",    "LastModDate =",
                         "CreatedBy =",       "Password =",
                         "Encrypted =",       "SecurityLevel =",
                         "Memory =",          "RecordSize =",
                         "DefaultBlobSize =", "UsesBlobs =",
                         "SortOrder =",       "InternalTable =",
                         "EncryptionLevel =", "KeyFields =",
                         "InternalFields =",  "InternalIndexDefs =",
                         "BlobCompression ="};
  size_t last = 0;
  for (const char* name : order) {
    const size_t at = text.find(std::string("\n  ") + name);
    ASSERT_NE(at, std::string::npos) << name << "\n" << text;
    EXPECT_GT(at, last) << name;
    last = at;
  }

  TTableDef back;
  back.SetName("TableDef1");
  plat::ReadComponentText(text, back);
  EXPECT_EQ(plat::WriteComponentText(back), text);
  EXPECT_EQ(back.AltName(), def->AltName());
  EXPECT_EQ(back.CreationDate(), def->CreationDate());
  EXPECT_EQ(back.EncryptionLevel(), encStrong);
  EXPECT_EQ(back.SortOrder(), soASCII);
  EXPECT_EQ(back.RecordSize(), def->RecordSize());
  ASSERT_EQ(back.InternalFields().Count(), def->InternalFields().Count());
  for (int32_t i = 0; i < back.InternalFields().Count(); ++i) {
    const TInternalFieldItem* a = def->InternalFields().GetIndex(i);
    const TInternalFieldItem* b = back.InternalFields().GetIndex(i);
    EXPECT_EQ(b->DataType(), a->DataType()) << a->FieldName();
    EXPECT_EQ(b->FieldSize(), a->FieldSize()) << a->FieldName();
    EXPECT_EQ(b->DataOffset(), a->DataOffset()) << a->FieldName();
  }
  ASSERT_EQ(back.KeyFields().Count(), 4);
  EXPECT_EQ(back.KeyFields().Items(2)->IndexName(), "ixName");
  EXPECT_TRUE(back.KeyFields().Items(2)->Descending());
  EXPECT_TRUE(back.KeyFields().Items(1)->CaseInsensitive());
  ASSERT_EQ(back.InternalIndexDefs().Count(), 3);
  EXPECT_EQ(back.InternalIndexDefs().Items(2)->IndexSequence(), 2);
  EXPECT_TRUE(back.InternalIndexDefs().Items(0)->Primary());
  // The laid-out copy agrees with the stored sizes.
  back.UpdateVersion();
  EXPECT_EQ(back.RecordSize(), def->RecordSize());
}

TEST(TableDef, UpdateVersionFollowsTheDataVersion) {
  struct Case {
    std::string version;
    int32_t dataVersion;
    int32_t blobSize;
  };
  const Case cases[] = {{"1.50.03", 3, 16}, {"1.50.02", 2, 8}, {"1.50.x1", 0, 8}};
  const int32_t blobFields = 4;
  int32_t size3 = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    std::unique_ptr<TTableDef> def = MakeDef("T", false, {{"ixWide", "WS"}});
    def->SetVersion(c.version);
    def->UpdateVersion();
    const TInternalFields& fields = def->InternalFields();
    EXPECT_EQ(fields.DataVersion(), c.dataVersion);
    EXPECT_EQ(fields.FindField("BL")->FieldSize(), c.blobSize);
    EXPECT_EQ(def->RecordSize(), fields.RecordSize());
    EXPECT_TRUE(def->UsesBlobs());
    if (c.dataVersion == 3) {
      size3 = def->RecordSize();
    } else {
      EXPECT_EQ(def->RecordSize(), size3 - blobFields * 8);
    }
    // The wide string lies behind the blobs: its key part moves with it.
    const TInternalFieldItem* ws = fields.FindField("WS");
    const TKeyFieldItem* key = def->KeyFields().Items(0);
    EXPECT_EQ(key->RecBufOffset(), ws->DataOffset());
    EXPECT_EQ(key->NullFlagOffset(), ws->NullFlagOffset());
    EXPECT_EQ(key->SizeMarkerOffset(), ws->SizeMarkerOffset());
    EXPECT_EQ(key->PhysicalFieldNo(), ws->FieldNo());
    EXPECT_EQ(key->FieldSize(), ws->FieldSize());
  }
}

TEST(TableDef, ValidateGivesLostKeyFieldsToIndexesWithoutAny) {
  std::unique_ptr<TTableDef> def = MakeDef("T", false, tabledefs::ThreeIndexes());
  // Two indexes renamed in the definition; their key fields keep the old
  // names.
  def->InternalIndexDefs().Items(1)->SetIndexName("byName");
  def->InternalIndexDefs().Items(2)->SetIndexName("byWide");
  def->Validate();
  std::vector<std::string> names;
  for (int32_t i = 0; i < def->KeyFields().Count(); ++i)
    names.push_back(def->KeyFields().Items(i)->IndexName());
  EXPECT_EQ(names, (std::vector<std::string>{"pkI", "byName", "byName", "byWide"}));

  // Without an index to take them, lost key fields stay as they are.
  std::unique_ptr<TTableDef> full = MakeDef("T", false, {{"pkI", "I", true}});
  full->KeyFields().Items(0)->SetIndexName("gone");
  full->InternalIndexDefs().Items(0)->SetIndexName("pkI");
  full->Validate();
  EXPECT_EQ(full->KeyFields().Items(0)->IndexName(), "pkI");
  full->KeyFields().Items(0)->SetIndexName("gone");
  full->KeyFields().Add()->SetIndexName("pkI");
  full->Validate();
  EXPECT_EQ(full->KeyFields().Items(0)->IndexName(), "gone");
}

TEST(TableDef, AssignCopiesTheTableButNotItsPlace) {
  std::unique_ptr<TTableDef> source = MakeDef("Orders", true, tabledefs::ThreeIndexes(), encWeak);
  source->SetTableID(12);
  source->SetOwnerFlag(12 << 4);
  source->SetLastModDate(3.5);
  source->SetSecurityLevel(4);
  source->SetInternalTable(true);
  source->SetPrivilegeFlags(0x900);
  source->SetBlobCompression(true);
  source->SetDefaultBlobSize(2048);
  source->SetSortOrder(soASCII);
  source->SetCreatedBy("me");
  source->SetPassword("pw");
  source->SetOS("os");
  source->SetCreationDate(2.25);

  TTableDef copy;
  copy.SetOwnerFlag(99);
  copy.SetLastModDate(1.0);
  copy.Assign(source.get());
  EXPECT_EQ(copy.TableID(), 12);
  EXPECT_EQ(copy.TableName(), "Orders");
  EXPECT_EQ(copy.AltName(), "Orders");
  EXPECT_EQ(copy.Version(), "1.50.03");
  EXPECT_EQ(copy.OS(), "os");
  EXPECT_EQ(copy.CreationDate(), 2.25);
  EXPECT_EQ(copy.CreatedBy(), "me");
  EXPECT_EQ(copy.Password(), "pw");
  EXPECT_TRUE(copy.Encrypted());
  EXPECT_EQ(copy.EncryptionLevel(), encWeak);
  EXPECT_TRUE(copy.Memory());
  EXPECT_EQ(copy.RecordSize(), source->RecordSize());
  EXPECT_TRUE(copy.UsesBlobs());
  EXPECT_EQ(copy.DefaultBlobSize(), 2048);
  EXPECT_EQ(copy.SortOrder(), soASCII);
  EXPECT_EQ(copy.PrivilegeFlags(), 0x900);
  EXPECT_TRUE(copy.BlobCompression());
  EXPECT_EQ(copy.KeyFields().Count(), 4);
  EXPECT_EQ(copy.InternalFields().Count(), source->InternalFields().Count());
  EXPECT_EQ(copy.InternalIndexDefs().Count(), 3);
  // Not copied.
  EXPECT_EQ(copy.OwnerFlag(), 99u);
  EXPECT_EQ(copy.LastModDate(), 1.0);
  EXPECT_EQ(copy.SecurityLevel(), 0);
  EXPECT_FALSE(copy.InternalTable());
  EXPECT_FALSE(copy.MasterDef());
}

TEST(TableDef, ClearIsRefusedOnAMaster) {
  std::unique_ptr<TTableDef> def = MakeDef("T", true, tabledefs::ThreeIndexes());
  def->SetTableID(3);
  def->SetMasterDef(true);
  ExpectError(0x2181, "", [&] { def->Clear(); });
  EXPECT_EQ(def->TableID(), 3);
  EXPECT_EQ(def->InternalFields().Count(), 17);

  def->SetMasterDef(false);
  def->SetDefaultBlobSize(4096);
  def->SetEncryptionLevel(encStrong);
  def->SetUserCount(2);
  def->Clear();
  EXPECT_EQ(def->TableID(), 0);
  EXPECT_EQ(def->InternalFields().Count(), 0);
  EXPECT_EQ(def->KeyFields().Count(), 0);
  EXPECT_EQ(def->InternalIndexDefs().Count(), 0);
  EXPECT_EQ(def->RecordSize(), 0);
  EXPECT_EQ(def->DefaultBlobSize(), 512);
  EXPECT_EQ(def->EncryptionLevel(), encNone);
  EXPECT_FALSE(def->Memory());
  EXPECT_FALSE(def->UsesBlobs());
  EXPECT_EQ(def->UserCount(), 0);
}

TEST(TableDef, AMemoryMasterOpensWithAnEmptyRootPerIndex) {
  MemoryHeaders headers;
  std::unique_ptr<TTableDef> def = MakeDef("T", true, {{"pkI", "I", true}, {"ixWide", "WS"}});
  const uint32_t id = headers.mgr.AddTable(2);
  def->SetTableID(static_cast<int32_t>(id));

  // Only a master with a header opens stores.
  def->InternalOpen(nullptr);
  EXPECT_FALSE(def->Active());
  EXPECT_EQ(def->IndexInterface(), nullptr);
  def->SetMasterDef(true);
  ExpectError(0x2180, "", [&] { def->InternalOpen(nullptr); });

  TTableHeader* header = headers.mgr.OpenTable(id);
  def->SetTableHeader(header);
  def->InternalOpen(nullptr);
  ASSERT_TRUE(def->Active());
  ASSERT_NE(def->IndexInterface(), nullptr);
  ASSERT_NE(def->RecordInterface(), nullptr);
  ASSERT_NE(def->BlobInterface(), nullptr);
  EXPECT_EQ(def->RecordInterface()->BlockSize(),
            static_cast<uint32_t>(def->InternalFields().RecordSize()));
  EXPECT_EQ(def->BlobInterface()->BlockSize(), 512u);
  EXPECT_EQ(def->IndexInterface()->Usage(), iuIndexPages);
  EXPECT_EQ(def->RecordInterface()->Usage(), iuRecords);
  EXPECT_EQ(def->BlobInterface()->Usage(), iuBlobBlocks);
  EXPECT_EQ(def->RecordInterface()->TableID(), id);

  ASSERT_EQ(header->GetIndexCount(), 2);
  EXPECT_NE(header->GetIndexRoot(0), header->GetIndexRoot(1));
  for (int32_t slot = 0; slot < 2; ++slot) {
    EXPECT_EQ(header->GetIndexDepth(slot), 1) << slot;
    std::vector<uint8_t> page(4096);
    def->IndexInterface()->ReadBlock(header->GetIndexRoot(slot), 4096, page.data());
    EXPECT_EQ(page[0], 1) << "leaf flag";
    EXPECT_EQ(page[4], 0) << "no entries";
  }
  EXPECT_FALSE(header->Dirty()) << "the roots are written";
  ExpectError(0x2181, "", [&] { def->Clear(); });

  // A copy refers to the master's stores; closing it only forgets them.
  TTableDef copy;
  copy.Assign(def.get());
  copy.SetIndexInterface(def->IndexInterface());
  copy.SetRecordInterface(def->RecordInterface());
  copy.InternalClose();
  EXPECT_EQ(copy.IndexInterface(), nullptr);
  EXPECT_TRUE(def->Active());

  def->InternalClose();
  EXPECT_FALSE(def->Active());
  EXPECT_EQ(def->IndexInterface(), nullptr);
  headers.mgr.CloseTable(header);
}

}  // namespace
}  // namespace zel
