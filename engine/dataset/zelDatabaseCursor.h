#pragma once
// TZelDataSet: the table cursor. One open table, positioned on one record of
// one index. It owns its copy of the table definition (connected to the
// master's stores by the database), a record manager, an index manager and a
// blob interface, and it reads and writes records in its engine record
// buffer. The dataset protocol is TZelBaseTable's (zelDatabaseTable.h).
//
// Engine record buffer (RecordSize + 12 bytes, zero-filled when made):
//   0 .. RecordSize-1   the stored record (prefix: in-use flag, owner code,
//                       logical record number, modification stamp)
//   RecordSize          u32 the record's address in the record store
//   RecordSize + 4      u32 the record's number in the current index
//   RecordSize + 8      u32 0; in a search or range key buffer the marker
//                       (kfLowest, kfHighest) of key parts that are not fields
//
// Rules:
//  1. Every read of the stores runs under a read lock and every change under
//     the write lock; a call takes a lock only when none is held and
//     releases only what it took (TCursorLock).
//  2. The table header and the index roots are reread after every lock is
//     taken, and written back before the write lock is released.
//  3. A key violation is found before anything is written; a failure after
//     the record was written undoes the record, its blobs and the keys
//     already inserted, so no record is ever left without its keys.
//  4. The in-use count of the table is the master's, kept by the manager
//     that owns the table: an open cursor is one user.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabaseFilters.h"
#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommonHash.h"
#include "engine/storage/zelCommonLists.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelIndexUnit.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/db/DataSet.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TZelDataBase;

// Offsets of the trailing fields of an engine record buffer, from RecordSize.
inline constexpr int32_t rbRecAddr = 0;
inline constexpr int32_t rbRecNo = 4;
inline constexpr int32_t RecordBufferTrailer = 12;
inline constexpr int32_t ZelBookmarkSize = 8;

// The engine's version text, written into every new table and file.
inline constexpr const char* ZelEngineVersion = "1.50.03";
// The index of a table that has none of its own: the insertion order.
inline constexpr const char* LogicalRecNoIndexName = "_LogicalRecNo";

// Privilege bits the cursor checks.
inline constexpr int32_t opInsertDataBit = 256;
inline constexpr int32_t opDeleteDataBit = 1024;
inline constexpr int32_t opReadDataBit = 2048;
inline constexpr int32_t opUpdateDataBit = 4096;

enum TReadAheadMode : uint8_t {
  raReadAheadInactive,
  raReadAheadUninitialized,
  raReadAheadActive
};

// Milliseconds a batch of read-ahead records stays valid: what other
// processes change shows after at most this long while browsing.
inline constexpr uint32_t ReadAheadValidPeriod = 10000;

// Which end of a range a key buffer describes.
enum TRangeMode : uint8_t { rmRangeStart, rmRangeEnd };

// The null-flag byte of a field in a search or range key buffer: the field
// holds a value, is null, or stands before or after every value. The
// buffer's trailing word carries the lowest or highest marker for the key
// parts that are not fields.
inline constexpr uint8_t kfNull = 0;
inline constexpr uint8_t kfValue = 1;
inline constexpr uint8_t kfLowest = 2;
inline constexpr uint8_t kfHighest = 4;
inline constexpr int32_t rbKeyMarker = 8;

// An encrypted table's AltName: its name scrambled with the built-in key.
std::string ScrambleTableName(const std::string& Name);

// A field name list ("A;B") as its names; whether Names holds Name, ignoring
// case.
std::vector<std::string> SplitFieldNames(const std::string& Names);
bool ContainsFieldName(const std::vector<std::string>& Names, const std::string& Name);

// Holds the read locks of the database's tables for a statement's run: a
// table read while the scope lives stays read-locked until it ends (also by
// an exception), cursor locks inside it cost no lock call, and a cursor of
// an unchanged table steps on from where its index stands. Scopes nest.
// Nothing happens for a database without a file that takes locks.
class ZEL_API TTableReadHold {
 public:
  explicit TTableReadHold(TZelDataBase* DataBase);
  ~TTableReadHold();
  TTableReadHold(const TTableReadHold&) = delete;
  TTableReadHold& operator=(const TTableReadHold&) = delete;

 private:
  TDiskMgr* Disk_ = nullptr;
};

class ZEL_API TZelDataSet : public plat::TDataSet {
 public:
  explicit TZelDataSet(plat::TComponent* AOwner = nullptr);
  ~TZelDataSet() override;
  std::string ClassName() const override { return "TZelDataSet"; }

  // --- Settings (changed only while the cursor is closed) ---
  TZelDataBase* DataBase() const { return DataBase_; }
  void SetDataBase(TZelDataBase* Value);
  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value);
  bool Memory() const { return Memory_; }
  void SetMemory(bool Value);
  bool ReadOnly() const { return ReadOnly_; }
  void SetReadOnly(bool Value);
  TEncryptionLevel EncryptionLevel() const { return EncryptionLevel_; }
  void SetEncryptionLevel(TEncryptionLevel Value);
  TSortOrder SortOrder() const { return SortOrder_; }
  void SetSortOrder(TSortOrder Value);
  int32_t BlobBlockSize() const { return BlobBlockSize_; }
  void SetBlobBlockSize(int32_t Value);
  bool BlobCompression() const { return BlobCompression_; }
  void SetBlobCompression(bool Value);
  // Always the definition's.
  const std::string& Version() const { return Version_; }
  void SetVersion(const std::string&) {}
  // Handed to the blob interface when the cursor opens: compress a blob
  // before it is stored (when the table compresses blobs), and decompress
  // one stored with the user's own method.
  TBlobInterface::TCompressBlobEvent OnCompressBlob;
  TBlobInterface::TDecompressBlobEvent OnDecompressBlob;
  // One of the database's own catalogue or system tables: it does not join
  // the database's list of datasets.
  bool InternalTableFlag() const { return InternalTableFlag_; }
  void SetInternalTableFlag(bool Value) { InternalTableFlag_ = Value; }
  bool GetSystemTable() const { return TableDef_->InternalTable(); }

  TTableDef& TableDef() { return *TableDef_; }
  const TTableDef& TableDef() const { return *TableDef_; }
  bool CursorOpen() const { return Open_; }
  int32_t RecordSize() const { return RecordSize_; }
  int32_t RecordBufferSize() const { return RecordSize_ + RecordBufferTrailer; }
  uint8_t* RecordBuffer() { return RecBuf_.data(); }
  bool HasCurrentRecord() const { return CurrentRecordFlag_; }

  // --- Opening and closing the engine side ---
  // Reads the definition through the database and opens on it.
  bool DataSetOpen();
  // Opens on a definition the database has already filled and connected
  // (its catalogue tables).
  void DataSetOpenConnected();
  bool DataSetClose();
  bool GetExists();

  // --- Navigation over the current index ---
  bool DataSetFirst();
  bool DataSetLast();
  bool DataSetNext();
  bool DataSetPrior();
  bool DataSetMoveToEnd(bool Start);
  int32_t DataSetGetRecordNo() const;
  bool DataSetSetRecordNo(int32_t RecNo);
  int32_t GetTotalRecordCount();
  // The records the cursor can reach: inside the range when one is on.
  int32_t GetCurrentRecordCount();
  // Re-seeks the current index on the record buffer's key (stEQ); true when
  // the record is there.
  bool SeekCurrentKey();
  TIndexItem* CurrentIndex() const;
  const std::string& CurrentIndexName() const { return IndexName_; }
  // Makes Name the current index (must exist; 0x270D otherwise).
  void InternalSetIndexName(const std::string& Name);
  TIndexManager& IndexManager() { return *IndexMgr_; }

  // --- Read-ahead (disk tables, while the framework fetches rows) ---
  int32_t ReadAheadBufferSize() const { return ReadAheadBufferSize_; }
  void SetReadAheadBufferSize(int32_t Value) { ReadAheadBufferSize_ = Value; }
  bool UseReadAheadBuffer() const { return UseReadAheadBuffer_; }
  void SetUseReadAheadBuffer(bool Value) { UseReadAheadBuffer_ = Value; }
  TReadAheadMode ReadAheadMode() const { return ReadAheadMode_; }
  void SetReadAheadMode(TReadAheadMode Mode);
  void ReleaseReadAheadMode();
  void ClearReadAheadMode();
  void InvalidateReadAhead();
  bool GetNextRecord() override;
  int32_t GetNextRecords() override;
  bool GetPriorRecord() override;
  int32_t GetPriorRecords() override;

  // --- Locks ---
  void LockTable() { InternalSetWriteLock(); }
  void ReadLockTable() { InternalSetReadLock(); }
  void UnlockTable() { InternalReleaseLock(); }
  bool ReadLocked() const { return ReadLocked_; }
  bool WriteLocked() const { return WriteLocked_; }
  void InternalSetReadLock();
  void InternalSetWriteLock();
  void InternalReleaseLock();
  void InternalSetRecordLock(uint32_t RecAddr);
  void InternalReleaseRecordLock(uint32_t RecAddr);
  // The transaction ended and its locks with it: the flags follow, nothing
  // is written.
  void ForgetLocks();
  // After a rollback: cached records, pending blobs and the table header
  // read in the transaction are dropped; the next lock reads them again.
  void DumpInternalCaches();

  // --- Record changes ---
  void AddRecord(bool AutoInc);
  // With StoredRead the old record buffer already holds the stored record,
  // read under the write lock held since (SetToRecord): it is not read again.
  void UpdateRecord(bool StoredRead = false);
  // Deletes the current record; the cursor then stands on the next record
  // (the prior one at the end), or, without Reposition, on none.
  void DeleteRecord(const uint8_t* Buffer, bool Reposition = true);
  void DataSetEmptyTable();
  void InitializeNewRecord(uint8_t* Buffer, bool KeyFlags);
  void ClearRecord(uint8_t* Buffer);
  // Reads the record at RecAddr into the record buffer; with Position the
  // current index is set on it. With CheckFlags and a Buffer the stored
  // record must still be the one Buffer holds (0x2204 otherwise).
  bool SetToRecord(uint32_t RecAddr, const uint8_t* Buffer, bool Position, bool CheckFlags);
  void ReadRecordBuffer(uint32_t RecAddr, uint8_t* Buffer);

  // --- Filters (zelDatabaseFilters.cpp) ---
  TFilterMgr& FilterMgr() { return *FilterMgr_; }
  bool FilterActive() const;
  // The filter's record list is rebuilt before its next use.
  void InvalidateFilter();
  // The dataset protocol's verdict on a record (an engine record buffer);
  // false rejects it.
  using TFilterEventHandler = std::function<bool(const uint8_t* Buffer)>;
  void SetFilterEventHandler(TFilterEventHandler Value) { FilterEventHandler_ = std::move(Value); }
  // Records must also pass the handler: one is installed and the host set
  // OnFilterRecord.
  bool HasFilterEvent() const;
  // The handler's verdict on the record at RecAddr (true without one).
  bool PassFilterEvent(uint32_t RecAddr);
  // Whether the record at RecAddr is in the active filter (text and
  // handler); true without one. A caller walking an index first makes the
  // filter current (RefreshFilterIfStale) under its lock, since a rebuild
  // moves the index positions.
  bool RecordInFilter(uint32_t RecAddr) const;
  // Every record of the current index (or of its range) in index order,
  // with its number in the index.
  void InternalPrepareMasterRecordList(TCompoundList& List);
  // Every record of the table, in address order, under one read lock:
  // Visit gets its address and its stored bytes (RecordSize of them, valid
  // only during the call). Reads the record store in runs rather than
  // record by record through an index.
  using TRecordVisitor = std::function<void(uint32_t RecAddr, const uint8_t* Record)>;
  void ScanRecords(const TRecordVisitor& Visit);
  // Every record of the active filter, in its order, under one read lock:
  // Visit gets its address, its number as a move gives it, and its bytes.
  void ReadFilterRecords(
      const std::function<void(uint32_t RecAddr, int32_t RecNo, const uint8_t* Record)>& Visit);
  // Find under an active filter: the record found when the filter holds it,
  // else the filter's nearest record in the search's direction (none for
  // stEQ; stLEG looks forward, then back). The filter's list already keeps
  // to an active range.
  bool FindInFilter(TIndexSearchType SearchType, const std::string& IndexName,
                    const TSearchModifier& Modifier);
  // Moves within the filter; true when a record was reached.
  bool InternalMoveToFilterRecord(TSeekPosition Position, int32_t Offset);
  // After a change of the table by this cursor.
  void InternalCheckFilterStatus(bool LockWasHeld, plat::TUpdateStatus Status);
  // Opens the filter from the framework's Filter, FilterOptions and
  // OnFilterRecord (0x2743 for a text that does not parse); closes it.
  void InternalSetFilter();
  void InternalClearFilter();
  void SetInQuery(bool Value);
  int32_t GetFilterRecordCount();
  // The table's next auto-increment value, from the header read again.
  int32_t DatasetGetNextAutoIncValue();
  bool IsSequenced() override { return !FilterActive(); }

  // --- Key search and ranges (zelDatabaseKeys.cpp) ---
  // Seeks the key in the record buffer on the named index (markers from
  // its flags when the trailing word is set); on success the record is
  // read and numbered in the current index.
  bool InternalFind(TIndexSearchType SearchType, const std::string& IndexName,
                    const TSearchModifier& Modifier);
  // InternalFind, then kept inside an active range: a search that passed
  // an end lands on it where the search type allows, else fails.
  bool Find(TIndexSearchType SearchType, const std::string& IndexName,
            const TSearchModifier& Modifier);
  // Searches the named index for the key of Buffer (markers as InternalFind)
  // without reading the record or moving the cursor; 0 when found.
  int32_t InternalSearchOnly(const uint8_t* Buffer, TIndexSearchType SearchType,
                             const std::string& IndexName, const TSearchModifier& Modifier);
  // Key fields of the named index that are null in Buffer and not named in
  // Fields get the marker of the range end (lowest for the start), so that
  // a search on the other fields passes over all their values.
  void SetNullIndexFieldsToRangeEnd(uint8_t* Buffer, const std::string& IndexName,
                                    TRangeMode Mode, const std::vector<std::string>& Fields);
  // Clears Buffer and marks every field (and the trailing word) with Flag.
  void SetKeyFlags(uint8_t* Buffer, uint8_t Flag) const;
  // On: the range keys are built from the range record buffers; off: the
  // range is cleared.
  void SetRangeOn(bool On);
  bool RangeOn() const { return RangeOn_; }
  // The start key is not above the end key.
  bool RangeActive() const { return RangeActive_; }
  // Range off; the start buffer lowest, the end buffer highest.
  void DataSetClearRange();
  bool CheckKeyBufInRange(const uint8_t* Key, TRangeMode Mode) const;
  // The cursor onto the first (start) or last (end) record of the range.
  bool MoveToRangeEnd(TRangeMode Mode);
  // The current index's record number of that range end; 0 when the range
  // holds no record.
  int32_t GetRangeEndRecNo(TRangeMode Mode);
  uint8_t* GetRangeRecBuf(TRangeMode Mode) { return Range_[Mode].RecBuf.data(); }

  // --- Seeks from a buffer, read-ahead around a seek, index information
  //     (zelDatabaseKeys.cpp, zelDatabaseIndexInfo.cpp) ---
  // Buffer becomes the search key of Find. When nothing is found and
  // RestoreOnFail is set, the cursor lands on the record nearest that key
  // (inside an active range), so that it stands on a record again.
  bool FindBuf(const uint8_t* Buffer, TIndexSearchType SearchType, const std::string& IndexName,
               const TSearchModifier& Modifier, bool RestoreOnFail);
  // Seeks the current index for the key of the record buffer: stLEG the
  // nearest key (at or above, else below) kept inside an active range, any
  // other type the key at or below. The record found goes into Buffer with
  // its address and number; returns the address, 0 when none was found.
  uint32_t RefreshDataSet(TIndexSearchType SearchType, uint8_t* Buffer);
  // The field (and the key parts that are not fields) of the search key in
  // the record buffer stands after every value: a partial key searched to
  // the end of its values.
  void SetFieldKeyFlagToMax(int32_t FieldNo);
  // Indexes that are not hidden (the natural order of a table without
  // indexes is never one).
  int32_t InternalGetIndexCount() const;
  void GetIndexNames(plat::TStrings& List) const;
  // One line per index of GetIndexNames: its fields separated by ";".
  void GetIndexFieldNamesList(plat::TStrings& List) const;
  // The fields of the named index among KeyFields, separated by ";"; key
  // parts that are not fields are left out.
  static std::string GetIndexFieldsFromKeyFields(const std::string& IndexName,
                                                 const TKeyFields& KeyFields);
  // The index whose fields are exactly FieldNames (";"-separated, any
  // case); 0x270D when there is none.
  std::string FindIndexForFields(const std::string& FieldNames) const;
  // The library's definition of index number Index (not hidden) and of
  // field number FieldNo (0-based).
  void GetIndexDef(int32_t Index, plat::TIndexDef& Def) const;
  void GetFieldDef(int32_t FieldNo, plat::TFieldDef& Def) const;
 protected:
  // The key of Buffer on Index: with comparison markers from its flags
  // when the buffer's trailing word is set.
  void BuildSearchKey(const uint8_t* Buffer, TIndexItem& Index);
  // Lists the records from the current one on in Direction (around it for
  // rdCenter), with their data.
  void FillReadAheadBuffer(TReadAheadDirection Direction);
  // Moves Index from where it stands onto the record in the record buffer
  // by their record numbers, when they are close; false when it could not
  // (the index must then be searched).
  bool PositionIndexOnRecord(TIndexItem& Index);
  // No change of the table since the read-ahead batch was read, by this
  // cursor or any other.
  bool TableUnchangedSinceLastRead() const;
  // Where the batch a seek fills goes: the direction of a step, around the
  // record after a search.
  TReadAheadDirection ReadAheadDirection_ = rdCenter;

 public:

  // --- Restructuring and maintenance (zelDatabaseRestructure.cpp) ---
  // Applies a restructure to the closed table: the whole change runs in one
  // transaction of the database, so a failure leaves the table as it was.
  void InternalRestructureTable(TInternalRestructureRecord& Request);
  // Copies every record back from the ".zex" backup into the emptied table.
  void InternalRebuildTable();
  // Rebuilds every index of the open table from its records; returns the
  // number of records left out of the indexes for a duplicate key (only
  // with SkipKeyViolations, else 0x2601). An abort from OnUpdateProgress
  // raises 0x2186 so that the caller undoes the change.
  int32_t InternalReIndex(bool SkipKeyViolations);
  void InitializeRebuild();
  void FinalizeRebuild();
  // Adds every valid record of Source to this table, field by field through
  // each field's SourceField; returns the number copied.
  int32_t CopyRawTableData(TZelDataSet& Source);

  // --- Table definition building ---
  void SetTableDef(bool MemoryTable, bool IndexesOnly, const plat::TFieldDefs& FieldDefs,
                   const plat::TIndexDefs& IndexDefs);
  // The same from restructure descriptors; deleted items are left out.
  void SetTableDefFromRSDefs(bool IndexesOnly, const TRestructureFieldDefs& FieldDefs,
                             const TRestructureIndexDefs& IndexDefs);
  void InternalCreateTable();
  void ValidateObjectName(const std::string& Name, const std::string& Context) const;

  // --- Field values by internal field number (0-based) ---
  // Inline: every field read of every row comes through here.
  int32_t GetInternalFieldCount() const { return RecordMgr_->InternalFields().Count(); }
  TInternalFieldItem* GetInternalField(int32_t FieldNo) const {
    const TInternalFields& fields = RecordMgr_->InternalFields();
    if (FieldNo < 0 || FieldNo >= fields.Count()) InternalFieldNoError(FieldNo);
    return static_cast<TInternalFieldItem*>(fields.Items(FieldNo));
  }
  int32_t GetFieldNo(const std::string& Name) const;
  bool IsFieldBlob(int32_t FieldNo) const;
  bool GetIsFieldNullFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo) const;
  int32_t InternalGetFieldLength(int32_t FieldNo, const uint8_t* RecBuf) const;
  int32_t InternalGetFieldLength(const TInternalFieldItem& Field, const uint8_t* RecBuf) const;
  bool DataSetGetFieldDataFromRecBuf(int32_t FieldNo, bool& IsNull, void* Data,
                                     const uint8_t* RecBuf) const;
  bool DataSetGetFieldData(int32_t FieldNo, bool& IsNull, void* Data) const {
    return DataSetGetFieldDataFromRecBuf(FieldNo, IsNull, Data, RecBuf_.data());
  }
  void DataSetSetFieldDataToRecBuf(int32_t FieldNo, int32_t Length, bool IsNull, const void* Data,
                                   uint8_t* RecBuf) const;
  void DataSetSetFieldData(int32_t FieldNo, int32_t Length, bool IsNull, const void* Data);
  plat::Variant DataSetGetFieldDataFromRecBufAsVariant(const uint8_t* RecBuf,
                                                       int32_t FieldNo) const;
  // The same for a field already looked up (one of this cursor's internal fields).
  plat::Variant DataSetGetFieldDataFromRecBufAsVariant(const uint8_t* RecBuf,
                                                       const TInternalFieldItem& Field) const;
  // A String field's value as it stands in RecBuf (Text is empty for Null);
  // false for a field of another type.
  bool DataSetGetFieldTextFromRecBuf(const uint8_t* RecBuf, const TInternalFieldItem& Field,
                                     std::string_view& Text, bool& IsNull) const;
  // A whole-number field's value as it stands in RecBuf (Value is 0 for
  // Null); false for a field of another type.
  bool DataSetGetFieldIntegerFromRecBuf(const uint8_t* RecBuf, const TInternalFieldItem& Field,
                                        int64_t& Value, bool& IsNull) const;
  plat::Variant DataSetGetFieldDataAsVariant(int32_t FieldNo) const {
    return DataSetGetFieldDataFromRecBufAsVariant(RecBuf_.data(), FieldNo);
  }
  void DataSetSetFieldDataToRecBufAsVariant(uint8_t* RecBuf, int32_t FieldNo,
                                            const plat::Variant& Value) const;
  void DataSetSetFieldDataAsVariant(int32_t FieldNo, const plat::Variant& Value) {
    DataSetSetFieldDataToRecBufAsVariant(RecBuf_.data(), FieldNo, Value);
  }
  // Blob fields: the value in RecBuf read from the blob store, or the
  // pending value of the record being edited.
  void DataSetGetFieldStreamFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo,
                                       plat::TStream& Stream, bool& IsNull);
  // The new value of a blob field, written when the record is posted.
  void DataSetSetFieldStream(int32_t FieldNo, bool IsNull, plat::TStream& Stream);
  // Forgets the blob values read for browsing (the blob cache).
  void ClearBlobCache();
  void CheckPrivilegePresent(int32_t Flags, int32_t Privilege) const;

  // --- Checks ---
  void CheckConnected() const;
  void CheckInternalActive() const;
  void CheckInternalInactive() const;

  // The framework operations of the protocol are TZelBaseTable's; on the
  // bare cursor they are refused.
  plat::TGetResult GetRecord(plat::TRecordBuffer Buffer, plat::TGetMode GetMode,
                             bool DoCheck) override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  void InternalOpen() override;
  bool IsCursorOpen() override;
  void InternalHandleException() override;

  void Resync(plat::TResyncMode Mode) override;

  void Notification(plat::TComponent* AComponent, plat::TOperation Operation) override;
  // Called before the cursor takes another database: a closed dataset that
  // kept its cursor open lets go of it here.
  virtual void DatabaseChanging() {}

  // --- Locating records, record lists, blob access and the blob cache
  // (zelDatabaseLocate.cpp, zelDatabaseBlobs.cpp) ---
  // Searches IndexName (the current index when empty) for the first record
  // whose fields FieldNames equal those of Buffer and that the range and the
  // filter show; true when found. With SyncCursor the cursor moves onto it,
  // else the record goes to Found (when given) and the cursor stays.
  bool DoLocate(const std::string& IndexName, const uint8_t* Buffer,
                const std::vector<std::string>& FieldNames, bool Partial, bool CaseInsensitive,
                bool SyncCursor, uint8_t* Found = nullptr);
  // Key against a record over the search fields, field by field; FieldPos
  // gets the position of the first field that differs.
  int32_t InternalCompareRecords(const uint8_t* Key, const uint8_t* Record,
                                 TSearchFields& SearchFields, bool Partial, bool CaseInsensitive,
                                 int32_t& FieldPos) const;
  void LoadCompleteListOfRecords(plat::TList& List);
  // (value, record address) of every record with a value in the hash's
  // field. With an active filter and a List, List gets the filter's
  // records and, unless Unsorted, the hash their values.
  void LoadHashListOfRecords(TZelBaseHash& Hash, plat::TList* List, bool Unsorted);

  void DataSetGetFieldStream(int32_t FieldNo, plat::TStream& Stream);
  // The new value of a blob field of the record in RecBuf (the cursor's
  // own buffer holds its pending values), written when the record is
  // posted. A record being edited needs the update right on the field, a
  // new one the insert right.
  void DataSetSetFieldStreamFromRecBuf(const uint8_t* RecBuf, int32_t FieldNo, bool IsNull,
                                       plat::TStream& Stream);
  void CheckBlobWriteRight(const uint8_t* RecBuf, int32_t FieldNo) const;
  // The blob cache: copies of blobs read while browsing, by record address
  // and field number; used only in dsBrowse.
  bool UseBlobCache() const { return UseBlobCache_; }
  void SetUseBlobCache(bool Value);
  bool GetBlobCacheData(const uint8_t* Buffer, int32_t FieldNo, plat::TStream& Stream);
  void SetBlobCacheData(const uint8_t* Buffer, int32_t FieldNo, plat::TStream& Stream);
  void SetOnCompressBlob(TBlobInterface::TCompressBlobEvent Value);
  void SetOnDecompressBlob(TBlobInterface::TDecompressBlobEvent Value);

 // Forgets the pending blob values of the record being edited.
  void ClearBlobSlots();

 protected:
  std::unique_ptr<TBlobMgr> BlobCache_ = std::make_unique<TBlobMgr>();
  bool UseBlobCache_ = false;

 protected:
  [[noreturn]] void InternalFieldNoError(int32_t FieldNo) const;
  void InternalOpenDataSet();
  void InternalCloseDataSet();
  void ReadTableHeader();
  // Whether the header in memory is still the stored one: nothing was
  // written through the connection since it was read or written (its stamp
  // is unchanged) and, on disk, the connection held the table all along, so
  // no other process could change it either.
  bool HeaderCurrent() const;
  // Takes the stamp HeaderCurrent goes by, once the header in memory is the
  // stored one.
  void NoteHeaderStamp();
  // The free-space starts of the header in memory, as the table's stores use them.
  void ApplyHeaderFirstEmpty();
  void WriteTableHeader();
  bool CheckRecordFlags(const uint8_t* Stored, const uint8_t* Expected, bool CheckStamp) const;
  // Reads the record the current index points at into the record buffer.
  void LoadFromIndex();
  // Makes the record just written from the record buffer the current one.
  void StandOnWrittenRecord(uint32_t RecAddr, int32_t RecNo);
  // The record after (Forward) or before the current one from the
  // read-ahead batch; false when the batch cannot say.
  bool GetFromReadAheadBuffer(bool Forward);
  // Holds a read-ahead mode for one framework fetch.
  class TReadAheadScope {
   public:
    explicit TReadAheadScope(TZelDataSet& DataSet) : DataSet_(DataSet) {
      DataSet_.SetReadAheadMode(raReadAheadUninitialized);
    }
    ~TReadAheadScope() { DataSet_.ReleaseReadAheadMode(); }
    TReadAheadScope(const TReadAheadScope&) = delete;
    TReadAheadScope& operator=(const TReadAheadScope&) = delete;

   private:
    TZelDataSet& DataSet_;
  };
  // Writes or deletes the pending blobs of the record buffer; Written
  // collects the chains made (for undo), Replaced the chains the record no
  // longer uses once the change succeeds.
  void WriteBlobsToInterface(bool Deleting, std::vector<std::pair<uint32_t, int32_t>>* Written,
                             std::vector<std::pair<uint32_t, int32_t>>* Replaced);
  TBlob* BlobSlot(int32_t FieldNo, bool Create);
  void SetRecordTrailer(uint8_t* Buffer, uint32_t RecAddr, int32_t RecNo) const;
  static uint32_t BufferRecAddr(const uint8_t* Buffer, int32_t RecordSize);
  // Reports Position of Count to OnUpdateProgress when the percentage moved;
  // true when the handler asked to stop.
  bool ReportProgress(int64_t Position, int64_t Count, int32_t& LastPercent);

  // --- Key search and ranges (zelDatabaseKeys.cpp) ---
  // One end of the range. Invariant while the range is on: Key and Markers
  // are built from RecBuf on the current index; RecNo and RecAddr hold the
  // end's position only while PositionValid, which a change of the table
  // (this cursor's, another cursor's or another process's) clears.
  struct TRangeEnd {
    std::vector<uint8_t> RecBuf;
    std::vector<uint8_t> Key;
    TComparisonMarkers Markers;
    bool PositionValid = false;
    int32_t RecNo = 0;
    uint32_t RecAddr = 0;
  };
  TComparisonMarkers KeyMarkers(const uint8_t* Buffer, TIndexItem& Index,
                                TFieldComparisonValue NonFieldMarker) const;
  // The named index (0x270D when none), its search key built from Buffer
  // and searched; the search's result.
  TIndexItem* SeekIndex(const uint8_t* Buffer, TIndexSearchType SearchType,
                        const std::string& IndexName, const TSearchModifier& Modifier,
                        const char* Context, int32_t& Result);
  // The key of Buffer lies inside the range (always while the range is off).
  bool RecordInRange(const uint8_t* Buffer);
  // Puts a record that left the range back on the nearer range end; true
  // when the cursor stands on a record inside the range.
  bool StayInRange();
  // The index on the range end of Mode; its record address, 0 when the
  // range holds no record.
  uint32_t SearchRangeEnd(TRangeMode Mode);
  void InvalidateRangePositions();
  // IndexName_ becomes Name; the current index is looked up again.
  void SetCurrentIndexName(const std::string& Name);
  // One step over the current index, without regard to the range.
  bool StepRecord(bool Forward);
  // The step from where the current index still stands on the record in
  // the buffer, when nothing can have changed the table since the cursor
  // got there; kpSearch when the index must be searched instead. InRange:
  // a next key outside the range ends the step (kpLeftRange) before the
  // record is read, and the buffer keeps its record.
  enum TKeptStep : uint8_t { kpMoved, kpLeftRange, kpSearch };
  TKeptStep StepFromKeptPosition(bool Forward, bool InRange);
  // Notes that the current index stands on the record in the buffer.
  void KeepPosition();
  // The table's change stamp while no other process can change it: the
  // file's while the table is locked, a memory table's index store's count;
  // false when there is none to trust.
  bool StableStamp(uint64_t& Stamp) const;

  TRangeEnd Range_[2];
  bool RangeOn_ = false;
  bool RangeActive_ = false;

  // A lock for one call: taken when none is held, released only when it was
  // taken here (also when the call fails).
  class TCursorLock {
   public:
    TCursorLock(TZelDataSet& DataSet, bool Write);
    ~TCursorLock();
    TCursorLock(const TCursorLock&) = delete;
    TCursorLock& operator=(const TCursorLock&) = delete;
    bool Taken() const { return Taken_; }

   private:
    TZelDataSet& DataSet_;
    bool Taken_ = false;
  };

  TZelDataBase* DataBase_ = nullptr;
  std::string TableName_;
  std::string IndexName_;
  // The item IndexName_ names, found at the index manager's change count
  // CurrentIndexChanges_; null when it must be looked up again.
  mutable TIndexItem* CurrentIndex_ = nullptr;
  mutable uint64_t CurrentIndexChanges_ = 0;
  std::string Version_;
  bool Memory_ = false;
  bool ReadOnly_ = false;
  bool SavedReadOnly_ = false;
  TEncryptionLevel EncryptionLevel_ = encNone;
  TSortOrder SortOrder_ = soANSI;
  int32_t BlobBlockSize_ = DefaultBlobBlockSize;
  bool BlobCompression_ = false;
  bool InternalTableFlag_ = false;

  std::unique_ptr<TTableDef> TableDef_;
  std::unique_ptr<TRecordMgr> RecordMgr_;
  std::unique_ptr<TIndexManager> IndexMgr_;
  std::unique_ptr<TBlobInterface> BlobInterface_;
  std::unique_ptr<TReadAheadBuffer> ReadAhead_;
  bool UseReadAheadBuffer_ = false;
  int32_t ReadAheadBufferSize_ = 10;
  TReadAheadMode ReadAheadMode_ = raReadAheadInactive;
  int32_t ReadAheadCount_ = 0;

  int32_t RecordSize_ = 0;
  std::vector<uint8_t> RecBuf_;
  std::vector<uint8_t> OldRecBuf_;
  bool Open_ = false;
  bool ReadLocked_ = false;
  bool WriteLocked_ = false;
  bool CurrentRecordFlag_ = false;
  uint32_t LastModifiedFlag_ = 0;
  bool HeaderSeen_ = false;
  // The connection's change stamp when the header was last read.
  uint64_t HeaderStamp_ = 0;
  bool HeaderStampValid_ = false;
  // The write lock a post or delete took for the framework's following
  // Resync to release.
  bool PostLockTaken_ = false;
  // Where the last step left the current index: valid while the table's
  // stable stamp is KeptStamp_ and the index stands on KeptRecAddr_.
  bool PositionKept_ = false;
  uint64_t KeptStamp_ = 0;
  uint32_t KeptRecAddr_ = 0;
  const TIndexItem* KeptIndex_ = nullptr;
  // The index's number of the kept record when a step worked it out; 0 when
  // not known. (The buffer's number may be a filter's.)
  int32_t KeptRecNo_ = 0;
  // The record bytes as read at the kept position: while the buffer still
  // holds them, its key is the one the index stands on.
  std::vector<uint8_t> KeptRecord_;
  // The key the index stood on before a step, for telling duplicates apart.
  std::vector<uint8_t> KeptKey_;

  // --- Filters (zelDatabaseFilters.cpp) ---
  // Rebuilds a stale filter list; the caller holds a lock.
  void RefreshFilterIfStale();
  // The record at RecAddr becomes the current one, numbered in the filter.
  void LoadFilterRecord(uint32_t RecAddr);
  // The filter record nearest the record buffer's key; 0 for none.
  uint32_t NearestFilterRecord(bool Forward);
  // Under a read lock, with the filter current: the record Choose names
  // (0: none) becomes the current one.
  bool MoveToFilterRecord(const std::function<uint32_t()>& Choose);
  // The current record again when it is still in the filter.
  bool FilterCurrentRecord();
  bool FilterSetRecordNo(int32_t RecNo);
  std::unique_ptr<TFilterMgr> FilterMgr_;
  TFilterEventHandler FilterEventHandler_;
  std::vector<uint8_t> FilterRecBuf_;
};

}  // namespace zel
