#include "platform/db/DataSource.h"

#include <algorithm>

#include "platform/rtl/ScopeGuard.h"

namespace plat {

// ---- TDataSource ----

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
  Destroying();
  if (dataSet_ != nullptr) {
    dataSet_->RemoveDataSource(this);
    RemoveFreeNotification(dataSet_);
    dataSet_ = nullptr;
  }
  while (!links_.empty()) RemoveDataLink(links_.back());
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == dataSet_) return;
  if (IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
  if (dataSet_ != nullptr) {
    dataSet_->RemoveDataSource(this);
    RemoveFreeNotification(dataSet_);
  }
  dataSet_ = Value;
  if (Value != nullptr) {
    FreeNotification(Value);
    Value->AddDataSource(this);
  }
  UpdateState();
}

void TDataSource::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  // The dataset detaches its sources itself when it is freed; this covers a
  // dataset that goes away before reaching its own destructor body.
  if (Operation == opRemove && AComponent == dataSet_) {
    dataSet_ = nullptr;
    UpdateState();
  }
}

void TDataSource::SetEnabled(bool Value) {
  enabled_ = Value;
  UpdateState();
}

void TDataSource::Edit() {
  if (autoEdit_ && state_ == dsBrowse && dataSet_ != nullptr) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* DataSet) const {
  int32_t guard = 0;
  while (DataSet != nullptr && guard++ < 1000) {
    TDataSource* source = DataSet->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    DataSet = source->DataSet();
  }
  return false;
}

void TDataSource::UpdateState() {
  if (enabled_ && dataSet_ != nullptr)
    SetState(dataSet_->State());
  else
    SetState(dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
  if (state_ == Value) return;
  state_ = Value;
  NotifyDataLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::NotifyDataLinks(TDataEvent Event, TDataEventInfo Info) {
  // Handlers may add or remove links: walk a copy and skip removed ones.
  const std::vector<TDataLink*> links(links_);
  for (auto it = links.rbegin(); it != links.rend(); ++it)
    if (std::find(links_.begin(), links_.end(), *it) != links_.end()) (*it)->DataEvent(Event, Info);
}

void TDataSource::DataEvent(TDataEvent Event, TDataEventInfo Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyDataLinks(Event, Info);
  switch (Event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(Info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::AddDataLink(TDataLink* Link) {
  links_.push_back(Link);
  Link->dataSource_ = this;
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
  Link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* Link) {
  Link->dataSource_ = nullptr;
  auto it = std::find(links_.begin(), links_.end(), Link);
  if (it != links_.end()) links_.erase(it);
  Link->UpdateState();
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

// ---- TDataLink ----

TDataLink::~TDataLink() {
  // No notifications while going away.
  active_ = false;
  editing_ = false;
  dataSourceFixed_ = false;
  if (dataSource_ != nullptr) {
    TDataSource* source = dataSource_;
    dataSource_ = nullptr;
    auto it = std::find(source->links_.begin(), source->links_.end(), this);
    if (it != source->links_.end()) source->links_.erase(it);
    if (source->dataSet_ != nullptr) {
      try {
        source->dataSet_->UpdateBufferCount();
      } catch (...) {
        // A dataset that cannot shrink its buffers keeps the larger ring.
      }
    }
  }
}

TDataSet* TDataLink::DataSet() const {
  return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == dataSource_) return;
  if (dataSourceFixed_) DatabaseError(SDataSourceChange, Value);
  if (dataSource_ != nullptr) dataSource_->RemoveDataLink(this);
  if (Value != nullptr) Value->AddDataLink(this);
}

void TDataLink::SetReadOnly(bool Value) {
  if (readOnly_ == Value) return;
  readOnly_ = Value;
  UpdateState();
}

void TDataLink::SetBufferCount(int32_t Value) {
  if (Value < 1) Value = 1;
  if (bufferCount_ == Value) return;
  bufferCount_ = Value;
  if (active_) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int32_t TDataLink::ActiveRecord() const {
  if (dataSource_ == nullptr || dataSource_->State() == dsSetKey) return 0;
  return DataSet()->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int32_t Value) {
  if (dataSource_ == nullptr || dataSource_->State() == dsSetKey) return;
  TDataSet* dataSet = DataSet();
  const int32_t index = Value + firstRecord_;
  if (index >= 0 && index < std::max(dataSet->recordCount_, 1)) dataSet->activeRecord_ = index;
}

int32_t TDataLink::RecordCount() const {
  if (dataSource_ == nullptr) return 0;
  if (dataSource_->State() == dsSetKey) return 1;
  const int32_t count = DataSet()->recordCount_ - firstRecord_;
  return std::clamp(count, 0, bufferCount_);
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_ != nullptr) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  const auto done = OnScopeExit([this] { updating_ = false; });
  UpdateData();
}

void TDataLink::DataSetScrolled(int32_t) {
  DataSetChanged();
}

void TDataLink::FocusControl(TField*) {}

void TDataLink::RecordChanged(TField*) {}

void TDataLink::UpdateState() {
  SetActive(dataSource_ != nullptr && dataSource_->State() != dsInactive);
  SetEditing(dataSource_ != nullptr && IsEditMode(dataSource_->State()) && !readOnly_);
}

void TDataLink::SetActive(bool Value) {
  if (active_ == Value) return;
  active_ = Value;
  if (Value)
    UpdateRange();
  else
    firstRecord_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
  if (editing_ == Value) return;
  editing_ = Value;
  EditingChanged();
}

void TDataLink::UpdateRange() {
  TDataSet* dataSet = DataSet();
  if (dataSet == nullptr) return;
  // The window starts where it keeps the active record inside it.
  int32_t low = dataSet->activeRecord_ - bufferCount_ + 1;
  if (low < 0) low = 0;
  int32_t high = std::max(dataSet->bufferCount_ - bufferCount_, 0);
  if (high > dataSet->activeRecord_) high = dataSet->activeRecord_;
  if (firstRecord_ < low) firstRecord_ = low;
  if (firstRecord_ > high) firstRecord_ = high;
}

void TDataLink::DataEvent(TDataEvent Event, TDataEventInfo Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int32_t count = 0;
      if (dataSource_->State() != dsSetKey) {
        const int32_t active = DataSet()->activeRecord_;
        const int32_t first = firstRecord_ + static_cast<int32_t>(Info);
        const int32_t last = first + bufferCount_ - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        firstRecord_ = first + count;
      }
      if (Event == deDataSetChange)
        DataSetChanged();
      else if (Event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField*>(Info));
      break;
    default:
      break;
  }
}

// ---- TMasterDataLink ----

void TMasterDataLink::SetFieldNames(const std::string& Value) {
  if (fieldNames_ == Value) return;
  fieldNames_ = Value;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    const auto clear = OnScopeFailure([this] { fields_.clear(); });
    DataSet()->GetFieldList(fields_, fieldNames_);
  }
  if (dataSet_ == nullptr || !dataSet_->Active() ||
      dataSet_->ComponentState().Contains(csDestroying))
    return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange(this);
  } else if (OnMasterDisable) {
    OnMasterDisable(this);
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() {
  ActiveChanged();
}

void TMasterDataLink::RecordChanged(TField* Field) {
  if (DataSource()->State() == dsSetKey || dataSet_ == nullptr || !dataSet_->Active() ||
      fields_.empty() || !OnMasterChange)
    return;
  if (Field == nullptr || std::find(fields_.begin(), fields_.end(), Field) != fields_.end())
    OnMasterChange(this);
}

}  // namespace plat
