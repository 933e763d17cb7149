#pragma once
// The field layout of a stored record or result row.
//
// Record layout (little-endian; the same bytes are written to the file):
//   0 .. 13            the record prefix, stored and returned unchanged:
//                      byte 0 in-use flag, 2..5 the record store's owner code,
//                      6..9 the logical record number, 10..13 the
//                      modification stamp
//   14 .. 14 + n - 1   one null-flag byte per field, in collection order
//                      (1 the field holds a value, 0 null)
//   then the fields in collection order, each at its DataOffset:
//     ftString, ftWideString  a 2-byte size marker, then FieldSize bytes
//     ftBytes                 FieldSize bytes (the declared size)
//     any other type          its core size (GetFieldCoreSize)
//
// Rules kept by TInternalFields once opened:
//  1. Every FieldIndex is unique and below the item count, and the map entry
//     k holds the position of the item whose FieldIndex is k.
//  2. At most MaxInternalFields items, so the map never overflows.

#include <array>
#include <cstdint>
#include <string>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelConsts.h"
#include "platform/db/DB.h"
#include "platform/rtl/Classes.h"

namespace zel {

inline constexpr int32_t RecordPrefixSize = 14;
// Record prefix offsets.
inline constexpr int32_t rpInUse = 0;
inline constexpr int32_t rpOwnerCode = 2;
inline constexpr int32_t rpLogicalRecordNo = 6;
inline constexpr int32_t rpModificationStamp = 10;

// Entries of the field-index map: the most fields a record can have.
inline constexpr int32_t MaxInternalFields = 255;
// The data version of the files this engine writes ("1.50.03").
inline constexpr int32_t CurrentDataVersion = 3;

// The blob types ftBlob to ftFmtMemo.
inline bool IsBlobFieldType(plat::TFieldType Type) {
  return Type >= plat::ftBlob && Type <= plat::ftFmtMemo;
}

// Bytes of a field's value in a record by its type: 0 for strings, whose
// size is declared, and for types without a fixed size; blob fields take 16
// bytes from data version 3 on, 8 before.
int32_t GetFieldCoreSize(plat::TFieldType Type, int32_t DataVersion);

class TInternalFields;

// One field of a record layout.
class ZEL_API TInternalFieldItem : public plat::TCollectionItem {
 public:
  explicit TInternalFieldItem(plat::TCollection* Collection);

  std::string ClassName() const override { return "TInternalFieldItem"; }

  int32_t NumDecimalPlaces() const { return NumDecimalPlaces_; }
  void SetNumDecimalPlaces(int32_t Value) { NumDecimalPlaces_ = Value; }
  int32_t NullFlagOffset() const { return NullFlagOffset_; }
  void SetNullFlagOffset(int32_t Value) { NullFlagOffset_ = Value; }
  int32_t DataOffset() const { return DataOffset_; }
  void SetDataOffset(int32_t Value) { DataOffset_ = Value; }
  int32_t FieldSize() const { return FieldSize_; }
  void SetFieldSize(int32_t Value) { FieldSize_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  // Accepts the types a record can hold (the data types of stored tables,
  // decimals included) and sets FieldSize to the core size
  // for the owning list's data version; any other type raises 0x2710.
  void SetDataType(plat::TFieldType Value);
  const std::string& FieldName() const { return FieldName_; }
  void SetFieldName(const std::string& Value) { FieldName_ = Value; }
  int32_t FieldNo() const { return FieldNo_; }
  void SetFieldNo(int32_t Value) { FieldNo_ = Value; }
  bool IsVariable() const { return IsVariable_; }
  void SetIsVariable(bool Value) { IsVariable_ = Value; }
  int32_t SizeMarkerOffset() const { return SizeMarkerOffset_; }
  void SetSizeMarkerOffset(int32_t Value) { SizeMarkerOffset_ = Value; }
  const std::string& SourceField() const { return SourceField_; }
  void SetSourceField(const std::string& Value) { SourceField_ = Value; }
  int32_t FieldIndex() const { return FieldIndex_; }
  void SetFieldIndex(int32_t Value) { FieldIndex_ = Value; }
  bool Required() const { return Required_; }
  void SetRequired(bool Value) { Required_ = Value; }
  // Drawn at random the first time it is asked for: most items are copies,
  // which take their source's.
  int32_t FieldGeneratorID() const;
  void SetFieldGeneratorID(int32_t Value) {
    FieldGeneratorID_ = Value;
    GeneratorIDDrawn_ = true;
  }
  int32_t PrivilegeFlags() const { return PrivilegeFlags_; }
  void SetPrivilegeFlags(int32_t Value) { PrivilegeFlags_ = Value; }
  bool Hidden() const { return Hidden_; }
  void SetHidden(bool Value) { Hidden_ = Value; }
  TDataCompressionMode CompressionMode() const { return CompressionMode_; }
  void SetCompressionMode(TDataCompressionMode Value) { CompressionMode_ = Value; }

  // What the value can hold: ftString FieldSize - 1 bytes (room for the
  // terminating zero), ftWideString (FieldSize - 2) div 2 characters, other
  // types FieldSize.
  int32_t GetWriteableFieldSize() const;
  // The byte length a string field's size marker holds in Record (a whole
  // record of this layout). A marker larger than the field is damage and
  // raises 0x2103, so no reader copies past the field.
  int32_t ReadSizeMarker(const uint8_t* Record) const;

  // From another TInternalFieldItem everything but CompressionMode (DataType
  // before FieldSize, so the size survives); otherwise the library's rule.
  void Assign(const plat::TPersistent* Source) override;
  // Everything but SourceField and PrivilegeFlags. DataType comes before the
  // offsets and FieldSize, so that reading it back (which resets FieldSize)
  // does not lose a declared size.
  const plat::TPropList& PublishedProperties() const override;

  // The data version of the owning list (the engine's own when there is
  // none).
  int32_t OwnerDataVersion() const;

 private:
  int32_t NumDecimalPlaces_ = 0;
  int32_t NullFlagOffset_ = 0;
  int32_t DataOffset_ = 0;
  int32_t FieldSize_ = 0;
  plat::TFieldType DataType_ = plat::ftUnknown;
  std::string FieldName_;
  int32_t FieldNo_ = 0;
  bool IsVariable_ = false;
  int32_t SizeMarkerOffset_ = 0;
  std::string SourceField_;
  int32_t FieldIndex_ = 0;
  bool Required_ = false;
  mutable int32_t FieldGeneratorID_ = 0;
  mutable bool GeneratorIDDrawn_ = false;
  int32_t PrivilegeFlags_ = 0;
  bool Hidden_ = false;
  TDataCompressionMode CompressionMode_ = dcNone;
};

// The fields of a record layout, in record order.
class ZEL_API TInternalFields : public plat::TCollection {
 public:
  explicit TInternalFields(plat::TPersistent* Owner = nullptr);

  std::string ClassName() const override { return "TInternalFields"; }

  // A new item at the end with a random FieldGeneratorID.
  TInternalFieldItem* Add();
  TInternalFieldItem* GetIndex(int32_t Index) const;
  void SetIndex(int32_t Index, const TInternalFieldItem* Item);
  // The item whose FieldIndex is FieldIndex (after Open).
  TInternalFieldItem* GetField(int32_t FieldIndex) const;
  // Map entry K.
  int32_t GetFieldIndexValue(int32_t K) const;
  // The first item whose FieldName (or SourceField) equals Name ignoring
  // case, or nullptr.
  TInternalFieldItem* FindField(const std::string& Name) const;
  TInternalFieldItem* FindSourceField(const std::string& Name) const;

  // Lays the record out: offsets, size markers, null flags, RecordSize. A
  // negative declared size or a record beyond 2 GB raises 0x2185.
  void SetDefaultOffsets();
  // Finds the blob and auto-increment fields and fills the field-index map.
  // More fields than the map holds raise 0x2514.
  void Open();
  // Removes all items.
  void Close();
  // From another TInternalFields: its items, data version and map. In every
  // case the layout must then be made again (RecordSize 0, UsesBlobs false,
  // AutoIncFieldNo -1).
  void Assign(const plat::TPersistent* Source) override;

  int32_t RecordSize() const { return RecordSize_; }
  void SetRecordSize(int32_t Value) { RecordSize_ = Value; }
  bool UsesBlobs() const { return UsesBlobs_; }
  void SetUsesBlobs(bool Value) { UsesBlobs_ = Value; }
  int32_t AutoIncFieldNo() const { return AutoIncFieldNo_; }
  void SetAutoIncFieldNo(int32_t Value) { AutoIncFieldNo_ = Value; }
  int32_t DataVersion() const { return DataVersion_; }
  void SetDataVersion(int32_t Value) { DataVersion_ = Value; }

 protected:
  TInternalFields(plat::TCollectionItemClass ItemClass, plat::TPersistent* Owner);

 private:
  int32_t RecordSize_ = 0;
  bool UsesBlobs_ = false;
  int32_t AutoIncFieldNo_ = -1;
  std::array<int32_t, MaxInternalFields> FieldIndexMap_{};
  int32_t DataVersion_ = CurrentDataVersion;
};

// A field of a search layout: whether it is part of the index searched, and
// whether that index orders it descending.
class TSearchFieldItem : public TInternalFieldItem {
 public:
  explicit TSearchFieldItem(plat::TCollection* Collection) : TInternalFieldItem(Collection) {}

  std::string ClassName() const override { return "TSearchFieldItem"; }

  bool InIndex() const { return InIndex_; }
  void SetInIndex(bool Value) { InIndex_ = Value; }
  bool Descending() const { return Descending_; }
  void SetDescending(bool Value) { Descending_ = Value; }

  // As TInternalFieldItem, plus InIndex from another TSearchFieldItem.
  void Assign(const plat::TPersistent* Source) override;

 private:
  bool InIndex_ = false;
  bool Descending_ = false;
};

class TSearchFields : public TInternalFields {
 public:
  explicit TSearchFields(plat::TPersistent* Owner = nullptr);

  std::string ClassName() const override { return "TSearchFields"; }

  TSearchFieldItem* Add() { return static_cast<TSearchFieldItem*>(TInternalFields::Add()); }
  // From TSearchFields item by item; from anything else as TInternalFields.
  void Assign(const plat::TPersistent* Source) override;
};

}  // namespace zel
