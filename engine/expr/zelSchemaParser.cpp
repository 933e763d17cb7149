#include "engine/expr/zelSchemaParser.h"

#include "engine/expr/zelMiscParsers.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDataRestructure.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* kStatementTerminated = "Update statement incorrectly terminated";

}  // namespace

TZelSchemaManipulationParser::TZelSchemaManipulationParser()
    : AddedFields_(std::make_unique<TInternalFields>()),
      DroppedFields_(std::make_unique<TInternalFields>()),
      AlteredFields_(std::make_unique<TInternalFields>()) {
  SetEndTokens({zstEnd});
}

TZelSchemaManipulationParser::~TZelSchemaManipulationParser() = default;

bool TZelSchemaManipulationParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  AddedFields_->Close();
  DroppedFields_->Close();
  AlteredFields_->Close();
  IndexFields_.clear();
  FieldTokens_.clear();
  IndexOptions_ = plat::TIndexOptions();
  Operation_ = ddUnknown;
  TableName_.clear();
  IndexName_.clear();
  TemporaryTable_ = false;
  switch (CurrentTokenType()) {
    case zstCreate: ParseCreate(); break;
    case zstAlter: ParseAlterTable(); break;
    case zstDrop: ParseDrop(); break;
    default: return !HasParseError();
  }
  if (!HasParseError() && CurrToken_ != nullptr && !AtEndToken())
    SetError(CurrToken_, kStatementTerminated);
  return !HasParseError();
}

bool TZelSchemaManipulationParser::ReadName(std::string& Name) {
  const TZelSQLToken kind = CurrentTokenType();
  if (CurrToken_ == nullptr || kind == zstEnd || kind == zstLParen || kind == zstRParen ||
      kind == zstComma || kind == zstOn) {
    SetError(CurrToken_, SzelInvalidToken);
    return false;
  }
  Name = CurrToken_->Text();
  NextToken();
  return true;
}

void TZelSchemaManipulationParser::ParseCreate() {
  NextToken();
  if (CurrentTokenType() == zstTable) {
    ParseCreateTable();
    return;
  }
  if (CurrentTokenType() == zstUnique) {
    IndexOptions_.Include(plat::ixUnique);
    NextToken();
  }
  if (CurrentTokenType() == zstDescending) {
    IndexOptions_.Include(plat::ixDescending);
    NextToken();
  } else if (CurrentTokenType() == zstAscending) {
    NextToken();
  }
  if (CurrentTokenType() != zstIndex) {
    SetError(CurrToken_, SzelInvalidCreateStatement);
    return;
  }
  ParseCreateIndex();
}

TParserToken* TZelSchemaManipulationParser::TokenOf(const TInternalFieldItem* Item) const {
  const int32_t index = Item->PrivilegeFlags();
  return index >= 0 && index < static_cast<int32_t>(FieldTokens_.size()) ? FieldTokens_[index]
                                                                         : nullptr;
}

TInternalFieldItem* TZelSchemaManipulationParser::ParseColumn(TInternalFields& Target,
                                                              bool WithType) {
  if (CurrentTokenType() == zstComma) {
    SetError(CurrToken_, SzelMissingColumnSpecifier);
    return nullptr;
  }
  TParserToken* token = CurrToken_;
  std::string name;
  if (!ReadName(name)) return nullptr;
  TInternalFieldItem* item = Target.Add();
  item->SetFieldName(name);
  item->SetPrivilegeFlags(static_cast<int32_t>(FieldTokens_.size()));
  FieldTokens_.push_back(token);
  if (!WithType) return item;
  TZelDataTypeParser types;
  types.SetAllowConstraints(true);
  types.ParseDataType(*this);
  if (HasParseError()) return nullptr;
  item->SetDataType(types.DataType());
  if (types.FieldSize() > 0) item->SetFieldSize(types.FieldSize());
  if (types.Scale() >= 0) item->SetNumDecimalPlaces(types.Scale());
  item->SetRequired(types.NotNull());
  return item;
}

bool TZelSchemaManipulationParser::ReadTableName() {
  if (CurrentTokenType() == zstTemporary) {
    TemporaryTable_ = true;
    NextToken();
  }
  return ReadName(TableName_);
}

void TZelSchemaManipulationParser::ParseCreateTable() {
  Operation_ = ddCreateTable;
  NextToken();
  if (!ReadTableName()) return;
  if (CurrentTokenType() != zstLParen) {
    SetError(CurrToken_, SzelLParenMissing);
    return;
  }
  NextToken();
  while (!HasParseError() && CurrToken_ != nullptr && CurrentTokenType() != zstRParen &&
         CurrentTokenType() != zstEnd) {
    if (CurrentTokenType() == zstPrimaryKey) {
      NextToken();
      IndexOptions_.Include(plat::ixPrimary);
      ParseIndexColumns(false);
      break;
    }
    if (ParseColumn(*AddedFields_, true) == nullptr) return;
    if (CurrentTokenType() == zstComma) NextToken();
    else if (CurrentTokenType() != zstRParen) SetError(CurrToken_, SzelRParenMissing);
  }
  if (HasParseError()) return;
  if (CurrentTokenType() != zstRParen) {
    SetError(CurrToken_, SzelRParenMissing);
    return;
  }
  NextToken();
}

void TZelSchemaManipulationParser::ParseIndexColumns(bool AllowEmpty) {
  if (CurrentTokenType() != zstLParen) {
    SetError(CurrToken_, SzelLParenMissing);
    return;
  }
  NextToken();
  if (!AllowEmpty && CurrentTokenType() == zstRParen) {
    SetError(CurrToken_, SzelMissingColumnSpecifier);
    return;
  }
  while (CurrToken_ != nullptr && CurrentTokenType() != zstRParen && CurrentTokenType() != zstEnd) {
    if (CurrentTokenType() == zstComma) {
      SetError(CurrToken_, SzelMissingColumnSpecifier);
      return;
    }
    IndexFields_.emplace_back(CurrToken_->Text(), CurrToken_);
    NextToken();
    if (CurrentTokenType() == zstComma) NextToken();
  }
  if (CurrentTokenType() != zstRParen) {
    SetError(CurrToken_, SzelRParenMissing);
    return;
  }
  NextToken();
}

void TZelSchemaManipulationParser::ParseCreateIndex() {
  Operation_ = ddCreateIndex;
  NextToken();
  if (!ReadName(IndexName_)) return;
  if (CurrentTokenType() != zstOn) {
    SetError(CurrToken_, SzelMissingOnToken);
    return;
  }
  NextToken();
  if (!ReadTableName()) return;
  ParseIndexColumns(true);
}

void TZelSchemaManipulationParser::ParseAlterTable() {
  Operation_ = ddAlterTable;
  NextToken();
  if (CurrentTokenType() != zstTable) {
    SetError(CurrToken_, SzelInvalidAlterTableStatement);
    return;
  }
  NextToken();
  if (!ReadTableName()) return;
  do {
    if (CurrentTokenType() == zstComma) NextToken();
    const TZelSQLToken op = CurrentTokenType();
    if (op == zstComma) {
      SetError(CurrToken_, SzelMissingColumnSpecifier);
      return;
    }
    if (op != zstAddWord && op != zstDrop && op != zstAlter) {
      SetError(CurrToken_, SzelInvalidToken);
      return;
    }
    NextToken();
    if (CurrentTokenType() == zstColumn) NextToken();
    if (op == zstAddWord) {
      if (ParseColumn(*AddedFields_, true) == nullptr) return;
    } else if (op == zstDrop) {
      if (ParseColumn(*DroppedFields_, false) == nullptr) return;
    } else {
      TInternalFieldItem* item = ParseColumn(*AlteredFields_, false);
      if (item == nullptr) return;
      if (CurrentTokenType() == zstTo) {
        NextToken();
        const std::string oldName = item->FieldName();
        std::string newName;
        TParserToken* token = CurrToken_;
        if (!ReadName(newName)) return;
        item->SetFieldName(newName);
        item->SetSourceField(oldName);
        item->SetFieldGeneratorID(aoAlterName);
        FieldTokens_[item->PrivilegeFlags()] = token;
      } else if (CurrentTokenType() == zstType) {
        NextToken();
        TZelDataTypeParser types;
        types.SetAllowConstraints(true);
        types.ParseDataType(*this);
        if (HasParseError()) return;
        item->SetDataType(types.DataType());
        if (types.FieldSize() > 0) item->SetFieldSize(types.FieldSize());
        if (types.Scale() >= 0) item->SetNumDecimalPlaces(types.Scale());
        item->SetRequired(types.NotNull());
        item->SetFieldGeneratorID(aoAlterType);
      } else {
        SetError(CurrToken_, SzelInvalidToken);
        return;
      }
    }
  } while (!HasParseError() && CurrentTokenType() == zstComma);
}

void TZelSchemaManipulationParser::ParseDrop() {
  NextToken();
  const TZelSQLToken kind = CurrentTokenType();
  if (kind != zstTable && kind != zstIndex) {
    SetError(CurrToken_, SzelInvalidDropStatement);
    return;
  }
  Operation_ = kind == zstTable ? ddDropTable : ddDropIndex;
  NextToken();
  if (!ReadTableName() || Operation_ == ddDropTable) return;
  if (!ReadName(IndexName_)) return;
  if (plat::AnsiSameText(IndexName_, "primary")) {
    IndexName_.clear();
    IndexOptions_.Include(plat::ixPrimary);
  }
}

std::string TZelSchemaManipulationParser::GetIndexFieldsAsText() const {
  std::string text;
  for (const auto& field : IndexFields_) text += (text.empty() ? "" : ";") + field.first;
  return text;
}

namespace {

const plat::TIndexDef* FindIndex(const plat::TIndexDefs& Defs, const std::string& Name,
                                 bool Primary) {
  for (int32_t i = 0; i < Defs.Count(); ++i) {
    const plat::TIndexDef* def = Defs.Items(i);
    if (Primary ? def->Options().Contains(plat::ixPrimary) : plat::AnsiSameText(def->Name(), Name))
      return def;
  }
  return nullptr;
}

}  // namespace

bool TZelSchemaManipulationParser::ValidateTableChanges(const TInternalFields& Fields,
                                                        const plat::TIndexDefs* IndexDefs) {
  switch (Operation_) {
    case ddAlterTable: {
      for (int32_t i = 0; i < AddedFields_->Count() && !HasParseError(); ++i) {
        const TInternalFieldItem* item = AddedFields_->GetIndex(i);
        if (Fields.FindField(item->FieldName()) != nullptr)
          SetError(TokenOf(item), std::string(SzelDuplicateField) + " : " + item->FieldName());
      }
      for (int32_t i = 0; i < DroppedFields_->Count() && !HasParseError(); ++i) {
        const TInternalFieldItem* item = DroppedFields_->GetIndex(i);
        if (Fields.FindField(item->FieldName()) == nullptr)
          SetError(TokenOf(item), std::string(SzelFieldNotFound) + " : " + item->FieldName());
      }
      for (int32_t i = 0; i < AlteredFields_->Count() && !HasParseError(); ++i) {
        const TInternalFieldItem* item = AlteredFields_->GetIndex(i);
        if (item->FieldGeneratorID() == aoAlterName) {
          if (Fields.FindField(item->FieldName()) != nullptr)
            SetError(TokenOf(item), std::string(SzelDuplicateField) + " : " + item->FieldName());
          // The missing column is the old one, so the message names it.
          else if (Fields.FindField(item->SourceField()) == nullptr)
            SetError(TokenOf(item), std::string(SzelFieldNotFound) + " : " + item->SourceField());
        } else if (Fields.FindField(item->FieldName()) == nullptr) {
          SetError(TokenOf(item), std::string(SzelFieldNotFound) + " : " + item->FieldName());
        }
      }
      break;
    }
    case ddCreateIndex: {
      PLAT_ASSERT(IndexDefs != nullptr, "IndexDefs = nil in ValidateTableChanges");
      if (IndexFields_.empty()) {
        SetError(CurrToken_, SzelNoIndexColumnsSpecified);
        break;
      }
      for (const auto& [name, token] : IndexFields_)
        if (Fields.FindField(name) == nullptr) {
          SetError(token, std::string(SzelFieldNotFound) + " : " + name);
          break;
        }
      if (!HasParseError() && FindIndex(*IndexDefs, IndexName_, false) != nullptr)
        SetError(CurrToken_, SzelDuplicateIndex);
      break;
    }
    case ddDropIndex:
      if (IndexDefs == nullptr ||
          FindIndex(*IndexDefs, IndexName_, IndexOptions_.Contains(plat::ixPrimary)) == nullptr)
        SetError(CurrToken_, SzelIndexNotFound);
      break;
    default:
      break;
  }
  return !HasParseError();
}

void TZelSchemaManipulationParser::SetRestructureFieldDefs(TRestructureFieldDefs& Defs) const {
  if (Operation_ != ddAlterTable) return;
  for (int32_t i = 0; i < DroppedFields_->Count(); ++i)
    for (int32_t j = Defs.Count() - 1; j >= 0; --j)
      if (plat::AnsiSameText(Defs.Items(j)->Name(), DroppedFields_->GetIndex(i)->FieldName()))
        Defs.DeleteItem(j);
  for (int32_t i = 0; i < AddedFields_->Count(); ++i) {
    const TInternalFieldItem* item = AddedFields_->GetIndex(i);
    Defs.AddAndSetFieldDef(item->FieldName(), item->DataType(), item->FieldSize(),
                           item->NumDecimalPlaces(), item->Required(), "");
  }
  for (int32_t i = 0; i < AlteredFields_->Count(); ++i) {
    const TInternalFieldItem* item = AlteredFields_->GetIndex(i);
    const bool rename = item->FieldGeneratorID() == aoAlterName;
    TRestructureFieldDef* def = Defs.Find(rename ? item->SourceField() : item->FieldName());
    if (def == nullptr) continue;
    if (rename) {
      def->SetSourceFieldName(def->Name());
      def->SetName(item->FieldName());
    } else {
      def->SetDataType(item->DataType());
      def->SetSize(item->FieldSize());
      def->SetPrecision(item->NumDecimalPlaces());
      def->SetRequired(item->Required());
    }
  }
}

void TZelSchemaManipulationParser::SetRestructureIndexDefs(TRestructureIndexDefs& Defs) const {
  if (Operation_ == ddDropIndex) {
    for (int32_t j = Defs.Count() - 1; j >= 0; --j) {
      const TRestructureIndexDef* def = Defs.Items(j);
      if (IndexOptions_.Contains(plat::ixPrimary) ? def->Options().Contains(plat::ixPrimary)
                                                  : plat::AnsiSameText(def->Name(), IndexName_))
        Defs.DeleteItem(j);
    }
  } else if (Operation_ == ddCreateIndex) {
    Defs.AddAndSetIndexDef(IndexName_, GetIndexFieldsAsText(), "", "", IndexOptions_, nullptr);
  } else if (Operation_ == ddAlterTable) {
    for (int32_t i = 0; i < AlteredFields_->Count(); ++i) {
      const TInternalFieldItem* item = AlteredFields_->GetIndex(i);
      if (item->FieldGeneratorID() != aoAlterName) continue;
      for (int32_t j = 0; j < Defs.Count(); ++j) {
        TRestructureIndexDef* def = Defs.Items(j);
        std::string fields = ";" + def->Fields() + ";";
        const std::string lower = plat::LowerCase(fields);
        const std::string wanted = ";" + plat::LowerCase(item->SourceField()) + ";";
        const std::size_t at = lower.find(wanted);
        if (at == std::string::npos) continue;
        fields.replace(at, wanted.size(), ";" + item->FieldName() + ";");
        def->SetFields(fields.substr(1, fields.size() - 2));
      }
    }
  }
}

}  // namespace zel
