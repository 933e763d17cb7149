// TDataSet: opening and closing, the editing state machine, fields, bookmarks
// and data events. The record-buffer ring and navigation are in
// DataSetBuffers.cpp.

#include "platform/db/DataSet.h"

#include <algorithm>
#include <cstring>

#include "platform/db/DataSource.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace plat {

bool IsEditMode(TDataSetState State) {
  return State == dsEdit || State == dsInsert || State == dsSetKey;
}

bool IsWriteMode(TDataSetState State) {
  switch (State) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

TRecordBuffer AllocRecordMem(size_t Size) {
  return new uint8_t[Size == 0 ? 1 : Size]();
}

void FreeRecordMem(TRecordBuffer Buffer) noexcept {
  delete[] Buffer;
}

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner),
      fieldDefs_(std::make_unique<TFieldDefs>(this)),
      fields_(std::make_unique<TFields>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // The descendant's InternalClose is gone; what it left is released here.
  FreeBuffers();
  state_ = dsInactive;
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) {
    source->dataSet_ = nullptr;
    source->UpdateState();
  }
  dataSources_.clear();
  // Fields this dataset owns, or that nobody owns, go with it; the others
  // stay with their owners, detached.
  std::vector<TField*> fields(fields_->fields_);
  fields_->fields_.clear();
  for (TField* field : fields) {
    field->dataSet_ = nullptr;
    if (field->Owner() == nullptr || field->Owner() == this) delete field;
  }
}

// ---- opening and closing ----

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError(SDataSetClosed, this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(SDataSetOpen, this);
}

void TDataSet::SetActive(bool Value) {
  if (ComponentState().Contains(csReading)) {
    streamedActive_ = Value;
    return;
  }
  if (Active() == Value) return;
  if (Value) {
    DoBeforeOpen();
    {
      const auto closeAgain = OnScopeFailure([this] {
        state_ = dsInactive;
        CloseCursor();
      });
      OpenCursor(false);
    }
    SetState(dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    const bool destroying = ComponentState().Contains(csDestroying);
    if (!destroying) {
      // A pending edit is posted (or raises and keeps the dataset open).
      if (IsEditMode(state_)) CheckBrowseMode();
      DoBeforeClose();
    }
    SetState(dsInactive);
    CloseCursor();
    if (!destroying) DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool InfoQuery) {
  if (InfoQuery) {
    InternalInitFieldDefs();
    return;
  }
  defaultFields_ = fields_->Count() == 0;
  internalOpenComplete_ = false;
  InternalOpen();
  internalOpenComplete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  internalOpenComplete_ = false;
  FreeFieldBuffers();
  // The buffers stay until the descendant has closed: it may look at the
  // active record (to release its lock) while closing.
  const auto freeBuffers = OnScopeExit([this] {
    ClearBuffers();
    FreeBuffers();
  });
  InternalClose();
}

void TDataSet::InitFieldDefs() {
  InternalInitFieldDefs();
  fieldDefs_->SetUpdated(true);
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamedActive_) return;
  try {
    SetActive(true);
  } catch (...) {
    if (ComponentState().Contains(csDesigning))
      InternalHandleException();
    else
      throw;
  }
}

void TDataSet::InternalHandleException() {
  throw;
}

// ---- state ----

void TDataSet::SetState(TDataSetState Value) {
  if (state_ == Value) return;
  state_ = Value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState Value) {
  const TDataSetState saved = state_;
  savedModified_.push_back(modified_);
  state_ = Value;
  ++disableCount_;
  modified_ = false;
  return saved;
}

void TDataSet::RestoreState(TDataSetState Value) {
  state_ = Value;
  if (disableCount_ > 0) --disableCount_;
  if (!savedModified_.empty()) {
    modified_ = savedModified_.back();
    savedModified_.pop_back();
  } else {
    modified_ = false;
  }
}

void TDataSet::CheckSetKeyMode() const {
  if (state_ != dsSetKey) DatabaseError(SNotEditing, this);
}

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(SDataSetReadOnly, this);
}

// ---- editing ----

void TDataSet::CheckOperation(const std::function<void()>& Operation,
                              const TDataSetErrorEvent& ErrorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      Operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (ErrorEvent) ErrorEvent(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort("Operation aborted");
    }
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::DoInsertAppend(bool Append) {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
  if (!Append) {
    UpdateCursorPos();
    // The new record goes before the active one, and remembers it so that
    // the cursor can be placed there while the new record is edited.
    TBookmark next;
    const bool hasNext = recordCount_ > 0;
    if (hasNext) {
      next.resize(static_cast<size_t>(std::max(bookmarkSize_, 0)));
      GetBookmarkData(ActiveBuffer(), next.data());
    }
    if (recordCount_ == 0) {
      activeRecord_ = 0;
      recordCount_ = 1;
    } else {
      MoveBuffer(recordCount_, activeRecord_);
      if (recordCount_ < bufferCount_) ++recordCount_;
    }
    if (currentRecord_ >= activeRecord_) CursorPosChanged();
    InitRecord(ActiveBuffer());
    if (hasNext) {
      SetBookmarkData(ActiveBuffer(), next.data());
    } else {
      SetBookmarkFlag(ActiveBuffer(), bfBOF);
    }
  } else {
    ClearBuffers();
    InternalLast();
    GetPriorRecords();
    if (recordCount_ < bufferCount_)
      ++recordCount_;
    else
      MoveBuffer(0, recordCount_);
    activeRecord_ = recordCount_ - 1;
    CursorPosChanged();
    InitRecord(ActiveBuffer());
    SetBookmarkFlag(ActiveBuffer(), bfEOF);
  }
  bof_ = false;
  eof_ = false;
  InternalInsert();
  SetState(dsInsert);
  {
    const auto backToBrowse = OnScopeFailure([this] {
      UpdateCursorPos();
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
    });
    DoOnNewRecord();
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
  InternalInitRecord(Buffer);
  ClearCalcFields(Buffer);
  SetBookmarkFlag(Buffer, bfInserted);
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(state_)) DatabaseError(SNotEditing, this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : *fields_) {
    // Auto-increment values are given by the dataset when it stores.
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == fkData &&
        field->DataType() != ftAutoInc && field->IsNull()) {
      field->FocusControl();
      DatabaseErrorFmt(SFieldRequired, {field->DisplayName()});
    }
  }
}

void TDataSet::Post() {
  UpdateRecord();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deCheckBrowseMode, 0);
      DoBeforePost();
      CheckRequiredFields();
      CheckOperation([this] { InternalPost(); }, OnPostError);
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
      DoAfterPost();
      break;
    case dsSetKey:
      // The key stays in the descendant's key buffer.
      SetState(dsBrowse);
      DataEvent(deDataSetChange, 0);
      break;
    default:
      break;
  }
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsEdit:
    case dsInsert: {
      DataEvent(deCheckBrowseMode, 0);
      DoBeforeCancel();
      const bool scrolls = state_ == dsInsert;
      if (scrolls) DoBeforeScroll();
      UpdateCursorPos();
      if (state_ == dsEdit) InternalCancel();
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
      DoAfterCancel();
      if (scrolls) DoAfterScroll();
      break;
    }
    case dsSetKey:
      SetState(dsBrowse);
      DataEvent(deDataSetChange, 0);
      break;
    default:
      break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError(SDataSetEmpty, this);
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::SetFields(const std::vector<Variant>& Values) {
  if (!IsEditMode(state_)) DatabaseError(SNotEditing, this);
  DisableControls();
  const auto enable = OnScopeExit([this] { EnableControls(); });
  for (size_t i = 0; i < Values.size(); ++i)
    if (!Values[i].IsEmpty()) fields_->Fields(static_cast<int32_t>(i))->AssignValue(Values[i]);
}

void TDataSet::InsertRecord(const std::vector<Variant>& Values) {
  Insert();
  SetFields(Values);
  Post();
}

void TDataSet::AppendRecord(const std::vector<Variant>& Values) {
  Append();
  SetFields(Values);
  Post();
}

void TDataSet::FreeFieldBuffers() {
  // Every blob field says so (IsBlob is final there): the others skip the cast.
  for (TField* field : *fields_)
    if (field->IsBlob())
      if (auto* blob = dynamic_cast<TBlobField*>(field)) blob->SetModified(false);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
}

// ---- bookmarks ----

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable() || bookmarkSize_ <= 0) return {};
  TBookmark bookmark(static_cast<size_t>(bookmarkSize_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& Bookmark) {
  if (Bookmark.empty()) return;
  // A bookmark of another size would make the dataset read past it.
  if (static_cast<int32_t>(Bookmark.size()) != bookmarkSize_)
    DatabaseError("Invalid bookmark", this);
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(Bookmark.data());
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) {
  return false;
}

int32_t TDataSet::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
  if (Bookmark1.empty() && Bookmark2.empty()) return 0;
  if (Bookmark1.empty() || Bookmark2.empty()) return 1;
  const size_t n = std::min(Bookmark1.size(), Bookmark2.size());
  for (size_t i = 0; i < n; ++i)
    if (Bookmark1[i] != Bookmark2[i]) return Bookmark1[i] < Bookmark2[i] ? -1 : 1;
  return Bookmark1.size() == Bookmark2.size() ? 0 : (Bookmark1.size() < Bookmark2.size() ? -1 : 1);
}

// ---- controls and data events ----

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ != 0) return;
  if (disableState_ != state_) DataEvent(deUpdateState, 0);
  if (disableState_ != dsInactive && state_ != dsInactive) DataEvent(enableEvent_, 0);
}

void TDataSet::UpdateCalcFields() {
  if (state_ != dsSetKey && autoCalcFields_ && calcFieldsSize_ > 0 && !IsEmpty())
    GetCalcFields(ActiveBuffer());
}

void TDataSet::DataEvent(TDataEvent Event, TDataEventInfo Info) {
  switch (Event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(Info);
      if (field != nullptr) {
        if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) {
          SetModified(true);
          UpdateCalcFields();
        }
        field->Change();
      }
      break;
    }
    case dePropertyChange:
      fieldDefs_->SetUpdated(false);
      break;
    default:
      break;
  }
  if (!ControlsDisabled() && state_ != dsBlockRead) {
    // A handler may attach or detach sources: walk a copy.
    const std::vector<TDataSource*> sources(dataSources_);
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
      if (std::find(dataSources_.begin(), dataSources_.end(), *it) != dataSources_.end())
        (*it)->DataEvent(Event, Info);
    }
  } else if ((Event == deUpdateState && state_ == dsInactive) || Event == deLayoutChange) {
    enableEvent_ = deLayoutChange;
  }
}

bool TDataSet::IsLinkedTo(TDataSource* DataSource) {
  int32_t guard = 0;
  while (DataSource != nullptr && guard++ < 1000) {
    TDataSet* dataSet = DataSource->DataSet();
    if (dataSet == nullptr) break;
    if (dataSet == this) return true;
    DataSource = dataSet->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* DataSource) {
  dataSources_.push_back(DataSource);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* DataSource) {
  auto it = std::find(dataSources_.begin(), dataSources_.end(), DataSource);
  if (it != dataSources_.end()) dataSources_.erase(it);
  UpdateBufferCount();
}

// ---- fields ----

TField* TDataSet::FieldByName(std::string_view FieldName) const {
  return fields_->FieldByName(FieldName);
}

void TDataSet::GetFieldList(std::vector<TField*>& List, const std::string& FieldNames) {
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(FieldNames.size()))
    List.push_back(FieldByName(ExtractFieldName(FieldNames, pos)));
}

void TDataSet::GetFieldList(TList& List, const std::string& FieldNames) {
  std::vector<TField*> fields;
  GetFieldList(fields, FieldNames);
  for (TField* field : fields) List.Add(field);
}

Variant TDataSet::FieldValues(const std::string& FieldNames) {
  if (FieldNames.find(';') == std::string::npos) return FieldByName(FieldNames)->AsVariant();
  std::vector<TField*> fields;
  GetFieldList(fields, FieldNames);
  std::vector<Variant> values;
  values.reserve(fields.size());
  for (TField* field : fields) values.push_back(field->AsVariant());
  return VarArrayOf(std::move(values));
}

void TDataSet::SetFieldValues(const std::string& FieldNames, const Variant& Value) {
  if (FieldNames.find(';') == std::string::npos) {
    FieldByName(FieldNames)->SetAsVariant(Value);
    return;
  }
  std::vector<TField*> fields;
  GetFieldList(fields, FieldNames);
  const int32_t low = VarArrayLowBound(Value, 1);
  for (size_t i = 0; i < fields.size(); ++i)
    fields[i]->SetAsVariant(Value[low + static_cast<int32_t>(i)]);
}

void TDataSet::GetFieldNames(TStrings& List) {
  if (fields_->Count() > 0) {
    fields_->GetFieldNames(List);
    return;
  }
  if (!fieldDefs_->Updated()) InitFieldDefs();
  List.BeginUpdate();
  List.Clear();
  for (int32_t i = 0; i < fieldDefs_->Count(); ++i) List.Add(fieldDefs_->Items(i)->Name());
  List.EndUpdate();
}

void TDataSet::CreateFields() {
  for (int32_t i = 0; i < fieldDefs_->Count(); ++i) {
    TFieldDef* def = fieldDefs_->Items(i);
    if (def->DataType() != ftUnknown && !def->Attributes().Contains(faHiddenCol))
      def->CreateField(this, this);
  }
}

void TDataSet::DestroyFields() {
  std::vector<TField*> fields(fields_->fields_);
  fields_->fields_.clear();
  for (TField* field : fields) {
    field->dataSet_ = nullptr;
    if (field->Owner() == nullptr || field->Owner() == this) delete field;
  }
}

namespace {

// Whether a field of class type FieldType can show a definition of DefType.
bool FieldTypeFits(TFieldType FieldType, TFieldType DefType) {
  if (FieldType == DefType) return true;
  if ((FieldType == ftString || FieldType == ftFixedChar) &&
      (DefType == ftString || DefType == ftFixedChar))
    return true;
  const bool fieldBlob = FieldType >= ftBlob && FieldType <= ftTypedBinary;
  const bool defBlob = DefType >= ftBlob && DefType <= ftTypedBinary;
  return fieldBlob && defBlob;
}

}  // namespace

void TDataSet::BindFields(bool Binding) {
  calcFieldsSize_ = 0;
  int32_t position = -1;
  for (TField* field : *fields_) {
    ++position;
    if (!Binding) {
      field->fieldNo_ = 0;
      field->offset_ = 0;
      continue;
    }
    if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      field->fieldNo_ = -1;
      field->offset_ = calcFieldsSize_;
      calcFieldsSize_ += field->DataSize() + 1;
    } else {
      // Default fields stand where their definitions do: a non-empty name
      // found there is the one the search finds (such names are unique).
      TFieldDef* def = nullptr;
      if (position < fieldDefs_->Count() && !field->FieldName().empty() &&
          AnsiSameText(fieldDefs_->Items(position)->Name(), field->FieldName()))
        def = fieldDefs_->Items(position);
      else
        def = static_cast<TFieldDef*>(fieldDefs_->TDefCollection::Find(field->FieldName()));
      if (def == nullptr) DatabaseErrorFmt(SFieldNotFound, {field->DisplayName()}, this);
      if (!FieldTypeFits(field->DataType(), def->DataType()))
        DatabaseErrorFmt(SFieldTypeMismatch,
                         {field->DisplayName(), FieldTypeNames[field->DataType()],
                          FieldTypeNames[def->DataType()]},
                         this);
      const TFieldType type = field->DataType();
      const bool sized = type == ftString || type == ftFixedChar || type == ftWideString ||
                         type == ftBytes || type == ftVarBytes;
      if (sized && field->Size() != def->Size())
        DatabaseErrorFmt(SFieldSizeMismatch, {field->DisplayName(), field->Size(), def->Size()},
                         this);
      field->fieldNo_ = def->FieldNo();
      field->offset_ = 0;
    }
    field->Bind(true);
  }
}

// ---- calculated fields ----

void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
  if (calcFieldsSize_ <= 0) return;
  TTempState temp(*this, dsCalcFields);
  CalculateFields(Buffer);
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
  calcBuffer_ = Buffer;
  if (state_ != dsInternalCalc) {
    ClearCalcFields(Buffer);
    for (TField* field : *fields_)
      if (field->FieldKind() == fkLookup) field->CalcLookupValue();
  }
  DoOnCalcFields();
}

void TDataSet::ClearCalcFields(TRecordBuffer) {}

// ---- base protocol ----

void TDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
  FreeRecordMem(Buffer);
  Buffer = nullptr;
}

TGetResult TDataSet::GetRecord(TRecordBuffer, TGetMode, bool) {
  return grError;
}

void TDataSet::GetBookmarkData(TRecordBuffer, void*) {}

TBookmarkFlag TDataSet::GetBookmarkFlag(TRecordBuffer) {
  return bfCurrent;
}

void TDataSet::SetBookmarkData(TRecordBuffer, const void*) {}

void TDataSet::SetBookmarkFlag(TRecordBuffer, TBookmarkFlag) {}

bool TDataSet::GetFieldData(TField*, void*) {
  return false;
}

bool TDataSet::FieldHasValue(TField* Field) {
  TField::TNativeBuffer buffer;
  return Field->ReadNative(buffer);
}

void TDataSet::SetFieldData(TField*, const void*) {}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

bool TDataSet::GetCurrentRecord(TRecordBuffer) {
  return false;
}

void TDataSet::SetRecNo(int32_t) {}

bool TDataSet::FindRecord(bool, bool) {
  return false;
}

void TDataSet::InternalAddRecord(const void*, bool) {}

void TDataSet::InternalInitRecord(TRecordBuffer) {}

void TDataSet::InternalGotoBookmark(const void*) {}

void TDataSet::InternalSetToRecord(TRecordBuffer) {}

bool TDataSet::Locate(const std::string&, const Variant&, TLocateOptions) {
  return false;
}

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) {
  return Null();
}

// ---- events ----

#define PLAT_DATASET_EVENT(Method, Event) \
  void TDataSet::Method() {               \
    if (Event) Event(this);               \
  }

PLAT_DATASET_EVENT(DoBeforeOpen, BeforeOpen)
PLAT_DATASET_EVENT(DoAfterOpen, AfterOpen)
PLAT_DATASET_EVENT(DoBeforeClose, BeforeClose)
PLAT_DATASET_EVENT(DoAfterClose, AfterClose)
PLAT_DATASET_EVENT(DoBeforeInsert, BeforeInsert)
PLAT_DATASET_EVENT(DoAfterInsert, AfterInsert)
PLAT_DATASET_EVENT(DoBeforeEdit, BeforeEdit)
PLAT_DATASET_EVENT(DoAfterEdit, AfterEdit)
PLAT_DATASET_EVENT(DoBeforePost, BeforePost)
PLAT_DATASET_EVENT(DoAfterPost, AfterPost)
PLAT_DATASET_EVENT(DoBeforeCancel, BeforeCancel)
PLAT_DATASET_EVENT(DoAfterCancel, AfterCancel)
PLAT_DATASET_EVENT(DoBeforeDelete, BeforeDelete)
PLAT_DATASET_EVENT(DoAfterDelete, AfterDelete)
PLAT_DATASET_EVENT(DoBeforeScroll, BeforeScroll)
PLAT_DATASET_EVENT(DoAfterScroll, AfterScroll)
PLAT_DATASET_EVENT(DoOnNewRecord, OnNewRecord)
PLAT_DATASET_EVENT(DoOnCalcFields, OnCalcFields)

#undef PLAT_DATASET_EVENT

// ---- definitions that make fields (declared in DB.h) ----

TField* TFieldDef::CreateField(TComponent* Owner) const {
  return CreateField(Owner, Collection() != nullptr ? dynamic_cast<TDataSet*>(Collection()->Owner())
                                                    : nullptr);
}

TField* TFieldDef::CreateField(TComponent* Owner, TDataSet* DataSet) const {
  TDataSet* dataSet = DataSet;
  std::unique_ptr<TField> field(NewField(DataType(), nullptr));
  if (field == nullptr) DatabaseErrorFmt(SUnknownFieldType, {Name()}, dataSet);
  switch (DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftBytes:
    case ftVarBytes:
    case ftBCD:
      field->SetSize(Size());
      break;
    default:
      if (field->IsBlob()) field->SetSize(std::max(Size(), 0));
      break;
  }
  if (DataType() == ftBCD) static_cast<TBCDField*>(field.get())->SetPrecision(Precision());
  field->SetFieldName(Name());
  field->SetRequired(Required());
  if (Attributes().Contains(faReadonly)) field->SetReadOnly(true);
  if (dataSet != nullptr) field->SetDataSet(dataSet);
  TField* result = field.release();
  if (Owner != nullptr) Owner->InsertComponent(result);
  return result;
}

void TFieldDefs::Update() {
  if (auto* dataSet = dynamic_cast<TDataSet*>(DataSet())) dataSet->InitFieldDefs();
}

void TIndexDefs::Update() {
  if (auto* dataSet = dynamic_cast<TDataSet*>(DataSet())) dataSet->UpdateIndexDefs();
}

}  // namespace plat
