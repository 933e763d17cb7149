#pragma once
// The row sources of a SELECT: a tree of data providers whose leaves read one
// table each through a dataset bridge and whose inner nodes join two sources,
// the join analyser and evaluator that produce a join's rows, and the
// provider manager that owns one statement's tree and applies what is left
// of its WHERE condition.
//
// Rules the join keeps (TJoinEvaluator):
//  1. Every matching mode gives the same rows: the hash only narrows the
//     candidates; each candidate is checked against the whole join condition
//     before it is delivered, so hashing compares values, not stored bytes.
//  2. An outer row of an outer join that no inner row accepts is delivered
//     once with the inner side's ForceToNullValues set (null-extended);
//     the flag is cleared before the next inner row is sought.
//  3. The indexed range limits the inner side only where no preserved row
//     can be lost: inner and left joins whose inner index is ascending.
//     The same holds for the index lookup, which seeks the inner rows of
//     each outer row's key instead of hashing the whole inner table.
//  4. Record IDs of a join are "[outer,inner]", so IDs of nested joins never
//     run into one another; a null-extended half has the empty ID.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/dataset/zelDatabaseTable.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelFilterOptimizer.h"
#include "engine/expr/zelFilterUnit.h"
#include "engine/storage/zelCommonHash.h"
#include "engine/storage/zelCommonLists.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TZelDataBase;
class TZelBaseJoinDataProvider;
class TZelNonJoinDataProvider;
class TZelStdJoinDataProvider;
class TJoinEvaluator;
class TJoinExprNodeEvaluator;

// clang-format off
enum TZelJoinType : uint8_t {
  jtNone, jtCrossJoin, jtUnionJoin, jtInnerJoin, jtLeftOuterJoin, jtRightOuterJoin, jtFullOuterJoin
};
// clang-format on
enum TJoinModeType : uint8_t { jmtJoinExpr, jmtHashJoin, jmtIndexLookup };

// How a test makes the evaluator take one way of matching where it can.
// jfmAuto chooses as the engine does; jfmNestedLoop never hashes nor limits
// a range; jfmHash hashes where the condition allows; jfmIndexedRange limits
// the inner side by the outer's key span wherever the indexes allow;
// jfmSwapped hashes inner joins with their two sides swapped whatever their
// sizes; and jfmIndexLookup seeks each outer row's inner rows through the
// inner index wherever the condition and the indexes allow, whatever the
// sizes.
enum TJoinForcedMode : uint8_t {
  jfmAuto, jfmNestedLoop, jfmHash, jfmIndexedRange, jfmSwapped, jfmIndexLookup
};

const char* ZelJoinTypeName(TZelJoinType Type);
inline bool IsOuterJoin(TZelJoinType Type) {
  return Type == jtLeftOuterJoin || Type == jtRightOuterJoin || Type == jtFullOuterJoin;
}

// The bytes a join value is hashed under: values that compare equal give the
// same key (numbers by value, text upper-cased and without trailing blanks),
// KeySize bytes zero-filled. False for Null and for values of other kinds.
bool ZelJoinHashKey(const plat::Variant& Value, int32_t KeySize, std::string& Key);
// The key size for a field type, 0 for a type that is never hashed.
int32_t ZelJoinHashKeySize(plat::TFieldType Type, int32_t WriteableSize);

// A condition in a readable form: "(a.x = b.y)", constants by value.
std::string ZelExprText(const TZelExprNode* Node);
// The table (or correlation) name a field node refers to; "" when none.
std::string ZelFieldNodeTableName(const TZelExprNode& Node);
// The provider under Side that serves the field node, and the field;
// nullptr when Side has no such field.
TZelBaseJoinDataProvider* ZelFindFieldProvider(TZelBaseJoinDataProvider& Side,
                                               const TZelExprNode& Node,
                                               TInternalFieldItem*& Field);

// ---------------------------------------------------------------------------
// One field's raw value out of a record buffer.

class TDataHolder : public plat::TObject {
 public:
  std::string ClassName() const override { return "TDataHolder"; }
  bool IsNull() const { return IsNull_; }
  void SetIsNull(bool Value) { IsNull_ = Value; }
  int32_t Length() const { return Length_; }
  void SetLength(int32_t Value) { Length_ = Value; }
  // Valid only until the cursor moves.
  const uint8_t* Data() const { return Data_; }
  void SetData(const uint8_t* Value) { Data_ = Value; }
  plat::TMemoryStream& GetStream();
  bool UsesStream() const { return UsesStream_; }
  void SetUsesStream(bool Value) { UsesStream_ = Value; }

 private:
  bool IsNull_ = true;
  int32_t Length_ = 0;
  const uint8_t* Data_ = nullptr;
  std::unique_ptr<plat::TMemoryStream> Stream_;
  bool UsesStream_ = false;
};

class TJoinStatistics : public plat::TObject {
 public:
  std::string ClassName() const override { return "TJoinStatistics"; }
  bool Indexed() const { return Indexed_; }
  void SetIndexed(bool Value) { Indexed_ = Value; }

 private:
  bool Indexed_ = false;
};

// ---------------------------------------------------------------------------
// The table cursor the SQL engine drives. Its rows are those of the current
// index that pass its join selection and lie in its range; a failed move
// leaves it without a current record.

class TZelDatasetBridge : public TZelBaseTable {
 public:
  explicit TZelDatasetBridge(plat::TComponent* AOwner = nullptr);
  ~TZelDatasetBridge() override;
  std::string ClassName() const override { return "TZelDatasetBridge"; }

  void OpenBridge();
  void CloseBridge();
  bool IsBridgeOpen() const { return CursorOpen(); }
  bool HasBridgeRecord() const { return IsBridgeOpen() && Positioned_; }

  bool FirstBridgeRecord();
  bool NextBridgeRecord();
  bool LastBridgeRecord();
  bool PriorBridgeRecord();
  // FieldNo is the field's FieldNo in the table's field list.
  void GetFieldDataAsVariant(int32_t FieldNo, plat::Variant& Value);
  void GetRawFieldData(int32_t FieldNo, TDataHolder& Holder);
  uint32_t GetRecAddr() const;
  uint32_t GetRecModFlag() const;
  int32_t GetTotalBridgeRecordCount();
  // The rows the cursor's filter passes; every row without a filter.
  int32_t GetSelectedBridgeRecordCount();
  // The addresses of the rows the cursor's filter passes, in the order a walk
  // gives them; false without a filter.
  bool ListSelectedRecAddrs(std::vector<uint32_t>& List);
  void MoveToRecAddr(uint32_t RecAddr);
  // The current record's buffer (RecordBufferSize bytes), and a copy of one
  // taken from it made current again without reading the table.
  const uint8_t* CurrentRecordBytes() { return RecordBuffer(); }
  void RestoreRecordBytes(const uint8_t* Bytes);
  // The table's field of FieldNo (the field's FieldNo in the table's list).
  const TInternalFieldItem* FieldOfNo(int32_t FieldNo) const {
    return GetInternalField(FieldIndexOf(FieldNo));
  }
  void MoveToRecAddrAndValidate(uint32_t RecAddr, uint32_t ModFlag);
  // The cursor's hash of the hash's SourceFieldName: its stored bytes and
  // record addresses. With an active filter FilterList gets the filter's
  // records; FilterActive tells whether a filter is active.
  void LoadHashTable(TZelBaseHash& Hash, TSortedList& FilterList, bool& FilterActive,
                     bool IsOuterJoin);
  // As LoadHashTable, but every value under its ZelJoinHashKey, for keys
  // whose stored bytes do not decide equality (text, floating numbers, two
  // different types).
  void LoadValueHashTable(TZelBaseHash& Hash, TSortedList& FilterList, bool& FilterActive);
  // Applies the driver's expression as the cursor's filter (answered from
  // the indexes where it can be), or with AssessExprOnly reports how it
  // would be answered. An applied expression replaces the one before.
  void SetJoinSelectExprRoot(TZelFilterExprDriver& Driver);
  // The rows of index IndexName whose first key field lies from Low to High,
  // as a cursor range.
  void SetBridgeIndexRange(const std::string& IndexName, const plat::Variant& Low,
                           const plat::Variant& High);
  void CancelBridgeRange();
  // Makes IndexName current again (when it is another one), without range.
  void RestoreOrder(const std::string& IndexName);
  // Makes IndexName current, without filter nor range: the cursor for the
  // join's per-row index lookups.
  void PrepareIndexLookup(const std::string& IndexName);
  // One lookup on IndexName (ascending, its first key field a number): the
  // first record whose first key field equals Value, then the records after
  // it while that field stays equal. One search of the tree per key, and the
  // steps leave the index where it stands; under a filter (or a framework
  // cursor) the lookup goes through a cursor range instead.
  bool FirstLookupRecord(const std::string& IndexName, const plat::Variant& Value);
  bool NextLookupRecord();
  // The lookup in progress walks the index itself, so every record it gives
  // has the key sought (through a range, a filter may give others).
  bool LookupOnIndex() const { return LookupRun_; }
  void AssessJoin(const plat::TStringList& Fields, const plat::Variant& Low,
                  const plat::Variant& High, TJoinStatistics& Stats);
  void PrepareJoin(const plat::TStringList& Fields);
  void SetJoinValues(TZelExprOperator Operator, const plat::TStringList& Fields,
                     const std::vector<TDataHolder*>& Values);
  // The ascending index whose key fields are exactly Fields (";"-separated),
  // or nullptr.
  plat::TIndexDef* FindIndexForFields(const std::string& Fields, bool AscendingOnly);
  TInternalFields& BridgeFields() { return TableDef().InternalFields(); }

 private:
  int32_t FieldIndexOf(int32_t FieldNo) const;

  // The lookup key's record is on the buffer as Field == Value; false when
  // no record can have it (a fraction for an integer field).
  bool SetLookupValue(int32_t Field, const plat::Variant& Value);
  // Key is within the current lookup's run.
  bool InLookupRun(const uint8_t* Key);

  bool Positioned_ = false;
  std::string JoinBaseFilter_;
  // The lookup in progress: whether it steps on its own (else through a
  // range), its record buffer, key and the markers that make the key the
  // last entry of the run.
  bool LookupRun_ = false;
  // The first key field of LookupIndexName_ (-1: not yet found).
  std::string LookupIndexName_;
  int32_t LookupField_ = -1;
  // The index of the run (current while the run lasts: the statement holds
  // its tables read-locked).
  TIndexItem* LookupIndex_ = nullptr;
  std::vector<uint8_t> LookupRecBuf_;
  std::vector<uint8_t> LookupKey_;
  TComparisonMarkers LookupEndMarkers_;
};

// ---------------------------------------------------------------------------
// Joined field lists.

class TJoinFieldItem : public TInternalFieldItem {
 public:
  explicit TJoinFieldItem(plat::TCollection* Collection);
  std::string ClassName() const override { return "TJoinFieldItem"; }
  void Assign(const plat::TPersistent* Source) override;
  int32_t SourceFieldNo() const { return SourceFieldNo_; }
  void SetSourceFieldNo(int32_t Value) { SourceFieldNo_ = Value; }
  TZelBaseJoinDataProvider* DataProvider() const { return DataProvider_; }
  void SetDataProvider(TZelBaseJoinDataProvider* Value) { DataProvider_ = Value; }
  TExprEvaluator& Evaluator() { return *Evaluator_; }
  void PrepareJoinExprEvaluator(TZelExprNode* Node);

 private:
  int32_t SourceFieldNo_ = 0;
  TZelBaseJoinDataProvider* DataProvider_ = nullptr;
  std::unique_ptr<TExprEvaluator> Evaluator_;
};

class TJoinFields : public TInternalFields {
 public:
  TJoinFields();
  std::string ClassName() const override { return "TJoinFields"; }
  TJoinFieldItem* Add() { return static_cast<TJoinFieldItem*>(plat::TCollection::Add()); }
  void Assign(const plat::TPersistent* Source) override;
  TJoinFieldItem* FindField(const std::string& Name) const {
    return static_cast<TJoinFieldItem*>(TInternalFields::FindField(Name));
  }
  TJoinFieldItem* GetItems(int32_t Index) const {
    return static_cast<TJoinFieldItem*>(plat::TCollection::Items(Index));
  }
};

// ---------------------------------------------------------------------------
// Providers.

class TZelBaseJoinDataProvider : public TZelExprDataProvider {
 public:
  explicit TZelBaseJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface);
  ~TZelBaseJoinDataProvider() override;
  std::string ClassName() const override { return "TZelBaseJoinDataProvider"; }

  TZelExprDataProvider* FindProvider(const std::string& Name) override {
    return FindJoinProvider(Name);
  }
  virtual void SetProviderName(const std::string& Name) { ProviderName_ = Name; }
  virtual void GetRawFieldData(int32_t FieldNo, TDataHolder& Holder);
  virtual bool NextProviderRecord() { return false; }
  virtual bool FirstProviderRecord() { return false; }
  virtual bool LastProviderRecord() { return false; }
  virtual void OpenProvider() { IsOpen_ = true; }
  virtual void SetSelectExpr(bool EnforceOrder, const std::string& IndexName);
  virtual void AssessJoin(const plat::TStringList& Fields, const plat::Variant& Low,
                          const plat::Variant& High, TJoinStatistics& Stats);
  virtual void PrepareJoin(const plat::TStringList& Fields);
  virtual void SetJoinValues(TZelExprOperator Operator, const plat::TStringList& Fields,
                             const std::vector<TDataHolder*>& Values);
  virtual TZelBaseJoinDataProvider* FindJoinProvider(const std::string& Name);
  virtual void SetJoinSelectExprRoot(const TZelExprNode* Node);
  virtual void SetExtraSelectExpRoot(const TZelExprNode* Node) { SetJoinSelectExprRoot(Node); }
  // The selection a new run of a kept plan gives a table under a join,
  // taken without applying it: opening the join again applies it.
  void TakeSelection(const TZelExprNode* Node) { TZelBaseJoinDataProvider::SetJoinSelectExprRoot(Node); }
  virtual int32_t GetRecordCount() { return -1; }
  virtual std::string CurrentRecordIDAsString() { return ""; }
  // The row source and those under it, one line each, indented by depth.
  virtual void DescribeProvider(int32_t Indent, plat::TStrings& Lines) const = 0;

  const std::string& ProviderName() const { return ProviderName_; }
  TZelBaseJoinDataProvider* OuterProvider() const { return OuterProvider_; }
  void SetOuterProvider(TZelBaseJoinDataProvider* Value) { OuterProvider_ = Value; }
  TZelBaseJoinDataProvider* InnerProvider() const { return InnerProvider_; }
  void SetInnerProvider(TZelBaseJoinDataProvider* Value) { InnerProvider_ = Value; }
  TZelJoinType JoinType() const { return JoinType_; }
  void SetJoinType(TZelJoinType Value) { JoinType_ = Value; }
  TJoinStatistics& JoinStatistics() { return *JoinStatistics_; }
  TZelExpr* JoinSelectExpr() const { return JoinSelectExpr_.get(); }
  bool HasJoinSelectExpr() const {
    return JoinSelectExpr_ != nullptr && JoinSelectExpr_->FirstNode() != nullptr;
  }
  const std::string& CorrelationName() const { return CorrelationName_; }
  void SetCorrelationName(const std::string& Value) { CorrelationName_ = Value; }
  bool IsOpen() const { return IsOpen_; }
  void SetIsOpen(bool Value) { IsOpen_ = Value; }
  bool ForceToNullValues() const { return ForceToNullValues_; }
  // A join passes the flag down to every provider under it.
  void SetForceToNullValues(bool Value);

 protected:
  std::string SelectionText() const;
  // Node cloned, and ANDed with the provider's own selection when it has one.
  std::unique_ptr<TZelExpr> ExtraSelection(const TZelExprNode* Node) const;

  std::string ProviderName_;
  TZelBaseJoinDataProvider* OuterProvider_ = nullptr;
  TZelBaseJoinDataProvider* InnerProvider_ = nullptr;
  TZelJoinType JoinType_ = jtNone;
  std::unique_ptr<TJoinStatistics> JoinStatistics_;
  std::unique_ptr<TZelExpr> JoinSelectExpr_;
  std::string CorrelationName_;
  bool IsOpen_ = false;
  bool ForceToNullValues_ = false;
};

class TZelNonJoinDataProvider : public TZelBaseJoinDataProvider {
 public:
  explicit TZelNonJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface);
  ~TZelNonJoinDataProvider() override;
  std::string ClassName() const override { return "TZelNonJoinDataProvider"; }

  void SetDataBridge(TZelDatasetBridge* Bridge) { DataBridge_ = Bridge; }
  TZelDatasetBridge* DataBridge() const { return DataBridge_; }

  TInternalFields* GetProviderFields() override;
  plat::Variant GetDataAsVariant(int32_t FieldNo) override;
  bool GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull) override;
  TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
  void SetProviderName(const std::string& Name) override;
  void GetRawFieldData(int32_t FieldNo, TDataHolder& Holder) override;
  bool NextProviderRecord() override;
  bool FirstProviderRecord() override;
  bool LastProviderRecord() override;
  void OpenProvider() override;
  void SetSelectExpr(bool EnforceOrder, const std::string& IndexName) override;
  void AssessJoin(const plat::TStringList& Fields, const plat::Variant& Low,
                  const plat::Variant& High, TJoinStatistics& Stats) override;
  void PrepareJoin(const plat::TStringList& Fields) override;
  void SetJoinValues(TZelExprOperator Operator, const plat::TStringList& Fields,
                     const std::vector<TDataHolder*>& Values) override;
  TZelBaseJoinDataProvider* FindJoinProvider(const std::string& Name) override;
  void SetJoinSelectExprRoot(const TZelExprNode* Node) override;
  void SetExtraSelectExpRoot(const TZelExprNode* Node) override;
  int32_t GetRecordCount() override;
  std::string CurrentRecordIDAsString() override;
  void DescribeProvider(int32_t Indent, plat::TStrings& Lines) const override;

 private:
  void ApplySelection(TZelExpr* Expr, bool EnforceOrder, const std::string& IndexName);
  bool HasRow() const;

  TZelDatasetBridge* DataBridge_ = nullptr;
  std::unique_ptr<TZelExpr> ExtraSelectExpr_;
};

// The join analyser's tree of the join condition.
class TJoinExprNode : public plat::TObject {
 public:
  std::string ClassName() const override { return "TJoinExprNode"; }
  bool SplitOK = false;
  TJoinExprNode* Next = nullptr;
  TJoinExprNode* Right = nullptr;
  TJoinExprNode* Left = nullptr;
  TZelExprNode* ExprNode = nullptr;
  TZelBaseJoinDataProvider* LeftProvider = nullptr;
  TZelBaseJoinDataProvider* RightProvider = nullptr;
  TInternalFieldItem* RightSourceField = nullptr;
  TInternalFieldItem* LeftSourceField = nullptr;
  TJoinExprNodeEvaluator* Evaluator = nullptr;
  plat::TIndexDef* RightIndexDef = nullptr;
  plat::TIndexDef* LeftIndexDef = nullptr;
};

struct TJoinExprAnalysis {
  bool IndexedJoin = false;
  TZelFilterOptimisationLevel ExprOptimizationLevel = olNone;
  int32_t MaximalRecordCount = 0;
  bool AnalysisPossible = false;
  TZelBaseJoinDataProvider* DataProvider = nullptr;
  int32_t SourceFieldNo = 0;
  plat::TIndexDef* SourceIndexDef = nullptr;
};

class TJoinPlan : public plat::TObject {
 public:
  std::string ClassName() const override { return "TJoinPlan"; }
  void DisplayPlan(plat::TStrings& Lines) const;

  bool InnerExprExists = false;
  bool OuterRangeOn = false;
  bool IndexedJoin = false;
  bool InnerRangeOn = false;
  bool OuterExprExists = false;
  std::string OuterProviderName;
  std::string InnerProviderName;
  TZelFilterOptimisationLevel InnerExprOptLevel = olNone;
  TZelFilterOptimisationLevel OuterExprOptLevel = olNone;
};

class TJoinAnalyser : public plat::TObject {
 public:
  TJoinAnalyser();
  ~TJoinAnalyser() override;
  std::string ClassName() const override { return "TJoinAnalyser"; }

  void SetJoinExpr(const TZelExpr* Expr);
  void SetJoinType(TZelJoinType Value) { JoinType_ = Value; }
  void SetInnerProvider(TZelBaseJoinDataProvider* Value) { InnerProvider_ = Value; }
  void SetOuterProvider(TZelBaseJoinDataProvider* Value) { OuterProvider_ = Value; }
  void SetProvider(TZelStdJoinDataProvider* Value) { Provider_ = Value; }
  void CreateAnalyserTree();
  bool AnalyseJoin(TJoinExprAnalysis& A1, TJoinExprAnalysis& A2);
  bool CanHashJoin() const { return Root_ != nullptr && Root_->SplitOK; }
  // The larger table becomes the hashed inner side of an inner join; with
  // Force the two sides swap whatever their sizes.
  void DetermineInnerProvider(bool Force);
  void Clear();

  TZelExpr* JoinExpr() const { return JoinExpr_.get(); }
  TZelBaseJoinDataProvider* InnerProvider() const { return InnerProvider_; }
  TZelBaseJoinDataProvider* OuterProvider() const { return OuterProvider_; }
  TJoinExprNode* Root() const { return Root_; }
  TJoinExprNode* NodeList() const { return NodeList_; }
  TZelJoinType JoinType() const { return JoinType_; }
  TZelStdJoinDataProvider* Provider() const { return Provider_; }

 private:
  TJoinExprNode* ParseJoinNode(TZelExprNode* Node);
  TJoinExprNode* AddNode(TZelExprNode* Node);
  void CheckSplit(TJoinExprNode* Node);
  void AssessSide(TZelBaseJoinDataProvider* Provider, TInternalFieldItem* Field,
                  plat::TIndexDef* Index, TJoinExprAnalysis& A);

  std::unique_ptr<TZelExpr> JoinExpr_;
  TZelBaseJoinDataProvider* InnerProvider_ = nullptr;
  TZelBaseJoinDataProvider* OuterProvider_ = nullptr;
  TJoinExprNode* Root_ = nullptr;
  TJoinExprNode* NodeList_ = nullptr;
  std::vector<std::unique_ptr<TJoinExprNode>> Owned_;
  TZelJoinType JoinType_ = jtNone;
  TZelStdJoinDataProvider* Provider_ = nullptr;
};

class TJoinExprNodeEvaluator : public plat::TObject {
 public:
  TJoinExprNodeEvaluator();
  ~TJoinExprNodeEvaluator() override;
  std::string ClassName() const override { return "TJoinExprNodeEvaluator"; }

  // Hashes the inner side's field of the node over the inner table: by the
  // cursor, on stored bytes, when the two fields' bytes are equal exactly
  // when their values are (RawKeys); else under ZelJoinHashKey.
  void Prepare(TZelNonJoinDataProvider* Inner, bool IsOuterJoin);
  // Fills MatchList with the inner records hashed under the key of Value.
  void SetSourceValue(const plat::Variant& Value);
  // Fills MatchList with the inner records hashed under Key (Length bytes,
  // at most 256; a shorter key is zero-filled); nothing for a null key.
  void SetSourceKey(const char* Key, int32_t Length, bool IsNull);
  // Equal null flags and, for non-null keys, equal bytes over Length.
  bool CheckKeyMatch(const char* Key, int32_t Length, bool IsNull) const;
  bool CheckRecordInExpr(void* RecAddr) const;

  TJoinExprNode* SourceNode = nullptr;
  TJoinExprNodeEvaluator* Next = nullptr;
  bool Prepared = false;
  bool RawKeys = false;
  bool FilterActive = false;
  std::unique_ptr<TZelBaseHash> Hash;
  std::unique_ptr<TSortedList> MatchList;
  std::unique_ptr<TSortedList> FilterList;
  int32_t KeyLength = 0;
  std::string Key;
  bool KeyIsNull = true;
  // With raw keys from a table of the other side: that table and the key
  // field, whose bytes are read straight from its record buffer.
  TZelNonJoinDataProvider* KeyTable = nullptr;
  const TInternalFieldItem* KeyField = nullptr;
};

class TJoinEvaluator : public plat::TObject {
 public:
  TJoinEvaluator();
  ~TJoinEvaluator() override;
  std::string ClassName() const override { return "TJoinEvaluator"; }

  void SetJoinAnalyser(TJoinAnalyser* Value) { JoinAnalyser_ = Value; }
  void SetJoinModeType(TJoinModeType Value) { JoinModeType_ = Value; }
  void SetForcedMode(TJoinForcedMode Value) { ForcedMode_ = Value; }
  void AnalyseAndOpenJoin();
  void Prepare();
  bool FirstRecord();
  bool NextRecord();
  void Clear();

  TJoinModeType JoinModeType() const { return JoinModeType_; }
  TZelBaseJoinDataProvider* Inner() const { return Inner_; }
  TZelBaseJoinDataProvider* Outer() const { return Outer_; }
  bool InnerRangeOn() const { return InnerRangeOn_; }
  bool Swapped() const { return Swapped_; }
  const TJoinPlan& Plan() const { return Plan_; }

 private:
  void InternalPrepare();
  bool HashableNodes() const;
  void BuildNodeEvaluators();
  void ComputeMatchList();
  bool NextInnerMatch();
  bool NextHashJoinMatch();
  bool ResetInner();
  bool AdvanceOuter();
  bool PassAdmits();
  bool Deliver(bool Found);
  bool NextPass();
  bool AcceptCurrentPair();
  bool TryRange(TJoinExprAnalysis& I, TJoinExprAnalysis& O);
  // Chooses the index lookup where it is cheaper than hashing the inner
  // table (or where forced), for either order of an inner join's sides.
  bool TryIndexLookup();
  void PrepareIndexLookup();
  // Seeks the inner rows of the current outer row's key.
  void SeekLookupKey();
  // The first (or next) sought inner row that passes the inner side's
  // selection and the whole join condition.
  bool NextLookupMatch(bool First);
  // Makes the hashed inner record at RecAddr current; false when it is gone.
  bool MoveToHashedRecord(uint32_t RecAddr);

  TJoinAnalyser* JoinAnalyser_ = nullptr;
  int32_t MatchIndex_ = -1;
  std::vector<std::unique_ptr<TJoinExprNodeEvaluator>> Evaluators_;
  TJoinExprNodeEvaluator* Chain_ = nullptr;
  TZelNonJoinDataProvider* HashInner_ = nullptr;
  TZelBaseJoinDataProvider* Inner_ = nullptr;
  TZelBaseJoinDataProvider* Outer_ = nullptr;
  TJoinModeType JoinModeType_ = jmtJoinExpr;
  int32_t Pass_ = 1;
  std::unique_ptr<plat::TStringList> MatchedRecordIDs_;
  std::vector<void*> MasterList_;
  bool InnerMatchedThisRow_ = false;
  // The whole join condition, checked on each hashed candidate.
  std::unique_ptr<TExprEvaluator> Check_;
  // The hash alone decides the condition: its candidates are not checked.
  bool HashDecides_ = false;
  TJoinForcedMode ForcedMode_ = jfmAuto;
  bool InnerRangeOn_ = false;
  bool Swapped_ = false;
  TJoinPlan Plan_;
  // The index lookup: the inner index, the outer row's key field and the
  // inner side's own selection, checked on each sought row.
  bool LookupChosen_ = false;
  bool LookupOpen_ = false;
  // The lookup's equality is the whole condition, and exact: the sought
  // rows are not checked.
  bool LookupDecides_ = false;
  std::string LookupIndex_;
  plat::Variant LookupKey_;
  TZelBaseJoinDataProvider* LookupKeySide_ = nullptr;
  int32_t LookupKeyFieldNo_ = 0;
  std::unique_ptr<TExprEvaluator> InnerSelection_;
  // Hashed inner records as read the first time (address -> offset into
  // the bytes): each outer row with their key meets them again, and the
  // statement holds its tables read-locked for the run. Off for an inner
  // table too large to keep.
  bool KeepInnerRecords_ = false;
  std::unordered_map<uint32_t, size_t> KeptOffsets_;
  std::vector<uint8_t> KeptBytes_;
};

class TZelStdJoinDataProvider : public TZelBaseJoinDataProvider {
 public:
  explicit TZelStdJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface);
  ~TZelStdJoinDataProvider() override;
  std::string ClassName() const override { return "TZelStdJoinDataProvider"; }

  TInternalFields* GetProviderFields() override { return JoinFields_.get(); }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override;
  TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
  void GetRawFieldData(int32_t FieldNo, TDataHolder& Holder) override;
  bool NextProviderRecord() override;
  bool FirstProviderRecord() override;
  void OpenProvider() override;
  void SetSelectExpr(bool EnforceOrder, const std::string& IndexName) override;
  void SetJoinSelectExprRoot(const TZelExprNode* Node) override;
  void SetExtraSelectExpRoot(const TZelExprNode* Node) override;
  std::string CurrentRecordIDAsString() override;
  void DescribeProvider(int32_t Indent, plat::TStrings& Lines) const override;

  void SetJoinExpr(const TZelExpr* Expr);
  void SetJoinExprRoot(const TZelExprNode* Node);
  void SetJoinRelop(TZelExprOperator Value) { JoinRelop_ = Value; }
  void CheckProviders() const;
  void PrepareInternalFields();
  // Makes the join condition, with the outer side's fields replaced by the
  // outer row's values, the inner side's extra selection.
  void ParseJoinExpr(const TZelExprNode* Root, bool Unswapped);
  void SetForcedMode(TJoinForcedMode Value) { JoinEvaluator_->SetForcedMode(Value); }

  TJoinFields& JoinFields() { return *JoinFields_; }
  TZelExpr* JoinExpr() const { return JoinExpr_.get(); }
  TJoinAnalyser& JoinAnalyser() { return *JoinAnalyser_; }
  TJoinEvaluator& JoinEvaluator() { return *JoinEvaluator_; }
  plat::TStringList& OuterFieldMap() { return *OuterFieldMap_; }
  plat::TStringList& InnerFieldMap() { return *InnerFieldMap_; }

 private:
  bool PassesSelection();
  void PrepareSelection();

  std::unique_ptr<TJoinFields> JoinFields_;
  std::unique_ptr<plat::TStringList> OuterFieldMap_;
  std::unique_ptr<plat::TStringList> InnerFieldMap_;
  TZelExprOperator JoinRelop_ = zeoEQ;
  std::unique_ptr<TZelExpr> JoinExpr_;
  std::unique_ptr<TJoinAnalyser> JoinAnalyser_;
  std::unique_ptr<TJoinEvaluator> JoinEvaluator_;
  std::unique_ptr<TZelExpr> ExtraSelectExpr_;
  std::unique_ptr<TExprEvaluator> SelectionEvaluator_;
};

class TZelJoinDataProviderMgr : public plat::TObject {
 public:
  TZelJoinDataProviderMgr();
  ~TZelJoinDataProviderMgr() override;
  std::string ClassName() const override { return "TZelJoinDataProviderMgr"; }

  void SetDatabase(TZelDataBase* Database);
  TZelDataBase* Database() const { return Database_; }
  void SetDBStringCompare(TZelDBStringCompare Routine);
  void SetRootProvider(TZelBaseJoinDataProvider* Provider) { RootProvider_ = Provider; }
  TZelBaseJoinDataProvider* RootProvider() const { return RootProvider_; }
  TZelNonJoinDataProvider* GetNonJoinProvider(const std::string& TableName,
                                              const std::string& CorrelationName, bool Memory);
  TZelStdJoinDataProvider* GetStdJoinProvider();
  bool OpenProviders();
  // Every table of the tree is open (none was closed since it was planned).
  bool TablesOpen() const;
  bool FirstProviderRecord();
  bool NextProviderRecord();
  void PrepareJoinExprEvaluator(const TZelExprNode* Node);
  // Part of the WHERE condition is checked on the root's rows.
  bool HasRemainingExpr() const { return RemainingExpr_ != nullptr && RemainingExpr_->FirstNode() != nullptr; }
  // Whether the current row passes what the tables left of the condition.
  bool PassesRemaining();
  int32_t GetJoinCount() const { return static_cast<int32_t>(StdJoinProviders_.size()); }
  void Clear();
  // Every join made from now on matches this way where it can (tests).
  void SetForcedJoinMode(TJoinForcedMode Value) { ForcedMode_ = Value; }
  // The tree of row sources, one line each.
  void DescribePlan(plat::TStrings& Lines) const;

 private:
  std::vector<std::unique_ptr<TZelNonJoinDataProvider>> NonJoinProviders_;
  std::vector<std::unique_ptr<TZelStdJoinDataProvider>> StdJoinProviders_;
  std::vector<std::unique_ptr<TZelDatasetBridge>> Bridges_;
  TZelDataBase* Database_ = nullptr;
  TZelBaseJoinDataProvider* RootProvider_ = nullptr;
  std::unique_ptr<TExprEvaluator> Evaluator_;
  std::unique_ptr<TZelExpr> RemainingExpr_;
  TZelDBStringCompare DBStringCompare_;
  std::unique_ptr<TZelDataProviderDBInterface> DBInterface_;
  TJoinForcedMode ForcedMode_ = jfmAuto;
};

}  // namespace zel
