#pragma once
// CREATE TABLE, ALTER TABLE, CREATE INDEX, DROP TABLE and DROP INDEX: parsed,
// checked against the table's current fields and indexes, and applied to the
// restructure descriptors.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "engine/storage/zelDataFields.h"
#include "platform/db/DB.h"

namespace zel {

class TRestructureFieldDefs;
class TRestructureIndexDefs;

enum TSQLSchemaManipulationOp : uint8_t {
  ddUnknown,
  ddCreateTable,
  ddAlterTable,
  ddCreateIndex,
  ddDropTable,
  ddDropIndex
};

enum TAlterColumnOperation : uint8_t { aoUnknown, aoAdd, aoDrop, aoAlterAny, aoAlterName, aoAlterType };

class TZelSchemaManipulationParser : public TBaseParser {
 public:
  TZelSchemaManipulationParser();
  ~TZelSchemaManipulationParser() override;
  std::string ClassName() const override { return "TZelSchemaManipulationParser"; }

  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  bool ValidateTableChanges(const TInternalFields& Fields, const plat::TIndexDefs* IndexDefs);
  void SetRestructureFieldDefs(TRestructureFieldDefs& Defs) const;
  void SetRestructureIndexDefs(TRestructureIndexDefs& Defs) const;
  std::string GetIndexFieldsAsText() const;

  TInternalFields& AddedFields() const { return *AddedFields_; }
  TInternalFields& DroppedFields() const { return *DroppedFields_; }
  TInternalFields& AlteredFields() const { return *AlteredFields_; }
  // Index column names with the token of each.
  const std::vector<std::pair<std::string, TParserToken*>>& IndexFields() const { return IndexFields_; }
  plat::TIndexOptions IndexOptions() const { return IndexOptions_; }
  TSQLSchemaManipulationOp Operation() const { return Operation_; }
  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  const std::string& IndexName() const { return IndexName_; }
  bool TemporaryTable() const { return TemporaryTable_; }
  void SetTemporaryTable(bool Value) { TemporaryTable_ = Value; }

 private:
  void ParseCreate();
  void ParseCreateTable();
  void ParseCreateIndex();
  void ParseAlterTable();
  void ParseDrop();
  bool ReadName(std::string& Name);
  // [TEMPORARY] name: the statement's table.
  bool ReadTableName();
  void ParseIndexColumns(bool AllowEmpty);
  TInternalFieldItem* ParseColumn(TInternalFields& Target, bool WithType);
  TParserToken* TokenOf(const TInternalFieldItem* Item) const;

  std::unique_ptr<TInternalFields> AddedFields_;
  std::unique_ptr<TInternalFields> DroppedFields_;
  std::unique_ptr<TInternalFields> AlteredFields_;
  std::vector<std::pair<std::string, TParserToken*>> IndexFields_;
  plat::TIndexOptions IndexOptions_;
  TSQLSchemaManipulationOp Operation_ = ddUnknown;
  std::string TableName_;
  std::string IndexName_;
  bool TemporaryTable_ = false;
  // Defining token of each field item, by its place in the token list.
  std::vector<TParserToken*> FieldTokens_;
};

}  // namespace zel
