#include <limits>
#include <vector>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataFields.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Random.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

int32_t RandomGeneratorID() {
  return plat::Random(std::numeric_limits<int32_t>::max());
}

bool AcceptedType(plat::TFieldType Type) {
  switch (Type) {
    case plat::ftString:
    case plat::ftSmallint:
    case plat::ftInteger:
    case plat::ftWord:
    case plat::ftBoolean:
    case plat::ftFloat:
    case plat::ftCurrency:
    // Decimal fields are laid out, keyed, compared and read as 8-byte
    // scaled integers everywhere else, so a layout must be able to hold one.
    case plat::ftBCD:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
    case plat::ftBytes:
    case plat::ftAutoInc:
    case plat::ftBlob:
    case plat::ftMemo:
    case plat::ftGraphic:
    case plat::ftFmtMemo:
    case plat::ftWideString:
      return true;
    default:
      return false;
  }
}

}  // namespace

int32_t GetFieldCoreSize(plat::TFieldType Type, int32_t DataVersion) {
  switch (Type) {
    case plat::ftSmallint:
    case plat::ftWord:
      return 2;
    case plat::ftInteger:
    case plat::ftAutoInc:
      return 4;
    case plat::ftBoolean:
      return 1;
    case plat::ftFloat:
    case plat::ftCurrency:
    case plat::ftBCD:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
    case plat::ftLargeint:
      return 8;
    case plat::ftBlob:
    case plat::ftMemo:
    case plat::ftGraphic:
    case plat::ftFmtMemo:
      return DataVersion >= 3 ? 16 : 8;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- TInternalFieldItem

TInternalFieldItem::TInternalFieldItem(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection) {}

int32_t TInternalFieldItem::FieldGeneratorID() const {
  if (!GeneratorIDDrawn_) {
    FieldGeneratorID_ = RandomGeneratorID();
    GeneratorIDDrawn_ = true;
  }
  return FieldGeneratorID_;
}

int32_t TInternalFieldItem::OwnerDataVersion() const {
  const auto* fields = dynamic_cast<const TInternalFields*>(Collection());
  return fields != nullptr ? fields->DataVersion() : CurrentDataVersion;
}

void TInternalFieldItem::SetDataType(plat::TFieldType Value) {
  if (!AcceptedType(Value)) {
    const size_t i = static_cast<size_t>(Value);
    ZelDatabaseError(
        0x2710, "TInternalFieldItem.SetDataType",
        i < plat::FieldTypeNames.size() ? std::string(plat::FieldTypeNames[i]) : std::to_string(i));
  }
  DataType_ = Value;
  FieldSize_ = GetFieldCoreSize(Value, OwnerDataVersion());
}

int32_t TInternalFieldItem::GetWriteableFieldSize() const {
  switch (DataType_) {
    case plat::ftString:
      return FieldSize_ - 1;
    case plat::ftWideString:
      return (FieldSize_ - 2) / 2;
    default:
      return FieldSize_;
  }
}

int32_t TInternalFieldItem::ReadSizeMarker(const uint8_t* Record) const {
  PLAT_ASSERT(SizeMarkerOffset_ > 0, "Field has no size marker");
  const uint8_t* p = Record + SizeMarkerOffset_;
  const int32_t length = p[0] | (p[1] << 8);
  if (length > FieldSize_)
    ZelDatabaseError(0x2103, "TInternalFieldItem.ReadSizeMarker",
                     "Size marker of " + FieldName_ + " is larger than the field");
  return length;
}

void TInternalFieldItem::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TInternalFieldItem*>(Source);
  if (source == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  if (source == this) return;
  FieldName_ = source->FieldName_;
  FieldNo_ = source->FieldNo_;
  FieldIndex_ = source->FieldIndex_;
  SetDataType(source->DataType_);
  FieldSize_ = source->FieldSize_;
  NumDecimalPlaces_ = source->NumDecimalPlaces_;
  DataOffset_ = source->DataOffset_;
  NullFlagOffset_ = source->NullFlagOffset_;
  IsVariable_ = source->IsVariable_;
  SizeMarkerOffset_ = source->SizeMarkerOffset_;
  SourceField_ = source->SourceField_;
  Required_ = source->Required_;
  SetFieldGeneratorID(source->FieldGeneratorID());
  PrivilegeFlags_ = source->PrivilegeFlags_;
  Hidden_ = source->Hidden_;
}

const plat::TPropList& TInternalFieldItem::PublishedProperties() const {
  using T = TInternalFieldItem;
  static const plat::TPropList list =
      plat::TPublished<T>(plat::TCollectionItem::PublishedProperties())
          .Integer("NumDecimalPlaces", &T::NumDecimalPlaces, &T::SetNumDecimalPlaces, 0)
          .Enumeration(
              "DataType", &T::DataType, &T::SetDataType,
              std::vector<std::string>(plat::FieldTypeIdents.begin(), plat::FieldTypeIdents.end()))
          .Integer("NullFlagOffset", &T::NullFlagOffset, &T::SetNullFlagOffset)
          .Integer("DataOffset", &T::DataOffset, &T::SetDataOffset)
          .Integer("FieldSize", &T::FieldSize, &T::SetFieldSize)
          .String("FieldName", &T::FieldName, &T::SetFieldName)
          .Integer("FieldNo", &T::FieldNo, &T::SetFieldNo)
          .Boolean("IsVariable", &T::IsVariable, &T::SetIsVariable, false)
          .Integer("SizeMarkerOffset", &T::SizeMarkerOffset, &T::SetSizeMarkerOffset)
          .Integer("FieldIndex", &T::FieldIndex, &T::SetFieldIndex)
          .Boolean("Required", &T::Required, &T::SetRequired)
          .Integer("FieldGeneratorID", &T::FieldGeneratorID, &T::SetFieldGeneratorID)
          .Boolean("Hidden", &T::Hidden, &T::SetHidden, false)
          .Enumeration("CompressionMode", &T::CompressionMode, &T::SetCompressionMode,
                       {"dcNone", "dcZelZLib", "dcZelCustom", "dcUsrCustom"}, dcNone);
  return list;
}

// ---------------------------------------------------------------- TInternalFields

TInternalFields::TInternalFields(plat::TPersistent* Owner)
    : TInternalFields(plat::CollectionItemClass<TInternalFieldItem>(), Owner) {}

TInternalFields::TInternalFields(plat::TCollectionItemClass ItemClass, plat::TPersistent* Owner)
    : plat::TCollection(std::move(ItemClass), Owner) {}

TInternalFieldItem* TInternalFields::Add() {
  // A new item draws its generator ID when first asked for it.
  return static_cast<TInternalFieldItem*>(plat::TCollection::Add());
}

TInternalFieldItem* TInternalFields::GetIndex(int32_t Index) const {
  return static_cast<TInternalFieldItem*>(Items(Index));
}

void TInternalFields::SetIndex(int32_t Index, const TInternalFieldItem* Item) {
  SetItems(Index, Item);
}

TInternalFieldItem* TInternalFields::GetField(int32_t FieldIndex) const {
  PLAT_ASSERT(FieldIndex >= 0 && FieldIndex < Count() && FieldIndex < MaxInternalFields,
              "Invalid field index in GetField");
  return GetIndex(FieldIndexMap_[static_cast<size_t>(FieldIndex)]);
}

int32_t TInternalFields::GetFieldIndexValue(int32_t K) const {
  PLAT_ASSERT(K >= 0 && K < MaxInternalFields, "Invalid field index");
  return FieldIndexMap_[static_cast<size_t>(K)];
}

TInternalFieldItem* TInternalFields::FindField(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (plat::AnsiSameText(GetIndex(i)->FieldName(), Name)) return GetIndex(i);
  return nullptr;
}

TInternalFieldItem* TInternalFields::FindSourceField(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (plat::AnsiSameText(GetIndex(i)->SourceField(), Name)) return GetIndex(i);
  return nullptr;
}

void TInternalFields::SetDefaultOffsets() {
  const int32_t n = Count();
  // Sizes are 32-bit in every item; the sum is checked before it is kept.
  int64_t offset = int64_t{n} + RecordPrefixSize;
  for (int32_t i = 0; i < n; ++i) {
    TInternalFieldItem* item = GetIndex(i);
    int64_t size = 0;
    switch (item->DataType()) {
      case plat::ftString:
      case plat::ftWideString:
        item->SetSizeMarkerOffset(static_cast<int32_t>(offset));
        offset += 2;
        size = item->FieldSize();
        break;
      case plat::ftBytes:
        item->SetSizeMarkerOffset(0);
        size = item->FieldSize();
        break;
      default:
        item->SetSizeMarkerOffset(0);
        item->SetFieldSize(GetFieldCoreSize(item->DataType(), DataVersion_));
        size = item->FieldSize();
        break;
    }
    if (size < 0)
      ZelDatabaseError(0x2185, "TInternalFields.SetDefaultOffsets",
                       "Invalid field size for " + item->FieldName());
    item->SetDataOffset(static_cast<int32_t>(offset));
    item->SetNullFlagOffset(RecordPrefixSize + i);
    offset += size;
    if (offset > std::numeric_limits<int32_t>::max())
      ZelDatabaseError(0x2185, "TInternalFields.SetDefaultOffsets", "Record size is too large");
  }
  RecordSize_ = static_cast<int32_t>(offset);
}

void TInternalFields::Open() {
  const int32_t n = Count();
  if (n > MaxInternalFields)
    ZelDatabaseErrorFmt(0x2514, "TInternalFields.Open", SzelMaxLimitFmt, {MaxInternalFields});
  AutoIncFieldNo_ = -1;
  for (int32_t i = 0; i < n; ++i) {
    const TInternalFieldItem* item = GetIndex(i);
    if (!UsesBlobs_) UsesBlobs_ = IsBlobFieldType(item->DataType());
    if (item->DataType() == plat::ftAutoInc) AutoIncFieldNo_ = item->FieldIndex();
  }
  FieldIndexMap_.fill(0);
  std::array<bool, MaxInternalFields> seen{};
  for (int32_t i = 0; i < n; ++i) {
    const int32_t k = GetIndex(i)->FieldIndex();
    PLAT_ASSERT(k >= 0 && k < n, "Invalid field index");
    PLAT_ASSERT(!seen[static_cast<size_t>(k)], "Field indexes degenerate");
    seen[static_cast<size_t>(k)] = true;
    FieldIndexMap_[static_cast<size_t>(k)] = i;
  }
}

void TInternalFields::Close() {
  Clear();
}

void TInternalFields::Assign(const plat::TPersistent* Source) {
  if (const auto* source = dynamic_cast<const TInternalFields*>(Source)) {
    if (source != this) {
      BeginUpdate();
      const auto endUpdate = plat::OnScopeExit([this] { EndUpdate(); });
      Clear();
      DataVersion_ = source->DataVersion_;
      for (int32_t i = 0; i < source->Count(); ++i) Add()->Assign(source->GetIndex(i));
      FieldIndexMap_ = source->FieldIndexMap_;
    }
  } else {
    plat::TCollection::Assign(Source);
  }
  RecordSize_ = 0;
  UsesBlobs_ = false;
  AutoIncFieldNo_ = -1;
}

// ---------------------------------------------------------------- search fields

void TSearchFieldItem::Assign(const plat::TPersistent* Source) {
  TInternalFieldItem::Assign(Source);
  if (const auto* source = dynamic_cast<const TSearchFieldItem*>(Source))
    InIndex_ = source->InIndex_;
}

TSearchFields::TSearchFields(plat::TPersistent* Owner)
    : TInternalFields(plat::CollectionItemClass<TSearchFieldItem>(), Owner) {}

void TSearchFields::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TSearchFields*>(Source);
  if (source == nullptr) {
    TInternalFields::Assign(Source);
    return;
  }
  if (source == this) return;
  BeginUpdate();
  const auto endUpdate = plat::OnScopeExit([this] { EndUpdate(); });
  Clear();
  for (int32_t i = 0; i < source->Count(); ++i) Add()->Assign(source->GetIndex(i));
}

}  // namespace zel
