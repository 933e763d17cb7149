#pragma once
// Two in-memory tables and the providers an expression is evaluated over,
// shared by the expression tests and the fuzz target.
//
//   emp:  id INTEGER, name VARCHAR(20), salary FLOAT, hired DATE,
//         active BOOLEAN, photo BLOB, stamp TIMESTAMP, shift TIME
//   dept: id INTEGER, dname VARCHAR(10), budget FLOAT
//
// Subqueries are "(SELECT <anything> FROM <rows>)" where <rows> names one of
// the row sets of SubqueryRows(); the handler skips the subquery's tokens.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelParserUtils.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Variants.h"

namespace zel::testing {

struct ColumnDef {
  const char* name;
  plat::TFieldType type;
  int32_t size;  // 0: the type's own
};

inline const std::vector<ColumnDef>& EmpColumns() {
  static const std::vector<ColumnDef> columns = {
      {"id", plat::ftInteger, 0},     {"name", plat::ftString, 21},   {"salary", plat::ftFloat, 0},
      {"hired", plat::ftDate, 0},     {"active", plat::ftBoolean, 0}, {"photo", plat::ftBlob, 0},
      {"stamp", plat::ftDateTime, 0}, {"shift", plat::ftTime, 0}};
  return columns;
}

inline const std::vector<ColumnDef>& DeptColumns() {
  static const std::vector<ColumnDef> columns = {
      {"id", plat::ftInteger, 0}, {"dname", plat::ftString, 11}, {"budget", plat::ftFloat, 0}};
  return columns;
}

using Row = std::vector<plat::Variant>;

inline plat::Variant DateValue(int32_t y, int32_t m, int32_t d) {
  return plat::VarFromDateTime(plat::EncodeDate(y, m, d));
}

inline plat::Variant StampValue(int32_t y, int32_t m, int32_t d, int32_t h, int32_t n, int32_t s,
                                int32_t ms) {
  return plat::VarFromDateTime(plat::EncodeDate(y, m, d) + plat::EncodeTime(h, n, s, ms));
}

// Row 3 has nothing but its id.
inline std::vector<Row> EmpRows() {
  const plat::Variant null = plat::Null();
  return {
      {1, "Ann", 1000.5, DateValue(2001, 1, 15), true, "x",
       StampValue(2001, 1, 15, 10, 30, 15, 250),
       plat::VarFromDateTime(plat::EncodeTime(8, 0, 0, 0))},
      {2, "bob", 2000.0, DateValue(2005, 6, 30), false, null,
       StampValue(2005, 6, 30, 23, 59, 59, 0),
       plat::VarFromDateTime(plat::EncodeTime(22, 0, 0, 0))},
      {3, null, null, null, null, null, null, null},
      {4, "Anna", 0.0, DateValue(2010, 12, 31), true, "yy", StampValue(2010, 12, 31, 0, 0, 0, 0),
       plat::VarFromDateTime(plat::EncodeTime(12, 15, 0, 0))}};
}

inline std::vector<Row> DeptRows() {
  return {{10, "Sales", 5000.0}};
}

// Field numbers of a table start at Base + 1, so one provider can serve
// both tables.
inline void AddColumns(TInternalFields& fields, const std::vector<ColumnDef>& columns,
                       int32_t Base) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    TInternalFieldItem* field = fields.Add();
    field->SetFieldName(columns[i].name);
    field->SetDataType(columns[i].type);
    if (columns[i].size > 0) field->SetFieldSize(columns[i].size);
    field->SetFieldNo(Base + static_cast<int32_t>(i) + 1);
  }
}

// dept first: a field both tables have is the last table's, emp's.
inline void BuildTableList(TTableList& list) {
  TTableNameItem* dept = list.Add();
  dept->SetTableName("dept");
  dept->SetCorrelationName("d");
  AddColumns(*dept->TableFields(), DeptColumns(), 100);
  TTableNameItem* emp = list.Add();
  emp->SetTableName("emp");
  emp->SetCorrelationName("e");
  AddColumns(*emp->TableFields(), EmpColumns(), 0);
}

// Byte order, optionally ignoring ASCII case; a partial comparison ends
// with the shorter text.
inline int32_t TestStringCompare(const char* A, const char* B, int32_t LengthA, int32_t LengthB,
                                 bool Partial, bool CaseInsensitive) {
  const int32_t n = LengthA < LengthB ? LengthA : LengthB;
  for (int32_t i = 0; i < n; ++i) {
    int a = static_cast<unsigned char>(A[i]);
    int b = static_cast<unsigned char>(B[i]);
    if (CaseInsensitive) {
      if (a >= 'a' && a <= 'z') a -= 32;
      if (b >= 'a' && b <= 'z') b -= 32;
    }
    if (a != b) return a < b ? -1 : 1;
  }
  if (Partial) return 0;
  return LengthA == LengthB ? 0 : LengthA < LengthB ? -1 : 1;
}

// One table's rows; Base as in AddColumns.
class TableProvider : public TZelExprDataProvider {
 public:
  TableProvider(const std::vector<ColumnDef>& Columns, std::vector<Row> Rows, int32_t Base)
      : Rows_(std::move(Rows)), Base_(Base) {
    AddColumns(*ProviderFields(), Columns, Base);
    SetDBStringCompare(TestStringCompare);
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    const int32_t column = FieldNo - Base_ - 1;
    if (Current_ < 0 || Current_ >= static_cast<int32_t>(Rows_.size()) || column < 0 ||
        column >= static_cast<int32_t>(Rows_[Current_].size()))
      return plat::Variant();
    return Rows_[Current_][column];
  }
  // Addresses are row numbers counted from 1.
  bool MoveToRecord(void* RecAddr) override {
    const auto row = static_cast<int32_t>(reinterpret_cast<intptr_t>(RecAddr)) - 1;
    if (row < 0 || row >= static_cast<int32_t>(Rows_.size())) return false;
    Current_ = row;
    return true;
  }
  void GetDefaultRecordList(TCompoundList& List) override {
    for (std::size_t i = 1; i <= Rows_.size(); ++i)
      List.Add(reinterpret_cast<void*>(static_cast<intptr_t>(i)), nullptr);
  }
  int32_t RowCount() const { return static_cast<int32_t>(Rows_.size()); }
  int32_t Current() const { return Current_; }

 private:
  std::vector<Row> Rows_;
  int32_t Base_;
  int32_t Current_ = 0;
};

// emp joined with dept's current row: an unqualified field is looked up as
// the parser does (the last table first), a qualified one in its table.
class JoinProvider : public TZelExprDataProvider {
 public:
  explicit JoinProvider(TZelDataProviderBaseDBInterface* DB = nullptr)
      : TZelExprDataProvider(DB),
        Emp(EmpColumns(), EmpRows(), 0),
        Dept(DeptColumns(), DeptRows(), 100) {
    AddColumns(*ProviderFields(), EmpColumns(), 0);
    SetDBStringCompare(TestStringCompare);
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    return FieldNo > 100 ? Dept.GetDataAsVariant(FieldNo) : Emp.GetDataAsVariant(FieldNo);
  }
  TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override {
    TInternalFieldItem* field = Emp.FindField(Token, Name);
    return field != nullptr ? field : Dept.FindField(Token, Name);
  }
  TZelExprDataProvider* FindProvider(const std::string& Name) override {
    if (plat::AnsiSameText(Name, "emp") || plat::AnsiSameText(Name, "e")) return &Emp;
    if (plat::AnsiSameText(Name, "dept") || plat::AnsiSameText(Name, "d")) return &Dept;
    return nullptr;
  }
  bool MoveToRecord(void* RecAddr) override { return Emp.MoveToRecord(RecAddr); }

  TableProvider Emp;
  TableProvider Dept;
};

// The rows of a subquery, by the name after its FROM.
inline const std::map<std::string, std::vector<Row>>& SubqueryRows() {
  static const std::map<std::string, std::vector<Row>> rows = {
      {"s_empty", {}},          {"s_one", {{2}}},
      {"s_many", {{1}, {2}}},   {"s_null", {{2}, {plat::Null()}}},
      {"s_two_cols", {{1, 2}}}, {"s_names", {{"Ann"}, {"bob"}}},
      {"s_mixed", {{1}, {2.5}, {plat::Null()}, {plat::Null()}}}};
  return rows;
}

class VectorRows : public TCustomExprNodeDataProvider {
 public:
  explicit VectorRows(std::vector<Row> Rows) : Rows_(std::move(Rows)) {}
  bool PrepareAndOpen() override {
    ++Opened;
    return true;
  }
  uint64_t RowsStamp() override { return Stamp; }
  bool First() override {
    ++Read;
    Current_ = 0;
    return !Rows_.empty();
  }
  bool Next() override {
    ++Current_;
    return Current_ < Rows_.size();
  }
  int32_t ColumnCount() override {
    return Current_ < Rows_.size() ? static_cast<int32_t>(Rows_[Current_].size()) : 0;
  }
  plat::Variant ColumnValue(int32_t Index) override {
    if (Current_ >= Rows_.size() || Index < 0 ||
        static_cast<std::size_t>(Index) >= Rows_[Current_].size())
      return plat::Variant();
    return Rows_[Current_][Index];
  }
  void SetRows(std::vector<Row> Rows) { Rows_ = std::move(Rows); }
  int32_t Opened = 0;
  // How often the rows were read from the first.
  int32_t Read = 0;
  // What RowsStamp gives: 0, the rows may change at every open.
  uint64_t Stamp = 0;

 private:
  std::vector<Row> Rows_;
  std::size_t Current_ = 0;
};

// A parse of one text: the pre-parser owns the tokens the tree refers to,
// the subquery row sources live as long as the tree.
struct ParsedExpr {
  TZelPreParser Pre;
  TTableList Tables;
  TZelExprParser Parser;
  std::vector<std::unique_ptr<VectorRows>> Subqueries;
  // Outer references: a field of this table is offered by the handler.
  bool OfferOuterTable = false;
  bool Ok = false;

  ParsedExpr() { BuildTableList(Tables); }

  bool Parse(const std::string& Text, TZelParserOptions Options, bool ValueExpr = false,
             TZelExpr* External = nullptr) {
    Pre.SetText(Text);
    Pre.SetParseSingleStack(true);
    Pre.PreParseTokens();
    Parser.SetTableList(&Tables);
    Parser.SetParserNotifyEvent(
        [this](TParserNotifyType Type, TBaseParser* Owner, TParserStack* Stack, TZelExprNode* Node,
               plat::Variant& Value) { Notify(Type, Owner, Stack, Node, Value); });
    TParserStack* stack = Pre.GetSingleStack();
    if (External != nullptr)
      Ok = ValueExpr ? Parser.ExecuteExternalValueExpr(*External, Options, stack)
                     : Parser.ExecuteExternalExpr(*External, Options, stack);
    else
      Ok = Parser.Execute(Options, stack);
    return Ok;
  }

  // Sets every parameter node of the tree to Value.
  void SetParameter(const std::string& Name, const plat::Variant& Value) {
    for (TZelExprNode* node = Parser.Expr()->FirstNode(); node != nullptr; node = node->Next())
      if (node->Kind() == enkParam && plat::AnsiSameText(node->Data().AsString(), Name))
        node->SetData(Value);
  }

 private:
  void Notify(TParserNotifyType Type, TBaseParser* Owner, TParserStack* Stack, TZelExprNode* Node,
              plat::Variant& Value) {
    if (Type == pntFindTableRef) {
      if (!OfferOuterTable) return;
      TTableNameItem* outer = Node->TableList()->Add();
      outer->SetTableName("outer_t");
      AddColumns(*outer->TableFields(), {{"ox", plat::ftInteger, 0}}, 200);
      Value = plat::Variant(outer->TableFields()->FindField(Node->Data().AsString()) != nullptr);
      return;
    }
    if (Type != pntSubquery) return;
    // Skip to the ")" that closes the subquery, noting the name after FROM.
    TBaseParser walker;
    walker.Execute(Owner->Options(), Stack);
    int32_t depth = 0;
    std::string source;
    bool afterFrom = false;
    while (walker.CurrToken() != nullptr && walker.CurrentTokenType() != zstEnd) {
      const TZelSQLToken kind = walker.CurrentTokenType();
      if (kind == zstRParen && depth == 0) break;
      if (kind == zstLParen) ++depth;
      if (kind == zstRParen) --depth;
      if (afterFrom && source.empty()) source = walker.CurrToken()->Text();
      afterFrom = kind == zstFrom;
      walker.NextToken();
    }
    Owner->SyncCurrToken(walker);
    const auto found = SubqueryRows().find(source);
    if (found == SubqueryRows().end()) {
      Owner->SetError(Owner->CurrToken(), "Table not found");
      return;
    }
    Subqueries.push_back(std::make_unique<VectorRows>(found->second));
    Node->SetExprNodeDataProvider(Subqueries.back().get());
  }
};

inline TZelParserOptions AllOptions() {
  TZelParserOptions options;
  options.Include(zpoExtSyntax);
  options.Include(zpoParameters);
  options.Include(zpoSubqueries);
  return options;
}

}  // namespace zel::testing
