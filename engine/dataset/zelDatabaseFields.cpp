// The table cursor: field values by internal field number, and building a
// table definition from field and index definitions.
#include <cmath>
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/rtl/Strings.h"

namespace zel {

// ---------------------------------------------------------------- field access

void TZelDataSet::InternalFieldNoError(int32_t FieldNo) const {
  ZelDatabaseErrorFmt(0x2701, "TZelDataSet.GetInternalField", "%d", {FieldNo}, this);
}

int32_t TZelDataSet::GetFieldNo(const std::string& Name) const {
  for (int32_t i = 0; i < GetInternalFieldCount(); ++i)
    if (plat::SameText(RecordMgr_->InternalFields().GetIndex(i)->FieldName(), Name)) return i;
  return -1;
}

bool TZelDataSet::IsFieldBlob(int32_t FieldNo) const {
  return IsBlobFieldType(GetInternalField(FieldNo)->DataType());
}

bool TZelDataSet::GetIsFieldNullFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo) const {
  return RecBuf[GetInternalField(FieldNo)->NullFlagOffset()] == 0;
}

int32_t TZelDataSet::InternalGetFieldLength(int32_t FieldNo, const uint8_t* RecBuf) const {
  return InternalGetFieldLength(*GetInternalField(FieldNo), RecBuf);
}

int32_t TZelDataSet::InternalGetFieldLength(const TInternalFieldItem& Field,
                                            const uint8_t* RecBuf) const {
  const TInternalFieldItem* f = &Field;
  const bool isNull = RecBuf[f->NullFlagOffset()] == 0;
  if (IsBlobFieldType(f->DataType()))
    return isNull ? 0 : static_cast<int32_t>(ix::LoadU32(RecBuf + f->DataOffset() + 4));
  if (!f->IsVariable()) return f->FieldSize();
  if (isNull) return 0;
  if (f->SizeMarkerOffset() <= 0)
    ZelDatabaseError(0x2710, "TZelDataSet.InternalGetFieldLength",
                     std::string(plat::FieldTypeNames[f->DataType()]), this);
  return f->ReadSizeMarker(RecBuf);
}

bool TZelDataSet::DataSetGetFieldDataFromRecBuf(int32_t FieldNo, bool& IsNull, void* Data,
                                                const uint8_t* RecBuf) const {
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  if (IsBlobFieldType(f->DataType()))
    ZelDatabaseErrorFmt(0x2185, "TZelDataSet.DataSetGetFieldData",
                        "Unable to use this method to access blob fields. Field : %d", {FieldNo},
                        this);
  IsNull = RecBuf[f->NullFlagOffset()] == 0;
  if (Data == nullptr || IsNull) return !IsNull;
  const int32_t length = std::min(InternalGetFieldLength(FieldNo, RecBuf), f->FieldSize());
  if (length < f->FieldSize()) std::memset(Data, 0, static_cast<size_t>(f->FieldSize()));
  std::memcpy(Data, RecBuf + f->DataOffset(), static_cast<size_t>(length));
  return true;
}

void TZelDataSet::DataSetSetFieldDataToRecBuf(int32_t FieldNo, int32_t Length, bool IsNull,
                                              const void* Data, uint8_t* RecBuf) const {
  static const char* const Context = "TZelDataSet.DataSetSetFieldData";
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  if (IsBlobFieldType(f->DataType()))
    ZelDatabaseError(0x2185, Context, "Unable to use this method to access blob fields", this);
  uint8_t* p = RecBuf + f->DataOffset();
  if (IsNull) {
    RecBuf[f->NullFlagOffset()] = 0;
    std::memset(p, 0, static_cast<size_t>(f->FieldSize()));
    if (f->IsVariable() && f->SizeMarkerOffset() > 0) ix::StoreU16(RecBuf + f->SizeMarkerOffset(), 0);
    return;
  }
  if (f->IsVariable() && Length < 0) PLAT_ASSERT(false, "Invalid data length in set field");
  if (Length <= 0 && !f->IsVariable()) Length = f->FieldSize();
  if (Length > f->FieldSize() || Length < 0)
    ZelDatabaseError(0x2185, Context, "Field data length is out of range", this);
  if (f->IsVariable()) ix::StoreU16(RecBuf + f->SizeMarkerOffset(), static_cast<uint16_t>(Length));
  RecBuf[f->NullFlagOffset()] = 1;
  if (Length < f->FieldSize()) std::memset(p, 0, static_cast<size_t>(f->FieldSize()));
  if (Length > 0) std::memcpy(p, Data, static_cast<size_t>(Length));
}

void TZelDataSet::DataSetSetFieldData(int32_t FieldNo, int32_t Length, bool IsNull,
                                      const void* Data) {
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  CheckPrivilegePresent(f->PrivilegeFlags(), opUpdateDataBit);
  // Only what the field can hold: a string keeps room for its terminator.
  if (!IsNull && Length > f->GetWriteableFieldSize() * (f->DataType() == plat::ftWideString ? 2 : 1))
    ZelDatabaseError(0x2185, "TZelDataSet.DataSetSetFieldData", "Field data length is out of range",
                     this);
  DataSetSetFieldDataToRecBuf(FieldNo, Length, IsNull, Data, RecBuf_.data());
}

plat::Variant TZelDataSet::DataSetGetFieldDataFromRecBufAsVariant(const uint8_t* RecBuf,
                                                                  int32_t FieldNo) const {
  return DataSetGetFieldDataFromRecBufAsVariant(RecBuf, *GetInternalField(FieldNo));
}

plat::Variant TZelDataSet::DataSetGetFieldDataFromRecBufAsVariant(
    const uint8_t* RecBuf, const TInternalFieldItem& Field) const {
  const TInternalFieldItem* f = &Field;
  if (IsBlobFieldType(f->DataType()))
    ZelDatabaseError(0x2710, "TZelDataSet.DataSetGetFieldDataAsVariant", f->FieldName(), this);
  if (RecBuf[f->NullFlagOffset()] == 0) return plat::Variant::MakeNull();
  const uint8_t* p = RecBuf + f->DataOffset();
  switch (f->DataType()) {
    case plat::ftString: {
      std::string_view text;
      bool isNull = false;
      DataSetGetFieldTextFromRecBuf(RecBuf, Field, text, isNull);
      return plat::Variant(text);
    }
    case plat::ftWideString: {
      const int32_t bytes = InternalGetFieldLength(Field, RecBuf);
      std::u16string text(static_cast<size_t>(bytes / 2), u'\0');
      for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(ix::LoadU16(p + 2 * i));
      return plat::Variant(plat::WideToUtf8(text));
    }
    case plat::ftSmallint:
      return plat::Variant(static_cast<int16_t>(ix::LoadU16(p)));
    case plat::ftWord:
      return plat::Variant(static_cast<int32_t>(ix::LoadU16(p)));
    case plat::ftInteger:
    case plat::ftAutoInc:
      return plat::Variant(static_cast<int32_t>(ix::LoadU32(p)));
    case plat::ftBoolean:
      return plat::Variant(p[0] != 0);
    case plat::ftFloat:
      return plat::Variant(ix::LoadDouble(p));
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      return plat::Variant::FromDateTime(ix::LoadDouble(p));
    case plat::ftCurrency: {
      plat::Currency c;
      c.Value = static_cast<int64_t>(std::llround(ix::LoadDouble(p) * 10000.0));
      return plat::Variant(c);
    }
    case plat::ftBCD: {
      plat::Currency c;
      c.Value = static_cast<int64_t>(ix::LoadU64(p));
      return plat::Variant(c);
    }
    default:
      ZelDatabaseError(0x2710, "TZelDataSet.DataSetGetFieldDataAsVariant", f->FieldName(), this);
  }
}

bool TZelDataSet::DataSetGetFieldTextFromRecBuf(const uint8_t* RecBuf,
                                                const TInternalFieldItem& Field,
                                                std::string_view& Text, bool& IsNull) const {
  if (Field.DataType() != plat::ftString) return false;
  IsNull = RecBuf[Field.NullFlagOffset()] == 0;
  Text = IsNull ? std::string_view()
                : std::string_view(reinterpret_cast<const char*>(RecBuf + Field.DataOffset()),
                                   static_cast<size_t>(InternalGetFieldLength(Field, RecBuf)));
  return true;
}

bool TZelDataSet::DataSetGetFieldIntegerFromRecBuf(const uint8_t* RecBuf,
                                                   const TInternalFieldItem& Field,
                                                   int64_t& Value, bool& IsNull) const {
  const uint8_t* p = RecBuf + Field.DataOffset();
  switch (Field.DataType()) {
    case plat::ftSmallint:
      Value = static_cast<int16_t>(ix::LoadU16(p));
      break;
    case plat::ftWord:
      Value = ix::LoadU16(p);
      break;
    case plat::ftInteger:
    case plat::ftAutoInc:
      Value = static_cast<int32_t>(ix::LoadU32(p));
      break;
    default:
      return false;
  }
  IsNull = RecBuf[Field.NullFlagOffset()] == 0;
  if (IsNull) Value = 0;
  return true;
}

void TZelDataSet::DataSetSetFieldDataToRecBufAsVariant(uint8_t* RecBuf, int32_t FieldNo,
                                                       const plat::Variant& Value) const {
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  if (Value.IsNull() || Value.IsEmpty()) {
    DataSetSetFieldDataToRecBuf(FieldNo, 0, true, nullptr, RecBuf);
    return;
  }
  uint8_t bytes[8] = {};
  switch (f->DataType()) {
    case plat::ftString: {
      std::string text = Value.AsString();
      text.resize(std::min(text.size(), static_cast<size_t>(f->GetWriteableFieldSize())));
      DataSetSetFieldDataToRecBuf(FieldNo, static_cast<int32_t>(text.size()), false, text.data(),
                                  RecBuf);
      return;
    }
    case plat::ftWideString: {
      std::u16string text = plat::Utf8ToWide(Value.AsString());
      text.resize(std::min(text.size(), static_cast<size_t>(f->GetWriteableFieldSize())));
      std::vector<uint8_t> data(text.size() * 2);
      for (size_t i = 0; i < text.size(); ++i) ix::StoreU16(data.data() + 2 * i, text[i]);
      DataSetSetFieldDataToRecBuf(FieldNo, static_cast<int32_t>(data.size()), false, data.data(),
                                  RecBuf);
      return;
    }
    case plat::ftSmallint:
    case plat::ftWord:
      ix::StoreU16(bytes, static_cast<uint16_t>(Value.AsInteger()));
      break;
    case plat::ftInteger:
    case plat::ftAutoInc:
      ix::StoreU32(bytes, static_cast<uint32_t>(Value.AsInteger()));
      break;
    case plat::ftBoolean:
      bytes[0] = Value.AsBoolean() ? 1 : 0;
      break;
    case plat::ftFloat:
    case plat::ftCurrency:
      ix::StoreDouble(bytes, Value.AsFloat());
      break;
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      ix::StoreDouble(bytes, Value.AsDateTime());
      break;
    case plat::ftBCD:
      ix::StoreU64(bytes, static_cast<uint64_t>(Value.AsCurrency().Value));
      break;
    default:
      ZelDatabaseError(0x2710, "TZelDataSet.DataSetSetFieldDataAsVariant", f->FieldName(), this);
  }
  DataSetSetFieldDataToRecBuf(FieldNo, 0, false, bytes, RecBuf);
}

// ---------------------------------------------------------------- definition building

void TZelDataSet::ValidateObjectName(const std::string& Name, const std::string& Context) const {
  if (plat::SameText(Name, "ALL"))
    ZelDatabaseError(0x2739, "TZelDataSet.ValidateObjectName", Name + ": " + Context, this);
}

void TZelDataSet::InternalCreateTable() {
  CheckConnected();
  CheckInternalInactive();
  DataBase_->CreateTable(*TableDef_, true, false);
}

std::vector<std::string> SplitFieldNames(const std::string& Names) {
  std::vector<std::string> list;
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(Names.size())) {
    std::string name = plat::ExtractFieldName(Names, pos);
    if (!name.empty()) list.push_back(std::move(name));
  }
  return list;
}

bool ContainsFieldName(const std::vector<std::string>& Names, const std::string& Name) {
  for (const std::string& n : Names)
    if (plat::SameText(n, Name)) return true;
  return false;
}

namespace {

bool CanBeIndexed(plat::TFieldType Type) {
  using namespace plat;
  if (Type == ftBytes || Type == ftVarBytes) return false;
  if (Type >= ftBlob && Type <= ftCursor) return false;
  return Type != ftADT && Type != ftArray && Type != ftReference && Type != ftDataSet;
}

// The hidden key part that makes every key of a non-unique index unique: the
// record's logical record number.
void AddLogicalRecNoKey(TKeyFields& Keys, const std::string& IndexName, bool Hidden,
                        int32_t KeyIndex) {
  TKeyFieldItem* key = Keys.Add();
  key->SetIndexName(IndexName);
  key->SetHidden(Hidden);
  key->SetFieldName(LogicalRecNoIndexName);
  key->SetDataType(plat::ftInteger);
  key->SetFieldSize(4);
  key->SetRecBufOffset(rpLogicalRecordNo);
  key->SetNullFlagOffset(-1);
  key->SetPhysicalFieldNo(-1);
  key->SetKeyIndex(KeyIndex);
}

}  // namespace

void TZelDataSet::SetTableDef(bool MemoryTable, bool IndexesOnly, const plat::TFieldDefs& FieldDefs,
                              const plat::TIndexDefs& IndexDefs) {
  static const char* const Context = "TZelDataSet.SetTableDef";
  TTableDef& def = *TableDef_;
  def.KeyFields().Clear();
  def.InternalIndexDefs().Clear();
  if (!IndexesOnly) {
    def.Clear();
    def.SetMemory(MemoryTable);
    def.SetTableName(TableName_);
    def.SetSortOrder(SortOrder_);
    def.SetDefaultBlobSize(BlobBlockSize_);
    def.SetBlobCompression(BlobCompression_);
    def.SetEncryptionLevel(EncryptionLevel_);
    def.SetEncrypted(EncryptionLevel_ != encNone);
    def.SetAltName(def.Encrypted() ? ScrambleTableName(TableName_) : TableName_);
    if (TableName_.empty() || TableName_.size() > 40)
      ZelDatabaseErrorFmt(0x2737, Context, SzelStringInvalidFmt,
                          {TableName_, int32_t{1}, int32_t{40}}, this);
    ValidateObjectName(TableName_, "Table");
    const int32_t count = FieldDefs.Count();
    if (count < 1 || count > MaxInternalFields)
      ZelDatabaseErrorFmt(0x2514, Context, SzelValueOutOfRangeFmt,
                          {count, int32_t{1}, int32_t{MaxInternalFields}}, this);
    for (int32_t i = 0; i < count; ++i) {
      const plat::TFieldDef* fd = FieldDefs.Items(i);
      // The engine's own tables may use the reserved word ("ALL" privileges).
      if (!InternalTableFlag_) ValidateObjectName(fd->Name(), "Field");
      if (fd->Name().empty() || fd->Name().size() > 40)
        ZelDatabaseErrorFmt(0x2736, Context, SzelStringInvalidFmt,
                            {fd->Name(), int32_t{1}, int32_t{40}}, this);
      TInternalFieldItem* item = def.InternalFields().Add();
      item->SetDataType(fd->DataType());
      item->SetFieldNo(i + 1);
      item->SetFieldIndex(i);
      item->SetRequired(fd->Required());
      int32_t stored = -1;
      switch (fd->DataType()) {
        case plat::ftString:
          stored = fd->Size() + 1;
          break;
        case plat::ftWideString:
          stored = 2 * fd->Size() + 2;
          break;
        case plat::ftBytes:
          if (fd->Size() < 2 || fd->Size() > 256)
            ZelDatabaseErrorFmt(0x2586, Context, SzelStringInvalidFmt,
                                {fd->Name(), int32_t{1}, int32_t{255}}, this);
          item->SetFieldSize(fd->Size());
          break;
        case plat::ftBCD:
          item->SetNumDecimalPlaces(fd->Size());
          break;
        default:
          break;
      }
      if (stored >= 0) {
        if (stored < 2 || stored > 256)
          ZelDatabaseErrorFmt(0x2586, Context, SzelStringInvalidFmt,
                              {fd->Name(), int32_t{1}, int32_t{255}}, this);
        item->SetFieldSize(stored);
        item->SetIsVariable(true);
      }
      item->SetFieldName(fd->Name());
    }
    def.SetVersion(ZelEngineVersion);
    def.InternalFields().SetDataVersion(CurrentDataVersion);
    def.InternalFields().SetDefaultOffsets();
    def.InternalFields().Open();
    def.SetRecordSize(def.InternalFields().RecordSize());
    def.SetUsesBlobs(def.InternalFields().UsesBlobs());
    PLAT_ASSERT(def.RecordSize() > 0, "Record size = 0");
  }

  if (IndexDefs.Count() > 32)
    ZelDatabaseErrorFmt(0x2584, Context, "Maximum allowed is %d", {int32_t{32}}, this);
  const auto addIndex = [&](const std::string& Name, const std::string& FieldNames,
                            plat::TIndexOptions Options, const std::string& CaseIns,
                            const std::string& Desc, int32_t Sequence) {
    TInternalIndexDef* index = def.InternalIndexDefs().Add();
    index->SetIndexName(Name);
    index->SetUnique(Options.Contains(plat::ixUnique));
    index->SetPrimary(Options.Contains(plat::ixPrimary));
    index->SetMaintained(true);
    index->SetMemory(def.Memory());
    index->SetIndexSequence(Sequence);
    index->SetIndexKeyType(ikMinStringLen);
    const bool allCaseIns = Options.Contains(plat::ixCaseInsensitive) && CaseIns.empty();
    const bool allDesc = Options.Contains(plat::ixDescending) && Desc.empty();
    const std::vector<std::string> caseIns = SplitFieldNames(CaseIns);
    const std::vector<std::string> desc = SplitFieldNames(Desc);
    TKeyFields keys;
    int32_t k = 0;
    for (const std::string& name : SplitFieldNames(FieldNames)) {
      const TInternalFieldItem* field =
          name == LogicalRecNoIndexName ? nullptr : def.InternalFields().FindField(name);
      if (name == LogicalRecNoIndexName) {
        AddLogicalRecNoKey(keys, Name, false, k++);
        continue;
      }
      if (field == nullptr) ZelDatabaseError(0x2784, Context, name, this);
      if (!CanBeIndexed(field->DataType())) ZelDatabaseError(0x2785, Context, name, this);
      if ((field->DataType() == plat::ftString || field->DataType() == plat::ftWideString) &&
          field->FieldSize() == 0)
        ZelDatabaseErrorFmt(0x2185, Context, SzelValueInvalidFmt, {name}, this);
      TKeyFieldItem* key = keys.Add();
      key->SetIndexName(Name);
      key->SetFieldName(field->FieldName());
      key->SetFieldSize(field->FieldSize());
      key->SetDataType(field->DataType());
      key->SetIsVariable(field->IsVariable());
      key->SetPhysicalFieldNo(field->FieldIndex());
      key->SetRecBufOffset(field->DataOffset());
      key->SetNullFlagOffset(field->NullFlagOffset());
      key->SetSizeMarkerOffset(field->SizeMarkerOffset());
      key->SetCaseInsensitive(allCaseIns || ContainsFieldName(caseIns, name));
      key->SetDescending(allDesc || ContainsFieldName(desc, name));
      key->SetKeyIndex(k++);
    }
    if (!index->Unique() && !index->Primary() && FieldNames != LogicalRecNoIndexName)
      AddLogicalRecNoKey(keys, Name, true, k++);
    index->SetKeyDataOffset(CalculateKeyBitmapSize(keys.Count()));
    index->SetIndexPageSize(DefaultIndexPageSize);
    CalculateIndexDefSizes(*index, keys);
    for (int32_t i = 0; i < keys.Count(); ++i) def.KeyFields().Add()->Assign(keys.Items(i));
  };
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    const plat::TIndexDef* id = IndexDefs.Items(i);
    addIndex(id->Name(), id->Fields(), id->Options(), id->CaseInsFields(), id->DescFields(), i);
  }
  if (IndexDefs.Count() == 0)
    addIndex(LogicalRecNoIndexName, LogicalRecNoIndexName, {}, "", "", 0);
}

void TZelDataSet::SetTableDefFromRSDefs(bool IndexesOnly, const TRestructureFieldDefs& FieldDefs,
                                        const TRestructureIndexDefs& IndexDefs) {
  plat::TFieldDefs fields;
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    const TRestructureFieldDef* f = FieldDefs.Items(i);
    if (f->ChangeStatus() == dcDeleted) continue;
    plat::TFieldDef* def = fields.AddFieldDef();
    def->SetName(f->Name());
    def->SetDataType(f->DataType());
    def->SetSize(f->Size());
    def->SetPrecision(f->Precision());
    def->SetRequired(f->Required());
  }
  plat::TIndexDefs indexes;
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    const TRestructureIndexDef* x = IndexDefs.Items(i);
    if (x->ChangeStatus() == dcDeleted) continue;
    plat::TIndexDef* def = indexes.AddIndexDef();
    def->SetName(x->Name());
    def->SetFields(x->Fields());
    def->SetCaseInsFields(x->CaseInsFields());
    def->SetDescFields(x->DescFields());
    def->SetOptions(x->Options());
  }
  SetTableDef(Memory_, IndexesOnly, fields, indexes);
}

}  // namespace zel
