// What the cursor tells the component library about its indexes and
// fields: names, field lists, definitions, and the index on given fields.
// The base table's IndexDefs and FieldDefs are made from these, so the
// library sees one account of the table.
#include <algorithm>

#include "engine/dataset/zelDatabaseTable.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/DBConsts.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// The index the library may see: not hidden, and not the natural order of
// a table without indexes of its own.
bool IsVisibleIndex(const TIndexAttributes& Index) {
  return !Index.Hidden() && Index.IndexName() != LogicalRecNoIndexName;
}

void AppendName(std::string& List, const std::string& Name) {
  if (!List.empty()) List += ';';
  List += Name;
}

}  // namespace

// ---------------------------------------------------------------- the cursor

int32_t TZelDataSet::InternalGetIndexCount() const {
  if (!Open_) return 0;
  int32_t n = 0;
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i)
    if (IsVisibleIndex(*IndexMgr_->Items(i))) ++n;
  return n;
}

void TZelDataSet::GetIndexNames(plat::TStrings& List) const {
  List.Clear();
  if (!Open_) return;
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i)
    if (IsVisibleIndex(*IndexMgr_->Items(i))) List.Add(IndexMgr_->Items(i)->IndexName());
}

void TZelDataSet::GetIndexFieldNamesList(plat::TStrings& List) const {
  List.Clear();
  if (!Open_) return;
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    const TIndexItem* index = IndexMgr_->Items(i);
    if (IsVisibleIndex(*index))
      List.Add(GetIndexFieldsFromKeyFields(index->IndexName(), index->KeyFields()));
  }
}

std::string TZelDataSet::GetIndexFieldsFromKeyFields(const std::string& IndexName,
                                                     const TKeyFields& KeyFields) {
  std::string fields;
  for (int32_t k = 0; k < KeyFields.Count(); ++k) {
    const TKeyFieldItem* key = KeyFields.Items(k);
    if (!key->Hidden() && plat::SameText(key->IndexName(), IndexName))
      AppendName(fields, key->FieldName());
  }
  return fields;
}

std::string TZelDataSet::FindIndexForFields(const std::string& FieldNames) const {
  plat::TStringList wanted;
  ConvertFieldNamesToList(FieldNames, wanted);
  if (Open_ && wanted.Count() > 0) {
    for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
      const TIndexItem* index = IndexMgr_->Items(i);
      if (!IsVisibleIndex(*index)) continue;
      plat::TStringList fields;
      ConvertFieldNamesToList(GetIndexFieldsFromKeyFields(index->IndexName(), index->KeyFields()),
                              fields);
      bool same = fields.Count() == wanted.Count();
      for (int32_t k = 0; same && k < fields.Count(); ++k)
        same = plat::SameText(fields.Strings(k), plat::Trim(wanted.Strings(k)));
      if (same) return index->IndexName();
    }
  }
  ZelDatabaseErrorFmt(0x270D, "TZelDataSet.FindIndexForFields", SzelIndexFmt, {FieldNames}, this);
}

void TZelDataSet::GetIndexDef(int32_t Index, plat::TIndexDef& Def) const {
  PLAT_ASSERT(Open_ && Index >= 0 && Index < IndexMgr_->Count(), "Index item not found");
  const TIndexItem* index = IndexMgr_->Items(Index);
  PLAT_ASSERT(!index->Hidden(), "Attempting to access a hidden index");
  std::string caseIns, desc;
  const TKeyFields& keys = index->KeyFields();
  for (int32_t k = 0; k < keys.Count(); ++k) {
    const TKeyFieldItem* key = keys.Items(k);
    // The record number that makes keys of a non-unique index unique is no
    // field of the table.
    if (key->NullFlagOffset() < 0) continue;
    if (key->CaseInsensitive()) AppendName(caseIns, key->FieldName());
    if (key->Descending()) AppendName(desc, key->FieldName());
  }
  plat::TIndexOptions options;
  if (index->Primary()) options.Include(plat::ixPrimary);
  if (index->Unique()) options.Include(plat::ixUnique);
  if (!caseIns.empty()) options.Include(plat::ixCaseInsensitive);
  if (!desc.empty()) options.Include(plat::ixDescending);
  Def.SetName(index->IndexName());
  Def.SetFields(GetIndexFieldsFromKeyFields(index->IndexName(), keys));
  Def.SetCaseInsFields(caseIns);
  Def.SetDescFields(desc);
  Def.SetOptions(options);
}

void TZelDataSet::GetFieldDef(int32_t FieldNo, plat::TFieldDef& Def) const {
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  int32_t size = 0;
  switch (f->DataType()) {
    case plat::ftString:
    case plat::ftWideString:
      size = f->GetWriteableFieldSize();
      break;
    case plat::ftBytes:
      size = f->FieldSize();
      break;
    case plat::ftBCD:
      // The library sizes a BCD field by its decimal places.
      size = f->NumDecimalPlaces();
      break;
    default:
      break;
  }
  Def.SetName(f->FieldName());
  Def.SetDataType(f->DataType());
  Def.SetSize(size);
  Def.SetRequired(f->Required());
  Def.SetFieldNo(FieldNo + 1);
}

// ---------------------------------------------------------------- the base table

void TZelBaseTable::UpdateIndexDefs() {
  if (!CursorOpen()) return;
  IndexDefs_->Clear();
  for (int32_t i = 0; i < IndexManager().Count(); ++i)
    if (IsVisibleIndex(*IndexManager().Items(i))) GetIndexDef(i, *IndexDefs_->AddIndexDef());
}

void TZelBaseTable::SetIndexDefs(const plat::TIndexDefs& Defs) {
  IndexDefs_->Clear();
  for (int32_t i = 0; i < Defs.Count(); ++i) IndexDefs_->AddIndexDef()->Assign(Defs.Items(i));
}

// ---------------------------------------------------------------- the table component

int32_t TZelTable::GetIndexCount() {
  UpdateIndexDefs();
  return IndexDefs_->Count();
}

void TZelTable::GetIndexNames(plat::TStrings& List) {
  List.Clear();
  if (Active()) {
    TZelDataSet::GetIndexNames(List);
    return;
  }
  if (DataBase() == nullptr) ZelDatabaseError(0x2780, "TZelTable.GetIndexNames", "", this);
  TTableDef def;
  def.SetMemory(Memory());
  DataBase()->QueryTableDef(TableName(), Memory(), def);
  for (int32_t i = 0; i < def.InternalIndexDefs().Count(); ++i)
    if (IsVisibleIndex(*def.InternalIndexDefs().Items(i)))
      List.Add(def.InternalIndexDefs().Items(i)->IndexName());
}

}  // namespace zel
