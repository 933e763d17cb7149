// Fuzz target: arbitrary text as a condition and as a value expression over
// the two test tables, evaluated for every row with and without
// ExcludeRelopNulls, and as an ORDER BY clause, a GROUP BY clause and a data
// type. The first byte chooses the parser options. Bad text must end in a
// recorded parse error, bad data in an engine error; anything else (another
// exception, a failed assertion, a crash, a hang, a sanitizer report) is a
// fault.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelMiscParsers.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/storage/zelCommonError.h"
#include "tests/engine/expr/zelExprFixture.h"

namespace {

using zel::testing::JoinProvider;
using zel::testing::ParsedExpr;

void EvaluateRows(ParsedExpr& parsed, bool condition) {
  for (bool exclude : {false, true}) {
    JoinProvider provider;
    zel::TExprEvaluator evaluator;
    evaluator.SetExcludeRelopNulls(exclude);
    evaluator.Prepare(&provider, parsed.Parser.Root());
    for (intptr_t row = 1; row <= provider.Emp.RowCount(); ++row) {
      provider.MoveToRecord(reinterpret_cast<void*>(row));
      evaluator.Reset();
      try {
        if (condition)
          evaluator.Evaluate();
        else
          evaluator.EvaluateValueExpr();
      } catch (const zel::EZelDatabaseError&) {
        // Bad data: division by zero, a value CAST cannot take, a subquery
        // of the wrong shape, an unknown generator.
      }
    }
  }
}

void ParseExpr(const std::string& text, zel::TZelParserOptions options, bool value) {
  ParsedExpr parsed;
  parsed.OfferOuterTable = value;
  parsed.Parser.SetIsSubquery(value);
  zel::TZelExpr external;
  bool ok = false;
  try {
    ok = value ? parsed.Parse(text, options, true, &external) : parsed.Parse(text, options);
  } catch (const zel::EZelDatabaseError&) {
    return;  // a date or time literal that does not convert
  }
  if (!ok) {
    parsed.Parser.GetErrorMsg();
    return;
  }
  parsed.SetParameter("p", plat::Variant(2));
  EvaluateRows(parsed, !value);
}

void ParseClauses(const std::string& text) {
  {
    zel::TZelPreParser pre;
    pre.SetText(text);
    pre.SetParseSingleStack(true);
    pre.PreParseTokens();
    zel::TOrderByItems items;
    zel::TZelOrderByParser parser;
    parser.ExecuteOrderBy(items, pre.GetSingleStack());
    parser.GetErrorMsg();
  }
  {
    zel::TZelPreParser pre;
    pre.SetText(text);
    pre.SetParseSingleStack(true);
    pre.PreParseTokens();
    zel::TGroupByItems items;
    zel::TZelGroupByParser parser;
    parser.ExecuteGroupBy(items, pre.GetSingleStack());
  }
  {
    zel::TZelPreParser pre;
    pre.SetText(text);
    pre.SetParseSingleStack(true);
    pre.PreParseTokens();
    zel::TZelDataTypeParser parser;
    parser.SetAllowConstraints(true);
    parser.Execute(zel::TZelParserOptions(), pre.GetSingleStack());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  const uint8_t flags = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  zel::TZelParserOptions options;
  if (flags & 1) options.Include(zel::zpoExtSyntax);
  if (flags & 2) options.Include(zel::zpoParameters);
  if (flags & 4) options.Include(zel::zpoSubqueries);
  if (flags & 8) options.Include(zel::zpoExtractAggFuncExprText);
  ParseExpr(text, options, false);
  ParseExpr(text, options, true);
  ParseClauses(text);
  return 0;
}
