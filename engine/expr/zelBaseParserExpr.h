#pragma once
// Expression trees and a statement's table list.
//
// Every parsed condition or value expression is a tree of TZelExprNode owned
// by one TZelExpr. Rules the tree keeps:
//  1. The TZelExpr owns every node it made (NewNode, CloneSubTree); nodes
//     are chained through Next, the most recent first, and the root is moved
//     to the head of the chain (FirstNode) once the parse has found it.
//  2. Left, Right and the entries of Args are references into that chain:
//     a node never frees another node.
//  3. A node owns its argument list, its token-argument list (but not the
//     tokens in it), its copy of the token it came from and its table list.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "engine/storage/zelDataFields.h"
#include "platform/db/DB.h"
#include "platform/rtl/Collections.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Variants.h"

namespace plat {
class TDataSet;
class TField;
}  // namespace plat

namespace zel {

// clang-format off
enum TZelExprOperator : uint8_t {
  zeoNOTDEFINED, zeoISBLANK, zeoNOTBLANK, zeoEQ, zeoNE, zeoGT, zeoLT, zeoGE, zeoLE,  // 0
  zeoNOT, zeoAND, zeoOR, zeoTUPLE2, zeoFIELD2, zeoCONST2, zeoMINUS, zeoADD, zeoSUB,  // 9
  zeoMUL, zeoDIV, zeoMOD, zeoREM, zeoSUM, zeoCOUNT, zeoMIN, zeoMAX, zeoAVG,  // 18
  zeoCONT, zeoUDF2, zeoCONTINUE2, zeoLIKE, zeoIN, zeoLIST2, zeoUPPER, zeoLOWER, zeoFUNC2,  // 27
  zeoLISTELEM2, zeoASSIGN, zeoSUBQUERY, zeoOUTERFIELD, zeoPARAMETER  // 36
};
// clang-format on
inline constexpr std::size_t kZelExprOperatorCount = 41;

enum TZelExprNodeKind : uint8_t {
  enkUnknown,
  enkField,
  enkConst,
  enkParam,
  enkRelOperator,
  enkArithOperator,
  enkLogicalOperator,
  enkFunc,
  enkNonRelPredicate,
  enkSubquery
};

enum TZelExprScopeKind : uint8_t { zskField, zskAgg, zskConst };

enum TZelSubqueryType : uint8_t { zsqUnspecified, zsqAnyOrSome, zsqAll, zsqExists };

// Diagnostic names ("EQ", "Field", ...); "?" outside the range.
const char* ZelExprOperatorName(TZelExprOperator op);
const char* ZelExprNodeKindName(TZelExprNodeKind kind);

class TZelExpr;
class TTableList;

// ---------------------------------------------------------------------------
// The tables a statement or subquery refers to.

class TTableNameItem : public plat::TCollectionItem {
 public:
  explicit TTableNameItem(plat::TCollection* Collection);
  std::string ClassName() const override { return "TTableNameItem"; }

  // Copies every field but SourceDataset (the table fields are copied).
  void Assign(const plat::TPersistent* Source) override;

  // The field's type, or ftUnknown for a field not in the table.
  plat::TFieldType GetFieldType(const std::string& Name) const;
  // 0 for a field not in the table, else what the field can hold.
  int32_t GetFieldSize(const std::string& Name) const;

  const std::string& CorrelationName() const { return CorrelationName_; }
  void SetCorrelationName(const std::string& Value) { CorrelationName_ = Value; }
  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  TInternalFields* TableFields() const { return TableFields_.get(); }
  bool Memory() const { return Memory_; }
  void SetMemory(bool Value) { Memory_ = Value; }
  bool MemorySpecified() const { return MemorySpecified_; }
  void SetMemorySpecified(bool Value) { MemorySpecified_ = Value; }
  bool InCorrelatedSubquery() const { return InCorrelatedSubquery_; }
  void SetInCorrelatedSubquery(bool Value) { InCorrelatedSubquery_ = Value; }
  int32_t CorrelatedSubqueryID() const { return CorrelatedSubqueryID_; }
  void SetCorrelatedSubqueryID(int32_t Value) { CorrelatedSubqueryID_ = Value; }
  plat::TDataSet* SourceDataset() const { return SourceDataset_; }
  void SetSourceDataset(plat::TDataSet* Value) { SourceDataset_ = Value; }

 private:
  std::string CorrelationName_;
  std::string TableName_;
  std::unique_ptr<TInternalFields> TableFields_;
  bool Memory_ = false;
  bool MemorySpecified_ = false;
  bool InCorrelatedSubquery_ = false;
  int32_t CorrelatedSubqueryID_ = 0;
  plat::TDataSet* SourceDataset_ = nullptr;
};

// Lookups compare names ignoring case and search from the last item to the
// first, so the most recently added table wins.
class TTableList : public plat::TCollection {
 public:
  TTableList();
  std::string ClassName() const override { return "TTableList"; }

  TTableNameItem* Add() { return static_cast<TTableNameItem*>(plat::TCollection::Add()); }
  TTableNameItem* Items(int32_t Index) const {
    return static_cast<TTableNameItem*>(plat::TCollection::Items(Index));
  }
  TTableNameItem* Last() const { return Count() == 0 ? nullptr : Items(Count() - 1); }

  // An empty name finds the only item of a one-item list (and nothing else).
  TTableNameItem* FindTable(const std::string& Name) const;
  TTableNameItem* FindTableName(const std::string& Name) const;
  TTableNameItem* FindTableAndCorrelationName(const std::string& TableName,
                                              const std::string& CorrelationName) const;
  TTableNameItem* FindTableForField(const std::string& FieldName) const;
  // The source dataset's field of a one-table list, else nullptr.
  plat::TField* CheckDatasetField(const std::string& FieldName) const;
  // This list becomes a copy of A (when given) followed by copies of the
  // items of B whose table and correlation name are not yet in it. A and B
  // may be this list.
  void MergeLists(const TTableList* A, const TTableList* B);

 private:
  TTableNameItem* FindFromLast(const std::string& Name, bool ByCorrelation) const;
};

// The hook through which a subquery node gets its rows from the query
// engine. The evaluator calls PrepareAndOpen (false: the subquery has no
// rows), then reads the rows with First and Next (each false when there is
// no row to stand on) and the current row's columns with ColumnCount and
// ColumnValue; only column 0 is compared. The query engine implements the
// cursor over its result set (ProviderDataset); the base has no rows.
class TCustomExprNodeDataProvider : public plat::TObject {
 public:
  std::string ClassName() const override { return "TCustomExprNodeDataProvider"; }
  virtual bool PrepareAndOpen() { return false; }
  // After PrepareAndOpen: a number that changes whenever the rows may have
  // changed since, so that a caller may keep what it read of them until
  // then; 0 when they may change at every PrepareAndOpen (a correlated
  // subquery), when nothing may be kept.
  virtual uint64_t RowsStamp() { return 0; }
  // Rows of one column whose values can be listed where they are read,
  // without PrepareAndOpen making their result: a stamp as RowsStamp's for
  // the values ListColumnValues gives now; 0 when they cannot.
  virtual uint64_t ListedValuesStamp() { return 0; }
  // The column's values, in the rows' order, appended to Values.
  virtual void ListColumnValues(std::vector<plat::Variant>& Values) { (void)Values; }
  // Whether there is a row (EXISTS): PrepareAndOpen and First, unless the
  // query engine can tell without making the rows.
  virtual bool HasAnyRow() { return PrepareAndOpen() && First(); }
  virtual bool First() { return false; }
  virtual bool Next() { return false; }
  virtual int32_t ColumnCount() { return 0; }
  virtual plat::Variant ColumnValue(int32_t Index) {
    (void)Index;
    return plat::Variant();
  }

  plat::TDataSet* ProviderDataset() const { return ProviderDataset_; }
  void SetProviderDataset(plat::TDataSet* Value) { ProviderDataset_ = Value; }

 private:
  plat::TDataSet* ProviderDataset_ = nullptr;
};

// ---------------------------------------------------------------------------
// Nodes.

using TZelExprNodeList = std::vector<TZelExprNode*>;
using TParserTokenRefList = std::vector<TParserToken*>;

class TZelExprNode : public plat::TObject {
 public:
  TZelExprNode();
  ~TZelExprNode() override;
  TZelExprNode(const TZelExprNode&) = delete;
  TZelExprNode& operator=(const TZelExprNode&) = delete;
  std::string ClassName() const override { return "TZelExprNode"; }

  // Copies everything but Next and Args; the token arguments are the same
  // token references, the parser token is a copy and the table list is
  // shared until either node changes it.
  void AssignNode(const TZelExprNode* Source);
  // A new node assigned from this one whose Args hold new nodes assigned
  // from this node's arguments (one level deep). The new nodes belong to
  // Owner's chain.
  TZelExprNode* CloneNode(TZelExpr& Owner) const;
  // Converts a non-Null constant to the variant kind of FieldType, then sets
  // DataType. Text that does not convert raises the variant error.
  void SetAndConvertDataType(plat::TFieldType FieldType);
  // Compares everything but the children (and Next); arguments recursively.
  bool AreNodesEquivalent(const TZelExprNode* Other) const;

  void Display(int32_t Indent, plat::TStrings& Lines) const;
  static void DisplayExprTree(int32_t Indent, const TZelExprNode* Node, plat::TStrings& Lines);

  int32_t DataSize() const { return DataSize_; }
  void SetDataSize(int32_t Value) { DataSize_ = Value; }
  TZelExprNode* Left() const { return Left_; }
  void SetLeft(TZelExprNode* Value) { Left_ = Value; }
  TZelExprNode* Right() const { return Right_; }
  void SetRight(TZelExprNode* Value) { Right_ = Value; }
  TZelExprNode* Next() const { return Next_; }
  void SetNext(TZelExprNode* Value) { Next_ = Value; }
  TZelExprOperator Operator() const { return Operator_; }
  void SetOperator(TZelExprOperator Value) { Operator_ = Value; }
  TZelExprNodeKind Kind() const { return Kind_; }
  void SetKind(TZelExprNodeKind Value) { Kind_ = Value; }
  TZelExprScopeKind ScopeKind() const { return ScopeKind_; }
  void SetScopeKind(TZelExprScopeKind Value) { ScopeKind_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  void SetDataType(plat::TFieldType Value) { DataType_ = Value; }
  TZelExprNodeList& Args() { return Args_; }
  const TZelExprNodeList& Args() const { return Args_; }
  void SetArgs(const TZelExprNodeList& Value) { Args_ = Value; }
  TParserTokenRefList& TokenArgs() { return TokenArgs_; }
  const TParserTokenRefList& TokenArgs() const { return TokenArgs_; }
  void SetTokenArgs(const TParserTokenRefList& Value) { TokenArgs_ = Value; }
  TParserToken* ParserToken() const { return &ParserToken_; }
  // Copies the token's fields; a null token changes nothing.
  void SetParserToken(const TParserToken* Value) { ParserToken_.AssignToken(Value); }
  const plat::Variant& Data() const { return Data_; }
  void SetData(const plat::Variant& Value) { Data_ = Value; }
  bool CaseInsensitiveMatch() const { return CaseInsensitiveMatch_; }
  void SetCaseInsensitiveMatch(bool Value) { CaseInsensitiveMatch_ = Value; }
  bool PartialMatch() const { return PartialMatch_; }
  void SetPartialMatch(bool Value) { PartialMatch_ = Value; }
  int32_t PartialLength() const { return PartialLength_; }
  void SetPartialLength(int32_t Value) { PartialLength_ = Value; }
  // Made on first use: most nodes never name a table. The list is the
  // node's own to change (a list shared with a copy is copied first).
  TTableList* TableList() const;
  // The list to read, shared or not; an empty one when there is none.
  const TTableList& Tables() const;
  TCustomExprNodeDataProvider* ExprNodeDataProvider() const { return ExprNodeDataProvider_; }
  void SetExprNodeDataProvider(TCustomExprNodeDataProvider* Value) {
    ExprNodeDataProvider_ = Value;
  }
  TZelExprOperator OriginalOperator() const { return OriginalOperator_; }
  void SetOriginalOperator(TZelExprOperator Value) { OriginalOperator_ = Value; }
  const plat::Variant& OriginalData() const { return OriginalData_; }
  void SetOriginalData(const plat::Variant& Value) { OriginalData_ = Value; }

 private:
  int32_t DataSize_ = -1;
  TZelExprNode* Left_ = nullptr;
  TZelExprNode* Right_ = nullptr;
  TZelExprNode* Next_ = nullptr;
  TZelExprOperator Operator_ = zeoNOTDEFINED;
  TZelExprNodeKind Kind_ = enkUnknown;
  TZelExprScopeKind ScopeKind_ = zskField;
  plat::TFieldType DataType_ = plat::ftUnknown;
  TZelExprNodeList Args_;
  TParserTokenRefList TokenArgs_;
  // Mutable as before it was held through a pointer: ParserToken() is const
  // and gives it out for change.
  mutable TParserToken ParserToken_;
  plat::Variant Data_;
  bool CaseInsensitiveMatch_ = false;
  bool PartialMatch_ = false;
  int32_t PartialLength_ = -1;
  // Shared with the node's copies until one of them changes it: a tree is
  // cloned on every run of a kept statement, and these lists are only read.
  mutable std::shared_ptr<TTableList> TableList_;
  TCustomExprNodeDataProvider* ExprNodeDataProvider_ = nullptr;
  TZelExprOperator OriginalOperator_ = zeoNOTDEFINED;
  plat::Variant OriginalData_;
};

// ---------------------------------------------------------------------------
// The owner and factory of a tree's nodes.

class TZelExpr : public plat::TObject {
 public:
  TZelExpr() = default;
  ~TZelExpr() override;
  TZelExpr(const TZelExpr&) = delete;
  TZelExpr& operator=(const TZelExpr&) = delete;
  std::string ClassName() const override { return "TZelExpr"; }

  // Frees every node and empties the chain.
  void Clear();
  // Nothing is made (nullptr) once an error is recorded.
  TZelExprNode* NewNode(TZelExprNodeKind Kind, TZelExprOperator Operator, const plat::Variant& Data,
                        TZelExprNode* Left, TZelExprNode* Right, const TParserToken* Token);
  TZelExprNode* NewFieldNode(TZelExprNodeKind Kind, TZelExprOperator Operator,
                             const plat::Variant& Data, TZelExprNode* Left, TZelExprNode* Right,
                             const TParserToken* Token, plat::TFieldType FieldType, int32_t Size);
  // Moves a node of the chain to its head; nullptr, the head or a foreign
  // node change nothing.
  void SetAsFirstNode(TZelExprNode* Node);
  // A deep copy of the subtree (children and arguments), made in this chain.
  TZelExprNode* CloneSubTree(const TZelExprNode* Node);
  // CloneSubTree, then the copy becomes the first node.
  TZelExprNode* CloneFromTree(const TZelExprNode* Node);
  TZelExprNode* FindNodeWithToken(TZelSQLToken TokenKind) const;
  bool ExprContainsToken(TZelSQLToken TokenKind) const;
  void ResetSpecifiedNodes(TZelSQLToken TokenKind, TZelSQLToken NewTokenKind,
                           TZelExprNodeKind NewKind, TZelExprOperator NewOperator,
                           const plat::Variant& NewData);
  bool ExprContainsField(const std::string& Name) const;
  // Left text, the node's raw token text, right text.
  std::string ExtractParsedText(const TZelExprNode* Node) const;
  int32_t GetNodeCount() const;
  void Display(plat::TStrings& Lines) const;

  TZelExprNode* FirstNode() const { return FirstNode_; }
  const std::string& ErrorMsg() const { return ErrorMsg_; }
  void SetErrorMsg(const std::string& Value) { ErrorMsg_ = Value; }
  bool CaseInsensitiveMatch() const { return CaseInsensitiveMatch_; }
  void SetCaseInsensitiveMatch(bool Value) { CaseInsensitiveMatch_ = Value; }
  bool PartialStringComparisons() const { return PartialStringComparisons_; }
  void SetPartialStringComparisons(bool Value) { PartialStringComparisons_ = Value; }
  const std::string& ParsedText() const { return ParsedText_; }
  void SetParsedText(const std::string& Value) { ParsedText_ = Value; }

 private:
  friend class TZelExprNode;
  // Puts a new blank node at the head of the chain, error or not.
  TZelExprNode* AddNode();

  TZelExprNode* FirstNode_ = nullptr;
  std::string ErrorMsg_;
  bool CaseInsensitiveMatch_ = false;
  bool PartialStringComparisons_ = false;
  std::string ParsedText_;
  // Owns the nodes; the chain through Next gives their order.
  std::vector<std::unique_ptr<TZelExprNode>> Owned_;
};

}  // namespace zel
