#pragma once
// Variants: the tagged value that carries field values, expression results,
// key values and parameters through the engine.
//
// Rules the whole engine relies on (kept by every operation below):
//  1. Empty (unassigned) is "unknown"; Null is "no value". Null sorts before
//     every other value, Empty included, and two Nulls compare equal.
//  2. Boolean True is -1 when used as a number; two Booleans order False < True.
//  3. A string meeting a number, date, currency or Boolean is converted to the
//     other side's kind; text that does not convert raises EVariantError
//     "Could not convert variant of type (String) into type (Double)".
//  4. Integer arithmetic never wraps: a 32-bit result that overflows becomes a
//     Double, and so does a 64-bit one.
//  5. Currency is a 64-bit integer count of 1/10000 units; every conversion
//     into it rounds half to even at the fourth decimal.
//  6. Arrays are one-dimensional, copied on assignment, and take part in no
//     arithmetic or comparison.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Visibility.h"

namespace plat {

using TVarType = uint16_t;

inline constexpr TVarType varEmpty = 0x0000;
inline constexpr TVarType varNull = 0x0001;
inline constexpr TVarType varSmallint = 0x0002;
inline constexpr TVarType varInteger = 0x0003;
inline constexpr TVarType varSingle = 0x0004;
inline constexpr TVarType varDouble = 0x0005;
inline constexpr TVarType varCurrency = 0x0006;
inline constexpr TVarType varDate = 0x0007;
inline constexpr TVarType varOleStr = 0x0008;
inline constexpr TVarType varDispatch = 0x0009;
inline constexpr TVarType varError = 0x000A;
inline constexpr TVarType varBoolean = 0x000B;
inline constexpr TVarType varVariant = 0x000C;
inline constexpr TVarType varUnknown = 0x000D;
inline constexpr TVarType varShortInt = 0x0010;
inline constexpr TVarType varByte = 0x0011;
inline constexpr TVarType varWord = 0x0012;
inline constexpr TVarType varLongWord = 0x0013;
inline constexpr TVarType varInt64 = 0x0014;
inline constexpr TVarType varStrArg = 0x0048;
inline constexpr TVarType varString = 0x0100;
inline constexpr TVarType varAny = 0x0101;
inline constexpr TVarType varTypeMask = 0x0FFF;
inline constexpr TVarType varArray = 0x2000;
inline constexpr TVarType varByRef = 0x4000;

// A fixed-point money value: Value counts units of 1/10000.
struct Currency {
  int64_t Value = 0;

  static constexpr int64_t Scale = 10000;
  static constexpr Currency FromUnits(int64_t units) { return Currency{units}; }
  // Rounds half to even at the fourth decimal; out of range raises EVariantError.
  static Currency FromDouble(double value);
  double ToDouble() const;

  friend constexpr bool operator==(Currency a, Currency b) = default;
  friend constexpr auto operator<=>(Currency a, Currency b) = default;
};

enum TVariantRelationship : uint8_t { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

struct VarArrayData;
// Frees array data where its type is complete, so the header need not be.
struct PLAT_API VarArrayDataDeleter {
  void operator()(VarArrayData* data) const noexcept;
};

class PLAT_API Variant {
 public:
  // Copies and moves are inline: every expression step and field read
  // makes some, and only arrays need the out-of-line deep copy.
  Variant() noexcept = default;
  ~Variant() = default;
  Variant(const Variant& other) : vtype_(other.vtype_), i_(other.i_), d_(other.d_), s_(other.s_) {
    if (other.arr_) CopyArrayFrom(other);
  }
  Variant(Variant&& other) noexcept
      : vtype_(other.vtype_),
        i_(other.i_),
        d_(other.d_),
        s_(std::move(other.s_)),
        arr_(std::move(other.arr_)) {
    other.vtype_ = varEmpty;
    other.i_ = 0;
    other.d_ = 0;
  }
  Variant& operator=(const Variant& other) {
    if (this == &other) return *this;
    if (other.arr_) {
      // Copied aside first, so that a failed copy leaves this value as it was.
      Variant copy(other);
      return *this = std::move(copy);
    }
    s_ = other.s_;  // first: the one step that may fail; reuses this text's room
    vtype_ = other.vtype_;
    i_ = other.i_;
    d_ = other.d_;
    arr_.reset();
    return *this;
  }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      vtype_ = other.vtype_;
      i_ = other.i_;
      d_ = other.d_;
      s_ = std::move(other.s_);
      arr_ = std::move(other.arr_);
      other.vtype_ = varEmpty;
      other.i_ = 0;
      other.d_ = 0;
      other.s_.clear();
    }
    return *this;
  }

  Variant(bool value) noexcept : vtype_(varBoolean), i_(value ? 1 : 0) {}
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
           !std::is_same_v<T, char32_t> && !std::is_same_v<T, wchar_t>) Variant(T value)
  noexcept {
    if constexpr (std::is_signed_v<T> && sizeof(T) <= 2) {
      vtype_ = varSmallint;
      i_ = value;
    } else if constexpr (sizeof(T) < 4 || (std::is_signed_v<T> && sizeof(T) == 4)) {
      vtype_ = varInteger;
      i_ = static_cast<int64_t>(value);
    } else if constexpr (std::is_signed_v<T> || sizeof(T) < 8) {
      vtype_ = varInt64;
      i_ = static_cast<int64_t>(value);
    } else if (value <= static_cast<T>(INT64_MAX)) {
      vtype_ = varInt64;
      i_ = static_cast<int64_t>(value);
    } else {
      vtype_ = varDouble;
      d_ = static_cast<double>(value);
    }
  }
  Variant(double value) noexcept : vtype_(varDouble), d_(value) {}
  Variant(float value) noexcept : vtype_(varDouble), d_(value) {}
  Variant(Currency value) noexcept : vtype_(varCurrency), i_(value.Value) {}
  Variant(const char* value);
  Variant(std::string value) noexcept : vtype_(varString), s_(std::move(value)) {}
  Variant(std::string_view value) : vtype_(varString), s_(value) {}
  // Pointers other than text would silently become Booleans.
  template <typename T>
  requires(!std::is_same_v<std::remove_cv_t<T>, char>) Variant(T*)
  = delete;

  static Variant FromDateTime(TDateTime value) noexcept;
  static Variant MakeNull() noexcept {
    Variant v;
    v.vtype_ = varNull;
    return v;
  }

  TVarType VarType() const noexcept { return vtype_; }
  bool IsEmpty() const noexcept { return vtype_ == varEmpty; }
  bool IsNull() const noexcept { return vtype_ == varNull; }
  bool IsArray() const noexcept { return arr_ != nullptr; }

  // Conversions, as the library converts (rules 2 to 5 above). Null and
  // arrays convert to nothing but raise EVariantError.
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsFloat() const;
  Currency AsCurrency() const;
  bool AsBoolean() const;
  std::string AsString() const;
  TDateTime AsDateTime() const;

  // Elements of an array (raises EVariantError on a non-array or an index
  // outside the bounds). A typed array converts what is stored into it.
  const Variant& operator[](int32_t index) const;
  const Variant& Element(int32_t index) const { return (*this)[index]; }
  void SetElement(int32_t index, Variant value);

  // The text of a String or OleStr value, read in place; nullptr for any
  // other kind (AsString converts those).
  const std::string* StringRef() const noexcept {
    return vtype_ == varString || vtype_ == varOleStr ? &s_ : nullptr;
  }

 private:
  // Deep-copies other's array into this value.
  void CopyArrayFrom(const Variant& other);

  friend struct VariantAccess;
  friend Variant VarArrayOf(std::vector<Variant> values);
  friend Variant VarArrayCreate(std::initializer_list<int32_t> bounds, TVarType elementType);
  friend int32_t VarArrayLowBound(const Variant& v, int32_t dim);
  friend int32_t VarArrayHighBound(const Variant& v, int32_t dim);

  TVarType vtype_ = varEmpty;
  int64_t i_ = 0;  // Smallint, Integer, Int64, Boolean (0/1), Currency units
  double d_ = 0;   // Double, Date
  std::string s_;  // String, OleStr (UTF-8)
  std::unique_ptr<VarArrayData, VarArrayDataDeleter> arr_;  // set exactly when vtype_ has varArray
};

inline Variant Null() noexcept {
  return Variant::MakeNull();
}
inline Variant Unassigned() noexcept {
  return Variant();
}
inline Variant VarFromDateTime(TDateTime value) noexcept {
  return Variant::FromDateTime(value);
}

inline TVarType VarType(const Variant& v) noexcept {
  return v.VarType();
}
inline bool VarIsNull(const Variant& v) noexcept {
  return v.IsNull();
}
inline bool VarIsEmpty(const Variant& v) noexcept {
  return v.IsEmpty();
}
inline bool VarIsArray(const Variant& v) noexcept {
  return v.IsArray();
}
// String or OleStr.
bool VarIsStr(const Variant& v) noexcept;
// The library's name of a type code: "Integer", "String", "Array Variant"...
std::string VarTypeAsText(TVarType type);

// The value converted to another kind (varEmpty, varNull, varSmallint,
// varInteger, varInt64, varDouble, varCurrency, varDate, varBoolean,
// varString, varOleStr); anything else raises EVariantError.
Variant VarAsType(const Variant& v, TVarType type);
// The value as text; Null and Empty give "".
std::string VarToStr(const Variant& v);
TDateTime VarToDateTime(const Variant& v);

// Arrays: one dimension, bounds {low, high}; elements of a varVariant array
// start Empty, those of a typed array start as that type's zero.
Variant VarArrayOf(std::vector<Variant> values);
inline Variant VarArrayOf(std::initializer_list<Variant> values) {
  return VarArrayOf(std::vector<Variant>(values));
}
Variant VarArrayCreate(std::initializer_list<int32_t> bounds, TVarType elementType);
int32_t VarArrayDimCount(const Variant& v) noexcept;
int32_t VarArrayLowBound(const Variant& v, int32_t dim);
int32_t VarArrayHighBound(const Variant& v, int32_t dim);

// Comparison. Raises EVariantError when the two cannot be compared (arrays,
// text that does not convert).
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);
bool operator==(const Variant& a, const Variant& b);
bool operator!=(const Variant& a, const Variant& b);
bool operator<(const Variant& a, const Variant& b);
bool operator<=(const Variant& a, const Variant& b);
bool operator>(const Variant& a, const Variant& b);
bool operator>=(const Variant& a, const Variant& b);

// Arithmetic. Null in gives Null out; Empty counts as the other side's zero.
// "+" of two strings concatenates; "/" is the real quotient (integers give a
// Double, a Currency operand keeps Currency); a Date plus or minus a number
// stays a Date, a Date minus a Date is a Double count of days.
Variant operator+(const Variant& a, const Variant& b);
Variant operator-(const Variant& a, const Variant& b);
Variant operator*(const Variant& a, const Variant& b);
Variant operator/(const Variant& a, const Variant& b);
Variant operator-(const Variant& a);

// Logical and bitwise operators: Booleans give Booleans, integers work
// bitwise; Null in gives Null out.
Variant VarAnd(const Variant& a, const Variant& b);
Variant VarOr(const Variant& a, const Variant& b);
Variant VarXor(const Variant& a, const Variant& b);
Variant VarNot(const Variant& a);

}  // namespace plat
