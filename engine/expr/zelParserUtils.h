#pragma once
// Word mappers (aggregate, string-function and data-type words to their
// ordinals) and the pre-parser, which runs the tokenizer over a whole
// statement or filter once and keeps its tokens on section stacks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "platform/db/DB.h"

namespace plat {
class TStrings;
}

namespace zel {

enum TZelSQLAggFunc : uint8_t { zafUnknown, zafCount, zafAvg, zafSum, zafMax, zafMin };

enum TZelSQLStrFunc : uint8_t {
  zsfUnknown,
  zsfSubstring,
  zsfUpper,
  zsfLower,
  zsfTrim,
  zsfTrimLeading,
  zsfTrimTrailing,
  zsfTrimBoth
};

// Maps words to the ordinal of an enumeration; ordinal 0 means "no member".
// Words compare case-insensitively (ANSI).
class TBaseMapper : public plat::TObject {
 public:
  std::string ClassName() const override { return "TBaseMapper"; }

  // The number of words of the match (0 when the word is no member); sets
  // TokenCount, which starts at 1 for every match.
  virtual int32_t IsMemberToken(const std::string& word, const std::string& nextWord);
  virtual int32_t GetCustomOrdinal(const std::string& word, const std::string& nextWord) = 0;

  int32_t TokenCount() const { return TokenCount_; }

 protected:
  int32_t TokenCount_ = 0;
};

class TAggFuncMapper : public TBaseMapper {
 public:
  std::string ClassName() const override { return "TAggFuncMapper"; }
  int32_t GetCustomOrdinal(const std::string& word, const std::string& nextWord) override;
};

class TStrFuncMapper : public TBaseMapper {
 public:
  std::string ClassName() const override { return "TStrFuncMapper"; }
  int32_t GetCustomOrdinal(const std::string& word, const std::string& nextWord) override;
};

// Maps type words to plat::TFieldType; DOUBLE followed by PRECISION is a
// match of two words.
class TDataTypeMapper : public TBaseMapper {
 public:
  std::string ClassName() const override { return "TDataTypeMapper"; }
  int32_t IsMemberToken(const std::string& word, const std::string& nextWord) override;
  int32_t GetCustomOrdinal(const std::string& word, const std::string& nextWord) override;
};

enum TZelSQLStatementType : uint8_t {
  zsSQLUnknown,
  zsSQLExprOnly,
  zsSQLSelect,
  zsSQLInsert,
  zsSQLDelete,
  zsSQLUpdate,
  zsSchemaManipulation
};

// Runs the tokenizer over a text once and keeps every token on stacks.
//
// Ownership: every token it makes (and every copy AssignStacks makes) is
// owned by OwnedTokens and lives until FreeOwnedTokens or destruction, since
// expression trees keep references to tokens after the stacks are gone.
// Clear frees only the stacks. Parsers pop tokens, so a stack is consumed by
// parsing. Freed tokens are kept and made over by later passes, so a
// pre-parser used for one filter after another stops allocating.
class TZelPreParser : public plat::TObject {
 public:
  TZelPreParser() = default;
  ~TZelPreParser() override;
  TZelPreParser(const TZelPreParser&) = delete;
  TZelPreParser& operator=(const TZelPreParser&) = delete;
  std::string ClassName() const override { return "TZelPreParser"; }

  void SetText(const std::string& s);
  void SetParseAsExprOnly(bool value) { ParseAsExprOnly_ = value; }
  void SetParseSingleStack(bool value) { ParseSingleStack_ = value; }
  void SetSQLStatementType(TZelSQLStatementType value) { SqlStatementType_ = value; }

  void PreParseTokens();
  void Clear();
  void FreeOwnedTokens();
  // Frees the Count oldest owned tokens (those of earlier passes when Count
  // is the OwnedTokens size before this one).
  void FreeOldestTokens(int32_t Count);

  // The stack of a clause keyword (see the .cpp); nullptr when there is none.
  TParserStack* GetSection(TZelSQLToken kind, const TParserToken* token);
  int32_t GetSectionCount() const { return static_cast<int32_t>(Stacks_.size()); }
  TParserStack* GetSingleStack() const;
  int32_t GetSingleStackCount() const;
  void SetSingleStackCountTo(int32_t n);
  void AssignStacks(const TZelPreParser& other);
  void TrimStacks(const TZelPreParser& other);
  bool CheckIncludeToken(TZelSQLToken kind) const { return kind != zstComment; }
  bool CheckParseComplete() const;
  // Adds the statement's parameter names to list, each once (case-insensitive),
  // in order of first use, spelled as at first use.
  void GetParamList(plat::TStrings& list) const;

  const std::string& Text() const { return Text_; }
  bool ParseAsExprOnly() const { return ParseAsExprOnly_; }
  bool ParseSingleStack() const { return ParseSingleStack_; }
  TZelSQLStatementType SQLStatementType() const { return SqlStatementType_; }
  const std::string& UnparsedText() const { return UnparsedText_; }
  TParserStack* Stack(int32_t index) const;
  const TParserTokenList& OwnedTokens() const { return OwnedTokens_; }

 private:
  void SingleStackPass();
  void SectionedPass();
  TParserToken* MakeToken(const TZelTokenParser& scanner, TZelSQLToken kind, TZelSQLToken section,
                          const std::string& text);
  void SetTypeFromFirstToken(TZelSQLToken kind);
  void PostProcessTokens();

  std::vector<std::unique_ptr<TParserStack>> Stacks_;
  std::string Text_;
  bool ParseAsExprOnly_ = false;
  bool ParseSingleStack_ = false;
  TParserTokenList OwnedTokens_;
  // Freed tokens waiting to be made over by MakeToken.
  TParserTokenList SpareTokens_;
  TZelSQLStatementType SqlStatementType_ = zsSQLUnknown;
  std::string UnparsedText_;
};

}  // namespace zel
