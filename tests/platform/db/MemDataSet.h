#pragma once
// A small in-memory dataset built only on the dataset framework's protocol,
// for the framework's tests: rows of native field values in insertion order,
// integer bookmarks, blobs per row, OnFilterRecord filtering, Locate and
// Lookup by scanning, and master/detail through a TMasterDataLink (detail
// rows whose DetailFields equal the master's MasterFields).
//
// Record buffer: for each field definition a null byte and its native value;
// then the calculated-field area; then the row id (4 bytes) and the
// bookmark flag (1 byte).

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DataSet.h"
#include "platform/db/DataSource.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace testdb {

using namespace plat;

class TMemDataSet;

// Holds a blob of one record buffer; written back when freed.
class TMemBlobStream : public TMemoryStream {
 public:
  TMemBlobStream(TMemDataSet& DataSet, TBlobField* Field, TBlobStreamMode Mode, std::string* Slot)
      : dataSet_(DataSet), field_(Field), mode_(Mode), slot_(Slot) {
    if (Mode != bmWrite && Slot != nullptr && !Slot->empty()) {
      TMemoryStream::Write(Slot->data(), static_cast<int32_t>(Slot->size()));
      Seek(0, TSeekOrigin::soBeginning);
    }
  }
  ~TMemBlobStream() override;
  int32_t Write(const void* Data, int32_t Count) override {
    written_ = true;
    return TMemoryStream::Write(Data, Count);
  }

 private:
  TMemDataSet& dataSet_;
  TBlobField* field_;
  TBlobStreamMode mode_;
  std::string* slot_;
  bool written_ = false;
};

class TMemDataSet : public TDataSet {
 public:
  explicit TMemDataSet(TComponent* AOwner = nullptr) : TDataSet(AOwner), masterLink_(this) {
    masterLink_.OnMasterChange = [this](TObject*) { MasterChanged(); };
    masterLink_.OnMasterDisable = [this](TObject*) { MasterChanged(); };
  }
  ~TMemDataSet() override {
    Destroying();
    Close();
  }
  std::string ClassName() const override { return "TMemDataSet"; }

  // --- master/detail ---
  TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  void SetMasterSource(TDataSource* Value) {
    if (Value != nullptr && IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    masterLink_.SetDataSource(Value);
  }
  void SetMasterFields(const std::string& Value) { masterLink_.SetFieldNames(Value); }
  void SetDetailFields(const std::string& Value) { detailFields_ = Value; }
  TDataSource* GetDataSource() override { return masterLink_.DataSource(); }
  bool ReadOnly = false;

  // --- the store, for tests ---
  int32_t RowCount() const { return static_cast<int32_t>(rows_.size()); }
  // A stored value, read through the field in the filter state.
  Variant RowValue(int32_t Row, const std::string& FieldName) {
    LoadFilterBuffer(rows_.at(static_cast<size_t>(Row)));
    TTempState temp(*this, dsFilter);
    return FieldByName(FieldName)->AsVariant();
  }
  int32_t GetRecordCalls = 0;

  // --- protocol ---
  bool IsCursorOpen() override { return open_; }
  bool GetCanModify() override { return !ReadOnly; }
  int32_t GetRecordSize() override { return recordSize_; }
  TRecordBuffer AllocRecordBuffer() override { return AllocRecordMem(BufferSize()); }
  void FreeRecordBuffer(TRecordBuffer& Buffer) override {
    bufferBlobs_.erase(Buffer);
    FreeRecordMem(Buffer);
    Buffer = nullptr;
  }

  void InternalOpen() override {
    if (FieldDefs().Count() == 0) DatabaseError("No field definitions", this);
    Layout();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    filterBuffer_ = AllocRecordMem(BufferSize());
    cur_ = -1;
    open_ = true;
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    bufferBlobs_.erase(filterBuffer_);
    FreeRecordMem(filterBuffer_);
    filterBuffer_ = nullptr;
    open_ = false;
  }
  void InternalInitFieldDefs() override {}

  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool) override {
    ++GetRecordCalls;
    const int32_t n = RowCount();
    switch (GetMode) {
      case gmCurrent:
        if (cur_ < 0 || cur_ >= n || !Visible(rows_[static_cast<size_t>(cur_)])) return grError;
        break;
      case gmNext: {
        int32_t i = cur_ + 1;
        while (i < n && !Visible(rows_[static_cast<size_t>(i)])) ++i;
        cur_ = std::min(i, n);
        if (i >= n) return grEOF;
        break;
      }
      case gmPrior: {
        int32_t i = std::min(cur_, n) - 1;
        while (i >= 0 && !Visible(rows_[static_cast<size_t>(i)])) --i;
        cur_ = std::max(i, -1);
        if (i < 0) return grBOF;
        break;
      }
    }
    RowToBuffer(rows_[static_cast<size_t>(cur_)], Buffer);
    GetCalcFields(Buffer);
    return grOK;
  }

  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override {
    std::memcpy(Data, Buffer + IdOffset(), 4);
  }
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override {
    std::memcpy(Buffer + IdOffset(), Data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override {
    return static_cast<TBookmarkFlag>(Buffer[IdOffset() + 4]);
  }
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override {
    Buffer[IdOffset() + 4] = Value;
  }
  bool BookmarkValid(const TBookmark& Bookmark) override {
    return Bookmark.size() == 4 && IndexOfId(IdOf(Bookmark.data())) >= 0;
  }
  void InternalGotoBookmark(const void* Bookmark) override {
    const int32_t index = IndexOfId(IdOf(Bookmark));
    if (index < 0) DatabaseError("Bookmark not found", this);
    cur_ = index;
  }
  void InternalSetToRecord(TRecordBuffer Buffer) override {
    const int32_t index = IndexOfId(IdOf(Buffer + IdOffset()));
    if (index >= 0) cur_ = index;
  }
  void InternalFirst() override { cur_ = -1; }
  void InternalLast() override { cur_ = RowCount(); }
  void InternalInitRecord(TRecordBuffer Buffer) override {
    std::memset(Buffer, 0, static_cast<size_t>(recordSize_));
    bufferBlobs_[Buffer].assign(blobCount_, std::string());
  }
  void ClearCalcFields(TRecordBuffer Buffer) override {
    std::memset(Buffer + recordSize_, 0, static_cast<size_t>(CalcFieldsSize()));
  }

  void InternalPost() override {
    TRecordBuffer buffer = ActiveBuffer();
    if (State() == dsEdit) {
      const int32_t index = IndexOfId(IdOf(buffer + IdOffset()));
      if (index < 0) DatabaseError("Record was deleted", this);
      BufferToRow(buffer, rows_[static_cast<size_t>(index)]);
      cur_ = index;
      return;
    }
    Row row;
    row.id = nextId_++;
    BufferToRow(buffer, row);
    SetAutoInc(row);
    int32_t at = RowCount();
    if (GetBookmarkFlag(buffer) == bfInserted) {
      const int32_t next = IndexOfId(IdOf(buffer + IdOffset()));
      if (next >= 0) at = next;
    } else if (GetBookmarkFlag(buffer) == bfBOF) {
      at = 0;
    }
    rows_.insert(rows_.begin() + at, std::move(row));
    cur_ = at;
  }
  void InternalAddRecord(const void* Buffer, bool Append) override {
    Row row;
    row.id = nextId_++;
    BufferToRow(static_cast<TRecordBuffer>(const_cast<void*>(Buffer)), row);
    SetAutoInc(row);
    rows_.insert(Append ? rows_.end() : rows_.begin(), std::move(row));
  }
  void InternalDelete() override {
    const int32_t index = IndexOfId(IdOf(ActiveBuffer() + IdOffset()));
    if (index < 0) DatabaseError("Record was deleted", this);
    rows_.erase(rows_.begin() + index);
    cur_ = index;
  }

  bool GetFieldData(TField* Field, void* Buffer) override {
    TRecordBuffer record = ActiveRecordBuffer();
    if (record == nullptr) return false;
    if (Field->FieldNo() < 1) {
      const uint8_t* slot = record + recordSize_ + Field->Offset();
      if (slot[0] == 0) return false;
      std::memcpy(Buffer, slot + 1, static_cast<size_t>(Field->DataSize()));
      return true;
    }
    const size_t i = static_cast<size_t>(Field->FieldNo() - 1);
    if (Field->IsBlob()) return !bufferBlobs_[record][static_cast<size_t>(blobIndex_[i])].empty();
    if (record[offsets_[i]] == 0) return false;
    std::memcpy(Buffer, record + offsets_[i] + 1, static_cast<size_t>(sizes_[i]));
    return true;
  }
  void SetFieldData(TField* Field, const void* Buffer) override {
    if (!IsWriteMode(State())) DatabaseError(SNotEditing, this);
    TRecordBuffer record = ActiveRecordBuffer();
    if (record == nullptr) DatabaseError(SNotEditing, this);
    Field->Validate(Buffer);
    if (Field->FieldNo() < 1) {
      uint8_t* slot = record + recordSize_ + Field->Offset();
      slot[0] = Buffer != nullptr;
      std::memset(slot + 1, 0, static_cast<size_t>(Field->DataSize()));
      if (Buffer != nullptr) std::memcpy(slot + 1, Buffer, static_cast<size_t>(Field->DataSize()));
    } else {
      const size_t i = static_cast<size_t>(Field->FieldNo() - 1);
      record[offsets_[i]] = Buffer != nullptr;
      std::memset(record + offsets_[i] + 1, 0, static_cast<size_t>(sizes_[i]));
      if (Buffer != nullptr)
        std::memcpy(record + offsets_[i] + 1, Buffer, static_cast<size_t>(sizes_[i]));
    }
    if (State() != dsCalcFields && State() != dsFilter)
      DataEvent(deFieldChange, reinterpret_cast<TDataEventInfo>(Field));
  }
  std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override {
    auto* blob = dynamic_cast<TBlobField*>(Field);
    if (blob == nullptr || Field->FieldNo() < 1) DatabaseError("Not a blob field", this);
    if (Mode != bmRead && State() != dsEdit && State() != dsInsert)
      DatabaseError(SNotEditing, this);
    TRecordBuffer record = ActiveRecordBuffer();
    std::string* slot = nullptr;
    if (record != nullptr) {
      auto& blobs = bufferBlobs_[record];
      blobs.resize(blobCount_);
      slot = &blobs[static_cast<size_t>(blobIndex_[static_cast<size_t>(Field->FieldNo() - 1)])];
    }
    return std::make_unique<TMemBlobStream>(*this, blob, Mode, slot);
  }

  int32_t GetRecordCount() override {
    int32_t count = 0;
    for (const Row& row : rows_)
      if (Visible(row)) ++count;
    return count;
  }
  int32_t GetRecNo() override {
    if (IsEmpty() || State() == dsInsert) return -1;
    const int32_t id = IdOf(ActiveBuffer() + IdOffset());
    int32_t no = 0;
    for (const Row& row : rows_) {
      if (!Visible(row)) continue;
      ++no;
      if (row.id == id) return no;
    }
    return -1;
  }
  void SetRecNo(int32_t Value) override {
    CheckBrowseMode();
    int32_t no = 0;
    for (int32_t i = 0; i < RowCount(); ++i) {
      if (!Visible(rows_[static_cast<size_t>(i)])) continue;
      if (++no == Value) {
        DoBeforeScroll();
        cur_ = i;
        Resync({rmExact, rmCenter});
        DoAfterScroll();
        return;
      }
    }
  }

  void SetFiltered(bool Value) override {
    TDataSet::SetFiltered(Value);
    if (Active()) First();
  }
  void SetOnFilterRecord(const TFilterRecordEvent& Value) override {
    TDataSet::SetOnFilterRecord(Value);
    if (Active() && Filtered()) First();
  }

  bool Locate(const std::string& KeyFields, const Variant& KeyValues,
              TLocateOptions Options) override {
    CheckBrowseMode();
    const int32_t index = Find(KeyFields, KeyValues, Options);
    if (index < 0) return false;
    DoBeforeScroll();
    cur_ = index;
    Resync({rmExact, rmCenter});
    DoAfterScroll();
    return true;
  }
  Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                 const std::string& ResultFields) override {
    const int32_t index = Find(KeyFields, KeyValues, {});
    if (index < 0) return Null();
    LoadFilterBuffer(rows_[static_cast<size_t>(index)]);
    TTempState temp(*this, dsCalcFields);
    CalculateFields(filterBuffer_);
    return FieldValues(ResultFields);
  }

 protected:
  void DoOnNewRecord() override {
    // A new detail record takes the master's link values.
    if (masterLink_.Active() && !masterLink_.Fields().empty()) {
      std::vector<TField*> detail;
      GetFieldList(detail, detailFields_);
      for (size_t i = 0; i < detail.size() && i < masterLink_.Fields().size(); ++i)
        detail[i]->SetAsVariant(masterLink_.Fields()[i]->AsVariant());
    }
    TDataSet::DoOnNewRecord();
  }

 private:
  friend class TMemBlobStream;

  struct Row {
    int32_t id = 0;
    std::vector<uint8_t> data;
    std::vector<std::string> blobs;
  };

  static int32_t IdOf(const void* p) {
    int32_t id;
    std::memcpy(&id, p, 4);
    return id;
  }
  size_t BufferSize() const { return static_cast<size_t>(recordSize_ + CalcFieldsSize() + 5); }
  int32_t IdOffset() const { return recordSize_ + CalcFieldsSize(); }

  void Layout() {
    offsets_.clear();
    sizes_.clear();
    blobIndex_.clear();
    blobCount_ = 0;
    recordSize_ = 0;
    for (int32_t i = 0; i < FieldDefs().Count(); ++i) {
      TFieldDef* def = FieldDefs()[i];
      const bool blob = def->DataType() >= ftBlob && def->DataType() <= ftTypedBinary;
      blobIndex_.push_back(blob ? static_cast<int32_t>(blobCount_++) : -1);
      offsets_.push_back(recordSize_);
      sizes_.push_back(NativeFieldSize(def->DataType(), def->Size()));
      recordSize_ += 1 + sizes_.back();
    }
  }

  TRecordBuffer ActiveRecordBuffer() {
    switch (State()) {
      case dsBrowse:
        return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit:
      case dsInsert:
        return ActiveBuffer();
      case dsCalcFields:
        return CalcBuffer();
      case dsFilter:
        return filterBuffer_;
      default:
        return nullptr;
    }
  }

  void RowToBuffer(const Row& row, TRecordBuffer buffer) {
    std::memcpy(buffer, row.data.data(), static_cast<size_t>(recordSize_));
    bufferBlobs_[buffer] = row.blobs;
    std::memcpy(buffer + IdOffset(), &row.id, 4);
    SetBookmarkFlag(buffer, bfCurrent);
  }
  void BufferToRow(TRecordBuffer buffer, Row& row) {
    row.data.assign(buffer, buffer + recordSize_);
    row.blobs = bufferBlobs_[buffer];
    row.blobs.resize(blobCount_);
  }
  void LoadFilterBuffer(const Row& row) {
    std::memcpy(filterBuffer_, row.data.data(), static_cast<size_t>(recordSize_));
    bufferBlobs_[filterBuffer_] = row.blobs;
  }
  void SetAutoInc(Row& row) {
    for (size_t i = 0; i < offsets_.size(); ++i) {
      if (FieldDefs()[static_cast<int32_t>(i)]->DataType() != ftAutoInc || row.data[offsets_[i]])
        continue;
      row.data[offsets_[i]] = 1;
      std::memcpy(row.data.data() + offsets_[i] + 1, &row.id, 4);
    }
  }
  int32_t IndexOfId(int32_t id) const {
    for (size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) return static_cast<int32_t>(i);
    return -1;
  }

  // Passes the OnFilterRecord filter (while Filtered) and the master link.
  bool Visible(const Row& row) {
    const bool filtering = Filtered() && OnFilterRecord();
    const bool linked = masterLink_.Active() && !masterLink_.Fields().empty();
    if (!filtering && !linked) return true;
    LoadFilterBuffer(row);
    TTempState temp(*this, dsFilter);
    if (linked) {
      std::vector<TField*> detail;
      GetFieldList(detail, detailFields_);
      for (size_t i = 0; i < detail.size() && i < masterLink_.Fields().size(); ++i) {
        const Variant master = masterLink_.Fields()[i]->AsVariant();
        const Variant value = detail[i]->AsVariant();
        if (master.IsNull() || value.IsNull() || VarCompareValue(master, value) != vrEqual)
          return false;
      }
    }
    bool accept = true;
    if (filtering) OnFilterRecord()(this, accept);
    return accept;
  }

  int32_t Find(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    std::vector<TField*> fields;
    GetFieldList(fields, KeyFields);
    for (int32_t i = 0; i < RowCount(); ++i) {
      const Row& row = rows_[static_cast<size_t>(i)];
      if (!Visible(row)) continue;
      LoadFilterBuffer(row);
      TTempState temp(*this, dsFilter);
      bool match = true;
      for (size_t k = 0; match && k < fields.size(); ++k) {
        const Variant wanted = fields.size() == 1 ? KeyValues : KeyValues[static_cast<int32_t>(k)];
        const Variant value = fields[k]->AsVariant();
        if (wanted.IsNull() || value.IsNull()) {
          match = wanted.IsNull() && value.IsNull();
        } else if (VarIsStr(value)) {
          std::string have = value.AsString(), want = wanted.AsString();
          if (Options.Contains(loPartialKey)) have = have.substr(0, want.size());
          match = Options.Contains(loCaseInsensitive) ? AnsiSameText(have, want) : have == want;
        } else {
          match = VarCompareValue(value, wanted) == vrEqual;
        }
      }
      if (match) return i;
    }
    return -1;
  }

  void MasterChanged() {
    if (Active()) First();
  }

  TMasterDataLink masterLink_;
  std::string detailFields_;
  std::vector<Row> rows_;
  int32_t nextId_ = 1;
  int32_t cur_ = -1;
  bool open_ = false;
  int32_t recordSize_ = 0;
  std::vector<int32_t> offsets_;
  std::vector<int32_t> sizes_;
  std::vector<int32_t> blobIndex_;
  size_t blobCount_ = 0;
  TRecordBuffer filterBuffer_ = nullptr;
  std::map<TRecordBuffer, std::vector<std::string>> bufferBlobs_;
};

inline TMemBlobStream::~TMemBlobStream() {
  if (mode_ == bmRead || !written_ || slot_ == nullptr) return;
  try {
    const char* data = static_cast<const char*>(Memory());
    slot_->assign(data != nullptr ? data : "", static_cast<size_t>(Size()));
    field_->SetModified(true);
    dataSet_.DataEvent(deFieldChange, reinterpret_cast<TDataEventInfo>(field_));
  } catch (...) {
    // Freeing a stream must not throw; the tests look at the stored value.
  }
}

}  // namespace testdb
