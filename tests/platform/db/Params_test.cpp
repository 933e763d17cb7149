#include "platform/db/Params.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DbTestSupport.h"
#include "MemDataSet.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"

namespace {

using namespace plat;
using testdb::ErrorOf;

TEST(Params, ByNameIgnoringCase) {
  TParams params;
  params.CreateParam(ftInteger, "Id", ptInput);
  params.CreateParam(ftString, "Name", ptInput);
  params.ParamByName("ID")->SetAsInteger(5);
  params.ParamByName("name")->SetAsString("x");
  EXPECT_EQ(params.ParamByName("Id")->AsInteger(), 5);
  EXPECT_EQ(params[1]->AsString(), "x");
  EXPECT_EQ(params.FindParam("nope"), nullptr);
  EXPECT_EQ(ErrorOf([&] { params.ParamByName("nope"); }), "Parameter 'nope' not found");

  TComponent owner(nullptr);
  owner.SetName("Query1");
  TParams owned(&owner);
  EXPECT_EQ(ErrorOf([&] { owned.ParamByName("p"); }), "Query1: Parameter 'p' not found");

  const Variant both = params.ParamValues("Name;Id");
  EXPECT_EQ(both[0].AsString(), "x");
  EXPECT_EQ(both[1].AsInteger(), 5);
  params.SetParamValues("Id;Name", VarArrayOf({6, "y"}));
  EXPECT_EQ(params.ParamByName("Id")->AsInteger(), 6);
  EXPECT_EQ(params.ParamValues("Name").AsString(), "y");

  params.RemoveParam(params.ParamByName("Id"));
  EXPECT_EQ(params.Count(), 1);
}

TEST(Params, TypedSettersChooseTheDataType) {
  struct Case {
    std::function<void(TParam&)> set;
    TFieldType type;
    std::string text;
  };
  const Case cases[] = {
      {[](TParam& p) { p.SetAsInteger(7); }, ftInteger, "7"},
      {[](TParam& p) { p.SetAsSmallInt(-7); }, ftSmallint, "-7"},
      {[](TParam& p) { p.SetAsWord(65535); }, ftWord, "65535"},
      {[](TParam& p) { p.SetAsString("s"); }, ftString, "s"},
      {[](TParam& p) { p.SetAsFloat(1.5); }, ftFloat, "1.5"},
      {[](TParam& p) { p.SetAsCurrency(Currency::FromUnits(25000)); }, ftCurrency, "2.5"},
      {[](TParam& p) { p.SetAsBCD(Currency::FromUnits(1)); }, ftBCD, "0.0001"},
      {[](TParam& p) { p.SetAsBoolean(true); }, ftBoolean, "True"},
      {[](TParam& p) { p.SetAsDate(EncodeDate(2024, 1, 2)); }, ftDate, "2024-01-02"},
      {[](TParam& p) { p.SetAsTime(0.5); }, ftTime, "12:00:00"},
      {[](TParam& p) { p.SetAsDateTime(EncodeDate(2024, 1, 2)); }, ftDateTime, "2024-01-02"},
      {[](TParam& p) { p.SetAsMemo("m"); }, ftMemo, "m"},
      {[](TParam& p) { p.SetAsBlob(std::string("\0\1", 2)); }, ftBlob, std::string("\0\1", 2)},
      // Value picks the type only for a parameter without one.
      {[](TParam& p) { p.SetValue(Variant(int64_t{1} << 40)); }, ftLargeint, "1099511627776"},
      {[](TParam& p) { p.SetValue(2.5); }, ftFloat, "2.5"},
      {[](TParam& p) {
         p.SetDataType(ftString);
         p.SetValue(3);
       },
       ftString, "3"},
  };
  for (const Case& c : cases) {
    TParams params;
    TParam& p = *params.CreateParam(ftUnknown, "P", ptInput);
    EXPECT_FALSE(p.Bound());
    c.set(p);
    EXPECT_EQ(p.DataType(), c.type) << c.text;
    EXPECT_EQ(p.AsString(), c.text);
    EXPECT_TRUE(p.Bound()) << c.text;
  }
}

TEST(Params, NullsAndBinding) {
  TParams params;
  TParam* p = params.CreateParam(ftInteger, "P", ptInput);
  EXPECT_TRUE(p->IsNull());
  EXPECT_EQ(p->AsInteger(), 0);
  EXPECT_EQ(p->AsString(), "");
  EXPECT_FALSE(p->AsBoolean());
  p->SetAsInteger(3);
  p->Clear();
  EXPECT_TRUE(p->IsNull());
  EXPECT_TRUE(p->Value().IsNull());
  EXPECT_TRUE(p->Bound()) << "a null value is still a given value";
  p->SetAsInteger(4);
  p->SetBound(false);
  EXPECT_EQ(p->AsInteger(), 4) << "unbinding keeps the value";
  p->SetValue(Unassigned());
  EXPECT_FALSE(p->Bound());
}

TEST(Params, AssignFromFieldsAndOtherParams) {
  testdb::TMemDataSet ds;
  ds.FieldDefs().Add("Qty", ftSmallint);
  ds.Open();
  ds.AppendRecord({Variant(int16_t{4})});
  TParams params;
  TParam* p = params.CreateParam(ftUnknown, "", ptInput);
  p->AssignField(ds.FieldByName("Qty"));
  EXPECT_EQ(p->Name(), "Qty");
  EXPECT_EQ(p->DataType(), ftSmallint);
  EXPECT_EQ(p->AsInteger(), 4);
  EXPECT_TRUE(p->Bound());

  ds.Edit();
  p->SetAsInteger(9);
  ds.FieldByName("Qty")->Assign(p);
  EXPECT_EQ(ds.FieldByName("Qty")->AsInteger(), 9);
  p->Clear();
  ds.FieldByName("Qty")->Assign(p);
  EXPECT_TRUE(ds.FieldByName("Qty")->IsNull());
  ds.Cancel();

  TParams other;
  other.CreateParam(ftString, "qty", ptInput)->SetAsString("11");
  other.CreateParam(ftString, "Unknown", ptInput)->SetAsString("z");
  params.AssignValues(other);
  EXPECT_EQ(params.Count(), 1) << "only parameters of the same name take values";
  EXPECT_EQ(p->AsString(), "11");
  EXPECT_EQ(p->DataType(), ftString);

  TParams copy;
  copy.Assign(&params);
  EXPECT_TRUE(copy.IsEqual(params));
  copy[0]->SetAsString("12");
  EXPECT_FALSE(copy.IsEqual(params));
}

// A component that keeps parameters in its component text as "ParamData".
class TParamHolder : public TComponent {
 public:
  explicit TParamHolder(TComponent* AOwner) : TComponent(AOwner), params(this) {}
  std::string ClassName() const override { return "TParamHolder"; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list =
        TPublished<TParamHolder>(TComponent::PublishedProperties())
            .Collection("ParamData", [](TParamHolder& h) -> TCollection& { return h.params; });
    return list;
  }
  TParams params;
};

TEST(Params, DefinitionsGoThroughComponentText) {
  TParamHolder holder(nullptr);
  holder.SetName("Holder");
  holder.params.CreateParam(ftInteger, "Id", ptInput);
  holder.params.CreateParam(ftString, "Name", ptUnknown);
  const std::string text = WriteComponentText(holder);
  EXPECT_NE(text.find("DataType = ftInteger"), std::string::npos) << text;
  EXPECT_NE(text.find("ParamType = ptInput"), std::string::npos) << text;

  TParamHolder back(nullptr);
  ReadComponentText(text, back);
  ASSERT_EQ(back.params.Count(), 2);
  EXPECT_EQ(back.params[0]->Name(), "Id");
  EXPECT_EQ(back.params[0]->DataType(), ftInteger);
  EXPECT_EQ(back.params[1]->DataType(), ftString);
  EXPECT_EQ(back.params[1]->ParamType(), ptUnknown);
}

}  // namespace
