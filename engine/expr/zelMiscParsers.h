#pragma once
// The ORDER BY and GROUP BY clause parsers and the column data-type parser.
// Errors are recorded on the parser (TBaseParser::SetError), never raised.

#include <cstdint>
#include <string>

#include "engine/expr/zelBaseParser.h"
#include "platform/db/DB.h"
#include "platform/rtl/Collections.h"

namespace zel {

class TOrderByItem : public plat::TCollectionItem {
 public:
  explicit TOrderByItem(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}
  std::string ClassName() const override { return "TOrderByItem"; }

  // The column as written (name, qualified name or expression); empty for a
  // column number.
  const std::string& SortKey() const { return SortKey_; }
  void SetSortKey(const std::string& Value) { SortKey_ = Value; }
  // The 1-based column number of a numeric item, 0 otherwise.
  int32_t FieldIndex() const { return FieldIndex_; }
  void SetFieldIndex(int32_t Value) { FieldIndex_ = Value; }
  bool Descending() const { return Descending_; }
  void SetDescending(bool Value) { Descending_ = Value; }

 private:
  std::string SortKey_;
  int32_t FieldIndex_ = 0;
  bool Descending_ = false;
};

class TOrderByItems : public plat::TCollection {
 public:
  TOrderByItems();
  std::string ClassName() const override { return "TOrderByItems"; }

  TOrderByItem* Add() { return static_cast<TOrderByItem*>(plat::TCollection::Add()); }
  TOrderByItem* AddOrderByItem(int32_t FieldIndex, const std::string& SortKey, bool Descending);
  TOrderByItem* Items(int32_t Index) const {
    return static_cast<TOrderByItem*>(plat::TCollection::Items(Index));
  }
};

class TGroupByItem : public plat::TCollectionItem {
 public:
  explicit TGroupByItem(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}
  std::string ClassName() const override { return "TGroupByItem"; }

  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  const std::string& FieldName() const { return FieldName_; }
  void SetFieldName(const std::string& Value) { FieldName_ = Value; }
  // Set by the query engine once the result set's columns are known.
  int32_t ResultSetIndex() const { return ResultSetIndex_; }
  void SetResultSetIndex(int32_t Value) { ResultSetIndex_ = Value; }

 private:
  std::string TableName_;
  std::string FieldName_;
  int32_t ResultSetIndex_ = 0;
};

class TGroupByItems : public plat::TCollection {
 public:
  TGroupByItems();
  std::string ClassName() const override { return "TGroupByItems"; }

  TGroupByItem* Add() { return static_cast<TGroupByItem*>(plat::TCollection::Add()); }
  TGroupByItem* Items(int32_t Index) const {
    return static_cast<TGroupByItem*>(plat::TCollection::Items(Index));
  }
};

class TZelOrderByParser : public TBaseParser {
 public:
  TZelOrderByParser();
  std::string ClassName() const override { return "TZelOrderByParser"; }

  // Clears Items and fills it from the clause's tokens; false on an error.
  bool ExecuteOrderBy(TOrderByItems& Items, TParserStack* Stack);

 private:
  bool AtItemEnd() const;
};

class TZelGroupByParser : public TBaseParser {
 public:
  TZelGroupByParser() = default;
  std::string ClassName() const override { return "TZelGroupByParser"; }

  // Clears Items and fills it from the clause's tokens; false on an error.
  bool ExecuteGroupBy(TGroupByItems& Items, TParserStack* Stack);
};

// A column data type: CHAR/VARCHAR [(size)], INT, SMALLINT, DATE, TIME
// [(size)], TIMESTAMP, DECIMAL/NUMERIC/FLOAT [(precision [, scale])],
// BOOLEAN, MONEY, BLOB [(size [, kind])], AUTOINC, and with AllowConstraints
// an optional NOT NULL.
class TZelDataTypeParser : public TBaseParser {
 public:
  TZelDataTypeParser() = default;
  std::string ClassName() const override { return "TZelDataTypeParser"; }

  // Refuses AUTOINC, then parses one data type from the stack.
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  // Parses a data type at Parser's current token, moving Parser on and
  // recording any error on Parser (the CAST expression and the schema
  // statements parse types inside their own token streams).
  void ParseDataType(TBaseParser& Parser);

  int32_t Scale() const { return Scale_; }
  void SetScale(int32_t Value) { Scale_ = Value; }
  int32_t FieldSize() const { return FieldSize_; }
  void SetFieldSize(int32_t Value) { FieldSize_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  void SetDataType(plat::TFieldType Value) { DataType_ = Value; }
  const TZelTokenSet& InvalidDataTypes() const { return InvalidDataTypes_; }
  void SetInvalidDataTypes(const TZelTokenSet& Value) { InvalidDataTypes_ = Value; }
  bool AllowConstraints() const { return AllowConstraints_; }
  void SetAllowConstraints(bool Value) { AllowConstraints_ = Value; }
  bool NotNull() const { return NotNull_; }
  void SetNotNull(bool Value) { NotNull_ = Value; }

 private:
  int32_t Scale_ = -1;
  int32_t FieldSize_ = 0;
  plat::TFieldType DataType_ = plat::ftUnknown;
  TZelTokenSet InvalidDataTypes_;
  bool AllowConstraints_ = false;
  bool NotNull_ = false;
};

// The value of a number token that is a whole number from 0 to 2^31 - 1;
// false for anything else (a sign, a fraction, an exponent, overflow).
bool ZelTokenToCount(const TParserToken* Token, int32_t& Value);

}  // namespace zel
