#pragma once
// TDataSet: the library's dataset framework. A dataset shows the records of
// some source through a ring of record buffers that it fills with the
// GetRecord protocol, moves a state machine (browse, edit, insert, key,
// calculation and filter states) and tells its data sources of every change.
//
// What a descendant provides (the record-buffer protocol): AllocRecordBuffer
// and FreeRecordBuffer (buffers come from AllocRecordMem), GetRecord,
// GetRecordSize, the bookmark data and flag of a buffer, GetFieldData and
// SetFieldData (native formats, see Fields.h), the Internal... operations
// and IsCursorOpen; optionally the record count and number, Locate and
// Lookup, filters, blob streams.
//
// Rules the framework keeps:
//  1. Buffers 0 .. RecordCount-1 of the ring hold records in cursor order; the
//     buffer after them is the scratch buffer GetRecord fills next. The
//     active record is one of them unless the dataset is empty.
//  2. The cursor stands on the record of buffer CurrentRecord, or nowhere
//     known (-1); UpdateCursorPos moves it to the active record before any
//     operation that works on "the current record".
//  3. Moving off a record in edit or insert state posts it when it was
//     modified (or raises, leaving the edit in place) and cancels it when it
//     was not; an edit is never dropped silently. Closing does the same.
//  4. After every post, cancel and delete the buffers are resynchronised
//     from the cursor (Resync), which a dataset may use to release locks.
//  5. Temporary states (SetTempState/RestoreState) suspend data events and
//     keep the Modified flag of a pending edit.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/DB.h"
#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Variants.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TDataSet;
class TDataSource;
class TDataLink;
class TStream;

using TRecordBuffer = uint8_t*;
// A bookmark's bytes (BookmarkSize of them); empty means none.
using TBookmark = std::vector<uint8_t>;
// The second argument of DataEvent: a TField* for deFieldChange, a scroll
// distance for deDataSetScroll, 0 otherwise.
using TDataEventInfo = intptr_t;

enum TDataAction : uint8_t { daFail, daAbort, daRetry };

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;

// dsEdit, dsInsert, dsSetKey.
bool IsEditMode(TDataSetState State);
// The states in which field values may be written: dsEdit, dsInsert,
// dsSetKey, dsCalcFields, dsFilter, dsNewValue, dsInternalCalc.
bool IsWriteMode(TDataSetState State);

// Zero-filled memory for record buffers, released with FreeRecordMem. A
// dataset freed while still open releases its buffers this way, so every
// AllocRecordBuffer must allocate with AllocRecordMem.
TRecordBuffer AllocRecordMem(size_t Size);
void FreeRecordMem(TRecordBuffer Buffer) noexcept;

class PLAT_API TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* AOwner);
  // A descendant whose cursor may be open calls Destroying() and Close() in
  // its own destructor (its InternalClose no longer runs here; Destroying
  // makes Close cancel a pending edit instead of posting it, since nothing
  // may be raised there).
  ~TDataSet() override;
  std::string ClassName() const override { return "TDataSet"; }

  // --- Opening and closing ---
  bool Active() const { return state_ != dsInactive; }
  bool GetActive() const { return Active(); }
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  // "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // "Cannot perform this operation on an open dataset".
  void CheckInactive() const;
  // Whether the fields were made from the field definitions when opening.
  bool DefaultFields() const { return defaultFields_; }
  void SetDefaultFields(bool Value) { defaultFields_ = Value; }

  // --- Navigation ---
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to Distance records (negative: backwards); returns how many.
  int32_t MoveBy(int32_t Distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return activeRecord_ >= recordCount_; }
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return found_; }
  void SetFound(bool Value) { found_ = Value; }
  bool GetFound() const { return found_; }
  int32_t RecordCount() { return GetRecordCount(); }
  int32_t RecNo() { return GetRecNo(); }
  // Rereads the current record and its neighbours from the source.
  void Refresh();

  // --- Editing ---
  // BeforeEdit, InternalEdit (errors through OnEditError), AfterEdit. An
  // empty dataset inserts instead.
  void Edit();
  // A new record before the active one (Insert) or after the last (Append):
  // BeforeInsert, BeforeScroll, InternalInsert, OnNewRecord, AfterInsert,
  // AfterScroll.
  void Insert() { DoInsertAppend(false); }
  void Append() { DoInsertAppend(true); }
  // BeforePost, the required-field check, InternalPost (errors through
  // OnPostError), browse state, Resync, AfterPost. In key state it only ends
  // the key state; in browse state it raises "Dataset not in edit or insert
  // mode".
  virtual void Post();
  // BeforeCancel, InternalCancel (edits only, not inserts), browse state,
  // Resync, AfterCancel; dropping an insert also scrolls (BeforeScroll and
  // AfterScroll around it). In key state it only ends the key state.
  virtual void Cancel();
  // BeforeDelete, BeforeScroll, InternalDelete (errors through
  // OnDeleteError), Resync, AfterDelete, AfterScroll. A record being
  // inserted is cancelled instead.
  void Delete();
  // Insert or Append, each value to the field at its position (Empty values
  // skipped), then Post. A failing post leaves the new record being edited.
  void InsertRecord(const std::vector<Variant>& Values);
  void AppendRecord(const std::vector<Variant>& Values);
  void SetFields(const std::vector<Variant>& Values);
  // Posts a pending edit when modified, cancels it otherwise; ends key state.
  void CheckBrowseMode();
  // Asks the controls to write their values (deUpdateRecord).
  void UpdateRecord();
  bool Modified() const { return modified_; }
  void SetModified(bool Value) { modified_ = Value; }
  bool CanModify() { return GetCanModify(); }
  // "Cannot modify a read-only dataset" unless CanModify.
  void CheckCanModify();

  // --- Bookmarks ---
  int32_t BookmarkSize() const { return bookmarkSize_; }
  void SetBookmarkSize(int32_t Value) { bookmarkSize_ = Value; }
  // Whether the active record can give a bookmark.
  bool BookmarkAvailable();
  // The active record's bookmark; empty when none is available.
  TBookmark GetBookmark();
  TBookmark Bookmark() { return GetBookmark(); }
  // Moves to the bookmarked record (an empty bookmark does nothing); a
  // bookmark of the wrong size raises "Invalid bookmark".
  void GotoBookmark(const TBookmark& Bookmark);
  void SetBookmark(const TBookmark& Value) { GotoBookmark(Value); }
  void FreeBookmark(TBookmark& Bookmark) { Bookmark.clear(); }
  // Base: false. An empty bookmark is never valid.
  virtual bool BookmarkValid(const TBookmark& Bookmark);
  // Base: 0 for two empty bookmarks, 1 when one is empty, else the sign of
  // the first differing byte.
  virtual int32_t CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2);

  // --- Controls and data events ---
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ != 0; }
  virtual void DataEvent(TDataEvent Event, TDataEventInfo Info);
  // The master data source a detail dataset follows, if any.
  virtual TDataSource* GetDataSource() { return nullptr; }
  TDataSource* DataSource() { return GetDataSource(); }
  // Whether DataSource leads (through master sources) back to this dataset.
  bool IsLinkedTo(TDataSource* DataSource);

  // --- Fields ---
  TFields& Fields() { return *fields_; }
  const TFields& Fields() const { return *fields_; }
  int32_t FieldCount() const { return fields_->Count(); }
  TFieldDefs& FieldDefs() { return *fieldDefs_; }
  void SetFieldDefs(const TFieldDefs& Value) { fieldDefs_->Assign(&Value); }
  // Raises "<dataset>: Field '%s' not found".
  TField* FieldByName(std::string_view FieldName) const;
  TField* FindField(std::string_view FieldName) const { return fields_->FindField(FieldName); }
  TField* FieldByNumber(int32_t FieldNo) const { return fields_->FieldByNumber(FieldNo); }
  // One name: the field's value; several (";"-separated): a variant array.
  Variant FieldValues(const std::string& FieldNames);
  Variant GetFieldValue(const std::string& FieldNames) { return FieldValues(FieldNames); }
  void SetFieldValues(const std::string& FieldNames, const Variant& Value);
  void GetFieldList(TList& List, const std::string& FieldNames);
  void GetFieldList(std::vector<TField*>& List, const std::string& FieldNames);
  // Field names, or the field definitions' names when there are no fields.
  void GetFieldNames(TStrings& List);
  // Makes fields for the visible field definitions (owned by this dataset).
  void CreateFields();
  // Frees the fields this dataset owns; others are only detached.
  void DestroyFields();
  // Gives data fields their FieldNo from the field definitions and lays out
  // calculated and lookup fields; unbinding clears that.
  void BindFields(bool Binding);
  // Fills FieldDefs from the source (InternalInitFieldDefs).
  void InitFieldDefs();
  int32_t CalcFieldsSize() const { return calcFieldsSize_; }
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool Value) { autoCalcFields_ = Value; }

  // --- Filters (the descendant applies them) ---
  const std::string& Filter() const { return filterText_; }
  void SetFilter(const std::string& Value) { SetFilterText(Value); }
  virtual void SetFilterText(const std::string& Value) { filterText_ = Value; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool Value) { filtered_ = Value; }
  TFilterOptions FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(TFilterOptions Value) { filterOptions_ = Value; }
  const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& Value) { onFilterRecord_ = Value; }

  // --- Search ---
  // Base: false / Null.
  virtual bool Locate(const std::string& KeyFields, const Variant& KeyValues,
                      TLocateOptions Options);
  virtual Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                         const std::string& ResultFields);

  // --- The record-buffer protocol. Called by the framework and overridden
  // by datasets; public because engine classes drive other datasets. ---
  TRecordBuffer ActiveBuffer() const;
  int32_t BufferCount() const { return bufferCount_; }
  // The buffer GetRecord fills next.
  TRecordBuffer TempBuffer() const;
  // The record being calculated (dsCalcFields).
  TRecordBuffer CalcBuffer() const { return calcBuffer_; }

  virtual TRecordBuffer AllocRecordBuffer() { return nullptr; }
  virtual void FreeRecordBuffer(TRecordBuffer& Buffer);
  virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck);
  virtual int32_t GetRecordSize() { return 0; }
  virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data);
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer);
  virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data);
  virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value);
  // Field values of the record the state selects, in native format (see
  // Fields.h); false when null or when there is no record.
  virtual bool GetFieldData(TField* Field, void* Buffer);
  // Whether the field has a value in the record the state selects (what
  // GetFieldData returns), for TField::IsNull. Base: reads the value; a
  // dataset that can tell from a null flag answers without the copy.
  virtual bool FieldHasValue(TField* Field);
  virtual void SetFieldData(TField* Field, const void* Buffer);
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode);
  virtual bool GetCurrentRecord(TRecordBuffer Buffer);
  virtual bool IsCursorOpen() { return false; }
  virtual bool IsSequenced() { return true; }
  virtual bool GetCanModify() { return true; }
  virtual int32_t GetRecordCount() { return -1; }
  virtual int32_t GetRecNo() { return -1; }
  virtual void SetRecNo(int32_t Value);
  virtual bool FindRecord(bool Restart, bool GoForward);
  virtual void UpdateIndexDefs() {}

  virtual void InternalOpen() {}
  virtual void InternalClose() {}
  virtual void InternalInitFieldDefs() {}
  virtual void InternalFirst() {}
  virtual void InternalLast() {}
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalPost() {}
  // Runs only when an edit (not an insert) is cancelled.
  virtual void InternalCancel() {}
  virtual void InternalDelete() {}
  virtual void InternalRefresh() {}
  virtual void InternalAddRecord(const void* Buffer, bool Append);
  virtual void InternalInitRecord(TRecordBuffer Buffer);
  virtual void InternalGotoBookmark(const void* Bookmark);
  virtual void InternalSetToRecord(TRecordBuffer Buffer);
  // Called inside a catch block for an error of a streamed Active at design
  // time; the base rethrows it.
  virtual void InternalHandleException();

  // Sets the values of the calculated fields of Buffer (state dsCalcFields).
  void GetCalcFields(TRecordBuffer Buffer);
  virtual void CalculateFields(TRecordBuffer Buffer);
  virtual void ClearCalcFields(TRecordBuffer Buffer);
  virtual void InitRecord(TRecordBuffer Buffer);

  virtual void Resync(TResyncMode Mode);
  virtual bool GetNextRecord();
  virtual int32_t GetNextRecords();
  virtual bool GetPriorRecord();
  virtual int32_t GetPriorRecords();
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  void SetCurrentRecord(int32_t Index);
  void ClearBuffers();
  void ActivateBuffers();
  void UpdateBufferCount();
  virtual void SetBufferCount(int32_t Value);

  void SetState(TDataSetState Value);
  // Enters a temporary state (no data events reach the controls); returns
  // the state to restore. TTempState does both for a scope.
  TDataSetState SetTempState(TDataSetState Value);
  void RestoreState(TDataSetState Value);
  // "Dataset not in edit or insert mode" unless in dsSetKey.
  void CheckSetKeyMode() const;

  // --- Events ---
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

  void Loaded() override;

 protected:
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();
  virtual void DoBeforeInsert();
  virtual void DoAfterInsert();
  virtual void DoBeforeEdit();
  virtual void DoAfterEdit();
  virtual void DoBeforePost();
  virtual void DoAfterPost();
  virtual void DoBeforeCancel();
  virtual void DoAfterCancel();
  virtual void DoBeforeDelete();
  virtual void DoAfterDelete();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  virtual void DoOnNewRecord();
  virtual void DoOnCalcFields();

  void OpenCursor(bool InfoQuery);
  void CloseCursor();
  // Runs Operation after placing the cursor; an EDatabaseError goes to
  // ErrorEvent, which may retry or abort.
  void CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& ErrorEvent);
  // "Field '%s' must have a value" for a required data field that is null.
  void CheckRequiredFields();

 private:
  friend class TDataLink;
  friend class TDataSource;
  friend class TField;

  void DoInsertAppend(bool Append);
  void FreeFieldBuffers();
  void UpdateCalcFields();
  void MoveBuffer(int32_t CurIndex, int32_t NewIndex);
  void FreeBuffers() noexcept;
  void AddDataSource(TDataSource* DataSource);
  void RemoveDataSource(TDataSource* DataSource);

  std::unique_ptr<TFieldDefs> fieldDefs_;
  std::unique_ptr<TFields> fields_;
  std::vector<TDataSource*> dataSources_;

  TDataSetState state_ = dsInactive;
  // The ring (rule 1): bufferCount_ + 1 buffers while the cursor is open.
  std::vector<TRecordBuffer> buffers_;
  int32_t bufferCount_ = 0;
  int32_t recordCount_ = 0;
  int32_t activeRecord_ = 0;
  int32_t currentRecord_ = -1;
  TRecordBuffer calcBuffer_ = nullptr;
  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool modified_ = false;
  bool defaultFields_ = false;
  bool internalOpenComplete_ = false;
  bool autoCalcFields_ = true;
  bool streamedActive_ = false;
  int32_t bookmarkSize_ = 0;
  int32_t calcFieldsSize_ = 0;
  int32_t disableCount_ = 0;
  TDataSetState disableState_ = dsInactive;
  // Modified flags of the edits that temporary states interrupted.
  std::vector<bool> savedModified_;
  TDataEvent enableEvent_ = deDataSetChange;

  std::string filterText_;
  bool filtered_ = false;
  TFilterOptions filterOptions_;
  TFilterRecordEvent onFilterRecord_;
};

// Holds a dataset in a temporary state for a scope.
class TTempState {
 public:
  TTempState(TDataSet& DataSet, TDataSetState State)
      : dataSet_(DataSet), saved_(DataSet.SetTempState(State)) {}
  ~TTempState() { dataSet_.RestoreState(saved_); }
  TTempState(const TTempState&) = delete;
  TTempState& operator=(const TTempState&) = delete;

 private:
  TDataSet& dataSet_;
  TDataSetState saved_;
};

}  // namespace plat
