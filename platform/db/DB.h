#pragma once
// The dataset framework's definitions: field types and the other enumerations
// in the library's order (stored files and type ranges depend on the order),
// field and index definitions.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Visibility.h"

namespace plat {

// Stored in table definitions by ordinal, and the engine tests ranges of it
// (the blob types ftBlob..ftTypedBinary): never reorder.
enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid
};

// The identifier of each field type, as component text stores it.
inline constexpr std::array<std::string_view, ftGuid + 1> FieldTypeIdents = {
    "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
    "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
    "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
    "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
    "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
    "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid"};

// The display name of each field type, as error texts show it.
inline constexpr std::array<std::string_view, ftGuid + 1> FieldTypeNames = {
    "Unknown",    "String",     "SmallInt", "Integer",     "Word",      "Boolean",
    "Float",      "Currency",   "BCD",      "Date",        "Time",      "DateTime",
    "Bytes",      "VarBytes",   "AutoInc",  "Blob",        "Memo",      "Graphic",
    "FmtMemo",    "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor",    "FixedChar",
    "WideString", "Largeint",   "ADT",      "Array",       "Reference", "DataSet",
    "OraBlob",    "OraClob",    "Variant",  "Interface",   "IDispatch", "Guid"};

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
using TFieldKinds = TSet<TFieldKind>;

enum TFieldAttribute : uint8_t { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = TSet<TFieldAttribute>;

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange
};

// The record-buffer protocol between the framework and a dataset.
enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeItem : uint8_t { rmExact, rmCenter };
using TResyncMode = TSet<TResyncModeItem>;

enum TIndexOption : uint8_t {
  ixPrimary,
  ixUnique,
  ixDescending,
  ixCaseInsensitive,
  ixExpression,
  ixNonMaintained
};
using TIndexOptions = TSet<TIndexOption>;

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

enum TUpdateStatus : uint8_t { usUnmodified, usModified, usInserted, usDeleted };
using TUpdateStatusSet = TSet<TUpdateStatus>;

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TDefCollection;
class TDataSet;
class TField;

// A collection item with a name that is unique (ignoring case) within its
// definition collection.
class PLAT_API TNamedItem : public TCollectionItem {
 public:
  explicit TNamedItem(TCollection* Collection) : TCollectionItem(Collection) {}
  std::string ClassName() const override { return "TNamedItem"; }

  const std::string& Name() const { return name_; }
  // Another item of the collection with the same name raises EDatabaseError
  // "Duplicate name '%s' in %s"; the name is then unchanged.
  void SetName(const std::string& Value);
  std::string DisplayName() const override { return name_; }
  void SetDisplayName(const std::string& Value) override { SetName(Value); }
  // Name.
  const TPropList& PublishedProperties() const override;

 private:
  std::string name_;
};

// Field or index definitions of a dataset. OnUpdate runs after every change
// (once, after the outermost EndUpdate, inside BeginUpdate/EndUpdate).
class PLAT_API TDefCollection : public TCollection {
 public:
  TDefCollection(TCollectionItemClass ItemClass, TPersistent* DataSet);
  std::string ClassName() const override { return "TDefCollection"; }

  TPersistent* DataSet() const { return Owner(); }
  // Position of the item named Name (ignoring case), -1 when there is none.
  int32_t IndexOf(std::string_view Name) const;
  // The item named Name, or nullptr.
  TNamedItem* Find(std::string_view Name) const;

  // Whether the definitions reflect the dataset; any change clears it.
  bool Updated() const { return updated_; }
  void SetUpdated(bool Value) { updated_ = Value; }

  TNotifyEvent OnUpdate;

 protected:
  void Update(TCollectionItem* Item) override;

 private:
  bool updated_ = false;
};

class TFieldDefs;

class PLAT_API TFieldDef : public TNamedItem {
 public:
  explicit TFieldDef(TCollection* Collection) : TNamedItem(Collection) {}
  std::string ClassName() const override { return "TFieldDef"; }

  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType Value);
  int32_t Size() const { return size_; }
  void SetSize(int32_t Value);
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t Value);
  TFieldAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFieldAttributes Value);
  // faRequired in Attributes.
  bool Required() const { return attributes_.Contains(faRequired); }
  void SetRequired(bool Value);
  // The field's number in its dataset; the position + 1 unless one was set.
  int32_t FieldNo() const { return fieldNo_ > 0 ? fieldNo_ : Index() + 1; }
  void SetFieldNo(int32_t Value) { fieldNo_ = Value; }

  // A field of the class that shows DataType, named, sized and marked
  // required and read-only as this definition says, attached to the dataset
  // that owns the definitions (if any) and owned by Owner (none: it belongs
  // to that dataset). A type without a field class raises EDatabaseError
  // "Field '%s' is of an unknown type".
  TField* CreateField(TComponent* Owner) const;
  // The same for the dataset that owns these definitions, known to the
  // caller: a dataset making its default fields skips finding itself.
  TField* CreateField(TComponent* Owner, TDataSet* DataSet) const;

  // From another TFieldDef: name, type, size, precision, attributes and
  // field number.
  void Assign(const TPersistent* Source) override;
  // Name, Attributes, DataType, Precision, Size (the field number is the
  // position when read back).
  const TPropList& PublishedProperties() const override;

 private:
  TFieldType dataType_ = ftUnknown;
  int32_t size_ = 0;
  int32_t precision_ = 0;
  TFieldAttributes attributes_;
  int32_t fieldNo_ = 0;
};

class PLAT_API TFieldDefs : public TDefCollection {
 public:
  explicit TFieldDefs(TPersistent* DataSet = nullptr);
  std::string ClassName() const override { return "TFieldDefs"; }

  // A new definition at the end; its field number is its position + 1.
  TFieldDef* AddFieldDef();
  // An empty name raises EDatabaseError "Field name missing"; a name already
  // there raises "Duplicate name '%s' in TFieldDefs". Nothing is added then.
  TFieldDef* Add(const std::string& Name, TFieldType DataType, int32_t Size = 0,
                 bool Required = false);
  // The definition named Name (ignoring case); none raises EDatabaseError
  // "Field '%s' not found".
  TFieldDef* Find(std::string_view Name) const;
  TFieldDef* Items(int32_t Index) const;
  TFieldDef* operator[](int32_t Index) const { return Items(Index); }
  // Refills the definitions from the owning dataset (TDataSet::InitFieldDefs).
  void Update();

 protected:
  using TDefCollection::Update;
};

class PLAT_API TIndexDef : public TNamedItem {
 public:
  explicit TIndexDef(TCollection* Collection) : TNamedItem(Collection) {}
  std::string ClassName() const override { return "TIndexDef"; }

  // Field lists are field names separated by ";".
  const std::string& Fields() const { return fields_; }
  void SetFields(const std::string& Value);
  const std::string& CaseInsFields() const { return caseInsFields_; }
  void SetCaseInsFields(const std::string& Value);
  const std::string& DescFields() const { return descFields_; }
  void SetDescFields(const std::string& Value);
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions Value);
  const std::string& Source() const { return source_; }
  void SetSource(const std::string& Value);

  // Whether the key part for FieldName compares ignoring case: all parts with
  // ixCaseInsensitive and no CaseInsFields, else the parts CaseInsFields names.
  bool IsCaseInsensitiveField(std::string_view FieldName) const;

  // From another TIndexDef: name, the three field lists, options and source.
  void Assign(const TPersistent* Source) override;
  // Name, CaseInsFields, DescFields, Fields, Options, Source.
  const TPropList& PublishedProperties() const override;

 private:
  std::string fields_;
  std::string caseInsFields_;
  std::string descFields_;
  TIndexOptions options_;
  std::string source_;
};

class PLAT_API TIndexDefs : public TDefCollection {
 public:
  explicit TIndexDefs(TPersistent* DataSet = nullptr);
  std::string ClassName() const override { return "TIndexDefs"; }

  TIndexDef* AddIndexDef();
  // A name already there raises "Duplicate name '%s' in TIndexDefs" and
  // nothing is added. An empty name is allowed (an unnamed primary index).
  TIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options);
  // The definition named Name (ignoring case); none raises EDatabaseError
  // "Index '%s' not found".
  TIndexDef* Find(std::string_view Name) const;
  TIndexDef* Items(int32_t Index) const;
  TIndexDef* operator[](int32_t Index) const { return Items(Index); }

  // The first index, in collection order, whose fields are exactly Fields
  // (names compared ignoring case), else the first whose fields begin with
  // them; expression indexes never match. With CaseInsensitive only indexes
  // whose parts for these fields ignore case qualify. nullptr when none does.
  TIndexDef* GetIndexForFields(std::string_view Fields, bool CaseInsensitive) const;
  // GetIndexForFields(Fields, false); none raises EDatabaseError
  // "No index for fields '%s'".
  TIndexDef* FindIndexForFields(std::string_view Fields) const;
  // Brings the definitions up to date from the owning dataset
  // (TDataSet::UpdateIndexDefs).
  void Update();

 protected:
  using TDefCollection::Update;
};

}  // namespace plat
