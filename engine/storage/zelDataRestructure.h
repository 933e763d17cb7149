#pragma once
// Restructure descriptors: the requested new structure of a table, as field
// and index descriptors that each point to the field or index they continue.
//
// Validation against the table's current definitions classifies every item
// and the whole request by how much the stored data is affected, writes a
// readable change log, and rejects impossible index requests. The restructure
// code then decides from the classification whether rows must be copied.
//
// Rules of the classification:
//  1. Statuses are ordered by impact; a request's status is the largest of
//     its items' statuses and of what the item counts say.
//  2. A field descriptor without a source field is new; one with a source
//     field must name a field of the current definitions.
//  3. A current field that no descriptor continues is lost with its values:
//     the request is then dcDataLoss.
//  4. Nothing is changed by validation but the statuses and the log.

#include <array>
#include <cstdint>
#include <string>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommonText.h"
#include "platform/db/DB.h"
#include "platform/rtl/Classes.h"

namespace zel {

// In increasing order of impact.
enum TDefChangeType : uint8_t {
  dcNoChange,
  dcDefOnlyChange,
  dcAdded,
  dcDeleted,
  dcDataChange,
  dcDataLoss
};

inline constexpr std::array<const char*, 6> DefChangeTypeNames = {
    "Unchanged Item", "Definition Only Changed",   "New Item",
    "Deleted Item",   "Data Requirements Changed", "Data Loss Possible"};

inline const char* DefChangeTypeName(TDefChangeType Value) {
  return Value < DefChangeTypeNames.size() ? DefChangeTypeNames[Value] : "";
}

// Whether a status means that the stored records or keys must be rebuilt.
inline bool IsDataChangeStatus(TDefChangeType Value) {
  return Value == dcAdded || Value == dcDeleted || Value == dcDataChange || Value == dcDataLoss;
}

// Whether values of type Old are lost when the field becomes type New.
bool FieldTypeChangeLosesData(plat::TFieldType New, plat::TFieldType Old);

// ---------------------------------------------------------------------------
// Fields.

class ZEL_API TRestructureFieldDef : public plat::TCollectionItem {
 public:
  explicit TRestructureFieldDef(plat::TCollection* Collection)
      : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TRestructureFieldDef"; }

  TDefChangeType ChangeStatus() const { return ChangeStatus_; }
  void SetChangeStatus(TDefChangeType Value) { ChangeStatus_ = Value; }
  bool Required() const { return Required_; }
  void SetRequired(bool Value) { Required_ = Value; }
  int32_t Size() const { return Size_; }
  void SetSize(int32_t Value) { Size_ = Value; }
  const std::string& Name() const { return Name_; }
  void SetName(const std::string& Value) { Name_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  void SetDataType(plat::TFieldType Value) { DataType_ = Value; }
  int32_t Precision() const { return Precision_; }
  void SetPrecision(int32_t Value) { Precision_ = Value; }
  // The current field this item continues; empty for a new field.
  const std::string& SourceFieldName() const { return SourceFieldName_; }
  void SetSourceFieldName(const std::string& Value) { SourceFieldName_ = Value; }

  std::string DisplayName() const override { return Name_; }

  // From another TRestructureFieldDef everything; from a TFieldDef its
  // name, type, size, precision and required flag, continuing that field.
  void Assign(const plat::TPersistent* Source) override;
  // Into a TFieldDef: name, type, size, precision and required flag.
  void AssignTo(plat::TPersistent* Dest) const override;

 private:
  TDefChangeType ChangeStatus_ = dcNoChange;
  bool Required_ = false;
  int32_t Size_ = 0;
  std::string Name_;
  plat::TFieldType DataType_ = plat::ftUnknown;
  int32_t Precision_ = 0;
  std::string SourceFieldName_;
};

class ZEL_API TRestructureFieldDefs : public plat::TCollection {
 public:
  TRestructureFieldDefs();

  std::string ClassName() const override { return "TRestructureFieldDefs"; }

  TRestructureFieldDef* AddFieldDef() {
    return static_cast<TRestructureFieldDef*>(plat::TCollection::Add());
  }
  TRestructureFieldDef* AddAndSetFieldDef(const std::string& Name, plat::TFieldType DataType,
                                          int32_t Size, int32_t Precision, bool Required,
                                          const std::string& SourceFieldName);
  TRestructureFieldDef* Items(int32_t Index) const {
    return static_cast<TRestructureFieldDef*>(plat::TCollection::Items(Index));
  }
  void DeleteItem(int32_t Index) { Delete(Index); }
  TRestructureFieldDef* Insert(int32_t Index) {
    return static_cast<TRestructureFieldDef*>(plat::TCollection::Insert(Index));
  }
  // Exchanges the positions of two items; an index out of range raises
  // plat::Exception "Invalid Field Def Index in SwapDefs".
  void SwapDefs(int32_t Index1, int32_t Index2);

  // By name, ignoring case; nullptr when none.
  TRestructureFieldDef* Find(const std::string& Name) const;
  // The current field of that name, or nullptr.
  plat::TFieldDef* FindSourceDef(const std::string& SourceName) const;
  // Whether some current field's name is the name of no item (false without
  // current definitions).
  bool CheckIfFieldsDeleted() const;

  // Classifies every item and the whole against the current fields (which
  // become FieldDefs) and writes the change log.
  void ValidateAgainstOriginalDefs(plat::TFieldDefs* CurrentDefs);

  // From TRestructureFieldDefs: items and settings; from TFieldDefs: one
  // unchanged item per field, and those fields become the current ones.
  void Assign(const plat::TPersistent* Source) override;
  // Into TFieldDefs: one field definition per item.
  void AssignTo(plat::TPersistent* Dest) const override;

  TDefChangeType ChangeStatus() const { return ChangeStatus_; }
  void SetChangeStatus(TDefChangeType Value) { ChangeStatus_ = Value; }
  int32_t AutoIncResetValue() const { return AutoIncResetValue_; }
  void SetAutoIncResetValue(int32_t Value) { AutoIncResetValue_ = Value; }
  bool ResetAutoIncValue() const { return ResetAutoIncValue_; }
  void SetResetAutoIncValue(bool Value) { ResetAutoIncValue_ = Value; }
  plat::TStrings* ChangeLog() const { return ChangeLog_; }
  void SetChangeLog(plat::TStrings* Value) { ChangeLog_ = Value; }
  plat::TFieldDefs* FieldDefs() const { return FieldDefs_; }
  void SetFieldDefs(plat::TFieldDefs* Value) { FieldDefs_ = Value; }

 private:
  void Log(const std::string& Line) const;

  TDefChangeType ChangeStatus_ = dcNoChange;
  int32_t AutoIncResetValue_ = 0;
  bool ResetAutoIncValue_ = false;
  plat::TStrings* ChangeLog_ = nullptr;
  plat::TFieldDefs* FieldDefs_ = nullptr;
};

// ---------------------------------------------------------------------------
// Indexes.

class ZEL_API TRestructureIndexDef : public plat::TCollectionItem {
 public:
  explicit TRestructureIndexDef(plat::TCollection* Collection)
      : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TRestructureIndexDef"; }

  TDefChangeType ChangeStatus() const { return ChangeStatus_; }
  void SetChangeStatus(TDefChangeType Value) { ChangeStatus_ = Value; }
  // The current index this item continues, or nullptr (not owned).
  plat::TIndexDef* SourceIndexDef() const { return SourceIndexDef_; }
  void SetSourceIndexDef(plat::TIndexDef* Value) { SourceIndexDef_ = Value; }
  const std::string& Name() const { return Name_; }
  void SetName(const std::string& Value) { Name_ = Value; }
  // Field lists are field names separated by ";".
  const std::string& Fields() const { return Fields_; }
  void SetFields(const std::string& Value) { Fields_ = Value; }
  const std::string& CaseInsFields() const { return CaseInsFields_; }
  void SetCaseInsFields(const std::string& Value) { CaseInsFields_ = Value; }
  const std::string& DescFields() const { return DescFields_; }
  void SetDescFields(const std::string& Value) { DescFields_ = Value; }
  plat::TIndexOptions Options() const { return Options_; }
  void SetOptions(plat::TIndexOptions Value) { Options_ = Value; }

  std::string DisplayName() const override { return Name_; }

  // From another TRestructureIndexDef everything; from a TIndexDef its name,
  // field lists and options, continuing that index.
  void Assign(const plat::TPersistent* Source) override;
  // Into a TIndexDef: name, field lists and options.
  void AssignTo(plat::TPersistent* Dest) const override;

 private:
  TDefChangeType ChangeStatus_ = dcNoChange;
  plat::TIndexDef* SourceIndexDef_ = nullptr;
  std::string Name_;
  std::string Fields_;
  std::string CaseInsFields_;
  std::string DescFields_;
  plat::TIndexOptions Options_;
};

class ZEL_API TRestructureIndexDefs : public plat::TCollection {
 public:
  TRestructureIndexDefs();

  std::string ClassName() const override { return "TRestructureIndexDefs"; }

  TRestructureIndexDef* AddIndexDef() {
    return static_cast<TRestructureIndexDef*>(plat::TCollection::Add());
  }
  TRestructureIndexDef* AddAndSetIndexDef(const std::string& Name, const std::string& Fields,
                                          const std::string& CaseInsFields,
                                          const std::string& DescFields,
                                          plat::TIndexOptions Options,
                                          plat::TIndexDef* SourceIndexDef);
  TRestructureIndexDef* Items(int32_t Index) const {
    return static_cast<TRestructureIndexDef*>(plat::TCollection::Items(Index));
  }
  void DeleteItem(int32_t Index) { Delete(Index); }
  // By name, ignoring case; nullptr when none.
  TRestructureIndexDef* Find(const std::string& Name) const;
  // The item that continues IndexDef, or nullptr.
  TRestructureIndexDef* FindSourceDef(const plat::TIndexDef* IndexDef) const;

  // Removes the field from every item's Fields and, where it was there, from
  // its CaseInsFields and DescFields; an item left without fields is deleted.
  void DeleteField(const std::string& FieldName);
  // Renames the field (matched ignoring case) in every item's lists.
  void ReplaceFieldName(const std::string& OldName, const std::string& NewName);
  // Whether more than one item is primary.
  bool CheckForDuplicatePrimaryIndexes() const;

  // Classifies every item and the whole against the current indexes, with
  // the requested fields (already classified) for the field checks.
  void ValidateAgainstOriginalDefs(const plat::TIndexDefs* CurrentDefs,
                                   const TRestructureFieldDefs& FieldDefs);
  // Checks the requested indexes against the requested fields; every
  // failure is 0x270C "Invalid modify request".
  void ValidateNewIndexDefs(const TRestructureFieldDefs& FieldDefs);

  // From TRestructureIndexDefs: items and settings; from TIndexDefs: one
  // unchanged item per index, continuing it.
  void Assign(const plat::TPersistent* Source) override;
  // Into TIndexDefs: one index definition per item.
  void AssignTo(plat::TPersistent* Dest) const override;

  TDefChangeType ChangeStatus() const { return ChangeStatus_; }
  void SetChangeStatus(TDefChangeType Value) { ChangeStatus_ = Value; }
  plat::TStrings* ChangeLog() const { return ChangeLog_; }
  void SetChangeLog(plat::TStrings* Value) { ChangeLog_ = Value; }
  int32_t MaximumKeySize() const { return MaximumKeySize_; }
  void SetMaximumKeySize(int32_t Value) { MaximumKeySize_ = Value; }
  int32_t MaximumKeyFieldCount() const { return MaximumKeyFieldCount_; }
  void SetMaximumKeyFieldCount(int32_t Value) { MaximumKeyFieldCount_ = Value; }

 private:
  void Log(const std::string& Line) const;
  TDefChangeType ClassifyItem(const TRestructureIndexDef& Item,
                              const TRestructureFieldDefs& FieldDefs) const;

  TDefChangeType ChangeStatus_ = dcNoChange;
  plat::TStrings* ChangeLog_ = nullptr;
  int32_t MaximumKeySize_ = 500;
  int32_t MaximumKeyFieldCount_ = 32;
};

// ---------------------------------------------------------------------------

// What a restructure asks of the table's storage: the requested descriptors
// (with their statuses), the destination descriptors the new definition is
// built from, new values for the table header's counters, and the table
// settings that may change with it. Nothing is owned.
struct TInternalRestructureRecord {
  TRestructureFieldDefs* NewFieldDefs = nullptr;
  TRestructureIndexDefs* NewIndexDefs = nullptr;
  TRestructureFieldDefs* DestFieldDefs = nullptr;
  TRestructureIndexDefs* DestIndexDefs = nullptr;
  // Counters of the table header: each is kept unless its reset flag is set.
  bool ResetAutoIncValue = false;
  int32_t AutoIncValue = 0;
  bool ResetGenerator1 = false;
  int32_t Generator1 = 0;
  bool ResetGenerator2 = false;
  int32_t Generator2 = 0;
  // Table settings, each used only when its flag is set.
  bool SetBlobBlockSize = false;
  int32_t BlobBlockSize = 0;
  bool SetSortOrder = false;
  TSortOrder SortOrder = soANSI;
  bool SetBlobCompression = false;
  bool BlobCompression = false;
  // The auto-increment field keeps counting where it was.
  bool KeepAutoIncValue = false;
};

}  // namespace zel
