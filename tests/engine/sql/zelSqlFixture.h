#pragma once
// A small catalogue of table definitions and the owner that drives the
// parser engine through a statement's clauses, parsing subqueries and UNION
// parts through child engines; shared by the SQL parsing tests and the fuzz
// target.
//
//   emp:  id INTEGER, name VARCHAR(20), salary FLOAT, dept_id INTEGER, notes MEMO
//   dept: dept_id INTEGER, dname VARCHAR(10), id AUTOINC
//   loc:  city VARCHAR(30)

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/zelParserEngine.h"
#include "engine/storage/zelDataFields.h"
#include "engine/storage/zelDataTableDef.h"
#include "platform/rtl/Strings.h"

namespace zel::testing {

class TestCatalogue {
 public:
  TestCatalogue() {
    Add("emp", {{"id", plat::ftInteger, 0},
                {"name", plat::ftString, 21},
                {"salary", plat::ftFloat, 0},
                {"dept_id", plat::ftInteger, 0},
                {"notes", plat::ftMemo, 0}});
    Add("dept", {{"dept_id", plat::ftInteger, 0}, {"dname", plat::ftString, 11},
                 {"id", plat::ftAutoInc, 0}});
    Add("loc", {{"city", plat::ftString, 31}});
  }

  const TTableDef* Find(const std::string& Name) const {
    for (const auto& [name, def] : Tables_)
      if (plat::AnsiSameText(name, Name)) return def.get();
    return nullptr;
  }

  // Gives every table of the list its fields; false when one is unknown.
  bool FillFields(TTableList& List) const {
    bool all = true;
    for (int32_t i = 0; i < List.Count(); ++i) {
      TTableNameItem* item = List.Items(i);
      const TTableDef* def = Find(item->TableName());
      if (def == nullptr) {
        all = false;
        continue;
      }
      if (item->TableFields()->Count() == 0) item->TableFields()->Assign(&def->InternalFields());
    }
    return all;
  }

 private:
  struct Column {
    const char* name;
    plat::TFieldType type;
    int32_t size;
  };
  void Add(const std::string& Name, const std::vector<Column>& Columns) {
    auto def = std::make_unique<TTableDef>();
    def->SetTableName(Name);
    for (std::size_t i = 0; i < Columns.size(); ++i) {
      TInternalFieldItem* field = def->InternalFields().Add();
      field->SetFieldName(Columns[i].name);
      field->SetDataType(Columns[i].type);
      if (Columns[i].size > 0) field->SetFieldSize(Columns[i].size);
      field->SetFieldNo(static_cast<int32_t>(i) + 1);
    }
    Tables_[Name] = std::move(def);
  }
  std::map<std::string, std::unique_ptr<TTableDef>> Tables_;
};

// What a statement parsed into: the engine and everything it handed over.
struct ParsedStatement {
  std::unique_ptr<TZelParserEngine> Engine;
  std::unique_ptr<TZelSelectAnalyser> Analyser;
  std::vector<std::unique_ptr<ParsedStatement>> Children;  // subqueries, UNION parts, WHERE
  ParsedStatement* Parent = nullptr;                        // the enclosing statement
  std::string Error;
  bool Ok = false;
};

class StatementDriver {
 public:
  explicit StatementDriver(const TestCatalogue& Catalogue) : Catalogue_(Catalogue) {}

  std::unique_ptr<ParsedStatement> Parse(const std::string& Text) {
    auto result = std::make_unique<ParsedStatement>();
    result->Engine = std::make_unique<TZelParserEngine>();
    Install(*result);
    result->Engine->PreParseSQL(Text);
    switch (result->Engine->GetSQLStatementType()) {
      case zsSQLInsert:
        result->Ok = RunInsert(*result);
        break;
      case zsSQLUpdate:
        result->Ok = RunUpdate(*result);
        break;
      case zsSQLDelete:
        result->Ok = result->Engine->ParseDeleteStatement();
        break;
      case zsSchemaManipulation:
        result->Ok = result->Engine->ParseSchemaManipulationStatement();
        break;
      default:
        result->Ok = RunSelect(*result, nullptr);
        if (result->Ok && !result->Engine->CheckParseDone()) {
          result->Ok = false;
          result->Error = "Tokens remain";
        }
        break;
    }
    if (!result->Ok && result->Error.empty()) result->Error = result->Engine->ErrorMsg();
    if (result->Ok) result->Ok = ChildrenOk(*result, result->Error);
    return result;
  }

 private:
  void Install(ParsedStatement& Statement) {
    ParsedStatement* owner = &Statement;
    Statement.Engine->SetParserEngineNotifyEvent(
        [this, owner](TParserNotifyType type, std::unique_ptr<TZelParserEngine>& engine,
                      TZelExprNode* node, plat::Variant& value) {
          if (type == pntFindTableRef) {
            value = plat::Variant(FindOuterReference(*owner, *node, plat::VarToStr(value)));
            return;
          }
          if (engine == nullptr) return;
          auto child = std::make_unique<ParsedStatement>();
          child->Engine = std::move(engine);
          child->Parent = owner;
          Install(*child);
          ParsedStatement& part = *child;
          owner->Children.push_back(std::move(child));
          if (type == pntSelectUnion) {
            part.Engine->SetIsUnionSubstatement(true);
            part.Ok = RunSelect(part, owner->Analyser.get());
          } else if (node != nullptr && !node->Data().IsEmpty() &&
                     plat::AnsiSameText(plat::VarToStr(node->Data()), "WHERE")) {
            for (int32_t i = 0; i < owner->Engine->TableList()->Count(); ++i)
              part.Engine->TableList()->Add()->Assign(owner->Engine->TableList()->Items(i));
            Catalogue_.FillFields(*part.Engine->TableList());
            part.Ok = part.Engine->ParseWhereClause();
          } else if (node != nullptr && !node->Data().IsEmpty()) {
            part.Ok = RunSelect(part, nullptr);  // INSERT ... SELECT
          } else {
            part.Engine->SetIsSubquery(true);
            part.Ok = RunSelect(part, nullptr);
          }
        });
  }

  // A field that a subquery's own tables lack is sought in the tables of the
  // statement and of each enclosing one, nearest first; the found entry joins
  // the node's table list. A named table must have the field too.
  static bool FindOuterReference(const ParsedStatement& S, TZelExprNode& Node,
                                 const std::string& Table) {
    const std::string field = plat::VarToStr(Node.Data());
    for (const ParsedStatement* s = &S; s != nullptr; s = s->Parent) {
      const TTableList& list = *s->Engine->TableList();
      TTableNameItem* item = Table.empty() ? list.FindTableForField(field) : list.FindTable(Table);
      if (item == nullptr || item->TableFields()->FindField(field) == nullptr) continue;
      Node.TableList()->Add()->Assign(item);
      return true;
    }
    return false;
  }

  bool RunSelect(ParsedStatement& S, TZelSelectAnalyser* UnionFirst) {
    TZelParserEngine& e = *S.Engine;
    S.Analyser = std::make_unique<TZelSelectAnalyser>();
    TZelSelectAnalyser& a = *S.Analyser;
    if (!e.ParseFromClause()) return false;
    if (!Catalogue_.FillFields(*e.TableList())) {
      S.Error = "Table not found";
      return false;
    }
    if (!e.ParseSelectClause() || !e.ProcessJoins()) return false;
    a.SetIsDistinct(e.SelectParser().IsDistinct());
    if (!a.CheckSelect(&e.SelectParser().Nodes(), e.TableList())) return Fail(S, a);
    if (UnionFirst != nullptr && !a.ValidateUnionSelectFields(UnionFirst->SelectFields()))
      return Fail(S, a);
    if (!e.ParseWhereClause() || !e.ParseGroupByClause()) return false;
    if (!a.CheckGroupedColumns(e.GroupByItems())) return Fail(S, a);
    if (!e.ParseHavingClause()) return false;
    if (!a.CheckHavingExpr(e.HavingParser().Expr())) return Fail(S, a);
    bool all = false;
    while (!e.IsUnionSubstatement() && e.CheckForUnionStatement(false, all)) {
      plat::Variant value;
      e.ParserCallback(pntSelectUnion, &e.UnionAnchor(), nullptr, nullptr, value);
      if (e.UnionAnchor().HasParseError()) {
        S.Error = e.UnionAnchor().GetErrorMsg();
        return false;
      }
      if (!ChildrenOk(S, S.Error)) return false;
    }
    if (!e.ErrorMsg().empty()) return false;
    if (e.IsUnionSubstatement()) return true;
    if (!e.ParseOrderByClause()) return false;
    if (!a.CheckOrderByColumns(e.OrderByItems())) return Fail(S, a);
    return true;
  }

  bool RunInsert(ParsedStatement& S) {
    TZelParserEngine& e = *S.Engine;
    if (!e.ParseInsertStatement()) return false;
    const TTableDef* def = Catalogue_.Find(e.InsertParser().TableName());
    if (def == nullptr) {
      S.Error = "Table not found";
      return false;
    }
    TZelInsertParser& p = e.InsertParser();
    const bool ok = p.HasSelectClause()
                        ? p.ValidateSelectColumns(S.Children.at(0)->Analyser->SelectFields(),
                                                  def->InternalFields())
                        : p.ValidateValueColumns(def->InternalFields());
    if (!ok) S.Error = p.ErrorMsg();
    return ok;
  }

  bool RunUpdate(ParsedStatement& S) {
    TZelParserEngine& e = *S.Engine;
    e.UpdateParser().SetTableListValidateEvent(
        [this](TTableList& list) { return Catalogue_.FillFields(list); });
    if (!e.ParseUpdateStatement()) return false;
    const TTableDef* def = Catalogue_.Find(e.UpdateParser().TableName());
    if (!e.UpdateParser().ValidateValueColumns(def->InternalFields())) {
      S.Error = e.UpdateParser().ErrorMsg();
      return false;
    }
    e.UpdateParser().ValidateAndSetDataTypes(def->InternalFields());
    return true;
  }

  // A child the engine accepted may still fail the owner's checks.
  static bool ChildrenOk(const ParsedStatement& S, std::string& Error) {
    for (const auto& child : S.Children) {
      if (!child->Ok) {
        Error = !child->Error.empty() ? child->Error : child->Engine->ErrorMsg();
        return false;
      }
      if (!ChildrenOk(*child, Error)) return false;
    }
    return true;
  }

  static bool Fail(ParsedStatement& S, const TZelSelectAnalyser& A) {
    S.Error = A.ErrorMsg();
    return false;
  }

  const TestCatalogue& Catalogue_;
};

}  // namespace zel::testing
