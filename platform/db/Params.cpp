#include "platform/db/Params.h"

#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

// The field type a variant value shows when the parameter has none yet.
TFieldType FieldTypeOfVariant(const Variant& Value) {
  switch (Value.VarType()) {
    case varSmallint:
      return ftSmallint;
    case varInteger:
      return ftInteger;
    case varInt64:
      return ftLargeint;
    case varCurrency:
      return ftBCD;
    case varDouble:
      return ftFloat;
    case varDate:
      return ftDateTime;
    case varBoolean:
      return ftBoolean;
    case varString:
    case varOleStr:
      return ftString;
    default:
      return ftUnknown;
  }
}

}  // namespace

// ---- TParam ----

void TParam::SetBound(bool Value) {
  bound_ = Value;
}

void TParam::Clear() {
  value_ = Null();
}

void TParam::SetValue(const Variant& Value) {
  if (dataType_ == ftUnknown) dataType_ = FieldTypeOfVariant(Value);
  value_ = Value;
  bound_ = !Value.IsEmpty();
}

std::string TParam::AsString() const {
  if (IsNull()) return std::string();
  switch (dataType_) {
    case ftDate:
      return DateToStr(value_.AsDateTime());
    case ftTime:
      return TimeToStr(value_.AsDateTime());
    default:
      return value_.AsString();
  }
}

void TParam::SetAsString(const std::string& Value) {
  dataType_ = ftString;
  SetValue(Variant(Value));
}

int32_t TParam::AsInteger() const {
  return IsNull() ? 0 : value_.AsInteger();
}

void TParam::SetAsInteger(int32_t Value) {
  dataType_ = ftInteger;
  SetValue(Variant(Value));
}

void TParam::SetAsSmallInt(int16_t Value) {
  dataType_ = ftSmallint;
  SetValue(Variant(Value));
}

void TParam::SetAsWord(uint16_t Value) {
  dataType_ = ftWord;
  SetValue(Variant(static_cast<int32_t>(Value)));
}

double TParam::AsFloat() const {
  return IsNull() ? 0 : value_.AsFloat();
}

void TParam::SetAsFloat(double Value) {
  dataType_ = ftFloat;
  SetValue(Variant(Value));
}

Currency TParam::AsCurrency() const {
  return IsNull() ? Currency{} : value_.AsCurrency();
}

void TParam::SetAsCurrency(Currency Value) {
  dataType_ = ftCurrency;
  SetValue(Variant(Value));
}

void TParam::SetAsBCD(Currency Value) {
  dataType_ = ftBCD;
  SetValue(Variant(Value));
}

bool TParam::AsBoolean() const {
  return !IsNull() && value_.AsBoolean();
}

void TParam::SetAsBoolean(bool Value) {
  dataType_ = ftBoolean;
  SetValue(Variant(Value));
}

TDateTime TParam::AsDateTime() const {
  return IsNull() ? 0 : value_.AsDateTime();
}

void TParam::SetAsDateTime(TDateTime Value) {
  dataType_ = ftDateTime;
  SetValue(VarFromDateTime(Value));
}

void TParam::SetAsDate(TDateTime Value) {
  dataType_ = ftDate;
  SetValue(VarFromDateTime(Value));
}

void TParam::SetAsTime(TDateTime Value) {
  dataType_ = ftTime;
  SetValue(VarFromDateTime(Value));
}

void TParam::SetAsMemo(const std::string& Value) {
  dataType_ = ftMemo;
  SetValue(Variant(Value));
}

void TParam::SetAsBlob(const std::string& Value) {
  dataType_ = ftBlob;
  SetValue(Variant(Value));
}

void TParam::AssignField(TField* Field) {
  if (Field == nullptr) return;
  dataType_ = Field->DataType();
  if (Field->IsNull())
    value_ = Null();
  else
    value_ = Field->AsVariant();
  name_ = Field->FieldName();
  bound_ = true;
}

void TParam::AssignFieldValue(TField* Field, const Variant& Value) {
  if (Field == nullptr) return;
  dataType_ = Field->DataType();
  value_ = Value.IsEmpty() ? Null() : Value;
  bound_ = true;
}

void TParam::Assign(const TPersistent* Source) {
  if (auto* param = dynamic_cast<const TParam*>(Source)) {
    if (param == this) return;
    name_ = param->name_;
    dataType_ = param->dataType_;
    paramType_ = param->paramType_;
    bound_ = param->bound_;
    value_ = param->value_;
    return;
  }
  if (auto* field = dynamic_cast<const TField*>(Source)) {
    AssignField(const_cast<TField*>(field));
    return;
  }
  TCollectionItem::Assign(Source);
}

void TParam::AssignTo(TPersistent* Dest) const {
  if (auto* field = dynamic_cast<TField*>(Dest)) {
    field->SetAsVariant(IsNull() ? Null() : value_);
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

const TPropList& TParam::PublishedProperties() const {
  static const TPropList list =
      TPublished<TParam>(TCollectionItem::PublishedProperties())
          .Enumeration("DataType", &TParam::DataType, &TParam::SetDataType,
                       std::vector<std::string>(FieldTypeIdents.begin(), FieldTypeIdents.end()),
                       ftUnknown)
          .String("Name", &TParam::Name, &TParam::SetName)
          .Enumeration("ParamType", &TParam::ParamType, &TParam::SetParamType,
                       {"ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult"},
                       ptUnknown);
  return list;
}

// ---- TParams ----

TParams::TParams(TPersistent* Owner) : TCollection(CollectionItemClass<TParam>(), Owner) {}

TParam* TParams::Items(int32_t Index) const {
  return static_cast<TParam*>(TCollection::Items(Index));
}

TParam* TParams::FindParam(std::string_view Value) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (AnsiSameText(Items(i)->Name(), Value)) return Items(i);
  return nullptr;
}

TParam* TParams::ParamByName(std::string_view Value) const {
  TParam* param = FindParam(Value);
  if (param == nullptr)
    DatabaseErrorFmt(SParameterNotFound, {Value}, dynamic_cast<TComponent*>(Owner()));
  return param;
}

TParam* TParams::CreateParam(TFieldType FldType, const std::string& ParamName,
                             TParamType ParamType) {
  auto* param = static_cast<TParam*>(Add());
  param->SetName(ParamName);
  param->SetDataType(FldType);
  param->SetParamType(ParamType);
  return param;
}

void TParams::RemoveParam(TParam* Value) {
  if (Value == nullptr || Value->Collection() != this) return;
  Delete(Value->Index());
}

void TParams::GetParamList(std::vector<TParam*>& List, const std::string& ParamNames) const {
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(ParamNames.size()))
    List.push_back(ParamByName(ExtractFieldName(ParamNames, pos)));
}

Variant TParams::ParamValues(const std::string& ParamName) const {
  if (ParamName.find(';') == std::string::npos) return ParamByName(ParamName)->Value();
  std::vector<TParam*> params;
  GetParamList(params, ParamName);
  std::vector<Variant> values;
  values.reserve(params.size());
  for (TParam* param : params) values.push_back(param->Value());
  return VarArrayOf(std::move(values));
}

void TParams::SetParamValues(const std::string& ParamName, const Variant& Value) {
  if (ParamName.find(';') == std::string::npos) {
    ParamByName(ParamName)->SetValue(Value);
    return;
  }
  std::vector<TParam*> params;
  GetParamList(params, ParamName);
  const int32_t low = VarArrayLowBound(Value, 1);
  for (size_t i = 0; i < params.size(); ++i)
    params[i]->SetValue(Value[low + static_cast<int32_t>(i)]);
}

void TParams::AssignValues(const TParams& Value) {
  for (int32_t i = 0; i < Value.Count(); ++i) {
    const TParam* source = Value.Items(i);
    for (int32_t j = 0; j < Count(); ++j) {
      TParam* target = Items(j);
      if (!AnsiSameText(target->Name(), source->Name())) continue;
      target->SetDataType(source->DataType());
      target->SetValue(source->Value());
      target->SetBound(source->Bound());
    }
  }
}

bool TParams::IsEqual(const TParams& Value) const {
  if (Count() != Value.Count()) return false;
  for (int32_t i = 0; i < Count(); ++i) {
    const TParam* a = Items(i);
    const TParam* b = Value.Items(i);
    if (!AnsiSameText(a->Name(), b->Name()) || a->DataType() != b->DataType() ||
        a->ParamType() != b->ParamType() || a->Bound() != b->Bound())
      return false;
    const Variant va = a->Value(), vb = b->Value();
    if (va.IsNull() != vb.IsNull() || va.IsEmpty() != vb.IsEmpty()) return false;
    if (!va.IsNull() && !va.IsEmpty()) {
      try {
        if (VarCompareValue(va, vb) != vrEqual) return false;
      } catch (const Exception&) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace plat
