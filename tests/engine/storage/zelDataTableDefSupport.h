#pragma once
// Helpers of the table-definition and table-manager tests: definitions of a
// table with one field of every storable type and a chosen set of indexes,
// built the way the cursor builds them.

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelDataTableDef.h"
#include "engine/storage/zelDataTestSupport.h"
#include "engine/storage/zelIndexMgr.h"

namespace zel::tabledefs {

struct IndexSpec {
  std::string Name;
  std::string Fields;  // ";"-separated
  bool Unique = false;
  std::string CaseInsFields = "";
  std::string DescFields = "";
};

inline bool Names(const std::string& List, const std::string& Name) {
  size_t start = 0;
  while (start <= List.size()) {
    size_t end = List.find(';', start);
    if (end == std::string::npos) end = List.size();
    if (List.substr(start, end - start) == Name) return true;
    start = end + 1;
  }
  return false;
}

// A definition of table Name with the fields of testdata::AllTypes() and
// one index per IndexSpec entry, laid out for the engine's version.
inline std::unique_ptr<TTableDef> MakeDef(const std::string& Name, bool Memory,
                                          const std::vector<IndexSpec>& Indexes,
                                          TEncryptionLevel Level = encNone) {
  auto def = std::make_unique<TTableDef>();
  def->SetTableName(Name);
  def->SetAltName(Name);
  def->SetMemory(Memory);
  def->SetVersion("1.50.03");
  def->SetEncryptionLevel(Level);
  def->SetEncrypted(Level != encNone);
  testdata::BuildLayout(def->InternalFields(), testdata::AllTypes());
  for (size_t i = 0; i < Indexes.size(); ++i) {
    const IndexSpec& spec = Indexes[i];
    TInternalIndexDef* index = def->InternalIndexDefs().Add();
    index->SetIndexName(spec.Name);
    index->SetUnique(spec.Unique);
    index->SetPrimary(spec.Unique && i == 0);
    index->SetIndexSequence(static_cast<int32_t>(i));
    index->SetIndexKeyType(ikMinStringLen);
    index->SetIndexPageSize(4096);
    TKeyFields keys;
    size_t start = 0;
    int32_t position = 0;
    while (start < spec.Fields.size()) {
      size_t end = spec.Fields.find(';', start);
      if (end == std::string::npos) end = spec.Fields.size();
      const std::string fieldName = spec.Fields.substr(start, end - start);
      start = end + 1;
      const TInternalFieldItem* field = def->InternalFields().FindField(fieldName);
      TKeyFieldItem* key = keys.Add();
      key->SetIndexName(spec.Name);
      key->SetFieldName(fieldName);
      key->SetDataType(field->DataType());
      key->SetFieldSize(field->FieldSize());
      key->SetIsVariable(field->IsVariable());
      key->SetPhysicalFieldNo(field->FieldNo());
      key->SetRecBufOffset(field->DataOffset());
      key->SetNullFlagOffset(field->NullFlagOffset());
      key->SetSizeMarkerOffset(field->SizeMarkerOffset());
      key->SetKeyIndex(position++);
      key->SetCaseInsensitive(Names(spec.CaseInsFields, fieldName));
      key->SetDescending(Names(spec.DescFields, fieldName));
    }
    CalculateIndexDefSizes(*index, keys);
    for (int32_t k = 0; k < keys.Count(); ++k) def->KeyFields().Add()->Assign(keys.Items(k));
  }
  def->UpdateVersion();
  return def;
}

// The indexes most tests use: a unique one on an integer, one on a string
// and a date-time, one on a wide string.
inline std::vector<IndexSpec> ThreeIndexes() {
  return {{"pkI", "I", true}, {"ixName", "S;DT", false, "S", "DT"}, {"ixWide", "WS"}};
}

}  // namespace zel::tabledefs
