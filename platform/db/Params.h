#pragma once
// Parameters of a statement: named values with a data type, found by name.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/DB.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Variants.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TField;
class TParams;

// One parameter. Setting a value through a typed setter (AsInteger...) also
// sets DataType; setting Value keeps a DataType already chosen and otherwise
// takes it from the variant. Bound tells whether a value was given; setting it
// false keeps the value (a parameter filled from a master dataset is marked
// unbound so that the next run fills it again).
class PLAT_API TParam : public TCollectionItem {
 public:
  explicit TParam(TCollection* Collection) : TCollectionItem(Collection) {}
  std::string ClassName() const override { return "TParam"; }

  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value) { name_ = Value; }
  std::string DisplayName() const override { return name_.empty() ? ClassName() : name_; }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType Value) { dataType_ = Value; }
  TParamType ParamType() const { return paramType_; }
  void SetParamType(TParamType Value) { paramType_ = Value; }
  bool Bound() const { return bound_; }
  void SetBound(bool Value);
  bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }
  // Makes the value null (the parameter stays bound).
  void Clear();

  Variant Value() const { return value_; }
  void SetValue(const Variant& Value);
  // Null gives "", 0, false or 0.0. Dates and times of ftDate and ftTime
  // parameters show only their part.
  std::string AsString() const;
  void SetAsString(const std::string& Value);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t Value);
  int32_t AsSmallInt() const { return AsInteger(); }
  void SetAsSmallInt(int16_t Value);
  int32_t AsWord() const { return AsInteger(); }
  void SetAsWord(uint16_t Value);
  double AsFloat() const;
  void SetAsFloat(double Value);
  Currency AsCurrency() const;
  void SetAsCurrency(Currency Value);
  Currency AsBCD() const { return AsCurrency(); }
  void SetAsBCD(Currency Value);
  bool AsBoolean() const;
  void SetAsBoolean(bool Value);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime Value);
  TDateTime AsDate() const { return AsDateTime(); }
  void SetAsDate(TDateTime Value);
  TDateTime AsTime() const { return AsDateTime(); }
  void SetAsTime(TDateTime Value);
  std::string AsMemo() const { return AsString(); }
  void SetAsMemo(const std::string& Value);
  std::string AsBlob() const { return AsString(); }
  void SetAsBlob(const std::string& Value);
  std::string Text() const { return AsString(); }
  void SetText(const std::string& Value) { SetAsString(Value); }

  // Name, data type and value of Field (null when it is null); bound.
  void AssignField(TField* Field);
  // Data type of Field and the given value; bound.
  void AssignFieldValue(TField* Field, const Variant& Value);
  // From another TParam (everything) or a TField (AssignField).
  void Assign(const TPersistent* Source) override;
  // Writes the value into Field (null clears it).
  void AssignTo(TPersistent* Dest) const override;

  // DataType, Name, ParamType.
  const TPropList& PublishedProperties() const override;

 private:
  std::string name_;
  TFieldType dataType_ = ftUnknown;
  TParamType paramType_ = ptUnknown;
  bool bound_ = false;
  Variant value_;
};

class PLAT_API TParams : public TCollection {
 public:
  explicit TParams(TPersistent* Owner = nullptr);
  std::string ClassName() const override { return "TParams"; }

  TParam* Items(int32_t Index) const;
  TParam* operator[](int32_t Index) const { return Items(Index); }
  // The first parameter named Value (ignoring case); nullptr when none.
  TParam* FindParam(std::string_view Value) const;
  // As FindParam; none raises EDatabaseError "Parameter '%s' not found"
  // (prefixed with the owner's name when the owner is a named component).
  TParam* ParamByName(std::string_view Value) const;
  TParam* CreateParam(TFieldType FldType, const std::string& ParamName, TParamType ParamType);
  // Frees Value, which must belong to this collection.
  void RemoveParam(TParam* Value);
  // The parameters named in a ";"-separated list, in its order.
  void GetParamList(std::vector<TParam*>& List, const std::string& ParamNames) const;
  // One name: the value; several: a variant array of values.
  Variant ParamValues(const std::string& ParamName) const;
  void SetParamValues(const std::string& ParamName, const Variant& Value);
  // Copies the values (and types) of Value's parameters into the parameters
  // of the same name here; others stay as they are.
  void AssignValues(const TParams& Value);
  // Same count, and each parameter of the same name, type and value.
  bool IsEqual(const TParams& Value) const;
};

}  // namespace plat
