// Fuzz target: arbitrary bytes through the tokenizer, the pre-parser in its
// three modes, the parameter list, the section requests and a parser-base
// walk over the tokens. Any text must end in tokens: no crash, no hang, no
// read outside the text (the sanitizers watch that), and the scanner keeps
// its invariants, which are checked here and abort the run when broken.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelParserUtils.h"
#include "platform/rtl/Classes.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

void ScanAll(const std::string& text) {
  zel::TZelTokenParser scanner;
  scanner.SetTokenString(text);
  std::size_t count = 0;
  std::size_t last = 0;
  std::string token;
  for (;;) {
    const zel::TZelSQLToken kind = scanner.GetNextToken(token);
    Check(++count <= text.size() + 1, "every token consumes text");
    Check(scanner.CurrChar() <= text.size(), "the scan stays inside the text");
    Check(scanner.CurrChar() >= last, "the scan never moves back");
    Check(scanner.TokenStartLine() >= 1 && scanner.TokenStartPos() >= 1, "positions from 1");
    Check(scanner.TokenStartLine() <= scanner.LineNo(), "a token starts at or before the scan");
    Check(static_cast<std::size_t>(kind) < zel::kZelSQLTokenCount, "token kind in range");
    last = scanner.CurrChar();
    if (kind == zel::zstEnd && token.empty()) break;
  }
  scanner.GetUnparsedText();
}

// Walks a stack the way a clause parser does.
void Walk(zel::TParserStack* stack) {
  zel::TBaseParser parser;
  parser.SetIsSubquery(true);
  parser.Execute(zel::TZelParserOptions{zel::zpoExtSyntax}, stack);
  while (parser.CurrToken() != nullptr) {
    parser.AtEndToken();
    parser.PeekAtTokenType(1);
    parser.NextTokenIsLParen();
    if (parser.CurrentTokenType() == zel::zstCompOperator)
      parser.SetError(parser.CurrToken(), "Invalid token");
    parser.NextToken();
  }
  parser.GetErrorMsg();
  parser.GetErrorMsgNoLine();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ScanAll(text);

  zel::TZelPreParser single;
  single.SetText(text);
  single.SetParseSingleStack(true);
  single.PreParseTokens();
  single.CheckParseComplete();
  plat::TStringList params;
  single.GetParamList(params);

  zel::TZelPreParser copy;
  copy.SetParseSingleStack(true);
  copy.AssignStacks(single);
  copy.GetSection(zel::zstFrom, nullptr);
  single.TrimStacks(copy);
  copy.GetSection(zel::zstWhere, nullptr);
  Walk(copy.GetSingleStack());
  Walk(single.GetSingleStack());

  zel::TZelPreParser sectioned;
  sectioned.SetText(text);
  sectioned.PreParseTokens();
  for (int32_t i = 0; i < sectioned.GetSectionCount(); ++i) Walk(sectioned.Stack(i));

  zel::TZelPreParser filter;
  filter.SetText(text);
  filter.SetParseAsExprOnly(true);
  filter.PreParseTokens();
  Walk(filter.GetSection(zel::zstWhere, nullptr));
  return 0;
}
