#pragma once
// Field objects: one TField per column a dataset shows, with the typed
// descendants for every field type the engine stores.
//
// Native formats. A field exchanges its value with its dataset through
// TDataSet::GetFieldData / SetFieldData in the library's native format, a
// block of DataSize() bytes, little-endian:
//   ftString, ftFixedChar   Size bytes of text and a terminating 0 (Size+1)
//   ftWideString            UTF-16 code units and a terminating 0 ((Size+1)*2)
//   ftSmallint              int16             ftWord        uint16
//   ftInteger, ftAutoInc    int32             ftLargeint    int64
//   ftBoolean               uint16, 1 True, 0 False (any non-zero reads True)
//   ftFloat, ftCurrency     double
//   ftBCD                   int64 count of 1/10000 units (a Currency)
//   ftDate                  int32 day number, 1 January 0001 being day 1
//   ftTime                  int32 milliseconds since midnight
//   ftDateTime              double milliseconds since 1 January 0001, day 1
//   ftBytes                 Size bytes        ftVarBytes    uint16 length, Size bytes
//   blob types              nothing: the value goes through CreateBlobStream
// A dataset may write up to NativeBufferSlack bytes beyond DataSize() (text
// terminators), so every buffer the framework hands to GetFieldData is that
// much larger and zero-filled.
//
// Every setter converts and checks the whole value before it writes: a value
// that does not fit (text too long, number out of range, malformed text)
// raises EDatabaseError or EConvertError and the field keeps its value.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/DB.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Variants.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TDataSet;
class TField;
class TStream;

inline constexpr int32_t NativeBufferSlack = 16;

// Bytes of a field's native value (see above); 0 for blob and unknown types.
int32_t NativeFieldSize(TFieldType DataType, int32_t Size);

// Milliseconds since 1 January 0001 (day 1 at midnight is 86400000), as the
// ftDateTime native value counts them.
double TimeStampToMSecs(const TTimeStamp& TimeStamp);
// The inverse; a value outside years 1 to 9999 or not finite raises
// EConvertError.
TTimeStamp MSecsToTimeStamp(double MSecs);
// A date, time or date-time value to and from its native form (DataType is
// ftDate, ftTime or ftDateTime). ftDate keeps only the date, ftTime only the
// time of day. Values outside the calendar raise EConvertError.
void DateTimeToNative(TFieldType DataType, TDateTime Data, void* Buffer);
TDateTime NativeToDateTime(TFieldType DataType, const void* Buffer);

// The next name of a ";"-separated field list, from 1-based Pos (blanks
// around it removed); Pos moves past the ";".
std::string ExtractFieldName(std::string_view Fields, int32_t& Pos);

using TFieldNotifyEvent = std::function<void(TField* Sender)>;
using TFieldGetTextEvent = std::function<void(TField* Sender, std::string& Text, bool DisplayText)>;
using TFieldSetTextEvent = std::function<void(TField* Sender, const std::string& Text)>;

// A column of a dataset. A field with an owner is freed by its owner; one
// without an owner that is attached to a dataset is freed by that dataset.
// Data fields get FieldNo from the dataset's field definitions when the
// dataset binds its fields; calculated and lookup fields get FieldNo -1 and an
// Offset in the calculated-field area of the record buffer, which holds a
// has-value byte at Offset followed by DataSize() bytes.
class PLAT_API TField : public TComponent {
 public:
  explicit TField(TComponent* AOwner);
  ~TField() override;
  std::string ClassName() const override { return "TField"; }

  // --- Identity and layout ---
  TDataSet* DataSet() const { return dataSet_; }
  // Moves the field to another dataset (both must be closed); the name must
  // be unique there ("Duplicate field name '%s'").
  void SetDataSet(TDataSet* Value);
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& Value);
  const std::string& FullName() const { return fieldName_; }
  TFieldType DataType() const { return dataType_; }
  // Bytes of the native value.
  virtual int32_t DataSize() const { return 0; }
  // Characters of text fields, bytes of binary fields, decimals of BCD
  // fields; 0 elsewhere. Changing it requires a closed dataset.
  int32_t Size() const { return size_; }
  void SetSize(int32_t Value);
  int32_t FieldNo() const { return fieldNo_; }
  int32_t Offset() const { return offset_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind Value);
  bool Calculated() const { return fieldKind_ == fkCalculated; }
  void SetCalculated(bool Value);
  bool Lookup() const { return fieldKind_ == fkLookup; }
  void SetLookup(bool Value);
  // Position among the dataset's fields.
  int32_t Index() const;
  void SetIndex(int32_t Value);

  // --- Behaviour ---
  bool Required() const { return required_; }
  void SetRequired(bool Value) { required_ = Value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool Value) { readOnly_ = Value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool Value);
  const std::string& DisplayLabel() const { return displayLabel_; }
  void SetDisplayLabel(const std::string& Value);
  // DisplayLabel, or FieldName when there is none.
  std::string DisplayName() const;
  int32_t DisplayWidth() const;
  void SetDisplayWidth(int32_t Value);
  const std::string& DefaultExpression() const { return defaultExpression_; }
  void SetDefaultExpression(const std::string& Value) { defaultExpression_ = Value; }
  // Whether the value can be changed now (not read-only, a data field, the
  // dataset can be modified).
  bool CanModify() const;
  virtual bool IsBlob() const { return false; }
  bool IsNull() const { return GetIsNull(); }
  // Makes the value null.
  virtual void Clear();
  void FocusControl();

  // --- Lookup fields: KeyFields of this dataset are looked up among
  // LookupKeyFields of LookupDataSet, giving its LookupResultField. ---
  const std::string& KeyFields() const { return keyFields_; }
  void SetKeyFields(const std::string& Value);
  TDataSet* LookupDataSet() const { return lookupDataSet_; }
  void SetLookupDataSet(TDataSet* Value);
  const std::string& LookupKeyFields() const { return lookupKeyFields_; }
  void SetLookupKeyFields(const std::string& Value);
  const std::string& LookupResultField() const { return lookupResultField_; }
  void SetLookupResultField(const std::string& Value);

  // --- Values ---
  std::string AsString() const { return GetAsString(); }
  virtual void SetAsString(const std::string& Value);
  int32_t AsInteger() const { return GetAsInteger(); }
  virtual void SetAsInteger(int32_t Value);
  double AsFloat() const { return GetAsFloat(); }
  virtual void SetAsFloat(double Value);
  bool AsBoolean() const { return GetAsBoolean(); }
  virtual void SetAsBoolean(bool Value);
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  virtual void SetAsDateTime(TDateTime Value);
  Currency AsCurrency() const { return GetAsCurrency(); }
  virtual void SetAsCurrency(Currency Value);
  // Null for a null field. Setting Null or Empty clears the field; other
  // values convert as the typed setters do.
  Variant AsVariant() const { return GetAsVariant(); }
  void SetAsVariant(const Variant& Value);
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& Value) { SetAsVariant(Value); }
  // The value as an edit control shows it (OnGetText may change it).
  std::string Text() const;
  // OnSetText when assigned, else AsString.
  void SetText(const std::string& Value);
  // The value as a grid shows it (display format, OnGetText).
  std::string DisplayText() const;

  // The native value (see the top of this file) into Buffer, which holds at
  // least DataSize() + NativeBufferSlack bytes; false when the field is null.
  // While OnValidate runs, the value being validated is read.
  bool GetData(void* Buffer) const;
  // Stores a native value (nullptr makes the field null). The dataset must be
  // in a writing state and the field, outside key and calculation states,
  // must not be read-only.
  void SetData(const void* Buffer);
  // Runs OnValidate on a proposed native value (nullptr: null); datasets
  // call it from SetFieldData before they store.
  void Validate(const void* Buffer);
  // Null and Empty clear; others go through the matching typed setter.
  void AssignValue(const Variant& Value);
  // From another field: its value (or null).
  void Assign(const TPersistent* Source) override;

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  void Notification(TComponent* AComponent, TOperation Operation) override;

 protected:
  virtual bool GetIsNull() const;
  virtual std::string GetAsString() const;
  virtual int32_t GetAsInteger() const;
  virtual double GetAsFloat() const;
  virtual bool GetAsBoolean() const;
  virtual TDateTime GetAsDateTime() const;
  virtual Currency GetAsCurrency() const;
  virtual Variant GetAsVariant() const;
  // Non-null, non-empty values of SetAsVariant.
  virtual void SetVarValue(const Variant& Value);
  // Text for editing (DisplayText false) or display.
  virtual void GetText(std::string& Text, bool DisplayText) const;
  virtual int32_t DefaultDisplayWidth() const { return 10; }
  // Refuses a size the class cannot have (EDatabaseError "Invalid field size").
  virtual void CheckTypeSize(int32_t Value) const;

  void SetDataType(TFieldType Value) { dataType_ = Value; }
  // A zero-filled scratch buffer for one native value: on the stack when the
  // value is small, so that reading a row's fields allocates nothing.
  class TNativeBuffer {
   public:
    uint8_t* Data() { return large_.empty() ? small_ : large_.data(); }
    void Reset(size_t Bytes);

   private:
    alignas(8) uint8_t small_[256];
    std::vector<uint8_t> large_;
  };
  // Raw read into Buffer, made DataSize() + slack bytes.
  bool ReadNative(TNativeBuffer& Buffer) const;
  // Reads a native value of at most 8 bytes.
  bool ReadFixed(void* Value, size_t Bytes) const;

  // A dataset in a writing state, and a field that may be written in it:
  // read-only data fields refuse user states (edit, insert), not key,
  // filter or calculation states.
  void CheckWritable() const;
  [[noreturn]] void AccessError(const std::string& TypeName) const;
  [[noreturn]] void RangeError(double Value, double Min, double Max) const;
  [[noreturn]] void TooLongError(int64_t Length, int64_t Maximum) const;

 private:
  friend class TDataSet;
  friend class TFields;

  // Called by the dataset on deFieldChange.
  void Change();
  // Lookup fields check their definition when the dataset binds them.
  void Bind(bool Binding);
  void CalcLookupValue();
  // Text and DisplayText: OnGetText when assigned, else GetText.
  std::string TextFor(bool DisplayText) const;

  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  TFieldType dataType_ = ftUnknown;
  int32_t size_ = 0;
  int32_t fieldNo_ = 0;
  int32_t offset_ = 0;
  TFieldKind fieldKind_ = fkData;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
  std::string displayLabel_;
  int32_t displayWidth_ = -1;
  std::string defaultExpression_;
  std::string keyFields_;
  TDataSet* lookupDataSet_ = nullptr;
  std::string lookupKeyFields_;
  std::string lookupResultField_;
  // Set while OnValidate runs: GetData reads the proposed value from here.
  bool validating_ = false;
  const void* validateBuffer_ = nullptr;
};

// The fields of one dataset, in display order. It does not own them (see
// TField).
class PLAT_API TFields : public TObject {
 public:
  explicit TFields(TDataSet* DataSet) : dataSet_(DataSet) {}
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;
  std::string ClassName() const override { return "TFields"; }

  TDataSet* DataSet() const { return dataSet_; }
  int32_t Count() const { return static_cast<int32_t>(fields_.size()); }
  // Raises EDatabaseError "Field index out of range".
  TField* Fields(int32_t Index) const;
  TField* operator[](int32_t Index) const { return Fields(Index); }
  int32_t IndexOf(const TField* Field) const;
  // By name, ignoring case; nullptr when there is none.
  TField* FindField(std::string_view FieldName) const;
  // Raises "Field '%s' not found" (with the dataset's name).
  TField* FieldByName(std::string_view FieldName) const;
  // By FieldNo; nullptr when there is none.
  TField* FieldByNumber(int32_t FieldNo) const;
  // Refuses an empty or duplicate name.
  void CheckFieldName(const std::string& FieldName) const;
  // Every name of a ";"-separated list must be a field.
  void CheckFieldNames(const std::string& FieldNames) const;
  void GetFieldNames(TStrings& List) const;

  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

 private:
  friend class TField;
  friend class TDataSet;

  void Add(TField* Field);
  void Remove(TField* Field);
  void SetFieldIndex(TField* Field, int32_t Value);

  TDataSet* dataSet_;
  std::vector<TField*> fields_;
};

// ftString and ftFixedChar: text of at most Size bytes (default 20), cut
// nowhere: longer text is refused. FixedChar values read without trailing
// blanks.
class PLAT_API TStringField : public TField {
 public:
  explicit TStringField(TComponent* AOwner);
  std::string ClassName() const override { return "TStringField"; }
  int32_t DataSize() const override { return Size() + 1; }
  bool FixedChar() const { return fixedChar_; }
  void SetFixedChar(bool Value);
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  void SetAsFloat(double Value) override;
  void SetAsBoolean(bool Value) override;
  void SetAsDateTime(TDateTime Value) override;

 protected:
  std::string GetAsString() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override;
  bool GetAsBoolean() const override;
  TDateTime GetAsDateTime() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  int32_t DefaultDisplayWidth() const override { return Size(); }
  void CheckTypeSize(int32_t Value) const override;

 private:
  bool fixedChar_ = false;
};

// ftWideString: Size UTF-16 code units (default 20); AsString is UTF-8.
class PLAT_API TWideStringField : public TStringField {
 public:
  explicit TWideStringField(TComponent* AOwner);
  std::string ClassName() const override { return "TWideStringField"; }
  int32_t DataSize() const override { return (Size() + 1) * 2; }
  void SetAsString(const std::string& Value) override;

 protected:
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
};

// Numbers: DisplayFormat and EditFormat are FormatFloat pictures.
class PLAT_API TNumericField : public TField {
 public:
  explicit TNumericField(TComponent* AOwner) : TField(AOwner) {}
  std::string ClassName() const override { return "TNumericField"; }
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const std::string& Value) { displayFormat_ = Value; }
  const std::string& EditFormat() const { return editFormat_; }
  void SetEditFormat(const std::string& Value) { editFormat_ = Value; }

 private:
  std::string displayFormat_;
  std::string editFormat_;
};

// ftInteger, and the base of the other integer fields. MinValue and MaxValue
// narrow the type's range when either is not 0.
class PLAT_API TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* AOwner);
  std::string ClassName() const override { return "TIntegerField"; }
  int32_t DataSize() const override;
  int32_t MinValue() const { return minValue_; }
  void SetMinValue(int32_t Value) { minValue_ = Value; }
  int32_t MaxValue() const { return maxValue_; }
  void SetMaxValue(int32_t Value) { maxValue_ = Value; }
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  // Rounded to the nearest integer (halves to even).
  void SetAsFloat(double Value) override;

 protected:
  TIntegerField(TComponent* AOwner, TFieldType DataType, int64_t MinRange, int64_t MaxRange);
  std::string GetAsString() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;

  bool ReadInt(int64_t& Value) const;
  // Checks the range, then stores.
  void WriteInt(int64_t Value);

 private:
  int64_t minRange_;
  int64_t maxRange_;
  int32_t minValue_ = 0;
  int32_t maxValue_ = 0;
};

// ftSmallint: -32768 to 32767.
class PLAT_API TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* AOwner);
  std::string ClassName() const override { return "TSmallintField"; }
};

// ftWord: 0 to 65535.
class PLAT_API TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* AOwner);
  std::string ClassName() const override { return "TWordField"; }
};

// ftAutoInc: an integer the dataset assigns when it stores a new record.
class PLAT_API TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* AOwner);
  std::string ClassName() const override { return "TAutoIncField"; }
};

// ftLargeint: 64-bit integers. AsInteger refuses values beyond 32 bits.
class PLAT_API TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* AOwner);
  std::string ClassName() const override { return "TLargeintField"; }
  int32_t DataSize() const override { return 8; }
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t Value);
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  void SetAsFloat(double Value) override;

 protected:
  std::string GetAsString() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;
  int32_t DefaultDisplayWidth() const override { return 15; }
};

// ftFloat (and ftCurrency through TCurrencyField). Only finite values are
// stored. MinValue and MaxValue limit the value when either is not 0.
class PLAT_API TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* AOwner);
  std::string ClassName() const override { return "TFloatField"; }
  int32_t DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool Value) { currency_ = Value; }
  // Significant digits of the default text (2 to 15, default 15).
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t Value);
  double MinValue() const { return minValue_; }
  void SetMinValue(double Value) { minValue_ = Value; }
  double MaxValue() const { return maxValue_; }
  void SetMaxValue(double Value) { maxValue_ = Value; }
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  void SetAsFloat(double Value) override;

 protected:
  std::string GetAsString() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;

 private:
  bool currency_ = false;
  int32_t precision_ = 15;
  double minValue_ = 0;
  double maxValue_ = 0;
};

// ftCurrency: a float field shown as money.
class PLAT_API TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* AOwner);
  std::string ClassName() const override { return "TCurrencyField"; }
};

// ftBCD: fixed-point values with four decimals (a Currency). Size is the
// number of decimals (0 to 4, default 4); values are kept exactly.
class PLAT_API TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* AOwner);
  std::string ClassName() const override { return "TBCDField"; }
  int32_t DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool Value) { currency_ = Value; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t Value) { precision_ = Value; }
  plat::Currency MinValue() const { return minValue_; }
  void SetMinValue(plat::Currency Value) { minValue_ = Value; }
  plat::Currency MaxValue() const { return maxValue_; }
  void SetMaxValue(plat::Currency Value) { maxValue_ = Value; }
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  void SetAsFloat(double Value) override;
  void SetAsCurrency(plat::Currency Value) override;

 protected:
  std::string GetAsString() const override;
  int32_t GetAsInteger() const override;
  double GetAsFloat() const override;
  plat::Currency GetAsCurrency() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;
  void CheckTypeSize(int32_t Value) const override;

 private:
  bool currency_ = false;
  int32_t precision_ = 0;
  plat::Currency minValue_;
  plat::Currency maxValue_;
};

// ftBoolean. DisplayValues is "True text;False text" (default "True;False");
// text is read back by a case-insensitive prefix of either.
class PLAT_API TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* AOwner);
  std::string ClassName() const override { return "TBooleanField"; }
  int32_t DataSize() const override { return 2; }
  const std::string& DisplayValues() const { return displayValues_; }
  void SetDisplayValues(const std::string& Value);
  void SetAsString(const std::string& Value) override;
  void SetAsBoolean(bool Value) override;

 protected:
  std::string GetAsString() const override;
  bool GetAsBoolean() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  int32_t DefaultDisplayWidth() const override;

 private:
  std::string displayValues_;
  std::string trueText_;
  std::string falseText_;
};

// ftDateTime, and the base of TDateField and TTimeField. DisplayFormat is a
// FormatDateTime picture.
class PLAT_API TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* AOwner);
  std::string ClassName() const override { return "TDateTimeField"; }
  int32_t DataSize() const override;
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const std::string& Value) { displayFormat_ = Value; }
  void SetAsString(const std::string& Value) override;
  void SetAsFloat(double Value) override;
  void SetAsDateTime(TDateTime Value) override;

 protected:
  TDateTimeField(TComponent* AOwner, TFieldType DataType);
  std::string GetAsString() const override;
  double GetAsFloat() const override;
  TDateTime GetAsDateTime() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;
  int32_t DefaultDisplayWidth() const override;

 private:
  std::string displayFormat_;
};

// ftDate: the date part only.
class PLAT_API TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* AOwner);
  std::string ClassName() const override { return "TDateField"; }
};

// ftTime: the time of day only.
class PLAT_API TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* AOwner);
  std::string ClassName() const override { return "TTimeField"; }
};

// ftBytes and ftVarBytes: raw bytes; AsString and Value carry them as a byte
// string.
class PLAT_API TBinaryField : public TField {
 public:
  std::string ClassName() const override { return "TBinaryField"; }
  void SetAsString(const std::string& Value) override;

 protected:
  TBinaryField(TComponent* AOwner, TFieldType DataType);
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void CheckTypeSize(int32_t Value) const override;
};

// ftBytes: exactly Size bytes (default 16); shorter values are padded with 0.
class PLAT_API TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* AOwner);
  std::string ClassName() const override { return "TBytesField"; }
  int32_t DataSize() const override { return Size(); }
};

// ftVarBytes: up to Size bytes (default 16).
class PLAT_API TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(TComponent* AOwner);
  std::string ClassName() const override { return "TVarBytesField"; }
  int32_t DataSize() const override { return Size() + 2; }
};

// Blob types. The value lives outside the record buffer and is read and
// written through the dataset's CreateBlobStream; an empty blob is null.
// Modified is set by blob streams that wrote the field and cleared when the
// record is posted or cancelled.
class PLAT_API TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* AOwner);
  std::string ClassName() const override { return "TBlobField"; }
  bool IsBlob() const final { return true; }
  TFieldType BlobType() const { return DataType(); }
  void SetBlobType(TFieldType Value);
  bool Modified() const { return modified_; }
  void SetModified(bool Value) { modified_ = Value; }
  // Empties the blob (a null value once posted).
  void Clear() override;
  // The whole of Stream, from its start.
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;
  void SetAsString(const std::string& Value) override;

 protected:
  TBlobField(TComponent* AOwner, TFieldType DataType);
  bool GetIsNull() const override;
  std::string GetAsString() const override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  void GetText(std::string& Text, bool DisplayText) const override;
  void CheckTypeSize(int32_t Value) const override;

 private:
  bool modified_ = false;
};

// ftMemo: text.
class PLAT_API TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* AOwner);
  std::string ClassName() const override { return "TMemoField"; }
};

// ftGraphic: a picture's bytes.
class PLAT_API TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* AOwner);
  std::string ClassName() const override { return "TGraphicField"; }
};

// A new field of the class that shows DataType (ftFixedChar as a fixed-char
// string field, ftFmtMemo and the other blob types as blob fields), owned by
// AOwner; nullptr for a type that has no field class.
TField* NewField(TFieldType DataType, TComponent* AOwner);

}  // namespace plat
