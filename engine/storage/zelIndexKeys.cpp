#include "engine/storage/zelIndexKeys.h"

#include <algorithm>
#include <cstdio>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataFields.h"
#include "platform/rtl/Bytes.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"

namespace zel {

using ix::LoadDouble;
using ix::LoadU16;
using ix::LoadU32;
using ix::LoadU64;

// ---------------------------------------------------------------- TKeyFieldItem

void TKeyFieldItem::Assign(const plat::TPersistent* Source) {
  const auto* src = dynamic_cast<const TKeyFieldItem*>(Source);
  if (src == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  PLAT_ASSERT(!src->IsStringType() || src->SizeMarkerOffset_ != 0,
              "Internal status error in assign KeyField");
  CaseInsensitive_ = src->CaseInsensitive_;
  Descending_ = src->Descending_;
  FieldSize_ = src->FieldSize_;
  DataType_ = src->DataType_;
  IsVariable_ = src->IsVariable_;
  FieldName_ = src->FieldName_;
  RecBufOffset_ = src->RecBufOffset_;
  NullFlagOffset_ = src->NullFlagOffset_;
  PhysicalFieldNo_ = src->PhysicalFieldNo_;
  IndexName_ = src->IndexName_;
  Hidden_ = src->Hidden_;
  SizeMarkerOffset_ = src->SizeMarkerOffset_;
  KeyIndex_ = src->KeyIndex_;
  LogicalFieldNo_ = src->LogicalFieldNo_;
}

const plat::TPropList& TKeyFieldItem::PublishedProperties() const {
  using T = TKeyFieldItem;
  static const plat::TPropList list =
      plat::TPublished<T>(plat::TCollectionItem::PublishedProperties())
          .Boolean("CaseInsensitive", &T::CaseInsensitive, &T::SetCaseInsensitive, false)
          .Boolean("Descending", &T::Descending, &T::SetDescending, false)
          .Integer("FieldSize", &T::FieldSize, &T::SetFieldSize)
          .Enumeration(
              "DataType", &T::DataType, &T::SetDataType,
              std::vector<std::string>(plat::FieldTypeIdents.begin(), plat::FieldTypeIdents.end()))
          .Boolean("IsVariable", &T::IsVariable, &T::SetIsVariable)
          .String("FieldName", &T::FieldName, &T::SetFieldName)
          .Integer("RecBufOffset", &T::RecBufOffset, &T::SetRecBufOffset)
          .Integer("NullFlagOffset", &T::NullFlagOffset, &T::SetNullFlagOffset)
          .Integer("PhysicalFieldNo", &T::PhysicalFieldNo, &T::SetPhysicalFieldNo)
          .String("IndexName", &T::IndexName, &T::SetIndexName)
          .Boolean("Hidden", &T::Hidden, &T::SetHidden)
          .Integer("SizeMarkerOffset", &T::SizeMarkerOffset, &T::SetSizeMarkerOffset)
          .Integer("KeyIndex", &T::KeyIndex, &T::SetKeyIndex)
          .Integer(
              "LogicalFieldNo", [](const T& t) { return t.LogicalFieldNo_; }, &T::SetLogicalFieldNo,
              -1);
  return list;
}

// ---------------------------------------------------------------- TKeyFields

TKeyFields::TKeyFields(plat::TPersistent* Owner)
    : plat::TCollection(plat::CollectionItemClass<TKeyFieldItem>(), Owner) {}

TKeyFieldItem* TKeyFields::FindField(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (plat::AnsiSameText(Items(i)->FieldName(), Name)) return Items(i);
  }
  return nullptr;
}

int32_t TKeyFields::FindFieldCountForIndex(const std::string& IndexName) const {
  int32_t n = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    if (plat::AnsiSameText(Items(i)->IndexName(), IndexName)) ++n;
  }
  return n;
}

void TKeyFields::SetKeyFieldLogicalFieldNumbers(const TInternalFields& Fields) {
  for (int32_t i = 0; i < Count(); ++i) {
    const TInternalFieldItem* field = Fields.FindField(Items(i)->FieldName());
    Items(i)->SetLogicalFieldNo(field != nullptr ? field->FieldIndex() : -1);
  }
}

int32_t TKeyFields::CalculateMaximumKeySize() const {
  return zel::CalculateMaximumKeySize(
      *this, DataOffset_ > 0 ? DataOffset_ : CalculateKeyBitmapSize(Count()));
}

void TKeyFields::Assign(const plat::TPersistent* Source) {
  const auto* src = dynamic_cast<const TKeyFields*>(Source);
  if (src == nullptr) {
    plat::TCollection::Assign(Source);
    return;
  }
  BeginUpdate();
  Clear();
  for (int32_t i = 0; i < src->Count(); ++i) Add()->Assign(src->Items(i));
  DataOffset_ = src->DataOffset_;
  EndUpdate();
}

// ---------------------------------------------------------------- sizes

int32_t CalculateMaximumKeySize(const TKeyFields& Fields, int32_t BitmapSize) {
  int64_t size = KeyHeaderSize + BitmapSize;
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    const TKeyFieldItem* f = Fields.Items(i);
    size += CalculateCoreDataSize(f->DataType());
    if (f->IsStringType()) size += std::max(f->FieldSize(), 0);
  }
  return static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
}

int32_t CalculateIndexPageSize(int32_t MaximumKeySize) {
  return std::max(((MaximumKeySize + 16) / 2048 + 1) * 2048, 4096);
}

// ---------------------------------------------------------------- TKeyFormat

namespace {

TKeyValueKind KindOf(plat::TFieldType Type) {
  switch (Type) {
    case plat::ftString:
      return kvString;
    case plat::ftWideString:
      return kvWideString;
    case plat::ftSmallint:
      return kvSmallint;
    case plat::ftWord:
      return kvWord;
    case plat::ftInteger:
    case plat::ftAutoInc:
      return kvInteger;
    case plat::ftBoolean:
      return kvBoolean;
    case plat::ftBCD:
      return kvBCD;
    default:
      return kvReal;
  }
}

inline int32_t Sign(int64_t A, int64_t B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}

// The longest prefix of S of at most Max bytes that ends on a character
// boundary.
size_t CutAtCharBoundary(const std::string& S, size_t Max) {
  if (S.size() <= Max) return S.size();
  size_t n = Max;
  // Back up over continuation bytes to the start of the cut character.
  while (n > 0 && (static_cast<uint8_t>(S[n]) & 0xC0) == 0x80) --n;
  return n;
}

[[noreturn]] void CorruptKey(const char* Context) {
  ZelDatabaseError(0x2305, Context, "Key values run past the key length");
}

// The size of the value of F stored at Key + P in a key of Length bytes;
// P moves past a string's length prefix to the value itself. A value that
// runs past the key is a corrupt key.
inline int32_t StoredValueSize(const TKeyFormat::TField& F, const uint8_t* Key, int32_t& P,
                               int32_t Length, const char* Context) {
  int32_t size = F.CoreSize;
  if (F.Kind == kvString || F.Kind == kvWideString) {
    if (P + 2 > Length) CorruptKey(Context);
    size = LoadU16(Key + P);
    P += 2;
  }
  if (P + size > Length) CorruptKey(Context);
  return size;
}

}  // namespace

void TKeyFormat::Setup(const TKeyFields& Fields, int32_t BitmapSize, int32_t MaximumKeySize,
                       TIndexKeyType KeyType, TDBStringCompare StringCompare) {
  const int32_t n = Fields.Count();
  const int32_t needBitmap = (n + 7) / 8;
  if (BitmapSize <= 0) BitmapSize = CalculateKeyBitmapSize(n);
  if (BitmapSize < needBitmap)
    ZelDatabaseErrorFmt(0x2185, "TKeyFormat.Setup", "Key bitmap of %d bytes for %d key fields",
                        {BitmapSize, n});
  const int32_t needSize = CalculateMaximumKeySize(Fields, BitmapSize);
  if (MaximumKeySize <= 0) MaximumKeySize = needSize;
  if (MaximumKeySize < needSize || MaximumKeySize > 0xFFFF)
    ZelDatabaseErrorFmt(0x2185, "TKeyFormat.Setup", "Key size %d does not fit key fields of %d",
                        {MaximumKeySize, needSize});
  Fields_.clear();
  Fields_.reserve(static_cast<size_t>(n));
  VisibleFieldCount_ = -1;
  for (int32_t i = 0; i < n; ++i) {
    const TKeyFieldItem* k = Fields.Items(i);
    TField f;
    f.DataType = k->DataType();
    f.Kind = KindOf(k->DataType());
    f.CoreSize = CalculateCoreDataSize(k->DataType());
    f.FieldSize = std::max(k->FieldSize(), 0);
    f.RecBufOffset = k->RecBufOffset();
    f.NullFlagOffset = k->NullFlagOffset();
    f.SizeMarkerOffset = k->SizeMarkerOffset();
    f.CaseInsensitive = k->CaseInsensitive();
    f.Descending = k->Descending();
    f.Hidden = k->Hidden();
    f.Name = k->FieldName();
    if (f.Hidden && VisibleFieldCount_ < 0) VisibleFieldCount_ = i;
    Fields_.push_back(std::move(f));
  }
  if (VisibleFieldCount_ < 0) VisibleFieldCount_ = n;
  BitmapSize_ = BitmapSize;
  MaximumKeySize_ = MaximumKeySize;
  KeyType_ = KeyType;
  StringCompare_ = StringCompare;
}

int32_t TKeyFormat::BuildFromRecord(uint8_t* Dest, const uint8_t* RecBuf) const {
  std::memset(Dest, 0, static_cast<size_t>(MaximumKeySize_));
  int32_t p = KeyHeaderSize + BitmapSize_;
  for (size_t i = 0; i < Fields_.size(); ++i) {
    const TField& f = Fields_[i];
    if (f.NullFlagOffset >= 0 && RecBuf[f.NullFlagOffset] != 1) continue;
    int32_t len = f.CoreSize;
    if (f.Kind == kvString || f.Kind == kvWideString) {
      len = f.SizeMarkerOffset > 0 ? LoadU16(RecBuf + f.SizeMarkerOffset) : f.FieldSize;
      // A size marker is never trusted past the field it describes.
      len = std::min(len, f.FieldSize);
      ix::StoreU16(Dest + p, static_cast<uint16_t>(len));
      p += 2;
    }
    plat::CopyBytes(Dest + p, RecBuf + f.RecBufOffset, static_cast<size_t>(len));
    p += len;
    Dest[keBitmap + i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
  }
  const int32_t length = KeyType_ == ikFixed ? MaximumKeySize_ : p;
  ix::StoreU16(Dest + keLength, static_cast<uint16_t>(length));
  return length;
}

int32_t TKeyFormat::BuildFromVariants(uint8_t* Dest, const plat::Variant& Values,
                                      const char* Context) const {
  std::memset(Dest, 0, static_cast<size_t>(MaximumKeySize_));
  int32_t p = KeyHeaderSize + BitmapSize_;
  const bool isArray = Values.IsArray();
  const int32_t low = isArray ? plat::VarArrayLowBound(Values, 1) : 0;
  const int32_t high = isArray ? plat::VarArrayHighBound(Values, 1) : 0;
  for (size_t i = 0; i < Fields_.size(); ++i) {
    const TField& f = Fields_[i];
    const plat::Variant* v = nullptr;
    if (isArray) {
      const int64_t at = static_cast<int64_t>(low) + static_cast<int64_t>(i);
      if (at <= high) v = &Values[static_cast<int32_t>(at)];
    } else if (i == 0) {
      v = &Values;
    }
    if (v == nullptr || v->IsNull() || v->IsEmpty()) continue;
    uint8_t* out = Dest + p;
    switch (f.DataType) {
      case plat::ftString: {
        // Cut as a record field of this size cuts what is written to it, so
        // a value finds the record it was stored in.
        const std::string s = v->AsString();
        const size_t room = static_cast<size_t>(std::max(f.FieldSize - 1, 0));
        const size_t len = CutAtCharBoundary(s, room);
        ix::StoreU16(out, static_cast<uint16_t>(len));
        std::memcpy(out + 2, s.data(), len);
        p += 2 + static_cast<int32_t>(len);
        break;
      }
      case plat::ftWideString: {
        const std::u16string w = plat::Utf8ToWide(v->AsString());
        size_t units = std::min(w.size(), static_cast<size_t>(std::max(f.FieldSize - 2, 0)) / 2);
        // Never split a surrogate pair.
        if (units > 0 && units < w.size() && w[units - 1] >= 0xD800 && w[units - 1] <= 0xDBFF)
          --units;
        ix::StoreU16(out, static_cast<uint16_t>(2 * units));
        for (size_t k = 0; k < units; ++k) ix::StoreU16(out + 2 + 2 * k, w[k]);
        p += 2 + static_cast<int32_t>(2 * units);
        break;
      }
      case plat::ftSmallint:
      case plat::ftWord:
        ix::StoreU16(out, static_cast<uint16_t>(v->AsInteger()));
        p += 2;
        break;
      case plat::ftInteger:
      case plat::ftAutoInc:
        ix::StoreU32(out, static_cast<uint32_t>(v->AsInteger()));
        p += 4;
        break;
      case plat::ftBoolean:
        out[0] = v->AsBoolean() ? 1 : 0;
        p += 1;
        break;
      case plat::ftFloat:
      case plat::ftCurrency:
      case plat::ftDate:
      case plat::ftTime:
      case plat::ftDateTime:
        ix::StoreDouble(out, v->AsFloat());
        p += 8;
        break;
      case plat::ftBCD:
        ix::StoreU64(out, static_cast<uint64_t>(v->AsCurrency().Value));
        p += 8;
        break;
      default:
        ZelDatabaseError(
            0x2710, Context,
            std::string(plat::FieldTypeNames[std::min<size_t>(f.DataType, plat::ftGuid)]));
    }
    Dest[keBitmap + i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
  }
  const int32_t length = KeyType_ == ikFixed ? MaximumKeySize_ : p;
  ix::StoreU16(Dest + keLength, static_cast<uint16_t>(length));
  return length;
}

void TKeyFormat::Decode(const uint8_t* Key, const TComparisonMarkers* Markers,
                        TOptimizedSearchKey& Search) const {
  const size_t n = Fields_.size();
  if (Search.Fields.size() != n) Search.Fields.resize(n);
  Search.Clear();
  const int32_t len = CheckedLength(Key, "TBTree.ConstructKeyBuf");
  int32_t p = KeyHeaderSize + BitmapSize_;
  for (size_t i = 0; i < n; ++i) {
    TOptimizedSearchKey::TField& s = Search.Fields[i];
    if (Markers != nullptr && i < Markers->size())
      s.Marker = static_cast<int8_t>(static_cast<int32_t>((*Markers)[i]) - 1);
    if ((Key[keBitmap + i / 8] & (0x80u >> (i % 8))) == 0) continue;
    const int32_t size = StoredValueSize(Fields_[i], Key, p, len, "TBTree.ConstructKeyBuf");
    s.HasValue = true;
    s.Value = Key + p;
    s.Size = size;
    p += size;
  }
}

void TKeyFormat::KeySizeOutOfRange(int32_t Length, const char* Context) {
  ZelDatabaseErrorFmt(0x2185, Context, "KeySize out of range: %d", {Length});
}

bool TKeyFormat::LocateValue(const uint8_t* Key, int32_t I, const uint8_t*& Value,
                             int32_t& Size) const {
  const int32_t len = CheckedLength(Key, "TKeyFormat.LocateValue");
  int32_t p = KeyHeaderSize + BitmapSize_;
  for (int32_t i = 0; i <= I; ++i) {
    if ((Key[keBitmap + i / 8] & (0x80u >> (i % 8))) == 0) {
      if (i == I) return false;
      continue;
    }
    const int32_t size =
        StoredValueSize(Fields_[static_cast<size_t>(i)], Key, p, len, "TKeyFormat.LocateValue");
    if (i == I) {
      Value = Key + p;
      Size = size;
      return true;
    }
    p += size;
  }
  return false;
}

inline int32_t TKeyFormat::CompareValues(const TField& F, const uint8_t* A, int32_t SizeA,
                                         const uint8_t* B, int32_t SizeB) const {
  switch (F.Kind) {
    case kvInteger:
      return Sign(static_cast<int32_t>(LoadU32(A)), static_cast<int32_t>(LoadU32(B)));
    case kvSmallint:
      return Sign(static_cast<int16_t>(LoadU16(A)), static_cast<int16_t>(LoadU16(B)));
    case kvWord:
      return Sign(LoadU16(A), LoadU16(B));
    case kvBoolean:
      return Sign(A[0], B[0]);
    case kvReal:
      return CompareReals(LoadDouble(A), LoadDouble(B));
    case kvBCD:
      // Scaled integers order exactly as the amounts they stand for.
      return Sign(static_cast<int64_t>(LoadU64(A)), static_cast<int64_t>(LoadU64(B)));
    case kvString:
      return StringCompare_(reinterpret_cast<const char*>(A), reinterpret_cast<const char*>(B),
                            SizeA, SizeB, F.CaseInsensitive, false);
    case kvWideString:
      return DBCompareWideStrings(reinterpret_cast<const char*>(A),
                                  reinterpret_cast<const char*>(B), SizeA, SizeB, F.CaseInsensitive,
                                  false);
  }
  return 0;
}

int32_t TKeyFormat::CompareKeys(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                                const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                                const uint8_t* KeyB) const {
  const int32_t lenA = CheckedLength(KeyA, "TBTree.CompareKeys");
  const int32_t lenB = CheckedLength(KeyB, "TBTree.CompareKeys");
  const int32_t total = static_cast<int32_t>(Fields_.size());
  const int32_t n = FieldCount < 1 ? total : std::min(FieldCount, total);
  const int32_t countA = MarkersA != nullptr ? static_cast<int32_t>(MarkersA->size()) : 0;
  const int32_t countB = MarkersB != nullptr ? static_cast<int32_t>(MarkersB->size()) : 0;
  int32_t pa = KeyHeaderSize + BitmapSize_;
  int32_t pb = pa;
  for (int32_t i = 0; i < n; ++i) {
    if (i < countA || i < countB) {
      const int32_t ma = i < countA ? (*MarkersA)[static_cast<size_t>(i)] : fcDefault;
      const int32_t mb = i < countB ? (*MarkersB)[static_cast<size_t>(i)] : fcDefault;
      if (ma != mb) return ma - mb;
    }
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
    const bool hasA = (KeyA[keBitmap + i / 8] & mask) != 0;
    const bool hasB = (KeyB[keBitmap + i / 8] & mask) != 0;
    const TField& f = Fields_[static_cast<size_t>(i)];
    int32_t r = 0;
    if (hasA != hasB) {
      r = hasA ? 1 : -1;
    } else if (hasA) {
      const int32_t sa = StoredValueSize(f, KeyA, pa, lenA, "TBTree.CompareKeys");
      const int32_t sb = StoredValueSize(f, KeyB, pb, lenB, "TBTree.CompareKeys");
      r = CompareValues(f, KeyA + pa, sa, KeyB + pb, sb);
      pa += sa;
      pb += sb;
    }
    if (r != 0) return f.Descending ? -r : r;
  }
  return 0;
}

int32_t TKeyFormat::CompareToOptimizedKey(int32_t FieldCount, const TOptimizedSearchKey& A,
                                          const uint8_t* KeyB) const {
  const int32_t lenB = CheckedLength(KeyB, "TBTree.CompareToOptimizedKey");
  const int32_t total = static_cast<int32_t>(Fields_.size());
  const int32_t n = FieldCount < 1 ? total : std::min(FieldCount, total);
  int32_t pb = KeyHeaderSize + BitmapSize_;
  for (int32_t i = 0; i < n; ++i) {
    const TOptimizedSearchKey::TField& a = A.Fields[static_cast<size_t>(i)];
    if (a.Marker != 0) return a.Marker;
    const bool hasB = (KeyB[keBitmap + i / 8] & (0x80u >> (i % 8))) != 0;
    const TField& f = Fields_[static_cast<size_t>(i)];
    int32_t r = 0;
    if (a.HasValue != hasB) {
      r = a.HasValue ? 1 : -1;
    } else if (hasB) {
      const int32_t sb = StoredValueSize(f, KeyB, pb, lenB, "TBTree.CompareToOptimizedKey");
      r = CompareValues(f, a.Value, a.Size, KeyB + pb, sb);
      pb += sb;
    }
    if (r != 0) return f.Descending ? -r : r;
  }
  return 0;
}

std::string TKeyFormat::KeyAsStrings(const uint8_t* Key) const {
  std::string out;
  for (int32_t i = 0; i < FieldCount(); ++i) {
    if (i > 0) out += "; ";
    const uint8_t* v = nullptr;
    int32_t size = 0;
    if (!LocateValue(Key, i, v, size)) {
      out += "null";
      continue;
    }
    const TField& f = Fields_[static_cast<size_t>(i)];
    switch (f.Kind) {
      case kvString:
        out.append(reinterpret_cast<const char*>(v), static_cast<size_t>(size));
        break;
      case kvWideString: {
        std::u16string w;
        for (int32_t k = 0; k + 1 < size; k += 2)
          w.push_back(static_cast<char16_t>(LoadU16(v + k)));
        out += plat::WideToUtf8(w);
        break;
      }
      case kvSmallint:
        out += plat::IntToStr(static_cast<int32_t>(static_cast<int16_t>(LoadU16(v))));
        break;
      case kvWord:
        out += plat::IntToStr(static_cast<int32_t>(LoadU16(v)));
        break;
      case kvInteger:
        out += plat::IntToStr(static_cast<int32_t>(LoadU32(v)));
        break;
      case kvBoolean:
        out += v[0] != 0 ? "True" : "False";
        break;
      case kvReal:
        out += plat::FloatToStr(LoadDouble(v));
        break;
      case kvBCD:
        out += plat::FloatToStr(static_cast<double>(static_cast<int64_t>(LoadU64(v))) / 10000.0);
        break;
    }
  }
  return out;
}

}  // namespace zel
