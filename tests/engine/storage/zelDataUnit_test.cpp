#include "engine/storage/zelDataUnit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/zelDataTestSupport.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Components.h"

namespace zel {
namespace {

using testdata::BuildLayout;
using testdata::ExpectAssertion;
using testdata::ExpectError;
using testdata::FieldSpec;
using testdata::MakeRecord;
using testdata::StorableTypes;

// ---------------------------------------------------------------- field layout

TEST(InternalFields, RecordSizesOfSimpleLayouts) {
  struct Case {
    const char* Name;
    std::vector<FieldSpec> Fields;
    int32_t DataVersion;
    int32_t RecordSize;
  };
  const std::vector<Case> cases = {
      {"no fields", {}, 3, 14},
      {"one integer", {{"I", plat::ftInteger, 0}}, 3, 19},
      {"one 21-byte string", {{"S", plat::ftString, 21}}, 3, 38},
      {"blob in version 3", {{"B", plat::ftBlob, 0}}, 3, 14 + 1 + 16},
      {"blob in version 2", {{"B", plat::ftMemo, 0}}, 2, 14 + 1 + 8},
      {"blob in version 1", {{"B", plat::ftGraphic, 0}}, 1, 14 + 1 + 8},
      {"bytes keep their size", {{"X", plat::ftBytes, 5}}, 3, 14 + 1 + 5},
      {"wide string", {{"W", plat::ftWideString, 42}}, 3, 14 + 1 + 2 + 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TInternalFields fields;
    fields.SetDataVersion(c.DataVersion);
    BuildLayout(fields, c.Fields);
    EXPECT_EQ(fields.RecordSize(), c.RecordSize);
  }
}

TEST(InternalFields, EveryTypeIsLaidOutInOrder) {
  TInternalFields fields;
  BuildLayout(fields, StorableTypes());
  const int32_t n = fields.Count();
  // Expected: null flags after the prefix, then each field after the last,
  // strings with a size marker in front.
  int32_t offset = 14 + n;
  for (int32_t i = 0; i < n; ++i) {
    const TInternalFieldItem* f = fields.GetIndex(i);
    SCOPED_TRACE(f->FieldName());
    EXPECT_EQ(f->NullFlagOffset(), 14 + i);
    const bool sized = f->DataType() == plat::ftString || f->DataType() == plat::ftWideString;
    if (sized) {
      EXPECT_EQ(f->SizeMarkerOffset(), offset);
      offset += 2;
    } else {
      EXPECT_EQ(f->SizeMarkerOffset(), 0);
    }
    EXPECT_EQ(f->DataOffset(), offset);
    const int32_t expected = sized || f->DataType() == plat::ftBytes
                                 ? StorableTypes()[static_cast<size_t>(i)].Size
                                 : GetFieldCoreSize(f->DataType(), 3);
    EXPECT_EQ(f->FieldSize(), expected);
    EXPECT_GT(f->FieldSize(), 0);
    offset += f->FieldSize();
  }
  EXPECT_EQ(fields.RecordSize(), offset);
}

TEST(InternalFields, WriteableSizes) {
  struct Case {
    plat::TFieldType Type;
    int32_t Size;
    int32_t Writeable;
  };
  const std::vector<Case> cases = {{plat::ftString, 21, 20},
                                   {plat::ftWideString, 42, 20},
                                   {plat::ftBytes, 9, 9},
                                   {plat::ftInteger, 0, 4}};
  TInternalFields fields;
  for (const Case& c : cases) {
    TInternalFieldItem* f = fields.Add();
    f->SetDataType(c.Type);
    if (c.Size > 0) f->SetFieldSize(c.Size);
    EXPECT_EQ(f->GetWriteableFieldSize(), c.Writeable) << plat::FieldTypeIdents[c.Type];
  }
}

TEST(InternalFields, SizeMarkersAreReadWithinTheField) {
  TInternalFields fields;
  BuildLayout(
      fields,
      {{"I", plat::ftInteger, 0}, {"S", plat::ftString, 21}, {"W", plat::ftWideString, 42}});
  const TInternalFieldItem* s = fields.GetIndex(1);
  const TInternalFieldItem* w = fields.GetIndex(2);
  std::vector<uint8_t> rec(static_cast<size_t>(fields.RecordSize()), 0);
  struct Case {
    const TInternalFieldItem* Field;
    uint16_t Marker;
    bool Damaged;
  };
  const std::vector<Case> cases = {{s, 0, false},     {s, 21, false}, {s, 22, true},
                                   {s, 0xFFFF, true}, {w, 42, false}, {w, 43, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Marker);
    std::memcpy(rec.data() + c.Field->SizeMarkerOffset(), &c.Marker, 2);
    if (c.Damaged) {
      ExpectError(0x2103, "Size marker", [&] { c.Field->ReadSizeMarker(rec.data()); });
    } else {
      EXPECT_EQ(c.Field->ReadSizeMarker(rec.data()), c.Marker);
    }
  }
  ExpectAssertion("no size marker", [&] { fields.GetIndex(0)->ReadSizeMarker(rec.data()); });
}

TEST(InternalFields, UnsupportedTypesAreRefused) {
  TInternalFields fields;
  TInternalFieldItem* f = fields.Add();
  f->SetDataType(plat::ftInteger);
  for (plat::TFieldType type :
       {plat::ftUnknown, plat::ftLargeint, plat::ftVarBytes, plat::ftTypedBinary, plat::ftGuid}) {
    ExpectError(0x2710, std::string(plat::FieldTypeNames[type]), [&] { f->SetDataType(type); });
    EXPECT_EQ(f->DataType(), plat::ftInteger);
    EXPECT_EQ(f->FieldSize(), 4);
  }
}

TEST(InternalFields, OpenFindsAutoIncBlobsAndMapsFieldIndexes) {
  TInternalFields fields;
  BuildLayout(fields,
              {{"A", plat::ftInteger, 0}, {"N", plat::ftAutoInc, 0}, {"M", plat::ftMemo, 0}});
  // Field indexes need not follow the collection order.
  fields.GetIndex(0)->SetFieldIndex(2);
  fields.GetIndex(2)->SetFieldIndex(0);
  fields.Open();
  EXPECT_TRUE(fields.UsesBlobs());
  EXPECT_EQ(fields.AutoIncFieldNo(), 1);
  EXPECT_EQ(fields.GetField(0)->FieldName(), "M");
  EXPECT_EQ(fields.GetField(2)->FieldName(), "A");
  EXPECT_EQ(fields.GetFieldIndexValue(2), 0);
  ExpectAssertion("Invalid field index in GetField", [&] { fields.GetField(3); });

  EXPECT_EQ(fields.FindField("m"), fields.GetIndex(2));
  EXPECT_EQ(fields.FindField("missing"), nullptr);
  fields.GetIndex(1)->SetSourceField("Orders.Number");
  EXPECT_EQ(fields.FindSourceField("ORDERS.NUMBER"), fields.GetIndex(1));

  fields.GetIndex(1)->SetFieldIndex(2);
  ExpectAssertion("Field indexes degenerate", [&] { fields.Open(); });
  fields.GetIndex(1)->SetFieldIndex(3);
  ExpectAssertion("Invalid field index", [&] { fields.Open(); });
}

TEST(InternalFields, MoreFieldsThanTheMapHoldsAreRefused) {
  TInternalFields fields;
  std::vector<FieldSpec> specs(256, FieldSpec{"F", plat::ftBoolean, 0});
  BuildLayout(fields, specs);
  ExpectError(0x2514, "255", [&] { fields.Open(); });
  fields.Delete(255);
  fields.Open();
  EXPECT_EQ(fields.GetField(254), fields.GetIndex(254));
}

TEST(InternalFields, NegativeSizeIsRefused) {
  TInternalFields fields;
  BuildLayout(fields, {{"S", plat::ftString, 5}});
  fields.GetIndex(0)->SetFieldSize(-3);
  ExpectError(0x2185, "Invalid field size", [&] { fields.SetDefaultOffsets(); });
}

TEST(InternalFields, AssignCopiesItemsAndAsksForANewLayout) {
  TInternalFields source;
  source.SetDataVersion(2);
  BuildLayout(source,
              {{"S", plat::ftString, 30}, {"N", plat::ftAutoInc, 0}, {"M", plat::ftBlob, 0}});
  source.Open();
  TInternalFieldItem* s = source.GetIndex(0);
  s->SetNumDecimalPlaces(2);
  s->SetRequired(true);
  s->SetHidden(true);
  s->SetSourceField("T.S");
  s->SetPrivilegeFlags(0x30);
  s->SetIsVariable(true);
  s->SetCompressionMode(dcZelZLib);

  TInternalFields copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.RecordSize(), 0);
  EXPECT_FALSE(copy.UsesBlobs());
  EXPECT_EQ(copy.AutoIncFieldNo(), -1);
  EXPECT_EQ(copy.DataVersion(), 2);
  ASSERT_EQ(copy.Count(), 3);
  const TInternalFieldItem* c = copy.GetIndex(0);
  EXPECT_EQ(c->FieldName(), "S");
  EXPECT_EQ(c->FieldSize(), 30);
  EXPECT_EQ(c->DataOffset(), s->DataOffset());
  EXPECT_EQ(c->SizeMarkerOffset(), s->SizeMarkerOffset());
  EXPECT_EQ(c->NullFlagOffset(), s->NullFlagOffset());
  EXPECT_EQ(c->NumDecimalPlaces(), 2);
  EXPECT_TRUE(c->Required());
  EXPECT_TRUE(c->Hidden());
  EXPECT_TRUE(c->IsVariable());
  EXPECT_EQ(c->SourceField(), "T.S");
  EXPECT_EQ(c->PrivilegeFlags(), 0x30);
  EXPECT_EQ(c->FieldGeneratorID(), s->FieldGeneratorID());
  EXPECT_EQ(c->CompressionMode(), dcNone) << "the compression mode is not copied";
  EXPECT_EQ(copy.GetIndex(2)->FieldSize(), 8) << "blob size of data version 2";
  EXPECT_EQ(copy.GetFieldIndexValue(1), 1);

  copy.SetDefaultOffsets();
  copy.Open();
  EXPECT_EQ(copy.RecordSize(), source.RecordSize());
  EXPECT_EQ(copy.AutoIncFieldNo(), 1);

  TSearchFields search;
  search.Assign(&source);
  ASSERT_EQ(search.Count(), 3);
  search.GetIndex(0)->SetFieldName("X");
  auto* item = static_cast<TSearchFieldItem*>(search.GetIndex(1));
  item->SetInIndex(true);
  item->SetDescending(true);
  TSearchFields search2;
  search2.Assign(&search);
  auto* item2 = static_cast<TSearchFieldItem*>(search2.GetIndex(1));
  EXPECT_TRUE(item2->InIndex());
  EXPECT_FALSE(item2->Descending());
  EXPECT_EQ(search2.FindField("x"), search2.GetIndex(0));
}

TEST(InternalFields, GeneratorIdsAreRandomInRange) {
  TInternalFields fields;
  std::set<int32_t> ids;
  for (int i = 0; i < 50; ++i) {
    const int32_t id = fields.Add()->FieldGeneratorID();
    EXPECT_GE(id, 0);
    EXPECT_LE(id, 2147483646);
    ids.insert(id);
  }
  EXPECT_GT(ids.size(), 40u);
}

// A component holding a field list, to check the list's component text.
class TLayoutHolder : public plat::TComponent {
 public:
  explicit TLayoutHolder(plat::TComponent* Owner) : plat::TComponent(Owner) {}
  std::string ClassName() const override { return "TLayoutHolder"; }
  TInternalFields& Fields() { return fields_; }
  const plat::TPropList& PublishedProperties() const override {
    static const plat::TPropList list =
        plat::TPublished<TLayoutHolder>(plat::TComponent::PublishedProperties())
            .Collection("InternalFields",
                        [](TLayoutHolder& h) -> plat::TCollection& { return h.fields_; });
    return list;
  }

 private:
  TInternalFields fields_;
};

TEST(InternalFields, ComponentTextKeepsDeclaredSizes) {
  TLayoutHolder holder(nullptr);
  holder.SetName("Holder");
  BuildLayout(holder.Fields(), StorableTypes());
  holder.Fields().GetIndex(0)->SetCompressionMode(dcUsrCustom);
  holder.Fields().GetIndex(1)->SetRequired(true);
  const std::string text = plat::WriteComponentText(holder);
  EXPECT_EQ(text.find("SourceField"), std::string::npos);
  EXPECT_EQ(text.find("PrivilegeFlags"), std::string::npos);

  TLayoutHolder back(nullptr);
  back.SetName("Holder");
  plat::ReadComponentText(text, back);
  ASSERT_EQ(back.Fields().Count(), holder.Fields().Count());
  for (int32_t i = 0; i < back.Fields().Count(); ++i) {
    const TInternalFieldItem* a = holder.Fields().GetIndex(i);
    const TInternalFieldItem* b = back.Fields().GetIndex(i);
    SCOPED_TRACE(a->FieldName());
    EXPECT_EQ(b->FieldName(), a->FieldName());
    EXPECT_EQ(b->DataType(), a->DataType());
    EXPECT_EQ(b->FieldSize(), a->FieldSize());
    EXPECT_EQ(b->DataOffset(), a->DataOffset());
    EXPECT_EQ(b->SizeMarkerOffset(), a->SizeMarkerOffset());
    EXPECT_EQ(b->NullFlagOffset(), a->NullFlagOffset());
    EXPECT_EQ(b->FieldIndex(), a->FieldIndex());
    EXPECT_EQ(b->FieldNo(), a->FieldNo());
    EXPECT_EQ(b->FieldGeneratorID(), a->FieldGeneratorID());
    EXPECT_EQ(b->Required(), a->Required());
    EXPECT_EQ(b->CompressionMode(), a->CompressionMode());
  }
}

// ---------------------------------------------------------------- record manager

TEST(RecordMgr, RecordsRoundTripInMemory) {
  TMemoryIOInterface store;
  TRecordMgr mgr;
  BuildLayout(mgr.InternalFields(), StorableTypes());
  const int32_t size = mgr.InternalFields().RecordSize();
  store.SetBlockSize(static_cast<uint32_t>(size));
  store.Open();
  mgr.SetRecordSize(size);
  mgr.Open(&store);
  EXPECT_EQ(mgr.InternalFields().RecordSize(), size);
  EXPECT_EQ(mgr.BlobMgr().Count(), 4);

  std::vector<uint32_t> addrs;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const std::vector<uint8_t> rec = MakeRecord(mgr.InternalFields(), seed);
    const uint32_t addr = mgr.AddRecord(rec.data());
    EXPECT_NE(addr, 0u);
    EXPECT_EQ(std::memcmp(mgr.InternalBuffer(), rec.data(), rec.size()), 0);
    addrs.push_back(addr);
  }
  std::vector<uint8_t> buf(static_cast<size_t>(size));
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    mgr.ReadRecord(addrs[seed - 1], buf.data(), false);
    EXPECT_EQ(buf, MakeRecord(mgr.InternalFields(), seed));
  }
  const std::vector<uint8_t> changed = MakeRecord(mgr.InternalFields(), 99);
  mgr.UpdateRecord(addrs[4], changed.data());
  uint8_t* p = nullptr;
  mgr.ReadRecordByRef(addrs[4], p);
  EXPECT_EQ(std::vector<uint8_t>(p, p + size), changed);
  mgr.DeleteRecord(addrs[5]);
  ExpectError(0x2185, "", [&] { mgr.ReadRecord(addrs[5], buf.data(), false); });
  std::vector<uint8_t> restored(static_cast<size_t>(size));
  mgr.RestoreBufferFromInternalBuffer(restored.data());
  EXPECT_EQ(restored, changed);
}

TEST(RecordMgr, OpenNeedsARecordSizeAndKeepsIt) {
  TMemoryIOInterface store;
  TRecordMgr mgr;
  ExpectError(0x2180, "", [&] { mgr.Open(&store); });
  BuildLayout(mgr.InternalFields(), {{"I", plat::ftInteger, 0}});
  mgr.SetRecordSize(19);
  mgr.Open(&store);
  ExpectAssertion("Setting record size when buffers set", [&] { mgr.SetRecordSize(20); });
  mgr.Close();
  EXPECT_EQ(mgr.InternalFields().Count(), 0);
  mgr.SetRecordSize(20);
  EXPECT_EQ(mgr.RecordSize(), 20);
}

TEST(RecordMgr, BlobSlotsFollowTheRecord) {
  TMemoryIOInterface store;
  TRecordMgr mgr;
  BuildLayout(mgr.InternalFields(),
              {{"A", plat::ftInteger, 0}, {"M", plat::ftMemo, 0}, {"G", plat::ftGraphic, 0}});
  mgr.InternalFields().GetIndex(1)->SetFieldIndex(2);
  mgr.InternalFields().GetIndex(2)->SetFieldIndex(1);
  mgr.SetRecordSize(mgr.InternalFields().RecordSize());
  mgr.Open(&store);
  TBlobMgr& blobs = mgr.BlobMgr();
  ASSERT_EQ(blobs.Count(), 2);
  EXPECT_EQ(blobs.Items(0)->FieldNo(), 2);
  EXPECT_EQ(blobs.Items(1)->FieldNo(), 1);
  EXPECT_EQ(blobs.CheckBlobStates(), bsInvalid);

  blobs.Items(0)->SetState(bsValid);
  blobs.Items(1)->SetState(bsValid);
  EXPECT_EQ(blobs.CheckBlobStates(), bsValid);
  blobs.Items(1)->SetState(bsModified);
  EXPECT_EQ(blobs.CheckBlobStates(), bsModified);

  blobs.Items(0)->SetRecID(77);
  EXPECT_EQ(blobs.FindBlob(0, 2), blobs.Items(0));
  EXPECT_EQ(blobs.FindBlob(77, 2), blobs.Items(0));
  EXPECT_EQ(blobs.FindBlob(78, 2), nullptr);
  EXPECT_EQ(blobs.FindBlob(0, 5), nullptr);

  const std::vector<uint8_t> rec = MakeRecord(mgr.InternalFields(), 3);
  const uint32_t addr = mgr.AddRecord(rec.data());
  std::vector<uint8_t> buf(rec.size());
  mgr.ReadRecord(addr, buf.data(), false);
  EXPECT_EQ(blobs.CheckBlobStates(), bsModified) << "a read without copying leaves the slots";
  mgr.ReadRecord(addr, buf.data(), true);
  EXPECT_EQ(blobs.CheckBlobStates(), bsInvalid);
  blobs.Items(0)->SetState(bsValid);
  blobs.Items(1)->SetState(bsValid);
  mgr.DeleteRecord(addr);
  EXPECT_EQ(blobs.CheckBlobStates(), bsInvalid);

  TBlobMgr empty;
  EXPECT_EQ(empty.CheckBlobStates(), bsNone);
}

// ---------------------------------------------------------------- table headers in memory

// A memory store that records the page-change notices it gets.
class TNotingStore : public TMemoryIOInterface {
 public:
  void NotifyPageChange(uint32_t TableID) override { Notices.push_back(TableID); }
  std::vector<uint32_t> Notices;
};

struct MemoryHeaders {
  explicit MemoryHeaders(uint32_t BaseID) {
    store.SetBlockSize(TableHeaderBlockSize);
    store.SetUsage(iuTableHeaders);
    store.Open();
    const std::vector<uint8_t> zeros(TableMapSize, 0);
    mgr.SetBaseAddress(store.AllocateNewAddress(TableMapSize, zeros.data()));
    mgr.SetBaseTableID(BaseID);
    mgr.Open(&store);
  }
  std::vector<uint32_t> MapIDs() {
    mgr.InternalReadMap();
    std::vector<uint32_t> ids;
    for (int32_t i = 0; i < TableMapEntries && mgr.MapTableID(i) != 0; ++i)
      ids.push_back(mgr.MapTableID(i));
    return ids;
  }

  TNotingStore store;
  TTableHeaderMgr mgr;
};

TEST(TableHeaderMgr, IdsAreHandedOutLowestFirstAndReused) {
  for (uint32_t base : {1u, 1024u}) {
    SCOPED_TRACE(base);
    MemoryHeaders h(base);
    EXPECT_EQ(h.mgr.AddTable(0), base);
    EXPECT_EQ(h.mgr.AddTable(2), base + 1);
    EXPECT_EQ(h.mgr.AddTable(34), base + 2);
    EXPECT_EQ(h.mgr.AddTable(1), base + 3);
    h.mgr.DeleteTable(base + 1);
    EXPECT_EQ(h.MapIDs(), (std::vector<uint32_t>{base, base + 2, base + 3})) << "packed";
    EXPECT_EQ(h.mgr.AddTable(0), base + 1) << "the lowest free id again";
    EXPECT_EQ(h.MapIDs(), (std::vector<uint32_t>{base, base + 2, base + 3, base + 1}));
    h.mgr.DeleteTable(base);
    EXPECT_EQ(h.mgr.AddTable(0), base);
    ExpectError(0x2183, "Delete table", [&] { h.mgr.DeleteTable(base + 50); });
    ExpectError(0x250F, "", [&] { h.mgr.AddTable(35); });
    EXPECT_EQ(h.MapIDs().size(), 4u) << "a refused table leaves nothing behind";
  }
}

TEST(TableHeaderMgr, TheMapHoldsAThousandTables) {
  MemoryHeaders h(1);
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(h.mgr.AddTable(0), 1 + i);
  ExpectError(0x2581, "", [&] { h.mgr.AddTable(0); });
  h.mgr.DeleteTable(500);
  EXPECT_EQ(h.mgr.AddTable(0), 500u);
}

TEST(TableHeaderMgr, NewHeaderLayout) {
  MemoryHeaders h(1);
  const uint32_t id = h.mgr.AddTable(3);
  int32_t index = -1;
  ASSERT_TRUE(h.mgr.FindTableHeaderInMap(id, index));
  std::vector<uint8_t> block(TableHeaderBlockSize);
  h.store.ReadBlock(h.mgr.MapAddress(index), TableHeaderBlockSize, block.data());
  std::vector<uint8_t> expected(TableHeaderBlockSize, 0);
  expected[thTableID] = static_cast<uint8_t>(id);
  expected[thModifiedFlag] = 1;
  expected[thHeaderSize] = 0x00;
  expected[thHeaderSize + 1] = 0x01;  // 256
  expected[thIndexCount] = 3;
  EXPECT_EQ(block, expected);
}

TEST(TableHeaderMgr, OpenSharesOneHeaderAndCloseWritesIt) {
  MemoryHeaders h(1);
  const uint32_t id = h.mgr.AddTable(2);
  TTableHeader* a = h.mgr.OpenTable(id);
  TTableHeader* b = h.mgr.OpenTable(id);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->UserCount(), 2);
  EXPECT_EQ(h.mgr.FindHdrItemByID(id), a);
  EXPECT_FALSE(a->Dirty());
  EXPECT_EQ(a->GetModifiedFlag(), 1u);
  EXPECT_EQ(h.store.Notices, std::vector<uint32_t>{id}) << "the first read drops cached pages";

  // Setting a stored value changes nothing.
  a->SetIndexCount(2);
  a->SetRecordFirstEmpty(0);
  EXPECT_FALSE(a->Dirty());
  a->SetIndexRoot(1, 0x5000);
  a->SetIndexDepth(1, 3);
  a->SetGenerator2(-5);
  a->SetLogicalRecordNo(12);
  EXPECT_TRUE(a->Dirty());
  ExpectError(0x2185, "Table header: ", [&] { a->SetIndexRoot(2, 1); });
  ExpectError(0x2185, "Table header: ", [&] { a->GetIndexDepth(-1); });

  h.mgr.CloseTable(a);
  EXPECT_EQ(h.mgr.Count(), 1) << "still open once";
  h.mgr.CloseTable(b);
  EXPECT_EQ(h.mgr.Count(), 0);

  TTableHeader* c = h.mgr.OpenTable(id);
  EXPECT_EQ(c->GetModifiedFlag(), 2u);
  EXPECT_EQ(c->GetIndexRoot(1), 0x5000u);
  EXPECT_EQ(c->GetIndexDepth(1), 3);
  EXPECT_EQ(c->GetGenerator2(), -5);
  EXPECT_EQ(c->GetLogicalRecordNo(), 12);

  // Re-reading an unchanged header keeps the cache; a write by "another
  // process" (a second header object) makes the next read drop it.
  h.store.Notices.clear();
  c->ReadHeader();
  EXPECT_TRUE(h.store.Notices.empty());
  TTableHeaderMgr other;
  other.SetBaseAddress(h.mgr.BaseAddress());
  other.SetBaseTableID(1);
  other.Open(&h.store);
  TTableHeader* d = other.OpenTable(id);
  d->SetGenerator1(9);
  other.CloseTable(d);
  h.store.Notices.clear();
  c->ReadHeader();
  EXPECT_EQ(h.store.Notices, std::vector<uint32_t>{id});
  EXPECT_EQ(c->GetGenerator1(), 9);
  h.mgr.Close();
  EXPECT_EQ(h.mgr.Count(), 0);

  ExpectError(0x2185, "The TableID could not be found: 77", [&] { h.mgr.OpenTable(77); });
  ExpectError(0x2185, "", [&] { h.mgr.CloseTable(nullptr); });
}

TEST(TableHeaderMgr, HeaderBufferSizes) {
  MemoryHeaders h(1);
  TTableHeader* header = static_cast<TTableHeader*>(h.mgr.Add());
  ExpectError(0x2180, "", [&] { header->ReadHeader(); });
  header->SetHeaderSize(256);
  header->SetIndexCount(3);
  header->SetIndexRoot(2, 0xABCD);
  header->SetIndexRoot(1, 0x1234);
  // Cut so that slot 2 no longer fits.
  header->ResetHeaderSize(60, false);
  EXPECT_EQ(header->GetHeaderSize(), 60);
  EXPECT_EQ(header->GetIndexCount(), 3);
  EXPECT_EQ(header->GetIndexRoot(1), 0x1234u);
  ExpectError(0x2185, "Table header: ", [&] { header->GetIndexRoot(2); });
  header->ResetHeaderSize(256, false);
  EXPECT_EQ(header->GetIndexRoot(2), 0u);
  header->ClearHeader();
  EXPECT_EQ(header->GetIndexCount(), 0);
  ExpectError(0x2185, "", [&] { header->SetHeaderSize(300); });
  delete header;
}

TEST(TableHeaderMgr, DamagedMapsAreRefused) {
  MemoryHeaders h(1);
  h.mgr.AddTable(0);
  h.mgr.AddTable(0);
  std::vector<uint8_t> map(TableMapSize);
  h.store.ReadBlock(h.mgr.BaseAddress(), TableMapSize, map.data());
  struct Case {
    const char* Name;
    int32_t Offset;
    uint32_t Value;
  };
  const std::vector<Case> cases = {
      {"id out of range", 8, 1001}, {"id below the base", 8, 0xFFFFFFFF}, {"same id twice", 8, 1},
      {"no header address", 12, 0}, {"entry after the end", 24, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bad = map;
    std::memcpy(bad.data() + c.Offset, &c.Value, 4);
    if (c.Offset == 24) std::memcpy(bad.data() + 28, &c.Value, 4);
    h.store.WriteBlock(h.mgr.BaseAddress(), TableMapSize, bad.data());
    ExpectError(0x2103, "Table map entry", [&] { h.mgr.AddTable(0); });
    ExpectError(0x2103, "", [&] { h.mgr.OpenTable(1); });
  }
  h.store.WriteBlock(h.mgr.BaseAddress(), TableMapSize, map.data());
  // A header block whose size field is damaged.
  int32_t index = -1;
  ASSERT_TRUE(h.mgr.FindTableHeaderInMap(2, index));
  const uint32_t addr = h.mgr.MapAddress(index);
  const uint32_t hugeSize = 5000;
  std::vector<uint8_t> block(TableHeaderBlockSize);
  h.store.ReadBlock(addr, TableHeaderBlockSize, block.data());
  std::memcpy(block.data() + thHeaderSize, &hugeSize, 4);
  h.store.WriteBlock(addr, TableHeaderBlockSize, block.data());
  ExpectError(0x2103, "Table header size", [&] { h.mgr.OpenTable(2); });
}

// ---------------------------------------------------------------- read-ahead buffer

TEST(ReadAheadBuffer, ValidityWindow) {
  TReadAheadBuffer buffer;
  buffer.Open(19, 8, 10000);
  const uint32_t t = 5000;
  EXPECT_FALSE(buffer.IsValid(t)) << "an empty buffer is never valid";
  buffer.Add()->SetRecAddr(1);
  buffer.SetValidTimeStamp(t);
  EXPECT_TRUE(buffer.IsValid(t));
  EXPECT_TRUE(buffer.IsValid(t + 10000));
  EXPECT_FALSE(buffer.IsValid(t + 10001));
  EXPECT_EQ(buffer.Count(), 0) << "an expired batch is dropped";

  // Tick counts wrap around.
  buffer.Add()->SetRecAddr(1);
  buffer.SetValidTimeStamp(0xFFFFF000u);
  EXPECT_TRUE(buffer.IsValid(0x100u));
  EXPECT_FALSE(buffer.IsValid(0xFFFFE000u));
}

TEST(ReadAheadBuffer, PooledBuffersAreReused) {
  TReadAheadBuffer buffer;
  buffer.Open(40, 12, 10000);
  std::set<uint8_t*> first;
  for (int i = 0; i < 5; ++i) first.insert(buffer.Add()->RecBuf());
  EXPECT_EQ(buffer.GetInternalBufferCount(), 5);
  buffer.Invalidate();
  EXPECT_EQ(buffer.Count(), 0);
  EXPECT_EQ(buffer.ValidTimeStamp(), 0u);
  std::set<uint8_t*> second;
  for (int i = 0; i < 5; ++i) {
    TReadAheadBufferItem* item = buffer.Add();
    ASSERT_NE(item->KeyBuf(), nullptr);
    second.insert(item->RecBuf());
  }
  EXPECT_EQ(buffer.GetInternalBufferCount(), 5) << "no new buffers for the same batch size";
  EXPECT_EQ(first, second);

  // An item deleted from the middle gives its buffers back without taking
  // anyone else's.
  uint8_t* freed = buffer.Items(2)->RecBuf();
  buffer.DeleteItem(2);
  TReadAheadBufferItem* next = buffer.Add();
  EXPECT_EQ(next->RecBuf(), freed);
  std::set<uint8_t*> held;
  for (int32_t i = 0; i < buffer.Count(); ++i) held.insert(buffer.Items(i)->RecBuf());
  EXPECT_EQ(held.size(), 5u);
  buffer.Add();
  EXPECT_EQ(buffer.GetInternalBufferCount(), 6);

  buffer.Close();
  EXPECT_EQ(buffer.GetInternalBufferCount(), 0);
  EXPECT_EQ(buffer.Count(), 0);
}

TEST(ReadAheadBuffer, BatchFromAListOfRecordAddresses) {
  // The tree hands the buffer a list of record addresses; a plain list
  // stands in for it here.
  TMemoryIOInterface store;
  TRecordMgr mgr;
  BuildLayout(mgr.InternalFields(), {{"K", plat::ftInteger, 0}, {"S", plat::ftString, 10}});
  const int32_t size = mgr.InternalFields().RecordSize();
  mgr.SetRecordSize(size);
  mgr.Open(&store);
  std::vector<uint32_t> addrs;
  for (uint32_t seed = 1; seed <= 6; ++seed)
    addrs.push_back(mgr.AddRecord(MakeRecord(mgr.InternalFields(), seed).data()));

  TReadAheadBuffer buffer;
  buffer.Open(size, 4, 10000);
  int32_t recNo = 1;
  for (uint32_t addr : addrs) {
    TReadAheadBufferItem* item = buffer.Add();
    mgr.ReadRecord(addr, item->RecBuf(), false);
    std::memcpy(item->KeyBuf(), item->RecBuf() + mgr.InternalFields().GetIndex(0)->DataOffset(), 4);
    item->SetRecNo(recNo++);
    item->SetRecAddr(addr);
  }
  buffer.SetValidTimeStamp(1000);
  ASSERT_TRUE(buffer.IsValid(1500));
  for (size_t i = 0; i < addrs.size(); ++i) {
    TReadAheadBufferItem* item = buffer.GetBufferItem(addrs[i]);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->RecNo(), static_cast<int32_t>(i) + 1);
    EXPECT_EQ(std::vector<uint8_t>(item->RecBuf(), item->RecBuf() + size),
              MakeRecord(mgr.InternalFields(), static_cast<uint32_t>(i) + 1));
  }
  EXPECT_EQ(buffer.GetNextBufferItem(addrs[0])->RecAddr(), addrs[1]);
  EXPECT_EQ(buffer.GetPriorBufferItem(addrs[3])->RecAddr(), addrs[2]);
  EXPECT_EQ(buffer.GetNextBufferItem(addrs.back()), nullptr);
  EXPECT_EQ(buffer.GetPriorBufferItem(addrs.front()), nullptr);
  EXPECT_EQ(buffer.GetBufferItem(9999), nullptr);
  EXPECT_EQ(buffer.GetNextBufferItem(9999), nullptr);
  EXPECT_EQ(buffer.GetIndexOfBufferItem(addrs[4]), 4);
  EXPECT_EQ(buffer.Last()->RecAddr(), addrs.back());

  buffer.SetLastRecordCount(6);
  buffer.SetRecordCountValid(true);
  buffer.Open(size, 4, 500);
  EXPECT_EQ(buffer.LastRecordCount(), 0);
  EXPECT_FALSE(buffer.RecordCountValid());
  EXPECT_EQ(buffer.Last(), nullptr);
}

}  // namespace
}  // namespace zel
