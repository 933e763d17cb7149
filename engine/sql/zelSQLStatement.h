#pragma once
// One SQL statement of a query component that gives no result set: its text
// is validated against the database's tables, its parameter list is made
// from the text, and INSERT ... VALUES and the schema statements (CREATE
// TABLE, ALTER TABLE, CREATE INDEX, DROP TABLE, DROP INDEX) are carried out.
//
// No step raises for bad SQL: each returns false and adds a line to the
// error list, which the query component turns into one engine error. Errors
// of the table layer (locks, key violations, restructuring) are raised by
// that layer and pass through.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/zelParserEngine.h"

namespace plat {
class TParams;
}

namespace zel {

class TZelDataBase;

class TZelSQLStatement {
 public:
  TZelSQLStatement();
  ~TZelSQLStatement();
  TZelSQLStatement(const TZelSQLStatement&) = delete;
  TZelSQLStatement& operator=(const TZelSQLStatement&) = delete;

  TZelDataBase* Database() const { return Database_; }
  void SetDatabase(TZelDataBase* Value) { Database_ = Value; }
  // The parameters the statement binds (not owned; nullptr: none bound).
  void SetParams(plat::TParams* Value) { Params_ = Value; }
  const std::string& SQL() const { return SQL_; }
  // A new text forgets what the old one was parsed into.
  void SetSQL(const std::string& Value);

  // Parses the text and checks it against the database's tables.
  bool ValidateSQLOnly();
  // ValidateSQLOnly, then, when it succeeded, the parameter list.
  bool ValidateSQL();
  // Rebuilds the parameter list from the text even when it does not parse.
  void ResetParams();
  // Runs the validated statement. A SELECT is refused.
  bool ExecSQL();

  TZelSQLStatementType GetSQLStatementType() const;
  // Every error line followed by ". ".
  std::string GetErrorsAsText() const;
  const std::vector<std::string>& Errors() const { return Errors_; }
  // Rows the last INSERT changed; 0 for a schema statement.
  int32_t GetRowsAffected() const { return RowsAffected_; }

 private:
  void AddError(const std::string& Line) { Errors_.push_back(Line); }
  bool InternalParseQuery();
  bool InternalParseInsertQuery();
  bool InternalParseSchemaStatement();
  // Finds every table of Tables among the database's disk tables, then its
  // memory tables (a table named a memory table is looked for there only),
  // and sets its memory flag. False when one is missing.
  bool CheckTableList(TTableList& Tables, bool ReportErrors);
  // Gives every table of the list its stored field layout.
  void InternalSetupTableLists(TTableList& Tables);
  void CreateParamList();
  bool InternalExecuteInsertStatement();
  bool InternalExecuteSchemaStatement();

  TZelDataBase* Database_ = nullptr;
  plat::TParams* Params_ = nullptr;
  std::string SQL_;
  std::unique_ptr<TZelParserEngine> Engine_;
  std::vector<std::string> Errors_;
  bool Validated_ = false;
  // The INSERT values hold a run's parameter values in place of their names.
  bool Bound_ = false;
  int32_t RowsAffected_ = 0;
};

}  // namespace zel
