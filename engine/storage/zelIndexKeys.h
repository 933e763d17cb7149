#pragma once
// Index keys: the key fields of an index, the stored key format, how a key is
// built from a record or from values, and how two keys compare.
//
// Key (= B-tree entry), little-endian:
//   0   2  entry length in bytes, this field included
//   2   4  count: records under the child (internal entries), 0 in a leaf
//   6   4  address: the record (leaf) or the child page (internal)
//   10  b  null bitmap, b = the key fields' DataOffset: bit 0x80 shr (i mod 8)
//          of byte i div 8 is set when key field i has a value
//   10+b   the values of the fields that have one, in key-field order:
//          ftString and ftWideString as a 2-byte length and that many bytes,
//          other types their core size.
// With ikFixed every key is MaximumKeySize bytes long (zero tail); with
// ikMinStringLen a key is as long as its values need.
//
// Key order, field by field over the compared fields, first difference wins:
//  1. A comparison marker (fcForceBOF, fcDefault, fcForceEOF) on either side
//     decides first: marker A minus marker B, a missing marker counting as
//     fcDefault. Descending does not apply to it.
//  2. A null sorts before any value.
//  3. Values compare by type; strings through the table's sort order.
//  4. Descending negates the result of 2 and 3.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommonText.h"
#include "platform/db/DB.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TInternalFields;

enum TKeySearchType : uint8_t { ksLE, ksEQ, ksGE };
// Stored in markers lists by ordinal: fcForceBOF 0, fcDefault 1, fcForceEOF 2.
enum TFieldComparisonValue : uint8_t { fcForceBOF, fcDefault, fcForceEOF };
enum TIndexKeyType : uint8_t { ikFixed, ikMinStringLen };

// One marker per key field; fields beyond its end count as fcDefault.
using TComparisonMarkers = std::vector<TFieldComparisonValue>;

// Entry offsets.
inline constexpr int32_t keLength = 0;
inline constexpr int32_t keCount = 2;
inline constexpr int32_t keAddress = 6;
inline constexpr int32_t keBitmap = 10;
inline constexpr int32_t KeyHeaderSize = 10;

// The largest key an index may have.
inline constexpr int32_t MaxKeySizeLimit = 500;

// Little-endian access to key and page bytes.
namespace ix {
inline uint16_t LoadU16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | (P[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
         (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t* P) {
  return static_cast<uint64_t>(LoadU32(P)) | (static_cast<uint64_t>(LoadU32(P + 4)) << 32);
}
inline double LoadDouble(const uint8_t* P) {
  const uint64_t bits = LoadU64(P);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void StoreU16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}
inline void StoreU32(uint8_t* P, uint32_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
  P[2] = static_cast<uint8_t>(V >> 16);
  P[3] = static_cast<uint8_t>(V >> 24);
}
inline void StoreU64(uint8_t* P, uint64_t V) {
  StoreU32(P, static_cast<uint32_t>(V));
  StoreU32(P + 4, static_cast<uint32_t>(V >> 32));
}
inline void StoreDouble(uint8_t* P, double V) {
  uint64_t bits;
  std::memcpy(&bits, &V, sizeof bits);
  StoreU64(P, bits);
}
}  // namespace ix

// One field of one index.
class ZEL_API TKeyFieldItem : public plat::TCollectionItem {
 public:
  explicit TKeyFieldItem(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TKeyFieldItem"; }

  bool CaseInsensitive() const { return CaseInsensitive_; }
  void SetCaseInsensitive(bool Value) { CaseInsensitive_ = Value; }
  bool Descending() const { return Descending_; }
  void SetDescending(bool Value) { Descending_ = Value; }
  int32_t FieldSize() const { return FieldSize_; }
  void SetFieldSize(int32_t Value) { FieldSize_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  void SetDataType(plat::TFieldType Value) { DataType_ = Value; }
  bool IsVariable() const { return IsVariable_; }
  void SetIsVariable(bool Value) { IsVariable_ = Value; }
  const std::string& FieldName() const { return FieldName_; }
  void SetFieldName(const std::string& Value) { FieldName_ = Value; }
  int32_t RecBufOffset() const { return RecBufOffset_; }
  void SetRecBufOffset(int32_t Value) { RecBufOffset_ = Value; }
  // The field's null-flag byte in the record; a negative offset means the
  // key part has no flag and always holds a value.
  int32_t NullFlagOffset() const { return NullFlagOffset_; }
  void SetNullFlagOffset(int32_t Value) { NullFlagOffset_ = Value; }
  int32_t PhysicalFieldNo() const { return PhysicalFieldNo_; }
  void SetPhysicalFieldNo(int32_t Value) { PhysicalFieldNo_ = Value; }
  const std::string& IndexName() const { return IndexName_; }
  void SetIndexName(const std::string& Value) { IndexName_ = Value; }
  bool Hidden() const { return Hidden_; }
  void SetHidden(bool Value) { Hidden_ = Value; }
  // The record offset of a string field's 2-byte size marker, 0 when none.
  int32_t SizeMarkerOffset() const { return SizeMarkerOffset_; }
  void SetSizeMarkerOffset(int32_t Value) { SizeMarkerOffset_ = Value; }
  int32_t KeyIndex() const { return KeyIndex_; }
  void SetKeyIndex(int32_t Value) { KeyIndex_ = Value; }
  // PhysicalFieldNo while no logical number was set.
  int32_t LogicalFieldNo() const {
    return LogicalFieldNo_ < 0 ? PhysicalFieldNo_ : LogicalFieldNo_;
  }
  void SetLogicalFieldNo(int32_t Value) { LogicalFieldNo_ = Value; }

  bool IsStringType() const {
    return DataType_ == plat::ftString || DataType_ == plat::ftWideString;
  }

  // Copies every property; a string key field without a size marker fails
  // the assertion "Internal status error in assign KeyField".
  void Assign(const plat::TPersistent* Source) override;
  const plat::TPropList& PublishedProperties() const override;

 private:
  bool CaseInsensitive_ = false;
  bool Descending_ = false;
  int32_t FieldSize_ = 0;
  plat::TFieldType DataType_ = plat::ftUnknown;
  bool IsVariable_ = false;
  std::string FieldName_;
  int32_t RecBufOffset_ = 0;
  int32_t NullFlagOffset_ = 0;
  int32_t PhysicalFieldNo_ = 0;
  std::string IndexName_;
  bool Hidden_ = false;
  int32_t SizeMarkerOffset_ = 0;
  int32_t KeyIndex_ = 0;
  int32_t LogicalFieldNo_ = -1;
};

// The key fields of one index, or of all indexes of a table (each item names
// its index). DataOffset is the number of null-bitmap bytes of a key.
class ZEL_API TKeyFields : public plat::TCollection {
 public:
  explicit TKeyFields(plat::TPersistent* Owner = nullptr);

  std::string ClassName() const override { return "TKeyFields"; }

  TKeyFieldItem* Add() { return static_cast<TKeyFieldItem*>(plat::TCollection::Add()); }
  TKeyFieldItem* Items(int32_t Index) const {
    return static_cast<TKeyFieldItem*>(plat::TCollection::Items(Index));
  }
  int32_t DataOffset() const { return DataOffset_; }
  void SetDataOffset(int32_t Value) { DataOffset_ = Value; }

  // By name, ignoring case; nullptr when none.
  TKeyFieldItem* FindField(const std::string& Name) const;
  // The number of items whose IndexName equals IndexName ignoring case.
  int32_t FindFieldCountForIndex(const std::string& IndexName) const;
  // Each item's LogicalFieldNo := the FieldIndex of the record field of the
  // same name, -1 when there is none.
  void SetKeyFieldLogicalFieldNumbers(const TInternalFields& Fields);
  // The key size these fields need with a bitmap of DataOffset bytes (or of
  // count div 8 + 1 bytes while DataOffset is 0).
  int32_t CalculateMaximumKeySize() const;

  void Assign(const plat::TPersistent* Source) override;

 private:
  int32_t DataOffset_ = 0;
};

// Bytes of the null bitmap for FieldCount key fields.
inline int32_t CalculateKeyBitmapSize(int32_t FieldCount) {
  return FieldCount / 8 + 1;
}
// 10 + BitmapSize + per field its core size, plus FieldSize for strings.
// A field type that cannot be a key raises plat::Exception
// "Error in setting CoreDataSize - field type not found: <type>".
int32_t CalculateMaximumKeySize(const TKeyFields& Fields, int32_t BitmapSize);
// max(((MaximumKeySize + 16) div 2048 + 1) x 2048, 4096).
int32_t CalculateIndexPageSize(int32_t MaximumKeySize);

// The decoded search key: per key field where its value lies (in a key
// buffer the owner keeps alive), its size, whether it has one, and its
// marker as -1, 0 or +1. Sized once per key layout, so building and
// comparing never allocate.
struct TOptimizedSearchKey {
  struct TField {
    const uint8_t* Value = nullptr;
    int32_t Size = 0;
    int8_t Marker = 0;
    bool HasValue = false;
  };
  std::vector<TField> Fields;
  void Clear() {
    for (TField& f : Fields) f = TField{};
  }
};

// How the values of one key field are read and compared.
enum TKeyValueKind : uint8_t {
  kvSmallint,
  kvWord,
  kvInteger,
  kvBoolean,
  kvReal,
  kvBCD,
  kvString,
  kvWideString
};

// The compiled form of a set of key fields: everything the hot paths need,
// in flat arrays. Invariant after Setup: BitmapSize >= (field count + 7) div
// 8, and MaximumKeySize >= the largest key the fields can produce.
class TKeyFormat {
 public:
  struct TField {
    TKeyValueKind Kind = kvInteger;
    plat::TFieldType DataType = plat::ftUnknown;
    int32_t CoreSize = 0;
    int32_t FieldSize = 0;
    int32_t RecBufOffset = 0;
    int32_t NullFlagOffset = 0;
    int32_t SizeMarkerOffset = 0;
    bool CaseInsensitive = false;
    bool Descending = false;
    bool Hidden = false;
    std::string Name;
  };

  // Compiles Fields. BitmapSize 0 takes count div 8 + 1; MaximumKeySize 0
  // takes what the fields need. Raises 0x2185 when the given sizes are too
  // small for the fields, and plat::Exception for a type that is no key type.
  void Setup(const TKeyFields& Fields, int32_t BitmapSize, int32_t MaximumKeySize,
             TIndexKeyType KeyType, TDBStringCompare StringCompare);

  int32_t FieldCount() const { return static_cast<int32_t>(Fields_.size()); }
  const TField& Field(int32_t I) const { return Fields_[static_cast<size_t>(I)]; }
  int32_t BitmapSize() const { return BitmapSize_; }
  int32_t MaximumKeySize() const { return MaximumKeySize_; }
  int32_t MinimumKeySize() const { return KeyHeaderSize + BitmapSize_; }
  TIndexKeyType KeyType() const { return KeyType_; }
  TDBStringCompare StringCompare() const { return StringCompare_; }
  // The leading fields before the first Hidden one.
  int32_t VisibleFieldCount() const { return VisibleFieldCount_; }

  // Builds the key of a record into Dest (MaximumKeySize bytes); returns its
  // length. Count and address are 0.
  int32_t BuildFromRecord(uint8_t* Dest, const uint8_t* RecBuf) const;
  // Builds a key from a variant array (element i for field i, missing ones
  // null) or a single value (field 0); returns its length.
  int32_t BuildFromVariants(uint8_t* Dest, const plat::Variant& Values, const char* Context) const;
  // Decodes Key (a well-formed key of this format) into Search, with
  // Markers.
  void Decode(const uint8_t* Key, const TComparisonMarkers* Markers,
              TOptimizedSearchKey& Search) const;

  // The sign tells whether A sorts before (negative), with (0) or after B,
  // over the first FieldCount fields (all when FieldCount < 1).
  int32_t CompareKeys(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                      const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                      const uint8_t* KeyB) const;
  // The same with a decoded A.
  int32_t CompareToOptimizedKey(int32_t FieldCount, const TOptimizedSearchKey& A,
                                const uint8_t* KeyB) const;

  // The key's length field checked against this format: 0x2185 "KeySize out
  // of range" when it is above MaximumKeySize or below the minimum.
  int32_t CheckedLength(const uint8_t* Key, const char* Context) const {
    const int32_t len = ix::LoadU16(Key + keLength);
    if (len > MaximumKeySize_ || len < KeyHeaderSize + BitmapSize_) [[unlikely]]
      KeySizeOutOfRange(len, Context);
    return len;
  }
  // Where field I's value lies in Key, false when it is null. Raises 0x2305
  // when the key's values run past its length.
  bool LocateValue(const uint8_t* Key, int32_t I, const uint8_t*& Value, int32_t& Size) const;

  // The key's fields as text ("null" for a field without a value), joined
  // by "; ".
  std::string KeyAsStrings(const uint8_t* Key) const;

 private:
  [[noreturn]] static void KeySizeOutOfRange(int32_t Length, const char* Context);
  int32_t CompareValues(const TField& F, const uint8_t* A, int32_t SizeA, const uint8_t* B,
                        int32_t SizeB) const;

  std::vector<TField> Fields_;
  int32_t BitmapSize_ = 1;
  int32_t MaximumKeySize_ = 0;
  int32_t VisibleFieldCount_ = 0;
  TIndexKeyType KeyType_ = ikFixed;
  TDBStringCompare StringCompare_ = nullptr;
};

// A number that orders the values of an integer key field as the field
// does: Value is the stored bytes, nullptr for Null (first, or last when
// descending). 0 for every value of a field of another kind.
inline uint64_t KeyFieldLead(const TKeyFormat::TField& Field, const uint8_t* Value) {
  uint64_t lead = 0;
  switch (Field.Kind) {
    case kvInteger:
      if (Value != nullptr) lead = (ix::LoadU32(Value) ^ 0x80000000u) + 1ull;
      break;
    case kvSmallint:
      if (Value != nullptr) lead = (ix::LoadU16(Value) ^ 0x8000u) + 1ull;
      break;
    case kvWord:
      if (Value != nullptr) lead = ix::LoadU16(Value) + 1ull;
      break;
    default:
      return 0;
  }
  return Field.Descending ? (1ull << 33) - lead : lead;
}

}  // namespace zel
