#pragma once
// TZelBaseTable: the dataset protocol on the table cursor (record buffers,
// bookmarks, fetching, editing, field values in the framework's native
// formats, field definitions). TZelTable: the table component's face (table
// and index choice, creating and emptying a table).
//
// Framework record buffer (S = RecordSize + 12, the engine record buffer):
//   0 .. S-1                 a copy of the engine record buffer
//   S                        unused
//   S+1 .. S+CalcFieldsSize  calculated fields (has-value byte, then data)
//   I = S+1+CalcFieldsSize   16-byte info area: I+4 the record status
//                            (TRecordBufferStatus), I+5 the bookmark flag
// A bookmark is 8 bytes: the record address, then the logical record number.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabaseCursor.h"
#include "engine/storage/zelApi.h"
#include "platform/db/DataSource.h"

namespace zel {

enum TRecordBufferStatus : uint8_t { rbBrowse, rbEdit, rbInsert, rbInvalid };
// Where field values written in dsSetKey go: the search key, or the range
// record buffer of the range mode.
enum TKeyMode : uint8_t { kmNone, kmFind, kmRange };

class ZEL_API TZelBaseTable : public TZelDataSet {
 public:
  explicit TZelBaseTable(plat::TComponent* AOwner = nullptr);
  ~TZelBaseTable() override;
  std::string ClassName() const override { return "TZelBaseTable"; }

  plat::TIndexDefs& IndexDefs() { return *IndexDefs_; }
  // While the cursor holds a table lock; True takes the write lock, False
  // releases it.
  bool Locked() const { return ReadLocked() || WriteLocked(); }
  void SetLocked(bool Value);
  // Posts a pending edit, then has the database write its buffers.
  void Flush();
  bool CreateTable();
  void EmptyTable();

  // --- The record-buffer protocol ---
  plat::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(plat::TRecordBuffer& Buffer) override;
  plat::TGetResult GetRecord(plat::TRecordBuffer Buffer, plat::TGetMode GetMode,
                             bool DoCheck) override;
  int32_t GetRecordSize() override { return RecordBufferSize(); }
  void GetBookmarkData(plat::TRecordBuffer Buffer, void* Data) override;
  plat::TBookmarkFlag GetBookmarkFlag(plat::TRecordBuffer Buffer) override;
  void SetBookmarkData(plat::TRecordBuffer Buffer, const void* Data) override;
  void SetBookmarkFlag(plat::TRecordBuffer Buffer, plat::TBookmarkFlag Value) override;
  bool BookmarkValid(const plat::TBookmark& Bookmark) override;
  int32_t CompareBookmarks(const plat::TBookmark& Bookmark1,
                           const plat::TBookmark& Bookmark2) override;
  bool GetFieldData(plat::TField* Field, void* Buffer) override;
  // From the record's null flag (or the calculated field's has-value byte).
  bool FieldHasValue(plat::TField* Field) override { return GetFieldData(Field, nullptr); }
  void SetFieldData(plat::TField* Field, const void* Buffer) override;
  std::unique_ptr<plat::TStream> CreateBlobStream(plat::TField* Field,
                                                  plat::TBlobStreamMode Mode) override;
  bool GetCurrentRecord(plat::TRecordBuffer Buffer) override;
  bool IsCursorOpen() override { return CursorOpenFlag_; }
  bool GetCanModify() override;
  int32_t GetRecordCount() override;
  int32_t GetRecNo() override;
  void SetRecNo(int32_t Value) override;
  void UpdateIndexDefs() override;
  void ClearCalcFields(plat::TRecordBuffer Buffer) override;

  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalFirst() override { PendingSeek_ = 2; }
  void InternalLast() override { PendingSeek_ = 3; }
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void InternalAddRecord(const void* Buffer, bool Append) override;
  void InternalInitRecord(plat::TRecordBuffer Buffer) override;
  void InternalGotoBookmark(const void* Bookmark) override;
  void InternalSetToRecord(plat::TRecordBuffer Buffer) override;
  void InternalHandleException() override { throw; }

  // Called once before the first record is fetched after opening (the table
  // component applies its master range here).
  virtual void InternalCheckMasterRange() {}
  // The dataset's open and close around the engine cursor. CursorKept: the
  // cursor stayed open since the close before (a kept query's result) and is
  // taken as it stands, its caches, range and filter dropped as a close
  // would; KeepCursor leaves it open for such an open.
  void OpenDataset(bool CursorKept);
  void CloseDataset(bool KeepCursor);
  // EmptyTable for one who positions the dataset himself next (a result
  // about to be filled): the buffers let go of the old rows, no first
  // record is looked for in the empty table.
  void EmptyTableUnpositioned();
  // Open and close the engine cursor only to read definitions.
  virtual void InternalOpenForDefs() { DataSetOpen(); }
  virtual void InternalCloseForDefs() { DataSetClose(); }
  // The stored field definitions of TableName, laid out, without opening
  // the table.
  virtual void QueryInternalFieldDefs(TInternalFields& Fields);

  TRecordBufferStatus GetRecordStatus(const uint8_t* Buffer) const;
  void SetRecordStatus(uint8_t* Buffer, TRecordBufferStatus Status) const;

  // --- Filters (zelDatabaseFilters.cpp) ---
  // While the table is open each setter applies the filter anew and moves
  // to the first record that passes.
  void SetFiltered(bool Value) override;
  void SetFilterText(const std::string& Value) override;
  void SetFilterOptions(plat::TFilterOptions Value) override;
  void SetOnFilterRecord(const plat::TFilterRecordEvent& Value) override;
  bool FindRecord(bool Restart, bool GoForward) override;
  // The SQL engine's filter: applies, joins (AND) or only assesses the
  // driver's expression; applied, the cursor stands on the first record.
  void AssignFilterExpr(TZelFilterExprDriver& Driver);
  // OnFilterRecord's verdict on a record, read in the dsFilter state.
  bool RecordProcFilter(const uint8_t* Buffer);

  // --- Key search and ranges (zelDatabaseKeys.cpp) ---
  TKeyMode KeyMode() const { return KeyMode_; }
  void SetKeyMode(TKeyMode Value) { KeyMode_ = Value; }
  TRangeMode RangeMode() const { return RangeMode_; }
  void SetRangeMode(TRangeMode Value) { RangeMode_ = Value; }
  // The index definition of that name (ignoring case); nullptr when none.
  plat::TIndexDef* FindIndexDefByName(const std::string& Name) const;
  // Values, in order, into the fields of the named index (in dsSetKey:
  // into the buffer KeyMode selects); values past its fields are ignored.
  void SetIndexFields(const std::vector<plat::Variant>& Values, const std::string& IndexName);
  // A range on the current index from the values given for its leading
  // fields; the fields left out cover all their values. Moves to the first
  // record of the range. Also on a cursor opened without the framework.
  void InternalSetRange(const std::vector<plat::Variant>& StartValues,
                        const std::vector<plat::Variant>& EndValues);

  // --- Locate and lookup (zelDatabaseLocate.cpp) ---
  bool Locate(const std::string& KeyFields, const plat::Variant& KeyValues,
              plat::TLocateOptions Options) override;
  plat::Variant Lookup(const std::string& KeyFields, const plat::Variant& KeyValues,
                       const std::string& ResultFields) override;
  // Finds the first record with the values; with SyncCursor the cursor
  // moves onto it, else the record is copied into Found (when given).
  bool LocateRecord(const std::string& KeyFields, const plat::Variant& KeyValues,
                    plat::TLocateOptions Options, bool SyncCursor, uint8_t* Found = nullptr);
  // How many leading fields of Def, in index order, are among Fields.
  int32_t MatchIndex(const std::vector<std::string>& Fields, const plat::TIndexDef& Def,
                     plat::TLocateOptions Options) const;
  // The index for a locate on Fields: its name, the matched count and its
  // number of fields (all empty when none matches).
  void MapFieldsToIndex(const std::vector<std::string>& Fields, plat::TLocateOptions Options,
                        std::string& IndexName, int32_t& MatchCount, int32_t& IndexFieldCount);

  // --- Index definitions (zelDatabaseIndexInfo.cpp) ---
  // IndexDefs becomes a copy of Defs.
  void SetIndexDefs(const plat::TIndexDefs& Defs);

 protected:
  // The framework buffer the state selects; nullptr when none.
  plat::TRecordBuffer GetActiveRecBuf();
  int32_t InfoOffset() const { return RecordBufferSize() + 1 + CalcFieldsSize(); }
  int32_t FrameworkBufferSize() const { return InfoOffset() + 16; }
  // The blob stream of a field: it reads and writes the active record.
  friend class TBlobStream;

  std::unique_ptr<plat::TIndexDefs> IndexDefs_;
  plat::TRecordBuffer FilterBuffer_ = nullptr;
  bool CursorOpenFlag_ = false;
  bool CanModifyFlag_ = false;
  int32_t PendingSeek_ = 0;
  bool FirstFetchPending_ = false;

  // --- Key search and ranges (zelDatabaseKeys.cpp) ---
  // The search key buffer of kmFind (an engine record buffer).
  std::vector<uint8_t> KeyBuffer_;
  TKeyMode KeyMode_ = kmNone;
  TRangeMode RangeMode_ = rmRangeStart;
  // Runs Assign in dsSetKey with the key mode Mode, restoring both after.
  void WithKeyState(TKeyMode Mode, const std::function<void()>& Assign);
};

class ZEL_API TZelTable : public TZelBaseTable {
 public:
  explicit TZelTable(plat::TComponent* AOwner = nullptr);
  ~TZelTable() override;
  std::string ClassName() const override { return "TZelTable"; }

  // "" while the table's natural order is current.
  std::string IndexName() const;
  void SetIndexName(const std::string& Value);
  std::string IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& Value);
  bool Exists() { return GetExists(); }

  // --- Structure operations (zelDatabaseRestructure.cpp) ---
  // The requested structure, made from the current one on first use and
  // dropped when the table opens or a restructure succeeded.
  TRestructureFieldDefs& RestructureFieldDefs();
  TRestructureIndexDefs& RestructureIndexDefs();
  void AddIndex(const std::string& Name, const std::string& Fields, plat::TIndexOptions Options);
  void DeleteIndex(const std::string& Name);
  // Restructures the closed table into the requested structure. Of Settings
  // only the counters and table settings are used.
  void RestructureTable(const TInternalRestructureRecord& Settings);
  // Rebuilds the indexes of the open table; returns the number of records
  // left out for a duplicate key (Flag), else a duplicate raises 0x2601.
  // A failure or an abort leaves the indexes as they were.
  int32_t ReIndex(bool Flag);
  void RebuildTable();
  // Inserts every record of Source, each field taking the value of the
  // Source field its restructure field descriptor names; what cannot be
  // converted or posted is logged and counted. Returns the rows inserted.
  int32_t ImportData(plat::TDataSet& Source);

  // --- Key search and ranges (zelDatabaseKeys.cpp) ---
  // The fields of the current index; 0 / 0x270D on a table without them.
  int32_t IndexFieldCount() const;
  plat::TField* GetIndexField(int32_t Index) const;
  // Key editing: field values go to the search key until a search or
  // CancelKey. SetKey starts from an empty key, EditKey from the last one.
  void SetKey();
  void EditKey();
  void CancelKey();
  // How many leading index fields GotoKey and GotoNearest compare; 0: all.
  int32_t KeyFieldCount() const { return KeyFieldCount_; }
  void SetKeyFieldCount(int32_t Value);
  // The first record whose key equals the search key; false leaves the
  // position.
  bool GotoKey();
  // The first record not below the search key, else the last one.
  void GotoNearest();
  // The same with the key given as values of the leading index fields.
  bool FindKey(const std::vector<plat::Variant>& Values);
  void FindNearest(const std::vector<plat::Variant>& Values);
  // Range editing: field values go to the range start or end until
  // ApplyRange or CancelKey. Set... starts from an open end, Edit... from
  // the last one.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<plat::Variant>& StartValues,
                const std::vector<plat::Variant>& EndValues);

  // --- Master/detail (zelDatabaseTable.cpp) ---
  // The detail shows the records whose leading index fields equal the
  // master's MasterFields, and a new record takes those values.
  plat::TDataSource* MasterSource() const { return MasterLink_->DataSource(); }
  void SetMasterSource(plat::TDataSource* Value);
  const std::string& MasterFields() const { return MasterLink_->FieldNames(); }
  void SetMasterFields(const std::string& Value) { MasterLink_->SetFieldNames(Value); }
  plat::TDataSource* GetDataSource() override { return MasterLink_->DataSource(); }

  // --- Index information and loading (zelDatabaseIndexInfo.cpp, zelDatabaseTable.cpp) ---
  // The visible indexes; on a closed table read from its stored definition.
  void GetIndexNames(plat::TStrings& List);
  // The index definitions, brought up to date first.
  int32_t GetIndexCount();
  // A detail of an active link takes its master's range again.
  void CheckMasterRange();
  // After the table was read from component text: an open detail takes its
  // master's range, and stored index fields choose the index when no index
  // name was given.
  void Loaded() override;

 protected:
  void InternalOpen() override;
  void InternalCheckMasterRange() override;
  void DoOnNewRecord() override;

 private:
  void EnsureRestructureDefs();
  // Runs Change on the descriptors, then restructures; an open table is
  // closed for it, reopened and, when Change returns true, put back on its
  // record.
  void RestructureKeepingPosition(const std::function<bool()>& Change);
  void DropRestructureDefs();

  // --- Key search, ranges and master/detail ---
  // Enters dsSetKey for the search key or a range end, cleared or kept.
  void EnterKeyState(TKeyMode Mode, TRangeMode Range, bool Clear);
  // Searches the key buffer on its first FieldCount fields; on success the
  // framework shows the record found.
  bool SeekKey(TIndexSearchType SearchType, int32_t FieldCount);
  // The same for a key given as values of the leading index fields.
  bool SeekValues(const std::vector<plat::Variant>& Values, TIndexSearchType SearchType);
  void MasterChanged();
  void MasterDisabled();
  // The range from the master's link values; Move also checks browse mode
  // and goes to the first record (not while the first fetch is under way).
  void SetDetailLinkRange(bool Move);
  std::unique_ptr<plat::TMasterDataLink> MasterLink_;
  int32_t KeyFieldCount_ = 0;

  std::string IndexFieldNames_;
  // The structure the descriptors were made from: they point into it.
  std::unique_ptr<plat::TFieldDefs> CurrentFieldDefs_;
  std::unique_ptr<plat::TIndexDefs> CurrentIndexDefs_;
  std::unique_ptr<TRestructureFieldDefs> RestructureFieldDefs_;
  std::unique_ptr<TRestructureIndexDefs> RestructureIndexDefs_;
};

}  // namespace zel
