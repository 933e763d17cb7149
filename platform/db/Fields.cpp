#include "platform/db/Fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/db/DBConsts.h"
#include "platform/db/DataSet.h"
#include "platform/db/FieldNative.h"
#include "platform/rtl/Bytes.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

using fieldnative::LoadNative;
using fieldnative::StoreNative;

// Fixed values are read through a zero-filled stack buffer this large: their
// DataSize (at most 8) and the slack a dataset may write.
constexpr size_t kFixedScratch = 64;

// Keeps a field in its validating state for a scope.
class ValidateScope {
 public:
  ValidateScope(bool& flag, const void*& buffer, const void* value) : flag_(flag), buffer_(buffer) {
    flag_ = true;
    buffer_ = value;
  }
  ~ValidateScope() {
    flag_ = false;
    buffer_ = nullptr;
  }
  ValidateScope(const ValidateScope&) = delete;
  ValidateScope& operator=(const ValidateScope&) = delete;

 private:
  bool& flag_;
  const void*& buffer_;
};

}  // namespace

// ---- native formats ----

int32_t NativeFieldSize(TFieldType DataType, int32_t Size) {
  switch (DataType) {
    case ftString:
    case ftFixedChar:
      return Size + 1;
    case ftWideString:
      return (Size + 1) * 2;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime:
      return 8;
    case ftBytes:
      return Size;
    case ftVarBytes:
      return Size + 2;
    default:
      return 0;
  }
}

double TimeStampToMSecs(const TTimeStamp& TimeStamp) {
  return static_cast<double>(TimeStamp.Date) * MSecsPerDay + TimeStamp.Time;
}

TTimeStamp MSecsToTimeStamp(double MSecs) {
  // Day 3652059 is 31 December 9999.
  constexpr double kLast = 3652060.0 * MSecsPerDay;
  if (!std::isfinite(MSecs) || MSecs < MSecsPerDay || MSecs >= kLast)
    throw EConvertError("'" + FloatToStr(MSecs) + "' is not a valid timestamp");
  const double days = std::floor(MSecs / MSecsPerDay);
  TTimeStamp ts;
  ts.Date = static_cast<int32_t>(days);
  ts.Time = static_cast<int32_t>(std::llround(MSecs - days * MSecsPerDay));
  if (ts.Time >= MSecsPerDay) {  // rounding reached the next midnight
    ts.Time -= MSecsPerDay;
    ++ts.Date;
  }
  return ts;
}

void DateTimeToNative(TFieldType DataType, TDateTime Data, void* Buffer) {
  const TTimeStamp ts = DateTimeToTimeStamp(Data);
  switch (DataType) {
    case ftDate:
      StoreNative<int32_t>(Buffer, ts.Date);
      break;
    case ftTime:
      StoreNative<int32_t>(Buffer, ts.Time);
      break;
    default:
      StoreNative<double>(Buffer, TimeStampToMSecs(ts));
      break;
  }
}

TDateTime NativeToDateTime(TFieldType DataType, const void* Buffer) {
  switch (DataType) {
    case ftDate:
      return TimeStampToDateTime(TTimeStamp{0, LoadNative<int32_t>(Buffer)});
    case ftTime:
      return TimeStampToDateTime(TTimeStamp{LoadNative<int32_t>(Buffer), DateDelta});
    default:
      return TimeStampToDateTime(MSecsToTimeStamp(LoadNative<double>(Buffer)));
  }
}

std::string ExtractFieldName(std::string_view Fields, int32_t& Pos) {
  const int64_t length = static_cast<int64_t>(Fields.size());
  int64_t i = std::max<int64_t>(Pos, 1);
  const int64_t start = i;
  while (i <= length && Fields[static_cast<size_t>(i - 1)] != ';') ++i;
  std::string name = Trim(Copy(Fields, start, i - start));
  if (i <= length) ++i;
  Pos = static_cast<int32_t>(i);
  return name;
}

// ---- TField ----

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
  if (dataSet_ != nullptr) dataSet_->fields_->Remove(this);
  dataSet_ = nullptr;
}

void TField::SetDataSet(TDataSet* Value) {
  if (Value == dataSet_) return;
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  if (Value != nullptr) {
    Value->CheckInactive();
    Value->Fields().CheckFieldName(fieldName_);
  }
  if (dataSet_ != nullptr) dataSet_->fields_->Remove(this);
  dataSet_ = Value;
  if (Value != nullptr) Value->fields_->Add(this);
}

void TField::SetFieldName(const std::string& Value) {
  if (Value == fieldName_) return;
  if (dataSet_ != nullptr && !AnsiSameText(Value, fieldName_))
    dataSet_->Fields().CheckFieldName(Value);
  fieldName_ = Value;
}

void TField::SetSize(int32_t Value) {
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  CheckTypeSize(Value);
  size_ = Value;
}

void TField::CheckTypeSize(int32_t Value) const {
  if (Value != 0) DatabaseError(SInvalidFieldSize);
}

void TField::SetFieldKind(TFieldKind Value) {
  if (Value == fieldKind_) return;
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  // The calculated-field area holds values of fixed size only.
  if ((Value == fkCalculated || Value == fkLookup) && IsBlob())
    DatabaseErrorFmt(SInvalidCalcType, {DisplayName()});
  fieldKind_ = Value;
}

void TField::SetCalculated(bool Value) {
  if (Value)
    SetFieldKind(fkCalculated);
  else if (fieldKind_ == fkCalculated)
    SetFieldKind(fkData);
}

void TField::SetLookup(bool Value) {
  if (Value)
    SetFieldKind(fkLookup);
  else if (fieldKind_ == fkLookup)
    SetFieldKind(fkData);
}

int32_t TField::Index() const {
  return dataSet_ != nullptr ? dataSet_->fields_->IndexOf(this) : -1;
}

void TField::SetIndex(int32_t Value) {
  if (dataSet_ != nullptr) dataSet_->fields_->SetFieldIndex(this, Value);
}

void TField::SetVisible(bool Value) {
  if (visible_ == Value) return;
  visible_ = Value;
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange, 0);
}

void TField::SetDisplayLabel(const std::string& Value) {
  displayLabel_ = Value == fieldName_ ? std::string() : Value;
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange, 0);
}

std::string TField::DisplayName() const {
  return displayLabel_.empty() ? fieldName_ : displayLabel_;
}

int32_t TField::DisplayWidth() const {
  return displayWidth_ >= 0 ? displayWidth_ : DefaultDisplayWidth();
}

void TField::SetDisplayWidth(int32_t Value) {
  displayWidth_ = Value < 0 ? -1 : Value;
}

bool TField::CanModify() const {
  if (readOnly_ || dataSet_ == nullptr) return false;
  if (fieldKind_ != fkData && fieldKind_ != fkInternalCalc) return false;
  return dataSet_->CanModify();
}

void TField::Clear() {
  SetData(nullptr);
}

void TField::FocusControl() {
  if (dataSet_ != nullptr && dataSet_->Active())
    dataSet_->DataEvent(deFocusControl, reinterpret_cast<TDataEventInfo>(this));
}

void TField::SetKeyFields(const std::string& Value) {
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  keyFields_ = Value;
}

void TField::SetLookupDataSet(TDataSet* Value) {
  if (Value == lookupDataSet_) return;
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  if (Value != nullptr && Value == dataSet_) DatabaseError(SCircularDataLink, dataSet_);
  if (lookupDataSet_ != nullptr) RemoveFreeNotification(lookupDataSet_);
  lookupDataSet_ = Value;
  if (Value != nullptr) FreeNotification(Value);
}

void TField::SetLookupKeyFields(const std::string& Value) {
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  lookupKeyFields_ = Value;
}

void TField::SetLookupResultField(const std::string& Value) {
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  lookupResultField_ = Value;
}

void TField::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == lookupDataSet_) lookupDataSet_ = nullptr;
}

// Base conversions: a class that does not override one cannot convert.
std::string TField::GetAsString() const {
  AccessError("String");
}
int32_t TField::GetAsInteger() const {
  AccessError("Integer");
}
double TField::GetAsFloat() const {
  AccessError("Float");
}
bool TField::GetAsBoolean() const {
  AccessError("Boolean");
}
TDateTime TField::GetAsDateTime() const {
  AccessError("DateTime");
}
Currency TField::GetAsCurrency() const {
  return Currency::FromDouble(GetAsFloat());
}
Variant TField::GetAsVariant() const {
  AccessError("Variant");
}
void TField::SetAsString(const std::string&) {
  AccessError("String");
}
void TField::SetAsInteger(int32_t) {
  AccessError("Integer");
}
void TField::SetAsFloat(double) {
  AccessError("Float");
}
void TField::SetAsBoolean(bool) {
  AccessError("Boolean");
}
void TField::SetAsDateTime(TDateTime) {
  AccessError("DateTime");
}
void TField::SetAsCurrency(Currency Value) {
  SetAsFloat(Value.ToDouble());
}
void TField::SetVarValue(const Variant&) {
  AccessError("Variant");
}

void TField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else
    SetVarValue(Value);
}

bool TField::GetIsNull() const {
  // The value under validation is the proposed one, not the record's.
  if (dataSet_ != nullptr && !validating_) return !dataSet_->FieldHasValue(const_cast<TField*>(this));
  TNativeBuffer buffer;
  return !ReadNative(buffer);
}

void TField::GetText(std::string& Text, bool) const {
  Text = GetAsString();
}

std::string TField::TextFor(bool DisplayText) const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, DisplayText);
  else
    GetText(text, DisplayText);
  return text;
}

std::string TField::Text() const {
  return TextFor(false);
}

void TField::SetText(const std::string& Value) {
  if (OnSetText)
    OnSetText(this, Value);
  else
    SetAsString(Value);
}

std::string TField::DisplayText() const {
  return TextFor(true);
}

bool TField::GetData(void* Buffer) const {
  if (dataSet_ == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  if (validating_) {
    if (validateBuffer_ == nullptr) return false;
    std::memcpy(Buffer, validateBuffer_, static_cast<size_t>(DataSize()));
    return true;
  }
  return dataSet_->GetFieldData(const_cast<TField*>(this), Buffer);
}

void TField::CheckWritable() const {
  if (dataSet_ == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  const TDataSetState state = dataSet_->State();
  if (!IsWriteMode(state)) DatabaseError(SNotEditing, dataSet_);
  // Keys, filters and calculations write fields that the user cannot change.
  if (readOnly_ && fieldKind_ == fkData && state != dsSetKey && state != dsFilter &&
      state != dsCalcFields && state != dsInternalCalc)
    DatabaseErrorFmt(SFieldReadOnly, {DisplayName()}, dataSet_);
}

void TField::SetData(const void* Buffer) {
  CheckWritable();
  const TDataSetState state = dataSet_->State();
  dataSet_->SetFieldData(this, Buffer);
  // A dataset that forgets the field-change event must still not lose the
  // edit when the cursor moves on.
  if ((fieldKind_ == fkData || fieldKind_ == fkInternalCalc) &&
      (state == dsEdit || state == dsInsert))
    dataSet_->SetModified(true);
}

void TField::Validate(const void* Buffer) {
  if (!OnValidate) return;
  ValidateScope scope(validating_, validateBuffer_, Buffer);
  OnValidate(this);
}

void TField::AssignValue(const Variant& Value) {
  SetAsVariant(Value);
}

void TField::Assign(const TPersistent* Source) {
  if (auto* field = dynamic_cast<const TField*>(Source)) {
    if (field->IsNull())
      Clear();
    else
      SetAsVariant(field->AsVariant());
    return;
  }
  TComponent::Assign(Source);
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

void TField::Bind(bool Binding) {
  if (!Binding || fieldKind_ != fkLookup) return;
  if (lookupDataSet_ == nullptr || keyFields_.empty() || lookupKeyFields_.empty() ||
      lookupResultField_.empty())
    DatabaseErrorFmt(SLookupInfoError, {DisplayName()}, dataSet_);
  dataSet_->Fields().CheckFieldNames(keyFields_);
  lookupDataSet_->Open();
  lookupDataSet_->Fields().CheckFieldNames(lookupKeyFields_);
  lookupDataSet_->FieldByName(lookupResultField_);
}

void TField::CalcLookupValue() {
  if (lookupDataSet_ == nullptr || !lookupDataSet_->Active()) return;
  SetAsVariant(lookupDataSet_->Lookup(lookupKeyFields_, dataSet_->FieldValues(keyFields_),
                                      lookupResultField_));
}

void TField::TNativeBuffer::Reset(size_t Bytes) {
  if (Bytes <= sizeof small_) {
    large_.clear();
    std::memset(small_, 0, Bytes);
  } else {
    large_.assign(Bytes, 0);
  }
}

bool TField::ReadNative(TNativeBuffer& Buffer) const {
  Buffer.Reset(static_cast<size_t>(std::max(DataSize(), 0) + NativeBufferSlack));
  return GetData(Buffer.Data());
}

bool TField::ReadFixed(void* Value, size_t Bytes) const {
  PLAT_ASSERT(Bytes <= 8 && DataSize() <= static_cast<int32_t>(kFixedScratch - NativeBufferSlack),
              "Fixed field value too large");
  alignas(8) uint8_t buffer[kFixedScratch] = {};
  if (!GetData(buffer)) return false;
  CopyBytes(Value, buffer, Bytes);
  return true;
}

void TField::AccessError(const std::string& TypeName) const {
  DatabaseErrorFmt(SFieldAccessError, {DisplayName(), TypeName});
}

void TField::RangeError(double Value, double Min, double Max) const {
  DatabaseErrorFmt(SFieldRangeError, {Value, DisplayName(), Min, Max});
}

void TField::TooLongError(int64_t Length, int64_t Maximum) const {
  DatabaseErrorFmt(SFieldValueTooLong, {DisplayName(), Length, Maximum});
}

// ---- TFields ----

TField* TFields::Fields(int32_t Index) const {
  if (Index < 0 || Index >= Count()) DatabaseError(SFieldIndexError, dataSet_);
  return fields_[static_cast<size_t>(Index)];
}

int32_t TFields::IndexOf(const TField* Field) const {
  auto it = std::find(fields_.begin(), fields_.end(), Field);
  return it == fields_.end() ? -1 : static_cast<int32_t>(it - fields_.begin());
}

TField* TFields::FindField(std::string_view FieldName) const {
  for (TField* field : fields_)
    if (AnsiSameText(field->FieldName(), FieldName)) return field;
  return nullptr;
}

TField* TFields::FieldByName(std::string_view FieldName) const {
  TField* field = FindField(FieldName);
  if (field == nullptr) DatabaseErrorFmt(SFieldNotFound, {FieldName}, dataSet_);
  return field;
}

TField* TFields::FieldByNumber(int32_t FieldNo) const {
  for (TField* field : fields_)
    if (field->FieldNo() == FieldNo) return field;
  return nullptr;
}

void TFields::CheckFieldName(const std::string& FieldName) const {
  if (FieldName.empty()) DatabaseError(SFieldNameMissing, dataSet_);
  if (FindField(FieldName) != nullptr) DatabaseErrorFmt(SDuplicateFieldName, {FieldName}, dataSet_);
}

void TFields::CheckFieldNames(const std::string& FieldNames) const {
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(FieldNames.size()))
    FieldByName(ExtractFieldName(FieldNames, pos));
}

void TFields::GetFieldNames(TStrings& List) const {
  List.BeginUpdate();
  const auto endUpdate = OnScopeExit([&] { List.EndUpdate(); });
  List.Clear();
  for (TField* field : fields_) List.Add(field->FieldName());
}

void TFields::Add(TField* Field) {
  fields_.push_back(Field);
}

void TFields::Remove(TField* Field) {
  auto it = std::find(fields_.begin(), fields_.end(), Field);
  if (it != fields_.end()) fields_.erase(it);
}

void TFields::SetFieldIndex(TField* Field, int32_t Value) {
  const int32_t current = IndexOf(Field);
  if (current < 0) return;
  Value = std::clamp(Value, 0, Count() - 1);
  if (Value == current) return;
  fields_.erase(fields_.begin() + current);
  fields_.insert(fields_.begin() + Value, Field);
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->DataEvent(deFieldListChange, 0);
}

}  // namespace plat
