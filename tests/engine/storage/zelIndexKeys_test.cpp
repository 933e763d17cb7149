#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelIndexUnit.h"

namespace zel {
namespace {

using plat::VarArrayOf;
using plat::Variant;

using storagetest::ExpectError;

struct FieldDesc {
  const char* Name;
  plat::TFieldType Type;
  int32_t Size = 0;  // stored size of strings
  bool CaseInsensitive = false;
  bool Descending = false;
};

// A record layout of the given fields and the key fields of one index over
// all of them, in order.
struct Layout {
  explicit Layout(const std::vector<FieldDesc>& Columns, TSortOrder Order = soANSI,
                  TIndexKeyType KeyType = ikMinStringLen) {
    for (size_t i = 0; i < Columns.size(); ++i) {
      TInternalFieldItem* f = fields.Add();
      f->SetFieldName(Columns[i].Name);
      // Records hold BCD amounts in 8 bytes, laid out like a currency field.
      f->SetDataType(Columns[i].Type == plat::ftBCD ? plat::ftCurrency : Columns[i].Type);
      if (Columns[i].Size > 0) f->SetFieldSize(Columns[i].Size);
      f->SetFieldIndex(static_cast<int32_t>(i));
    }
    fields.SetDefaultOffsets();
    for (size_t i = 0; i < Columns.size(); ++i) {
      const TInternalFieldItem* f = fields.GetIndex(static_cast<int32_t>(i));
      TKeyFieldItem* k = storagetest::AddKeyField(keys, *f);
      k->SetIndexName("IX");
      // The key keeps the declared type (a BCD field's record slot is laid
      // out as currency).
      k->SetDataType(Columns[i].Type);
      k->SetCaseInsensitive(Columns[i].CaseInsensitive);
      k->SetDescending(Columns[i].Descending);
      k->SetKeyIndex(static_cast<int32_t>(i));
    }
    format.Setup(keys, 0, 0, KeyType,
                 Order == soANSI ? DBANSICompareStrings : DBASCIICompareStrings);
    record.assign(static_cast<size_t>(fields.RecordSize()), 0);
  }

  const TInternalFieldItem& Field(int32_t I) const { return *fields.GetIndex(I); }
  void SetInt(int32_t I, int32_t V) {
    record[static_cast<size_t>(Field(I).NullFlagOffset())] = 1;
    std::memcpy(record.data() + Field(I).DataOffset(), &V, 4);
  }
  void SetString(int32_t I, const std::string& S) {
    record[static_cast<size_t>(Field(I).NullFlagOffset())] = 1;
    const uint16_t len = static_cast<uint16_t>(S.size());
    std::memcpy(record.data() + Field(I).SizeMarkerOffset(), &len, 2);
    std::memcpy(record.data() + Field(I).DataOffset(), S.data(), S.size());
  }
  void SetNull(int32_t I) { record[static_cast<size_t>(Field(I).NullFlagOffset())] = 0; }

  std::vector<uint8_t> KeyOf(const Variant& Values) const {
    std::vector<uint8_t> key(static_cast<size_t>(format.MaximumKeySize()) + 1, 0);
    format.BuildFromVariants(key.data(), Values, "test");
    return key;
  }
  std::vector<uint8_t> KeyOfRecord() const {
    std::vector<uint8_t> key(static_cast<size_t>(format.MaximumKeySize()) + 1, 0);
    format.BuildFromRecord(key.data(), record.data());
    return key;
  }

  TInternalFields fields;
  TKeyFields keys;
  TKeyFormat format;
  std::vector<uint8_t> record;
};

std::vector<uint8_t> Bytes(const std::vector<uint8_t>& Key) {
  return {Key.begin(), Key.begin() + (Key[0] | (Key[1] << 8))};
}

TEST(IndexKeys, IntegerKeyEntryBytes) {
  // Integer key 5 of the record at 0x7010, in both key layouts.
  for (TIndexKeyType type : {ikFixed, ikMinStringLen}) {
    Layout l({{"ID", plat::ftInteger}}, soANSI, type);
    EXPECT_EQ(l.format.MaximumKeySize(), 15);
    l.SetInt(0, 5);
    std::vector<uint8_t> key = l.KeyOfRecord();
    ix::StoreU32(key.data() + keAddress, 0x7010);
    const std::vector<uint8_t> expected = {0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x70,
                                           0x00, 0x00, 0x80, 0x05, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(key), expected) << type;
  }
}

TEST(IndexKeys, SizesFollowTheKeyFields) {
  struct Case {
    std::vector<FieldDesc> Fields;
    int32_t Bitmap;
    int32_t MaxKey;
  };
  const std::vector<Case> cases = {
      {{{"I", plat::ftInteger}}, 1, 15},
      // A string declared 21 adds 2 + 21.
      {{{"S", plat::ftString, 21}}, 1, 10 + 1 + 2 + 21},
      {{{"A", plat::ftBoolean},
        {"B", plat::ftSmallint},
        {"C", plat::ftWord},
        {"D", plat::ftFloat},
        {"E", plat::ftCurrency},
        {"F", plat::ftBCD},
        {"G", plat::ftDateTime}},
       1,
       10 + 1 + 1 + 2 + 2 + 8 * 4},
      // Eight key fields take two bitmap bytes.
      {{{"A", plat::ftBoolean},
        {"B", plat::ftBoolean},
        {"C", plat::ftBoolean},
        {"D", plat::ftBoolean},
        {"E", plat::ftBoolean},
        {"F", plat::ftBoolean},
        {"G", plat::ftBoolean},
        {"H", plat::ftBoolean}},
       2,
       10 + 2 + 8},
      {{{"W", plat::ftWideString, 42}, {"T", plat::ftTime}}, 1, 10 + 1 + 2 + 42 + 8},
  };
  for (const Case& c : cases) {
    Layout l(c.Fields);
    EXPECT_EQ(l.format.BitmapSize(), c.Bitmap);
    EXPECT_EQ(l.format.MaximumKeySize(), c.MaxKey);
    EXPECT_EQ(l.keys.CalculateMaximumKeySize(), c.MaxKey);
  }
  for (int32_t size : {15, 100, 499, 500}) EXPECT_EQ(CalculateIndexPageSize(size), 4096) << size;
  EXPECT_EQ(CalculateIndexPageSize(2032), 4096);
  EXPECT_EQ(CalculateIndexPageSize(4080), 6144);

  // A field type that cannot be a key.
  TKeyFields keys;
  keys.Add()->SetDataType(plat::ftBlob);
  try {
    CalculateMaximumKeySize(keys, 1);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_EQ(e.Message(), "Error in setting CoreDataSize - field type not found: Blob");
  }
}

TEST(IndexKeys, DefinitionOfMoreThan500BytesIsRefused) {
  Layout fits({{"S", plat::ftString, 500 - 13}});
  TInternalIndexDefs fitDefs;
  TInternalIndexDef* def = fitDefs.Add();
  def->SetIndexName("Big");
  CalculateIndexDefSizes(*def, fits.keys);
  EXPECT_EQ(def->MaximumKeySize(), 500);
  EXPECT_EQ(def->KeyDataOffset(), 1);
  EXPECT_EQ(def->IndexPageSize(), 4096u);

  Layout big({{"S", plat::ftString, 500 - 12}});
  TInternalIndexDefs defs;
  TInternalIndexDef* bigDef = defs.Add();
  bigDef->SetIndexName("Big");
  ExpectError(0x2582, "Big", [&] { CalculateIndexDefSizes(*bigDef, big.keys); });
}

TEST(IndexKeys, BuildingFromARecord) {
  Layout l({{"I", plat::ftInteger}, {"S", plat::ftString, 11}, {"W", plat::ftSmallint}});
  l.SetInt(0, -7);
  l.SetString(1, "abc");
  l.SetNull(2);
  std::vector<uint8_t> key = l.KeyOfRecord();
  // 10 + bitmap + 4 + 2 + 3: the null field takes nothing.
  EXPECT_EQ(Bytes(key).size(), 10u + 1 + 4 + 2 + 3);
  EXPECT_EQ(key[keBitmap], 0xC0);
  EXPECT_EQ(l.format.KeyAsStrings(key.data()), "-7; abc; null");

  // A size marker beyond the field is not followed past the field.
  const uint16_t huge = 60000;
  std::memcpy(l.record.data() + l.Field(1).SizeMarkerOffset(), &huge, 2);
  key = l.KeyOfRecord();
  EXPECT_EQ(Bytes(key).size(), 10u + 1 + 4 + 2 + 11);

  // All null: just the header and the bitmap, before any key with a value.
  for (int32_t i = 0; i < 3; ++i) l.SetNull(i);
  const std::vector<uint8_t> empty = l.KeyOfRecord();
  EXPECT_EQ(Bytes(empty).size(), 11u);
  EXPECT_LT(l.format.CompareKeys(0, nullptr, nullptr, empty.data(),
                                 l.KeyOf(VarArrayOf({Variant(-2147483647 - 1)})).data()),
            0);

  // Fixed keys are padded with zeros to the full size.
  Layout f({{"I", plat::ftInteger}, {"S", plat::ftString, 11}}, soANSI, ikFixed);
  f.SetInt(0, 1);
  f.SetString(1, "x");
  key = f.KeyOfRecord();
  EXPECT_EQ(Bytes(key).size(), static_cast<size_t>(f.format.MaximumKeySize()));
  for (size_t i = 10 + 1 + 4 + 2 + 1; i < Bytes(key).size(); ++i) EXPECT_EQ(key[i], 0) << i;
}

TEST(IndexKeys, APartWithoutNullFlagAlwaysHasAValue) {
  // The hidden record-number part of a non-unique index has no null flag.
  Layout l({{"I", plat::ftInteger}});
  TKeyFieldItem* hidden = l.keys.Add();
  hidden->SetFieldName("_RecNo");
  hidden->SetDataType(plat::ftInteger);
  hidden->SetRecBufOffset(6);
  hidden->SetNullFlagOffset(-1);
  hidden->SetHidden(true);
  l.format.Setup(l.keys, 0, 0, ikMinStringLen, DBANSICompareStrings);
  EXPECT_EQ(l.format.VisibleFieldCount(), 1);
  const int32_t recNo = 77;
  std::memcpy(l.record.data() + 6, &recNo, 4);
  const std::vector<uint8_t> key = l.KeyOfRecord();
  EXPECT_EQ(l.format.KeyAsStrings(key.data()), "null; 77");
}

TEST(IndexKeys, BuildingFromVariants) {
  Layout l({{"I", plat::ftInteger},
            {"S", plat::ftString, 6},
            {"B", plat::ftBoolean},
            {"C", plat::ftBCD},
            {"W", plat::ftWideString, 8}});
  struct Case {
    Variant Values;
    std::string Text;
  };
  const std::vector<Case> cases = {
      {Variant(12), "12; null; null; null; null"},
      {VarArrayOf({Variant(1), Variant("hello")}), "1; hello; null; null; null"},
      {VarArrayOf({plat::Null(), Variant("xy"), Variant(true), Variant(2.5), Variant("ab")}),
       "null; xy; True; 2.5; ab"},
      // Strings are cut as the field would cut them: 5 bytes of a 6-byte
      // field, 3 characters of an 8-byte wide field, whole characters only.
      {VarArrayOf({Variant(0), Variant("abcdefgh"), Variant(false), Variant(0), Variant("abcdef")}),
       "0; abcde; False; 0; abc"},
      {VarArrayOf({Variant(0), Variant("abcd\xC3\xA9")}), "0; abcd; null; null; null"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> key = l.KeyOf(c.Values);
    EXPECT_EQ(l.format.KeyAsStrings(key.data()), c.Text);
  }
  // The variant key and the record key agree byte for byte.
  l.SetInt(0, 42);
  l.SetString(1, "abc");
  EXPECT_EQ(Bytes(l.KeyOfRecord()), Bytes(l.KeyOf(VarArrayOf({Variant(42), Variant("abc")}))));
}

// One comparison: A against B on a one-field layout, with optional markers.
struct CompareCase {
  std::string Name;
  FieldDesc Field;
  TSortOrder Order;
  Variant A;
  Variant B;
  int Sign;
};

int SignOf(int32_t V) {
  return V < 0 ? -1 : (V > 0 ? 1 : 0);
}

TEST(IndexKeys, CompareKeysTable) {
  const std::string longA = std::string(290, 'q') + "aaaaaaaaaa";
  const std::string longB = std::string(290, 'q') + "aaaaaaaaab";
  const std::vector<CompareCase> cases = {
      {"int extremes", {"I", plat::ftInteger}, soANSI, Variant(-2147483647 - 1), Variant(1), -1},
      {"int equal", {"I", plat::ftInteger}, soANSI, Variant(9), Variant(9), 0},
      {"null before value",
       {"I", plat::ftInteger},
       soANSI,
       plat::Null(),
       Variant(-2147483647 - 1),
       -1},
      {"nulls equal", {"I", plat::ftInteger}, soANSI, plat::Null(), plat::Null(), 0},
      {"desc 5 before 3",
       {"I", plat::ftInteger, 0, false, true},
       soANSI,
       Variant(5),
       Variant(3),
       -1},
      {"desc null last",
       {"I", plat::ftInteger, 0, false, true},
       soANSI,
       plat::Null(),
       Variant(3),
       1},
      {"smallint signed", {"S", plat::ftSmallint}, soANSI, Variant(-1), Variant(1), -1},
      {"word unsigned", {"W", plat::ftWord}, soANSI, Variant(65535), Variant(1), 1},
      {"autoinc", {"A", plat::ftAutoInc}, soANSI, Variant(3), Variant(4), -1},
      {"boolean", {"B", plat::ftBoolean}, soANSI, Variant(false), Variant(true), -1},
      {"float", {"F", plat::ftFloat}, soANSI, Variant(-0.5), Variant(0.25), -1},
      {"float desc", {"F", plat::ftFloat, 0, false, true}, soANSI, Variant(-0.5), Variant(0.25), 1},
      {"currency", {"C", plat::ftCurrency}, soANSI, Variant(10.01), Variant(10.0), 1},
      {"datetime", {"D", plat::ftDateTime}, soANSI, Variant(36000.5), Variant(36000.25), 1},
      {"bcd fractions", {"N", plat::ftBCD}, soANSI, Variant(1.5), Variant(1.2), 1},
      {"ansi case", {"S", plat::ftString, 21}, soANSI, Variant("abc"), Variant("ABC"), -1},
      {"ansi ci", {"S", plat::ftString, 21, true}, soANSI, Variant("abc"), Variant("ABC"), 0},
      {"ansi ci order", {"S", plat::ftString, 21, true}, soANSI, Variant("abd"), Variant("ABC"), 1},
      {"ansi accent",
       {"S", plat::ftString, 21},
       soANSI,
       Variant("\xC3\xA9t\xC3\xA9"),
       Variant("f"),
       -1},
      {"ansi prefix", {"S", plat::ftString, 21}, soANSI, Variant("ab"), Variant("abc"), -1},
      {"ascii case", {"S", plat::ftString, 21}, soASCII, Variant("abc"), Variant("ABC"), 1},
      {"ascii ci", {"S", plat::ftString, 21, true}, soASCII, Variant("abc"), Variant("ABC"), 0},
      {"ascii accent",
       {"S", plat::ftString, 21},
       soASCII,
       Variant("\xC3\xA9t\xC3\xA9"),
       Variant("f"),
       1},
      {"ascii desc",
       {"S", plat::ftString, 21, false, true},
       soASCII,
       Variant("a"),
       Variant("b"),
       1},
      {"long strings", {"S", plat::ftString, 401}, soANSI, Variant(longA), Variant(longB), -1},
      {"long strings ascii",
       {"S", plat::ftString, 401},
       soASCII,
       Variant(longB),
       Variant(longA),
       1},
      {"wide ci",
       {"W", plat::ftWideString, 42, true},
       soANSI,
       Variant("\xC3\xA9tAb"),
       Variant("\xC3\x89TaB"),
       0},
      {"wide", {"W", plat::ftWideString, 42}, soANSI, Variant("b"), Variant("ab"), 1},
  };
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Layout l({c.Field}, c.Order);
    const std::vector<uint8_t> a = l.KeyOf(c.A);
    const std::vector<uint8_t> b = l.KeyOf(c.B);
    EXPECT_EQ(SignOf(l.format.CompareKeys(0, nullptr, nullptr, a.data(), b.data())), c.Sign);
    EXPECT_EQ(SignOf(l.format.CompareKeys(0, nullptr, nullptr, b.data(), a.data())), -c.Sign);
    // The decoded form compares the same way.
    TOptimizedSearchKey decoded;
    l.format.Decode(a.data(), nullptr, decoded);
    EXPECT_EQ(SignOf(l.format.CompareToOptimizedKey(0, decoded, b.data())), c.Sign);
  }
}

TEST(IndexKeys, MarkersPlaceAKeyAroundItsEquals) {
  Layout l({{"A", plat::ftInteger}, {"B", plat::ftInteger, 0, false, true}});
  const std::vector<uint8_t> k55 = l.KeyOf(VarArrayOf({Variant(5), Variant(5)}));
  const std::vector<uint8_t> k5null = l.KeyOf(VarArrayOf({Variant(5), plat::Null()}));
  const std::vector<uint8_t> k6 = l.KeyOf(VarArrayOf({Variant(6), Variant(-100)}));
  const TComparisonMarkers bof = {fcDefault, fcForceBOF};
  const TComparisonMarkers eof = {fcDefault, fcForceEOF};
  const TComparisonMarkers bofFirst = {fcForceBOF};
  struct Case {
    const char* Name;
    const TComparisonMarkers* MA;
    const std::vector<uint8_t>* A;
    const TComparisonMarkers* MB;
    const std::vector<uint8_t>* B;
    int Sign;
  };
  const std::vector<Case> cases = {
      // fcForceBOF on the second field: before every key with A = 5, even
      // one null there and though the field is descending.
      {"bof before value", &bof, &k5null, nullptr, &k55, -1},
      {"bof before null", &bof, &k55, nullptr, &k5null, -1},
      {"eof after", &eof, &k55, nullptr, &k5null, 1},
      {"eof before next", &eof, &k55, nullptr, &k6, -1},
      {"first field decides first", &bofFirst, &k6, nullptr, &k55, -1},
      // Equal markers pass on to the values: 5 before null on a descending field.
      {"both markers equal", &bof, &k55, &bof, &k5null, -1},
      {"marker on B only", nullptr, &k55, &eof, &k5null, -1},
      {"eof against bof", &eof, &k55, &bof, &k55, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(SignOf(l.format.CompareKeys(0, c.MA, c.MB, c.A->data(), c.B->data())),
              SignOf(c.Sign));
    if (c.MB == nullptr) {
      TOptimizedSearchKey decoded;
      l.format.Decode(c.A->data(), c.MA, decoded);
      EXPECT_EQ(SignOf(l.format.CompareToOptimizedKey(0, decoded, c.B->data())), SignOf(c.Sign));
    }
  }
  // Only the first field: the second does not count.
  EXPECT_EQ(l.format.CompareKeys(1, nullptr, nullptr, k55.data(), k5null.data()), 0);
}

TEST(IndexKeys, MalformedKeysAreRefused) {
  Layout l({{"S", plat::ftString, 11}});
  std::vector<uint8_t> good = l.KeyOf(Variant("abc"));
  std::vector<uint8_t> bad = good;
  ix::StoreU16(bad.data(), static_cast<uint16_t>(l.format.MaximumKeySize() + 1));
  ExpectError(0x2185, "KeySize out of range",
              [&] { l.format.CompareKeys(0, nullptr, nullptr, bad.data(), good.data()); });
  // A string length running past the key's own length.
  bad = good;
  ix::StoreU16(bad.data() + 11, 9);
  ExpectError(0x2305, "",
              [&] { l.format.CompareKeys(0, nullptr, nullptr, good.data(), bad.data()); });
}

TEST(IndexKeys, KeyFieldCollections) {
  TInternalFields fields;
  for (const char* name : {"Id", "Name"}) {
    TInternalFieldItem* f = fields.Add();
    f->SetFieldName(name);
    f->SetDataType(plat::ftInteger);
    f->SetFieldIndex(fields.Count() - 1);
  }
  TKeyFields keys;
  struct K {
    const char* Field;
    const char* Index;
  };
  for (const K& k : {K{"NAME", "ByName"}, K{"id", "byname"}, K{"Other", "ById"}}) {
    TKeyFieldItem* item = keys.Add();
    item->SetFieldName(k.Field);
    item->SetIndexName(k.Index);
    item->SetDataType(plat::ftInteger);
    item->SetPhysicalFieldNo(5);
  }
  EXPECT_EQ(keys.FindField("name"), keys.Items(0));
  EXPECT_EQ(keys.FindField("none"), nullptr);
  EXPECT_EQ(keys.FindFieldCountForIndex("BYNAME"), 2);
  EXPECT_EQ(keys.FindFieldCountForIndex("ById"), 1);
  EXPECT_EQ(keys.Items(0)->LogicalFieldNo(), 5);  // the physical number until set
  keys.SetKeyFieldLogicalFieldNumbers(fields);
  EXPECT_EQ(keys.Items(0)->LogicalFieldNo(), 1);
  EXPECT_EQ(keys.Items(1)->LogicalFieldNo(), 0);
  // No such record field: -1, which reads as the physical number.
  EXPECT_EQ(keys.Items(2)->LogicalFieldNo(), 5);

  keys.SetDataOffset(3);
  TKeyFields copy;
  copy.Assign(&keys);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.DataOffset(), 3);
  EXPECT_EQ(copy.Items(0)->FieldName(), "NAME");
  EXPECT_EQ(copy.Items(1)->IndexName(), "byname");

  TKeyFieldItem* text = keys.Add();
  text->SetDataType(plat::ftString);
  try {
    copy.Add()->Assign(text);
    ADD_FAILURE() << "no assertion";
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find("Internal status error in assign KeyField"), std::string::npos);
  }
}

}  // namespace
}  // namespace zel
