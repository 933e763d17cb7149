#include "platform/db/Fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "DbTestSupport.h"
#include "MemDataSet.h"

namespace {

using namespace plat;
using testdb::ErrorOf;
using testdb::TMemDataSet;

// One field of every stored type, on a new record being inserted.
class FieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    struct Def {
      const char* name;
      TFieldType type;
      int32_t size;
    };
    const Def defs[] = {
        {"S", ftString, 5},    {"W", ftWideString, 3}, {"SI", ftSmallint, 0}, {"I", ftInteger, 0},
        {"WD", ftWord, 0},     {"L", ftLargeint, 0},   {"B", ftBoolean, 0},   {"F", ftFloat, 0},
        {"C", ftCurrency, 0},  {"BCD", ftBCD, 4},      {"D", ftDate, 0},      {"T", ftTime, 0},
        {"DT", ftDateTime, 0}, {"BY", ftBytes, 3},     {"VB", ftVarBytes, 4}, {"AI", ftAutoInc, 0},
        {"M", ftMemo, 0},      {"FX", ftFixedChar, 4},
    };
    for (const Def& d : defs) ds.FieldDefs().Add(d.name, d.type, d.size);
    ds.Open();
    ds.Append();
  }

  TField* F(const char* name) { return ds.FieldByName(name); }

  TMemDataSet ds;
};

enum Op { kString, kInteger, kFloat, kBoolean, kDateTime, kVariant };

void Apply(TField* field, Op op, const Variant& value) {
  switch (op) {
    case kString:
      field->SetAsString(value.AsString());
      break;
    case kInteger:
      field->SetAsInteger(value.AsInteger());
      break;
    case kFloat:
      field->SetAsFloat(value.AsFloat());
      break;
    case kBoolean:
      field->SetAsBoolean(value.AsBoolean());
      break;
    case kDateTime:
      field->SetAsDateTime(value.AsFloat());
      break;
    case kVariant:
      field->SetAsVariant(value);
      break;
  }
}

bool SameValue(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  return a.VarType() == b.VarType() && a.AsString() == b.AsString();
}

// Writing values: the text read back, or the error and an unchanged field.
TEST_F(FieldsTest, WritesConvertOrRefuseWithoutChangingTheField) {
  struct Case {
    const char* field;
    Op op;
    Variant value;
    std::string text;   // AsString afterwards (when no error)
    std::string error;  // expected message, empty when none
  };
  const TDateTime leapDay = EncodeDate(2024, 2, 29);
  const Case cases[] = {
      // text fields count bytes (UTF-8), wide fields UTF-16 units
      {"S", kString, "hello", "hello", ""},
      {"S", kString, "hello!", "", "Value too long for field 'S': length 6, maximum 5"},
      {"S", kString, "h\xC3\xA9llo", "", "Value too long for field 'S': length 6, maximum 5"},
      {"S", kString, std::string("a\0b", 3), "", "Invalid value for field 'S'"},
      {"S", kString, "", "", ""},
      {"S", kInteger, 42, "42", ""},
      {"S", kFloat, 1.5, "1.5", ""},
      {"S", kBoolean, true, "T", ""},
      {"W", kString, "\xC3\xA4\xC3\xB6\xC3\xBC", "\xC3\xA4\xC3\xB6\xC3\xBC", ""},
      {"W", kString, "abcd", "", "Value too long for field 'W': length 4, maximum 3"},
      {"W", kString,
       "\xF0\x9F\x98\x80"
       "a",
       "\xF0\x9F\x98\x80"
       "a",
       ""},
      {"W", kString,
       "\xF0\x9F\x98\x80"
       "ab",
       "", "Value too long for field 'W': length 4, maximum 3"},
      {"FX", kString, "ab  ", "ab", ""},
      // integers: type ranges, text, rounding of floats (halves to even)
      {"SI", kInteger, 32767, "32767", ""},
      {"SI", kInteger, 32768, "",
       "32768 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
      {"SI", kString, "-32768", "-32768", ""},
      {"SI", kString, "12x", "", "'12x' is not a valid integer value for field 'SI'"},
      {"SI", kFloat, 2.5, "2", ""},
      {"SI", kFloat, 3.5, "4", ""},
      {"SI", kVariant, "7", "7", ""},
      {"SI", kVariant, 1.0e6, "",
       "1000000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
      {"WD", kInteger, -1, "",
       "-1 is not a valid value for field 'WD'. The allowed range is 0 to 65535"},
      {"WD", kInteger, 65535, "65535", ""},
      {"I", kString, " 2147483647 ", "2147483647", ""},
      {"I", kString, "2147483648", "",
       "2147483648 is not a valid value for field 'I'. The allowed range is -2147483648 to "
       "2147483647"},
      {"I", kString, "99999999999999999999", "",
       "'99999999999999999999' is not a valid integer value for field 'I'"},
      {"I", kFloat, 1e300, "",
       "1E300 is not a valid value for field 'I'. The allowed range is -2147483648 to 2147483647"},
      {"I", kVariant, int64_t{5000000000}, "",
       "5000000000 is not a valid value for field 'I'. The allowed range is -2147483648 to "
       "2147483647"},
      {"I", kBoolean, true, "", "Cannot access field 'I' as type Boolean"},
      {"I", kDateTime, 1.0, "", "Cannot access field 'I' as type DateTime"},
      {"L", kString, "9223372036854775807", "9223372036854775807", ""},
      {"L", kString, "9223372036854775808", "",
       "'9223372036854775808' is not a valid integer value for field 'L'"},
      {"L", kFloat, 1e19, "",
       "1E019 is not a valid value for field 'L'. The allowed range is -9.22337203685478E018 to "
       "9.22337203685478E018"},
      {"AI", kInteger, 5, "5", ""},
      // Booleans: prefixes of the texts, either case
      {"B", kString, "t", "True", ""},
      {"B", kString, "FALSE", "False", ""},
      {"B", kString, "yes", "", "'yes' is not a valid boolean value for field 'B'"},
      {"B", kVariant, 0, "False", ""},
      {"B", kInteger, 1, "", "Cannot access field 'B' as type Integer"},
      // floats: finite values only
      {"F", kString, "1.25", "1.25", ""},
      {"F", kString, "1e3", "1000", ""},
      {"F", kString, "1,5", "", "'1,5' is not a valid floating point value for field 'F'"},
      {"F", kString, "NAN", "", "Invalid value for field 'F'"},
      {"F", kFloat, 0.1, "0.1", ""},
      {"C", kFloat, 2.5, "2.5", ""},
      // BCD: exact to the fourth decimal, halves to even
      {"BCD", kString, "12.34565", "12.3456", ""},
      {"BCD", kString, "12.34575", "12.3458", ""},
      {"BCD", kString, "-0.00005", "0", ""},
      {"BCD", kString, "922337203685477.5807", "922337203685477.5807", ""},
      {"BCD", kString, "922337203685477.5808", "",
       "922337203685478 is not a valid value for field 'BCD'. The allowed range is "
       "-922337203685478 to 922337203685478"},
      {"BCD", kString, "1E3", "1000", ""},
      {"BCD", kString, "x", "", "'x' is not a valid floating point value for field 'BCD'"},
      {"BCD", kFloat, 0.1, "0.1", ""},
      {"BCD", kInteger, -3, "-3", ""},
      {"BCD", kVariant, Currency::FromUnits(12345), "1.2345", ""},
      // dates and times keep only their part
      {"D", kString, "2024-02-29", "2024-02-29", ""},
      {"D", kString, "2023-02-29", "", "'2023-02-29' is not a valid date"},
      {"D", kDateTime, leapDay + 0.75, "2024-02-29", ""},
      {"T", kString, "13:45:10", "13:45:10", ""},
      {"T", kDateTime, leapDay + 0.75, "18:00:00", ""},
      {"T", kString, "25:00", "", "'25:00' is not a valid time"},
      {"DT", kString, "2024-02-29 13:45:10", "2024-02-29 13:45:10", ""},
      {"DT", kVariant, VarFromDateTime(leapDay), "2024-02-29", ""},
      {"DT", kFloat, 1e10, "", "'10000000000' is not a valid date and time"},
      // bytes
      {"BY", kString, "ab", std::string("ab\0", 3), ""},
      {"BY", kString, "abcd", "", "Value too long for field 'BY': length 4, maximum 3"},
      {"VB", kString, std::string("a\0b", 3), std::string("a\0b", 3), ""},
      {"VB", kString, "abcde", "", "Value too long for field 'VB': length 5, maximum 4"},
      {"M", kString, "text", "text", ""},
  };
  for (const Case& c : cases) {
    TField* field = F(c.field);
    field->Clear();
    const Variant before = field->AsVariant();
    const std::string error = ErrorOf([&] { Apply(field, c.op, c.value); });
    const std::string label = std::string(c.field) + " <- " + c.value.AsString();
    EXPECT_EQ(error, c.error) << label;
    if (c.error.empty()) {
      EXPECT_EQ(field->AsString(), c.text) << label;
    } else {
      EXPECT_TRUE(SameValue(field->AsVariant(), before)) << label << ": field changed";
    }
  }
}

// A refused value leaves an earlier value in place, not a null.
TEST_F(FieldsTest, RefusedValuesKeepTheEarlierValue) {
  struct Case {
    const char* field;
    const char* good;
    const char* bad;
  };
  const Case cases[] = {{"S", "abc", "abcdef"}, {"SI", "5", "70000"},
                        {"F", "2.5", "2,5"},    {"D", "2020-01-31", "2020-01-32"},
                        {"B", "True", "maybe"}, {"BCD", "1.5", "1.5.5"}};
  for (const Case& c : cases) {
    F(c.field)->SetAsString(c.good);
    const std::string kept = F(c.field)->AsString();
    EXPECT_NE(ErrorOf([&] { F(c.field)->SetAsString(c.bad); }), "") << c.field;
    EXPECT_EQ(F(c.field)->AsString(), kept) << c.field;
  }
}

TEST_F(FieldsTest, ReadsConvertOrRefuse) {
  struct Case {
    const char* field;
    const char* value;  // set through AsString
    std::function<Variant(TField*)> read;
    Variant expected;
    std::string error;
  };
  auto asInteger = [](TField* f) { return Variant(f->AsInteger()); };
  auto asFloat = [](TField* f) { return Variant(f->AsFloat()); };
  auto asBoolean = [](TField* f) { return Variant(f->AsBoolean()); };
  auto asCurrency = [](TField* f) { return Variant(f->AsCurrency()); };
  auto asDateTime = [](TField* f) { return Variant(f->AsDateTime()); };
  const Case cases[] = {
      {"S", "12", asInteger, 12, ""},
      {"S", "x", asInteger, 0, "'x' is not a valid integer value for field 'S'"},
      {"S", "", asInteger, 0, ""},
      {"S", "2.5", asFloat, 2.5, ""},
      {"S", "yes", asBoolean, true, ""},
      {"S", "no", asBoolean, false, ""},
      {"L", "5000000000", asFloat, 5e9, ""},
      {"L", "5000000000", asInteger, 0,
       "5000000000 is not a valid value for field 'L'. The allowed range is -2147483648 to "
       "2147483647"},
      {"F", "2.5", asInteger, 2, ""},
      {"F", "3e9", asInteger, 0,
       "3000000000 is not a valid value for field 'F'. The allowed range is -2147483648 to "
       "2147483647"},
      {"F", "0.5", asCurrency, Currency::FromUnits(5000), ""},
      {"F", "1", asBoolean, false, "Cannot access field 'F' as type Boolean"},
      {"BCD", "2.5", asInteger, 2, ""},
      {"BCD", "3.5", asInteger, 4, ""},
      {"BCD", "-3.5", asInteger, -4, ""},
      {"BCD", "922337203685477.5807", asCurrency, Currency::FromUnits(INT64_MAX), ""},
      {"I", "", asInteger, 0, ""},
      {"I", "7", asFloat, 7.0, ""},
      {"D", "1899-12-31", asDateTime, 1.0, ""},
      {"D", "1899-12-31", asFloat, 1.0, ""},
      {"T", "06:00:00", asDateTime, 0.25, ""},
      {"B", "True", asInteger, 0, "Cannot access field 'B' as type Integer"},
  };
  for (const Case& c : cases) {
    TField* field = F(c.field);
    field->SetAsString(c.value);
    Variant got;
    const std::string error = ErrorOf([&] { got = c.read(field); });
    const std::string label = std::string(c.field) + " = '" + c.value + "'";
    EXPECT_EQ(error, c.error) << label;
    if (c.error.empty()) {
      EXPECT_TRUE(VarCompareValue(got, c.expected) == vrEqual) << label;
    }
  }
}

TEST_F(FieldsTest, VariantsCarryTheFieldsType) {
  struct Case {
    const char* field;
    const char* value;
    TVarType type;
  };
  const Case cases[] = {
      {"S", "a", varString},   {"W", "a", varOleStr},         {"SI", "1", varSmallint},
      {"I", "1", varInteger},  {"WD", "1", varInteger},       {"AI", "1", varInteger},
      {"L", "1", varInt64},    {"B", "True", varBoolean},     {"F", "1", varDouble},
      {"C", "1", varDouble},   {"BCD", "1", varCurrency},     {"D", "2000-01-01", varDate},
      {"T", "01:00", varDate}, {"DT", "2000-01-01", varDate}, {"BY", "a", varString},
      {"M", "a", varString},
  };
  for (const Case& c : cases) {
    TField* field = F(c.field);
    field->SetAsString(c.value);
    EXPECT_EQ(field->AsVariant().VarType(), c.type) << c.field;
    field->Clear();
    EXPECT_TRUE(field->IsNull()) << c.field;
    EXPECT_TRUE(field->AsVariant().IsNull()) << c.field;
    EXPECT_EQ(field->AsString(), "") << c.field;
    EXPECT_EQ(field->DisplayText(), c.field == std::string("M") ? "(Memo)" : "") << c.field;
    // Null and unassigned variants clear.
    field->SetAsString(c.value);
    field->SetAsVariant(Unassigned());
    EXPECT_TRUE(field->IsNull()) << c.field;
  }
}

// The native values the framework and a dataset exchange.
TEST_F(FieldsTest, NativeFormats) {
  auto native = [&](const char* name) {
    std::vector<uint8_t> buffer(64, 0xCC);
    EXPECT_TRUE(F(name)->GetData(buffer.data()));
    return buffer;
  };
  F("D")->SetAsString("0001-01-01");
  int32_t day;
  std::memcpy(&day, native("D").data(), 4);
  EXPECT_EQ(day, 1);
  F("D")->SetAsDateTime(0);
  std::memcpy(&day, native("D").data(), 4);
  EXPECT_EQ(day, DateDelta);

  F("T")->SetAsDateTime(EncodeTime(1, 0, 0, 5));
  int32_t ms;
  std::memcpy(&ms, native("T").data(), 4);
  EXPECT_EQ(ms, 3600005);

  F("DT")->SetAsDateTime(0.5);
  double msecs;
  std::memcpy(&msecs, native("DT").data(), 8);
  EXPECT_EQ(msecs, double(DateDelta) * MSecsPerDay + MSecsPerDay / 2);

  F("B")->SetAsBoolean(true);
  EXPECT_EQ(native("B")[0], 1);
  EXPECT_EQ(native("B")[1], 0);

  F("BCD")->SetAsString("-1.5");
  int64_t units;
  std::memcpy(&units, native("BCD").data(), 8);
  EXPECT_EQ(units, -15000);

  F("S")->SetAsString("ab");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(native("S").data())), "ab");

  F("W")->SetAsString("\xC3\xA4");
  char16_t unit[2];
  std::memcpy(unit, native("W").data(), 4);
  EXPECT_EQ(unit[0], u'\u00e4');
  EXPECT_EQ(unit[1], 0);

  F("VB")->SetAsString("xy");
  EXPECT_EQ(native("VB")[0], 2);
  EXPECT_EQ(native("VB")[2], 'x');

  // Conversions of the native date-time forms, both ways and at the limits.
  struct Case {
    TFieldType type;
    TDateTime value;
    TDateTime back;
  };
  const Case cases[] = {
      {ftDate, EncodeDate(1, 1, 1), EncodeDate(1, 1, 1)},
      {ftDate, EncodeDate(9999, 12, 31) + 0.5, EncodeDate(9999, 12, 31)},
      {ftTime, EncodeTime(23, 59, 59, 999), EncodeTime(23, 59, 59, 999)},
      {ftDateTime, -1.25, -1.25},
      {ftDateTime, EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999),
       EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999)},
  };
  for (const Case& c : cases) {
    uint8_t buffer[8];
    DateTimeToNative(c.type, c.value, buffer);
    EXPECT_NEAR(NativeToDateTime(c.type, buffer), c.back, 1e-9) << int(c.type);
  }
  EXPECT_THROW(MSecsToTimeStamp(0), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(1.0 / 0.0), EConvertError);
  EXPECT_EQ(TimeStampToMSecs(MSecsToTimeStamp(86400000.0 * 5 + 7)), 86400000.0 * 5 + 7);
}

TEST_F(FieldsTest, TextFormatsAndEvents) {
  auto* i = static_cast<TIntegerField*>(F("I"));
  i->SetDisplayFormat("#,##0");
  i->SetAsInteger(1234567);
  EXPECT_EQ(i->DisplayText(), "1,234,567");
  EXPECT_EQ(i->Text(), "1,234,567") << "without an edit format the display format serves";
  i->SetEditFormat("0.00");
  EXPECT_EQ(i->Text(), "1234567.00");

  auto* c = static_cast<TFloatField*>(F("C"));
  c->SetAsFloat(2.5);
  EXPECT_EQ(c->DisplayText(), "$2.50");
  EXPECT_EQ(c->Text(), "2.50");

  auto* dt = static_cast<TDateTimeField*>(F("DT"));
  dt->SetAsString("2024-02-29 13:45:10");
  dt->SetDisplayFormat("dd.mm.yyyy");
  EXPECT_EQ(dt->DisplayText(), "29.02.2024");
  EXPECT_EQ(dt->Text(), "2024-02-29 13:45:10");

  auto* b = static_cast<TBooleanField*>(F("B"));
  b->SetDisplayValues("Yes;No");
  b->SetAsString("n");
  EXPECT_EQ(b->AsString(), "No");
  EXPECT_FALSE(b->AsBoolean());
  EXPECT_EQ(ErrorOf([&] { b->SetAsString("true"); }),
            "'true' is not a valid boolean value for field 'B'");

  F("S")->OnGetText = [](TField* f, std::string& text, bool display) {
    text = (display ? "<" : "[") + f->AsString() + (display ? ">" : "]");
  };
  F("S")->OnSetText = [](TField* f, const std::string& text) { f->SetAsString(text + "!"); };
  F("S")->SetText("hi");
  EXPECT_EQ(F("S")->AsString(), "hi!");
  EXPECT_EQ(F("S")->DisplayText(), "<hi!>");
  EXPECT_EQ(F("S")->Text(), "[hi!]");

  F("S")->SetDisplayLabel("Short");
  EXPECT_EQ(F("S")->DisplayName(), "Short");
  EXPECT_EQ(ErrorOf([&] { F("S")->SetAsString("toolong"); }),
            "Value too long for field 'Short': length 7, maximum 5");
}

TEST_F(FieldsTest, ValidationSeesTheNewValueAndMayRefuseIt) {
  TField* i = F("I");
  std::vector<std::string> seen;
  i->OnValidate = [&](TField* f) {
    seen.push_back(f->AsString());
    if (f->AsInteger() < 0) DatabaseError("negative");
  };
  int changes = 0;
  i->OnChange = [&](TField*) { ++changes; };
  i->SetAsInteger(5);
  EXPECT_EQ(ErrorOf([&] { i->SetAsInteger(-1); }), "negative");
  EXPECT_EQ(i->AsInteger(), 5) << "a refused value is not stored";
  i->Clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"5", "-1", ""}));
  EXPECT_EQ(changes, 2);
}

TEST_F(FieldsTest, AssignCopiesValuesBetweenFields) {
  F("I")->SetAsInteger(12);
  F("S")->Assign(F("I"));
  EXPECT_EQ(F("S")->AsString(), "12");
  F("I")->Clear();
  F("S")->Assign(F("I"));
  EXPECT_TRUE(F("S")->IsNull());
  F("F")->AssignValue(Variant(2.25));
  EXPECT_EQ(F("F")->AsFloat(), 2.25);
  F("F")->AssignValue(Null());
  EXPECT_TRUE(F("F")->IsNull());
}

TEST(FieldsStandalone, SizesKindsAndNames) {
  TStringField s(nullptr);
  EXPECT_EQ(s.Size(), 20);
  EXPECT_EQ(ErrorOf([&] { s.SetSize(-1); }), "Invalid field size");
  TIntegerField i(nullptr);
  EXPECT_EQ(ErrorOf([&] { i.SetSize(4); }), "Invalid field size");
  TBytesField b(nullptr);
  EXPECT_EQ(ErrorOf([&] { b.SetSize(0); }), "Invalid field size");
  TBlobField blob(nullptr);
  blob.SetFieldName("Pic");
  EXPECT_EQ(ErrorOf([&] { blob.SetFieldKind(fkCalculated); }),
            "Field 'Pic' cannot be a calculated or lookup field");
  EXPECT_EQ(ErrorOf([&] { blob.AsString(); }), "Field 'Pic' has no dataset");
  EXPECT_EQ(ErrorOf([&] { i.SetAsInteger(1); }), "Field '' has no dataset");
  i.SetCalculated(true);
  EXPECT_TRUE(i.Calculated());
  i.SetLookup(true);
  EXPECT_EQ(i.FieldKind(), fkLookup);
  EXPECT_EQ(NewField(ftCursor, nullptr), nullptr);

  struct NameCase {
    const char* list;
    std::vector<std::string> names;
  };
  const NameCase names[] = {
      {"A;B", {"A", "B"}}, {" A ; B ;", {"A", "B"}}, {"", {}}, {"A;;B", {"A", "", "B"}}};
  for (const NameCase& c : names) {
    std::vector<std::string> got;
    int32_t pos = 1;
    while (pos <= static_cast<int32_t>(std::strlen(c.list)))
      got.push_back(ExtractFieldName(c.list, pos));
    EXPECT_EQ(got, c.names) << c.list;
  }
}

// Text of every length reads back whole and its null flag is right, whether
// the value fits the scratch buffer kept on the stack or not.
TEST(FieldsStandalone, TextOfAnySizeReadsBackWithItsNullFlag) {
  struct Case {
    TFieldType type;
    int32_t size;
  };
  const Case cases[] = {{ftString, 1},       {ftString, 239},     {ftString, 240},
                        {ftString, 241},     {ftString, 4000},    {ftWideString, 119},
                        {ftWideString, 120}, {ftWideString, 121}, {ftWideString, 2000},
                        {ftVarBytes, 237},   {ftVarBytes, 239},   {ftVarBytes, 3000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " of " + std::to_string(c.size));
    TMemDataSet ds;
    ds.FieldDefs().Add("V", c.type, c.size);
    ds.Open();
    ds.Append();
    TField* field = ds.FieldByName("V");
    EXPECT_TRUE(field->IsNull());
    std::string value(static_cast<size_t>(c.size), 'x');
    value.back() = 'y';
    field->SetAsString(value);
    EXPECT_FALSE(field->IsNull());
    EXPECT_EQ(field->AsString(), value);
    ds.Post();
    EXPECT_FALSE(field->IsNull());
    EXPECT_EQ(field->AsString(), value);
    ds.Edit();
    field->Clear();
    EXPECT_TRUE(field->IsNull());
    EXPECT_EQ(field->AsString(), "");
  }
}

}  // namespace
