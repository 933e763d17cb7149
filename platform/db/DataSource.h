#pragma once
// Data sources and data links: how controls and detail datasets follow a
// dataset. A dataset tells its data sources of every change (DataEvent); a
// data source passes the events to its data links, which keep a window of
// the dataset's record buffers and turn the events into virtual calls.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DataSet.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TDataLink;

using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

// Invariant: every link in links_ has this as its data source; when dataSet_
// is set, this source is in its list of data sources.
class PLAT_API TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner);
  ~TDataSource() override;
  std::string ClassName() const override { return "TDataSource"; }

  TDataSet* DataSet() const { return dataSet_; }
  // A dataset whose master chain leads back to this source is refused with
  // "Circular datalinks are not allowed".
  void SetDataSet(TDataSet* Value);
  // The dataset's state while enabled and attached, else dsInactive.
  TDataSetState State() const { return state_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool Value);
  // Whether Edit (from a control) may put the dataset into edit state.
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool Value) { autoEdit_ = Value; }
  // Puts the dataset into edit state when AutoEdit and browsing.
  void Edit();
  // Whether this source's dataset chain (through master sources) reaches
  // DataSet.
  bool IsLinkedTo(TDataSet* DataSet) const;
  int32_t DataLinkCount() const { return static_cast<int32_t>(links_.size()); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent Event, TDataEventInfo Info);
  void UpdateState();
  void SetState(TDataSetState Value);
  void NotifyDataLinks(TDataEvent Event, TDataEventInfo Info);
  void AddDataLink(TDataLink* Link);
  void RemoveDataLink(TDataLink* Link);

  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = dsInactive;
  bool enabled_ = true;
  bool autoEdit_ = true;
};

// A window of BufferCount records of a data source's dataset. Active follows
// the dataset being open; Editing follows its edit states. Its owner keeps it
// (it is not a component) and its destructor leaves the data source.
class PLAT_API TDataLink : public TPersistent {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  ~TDataLink() override;
  std::string ClassName() const override { return "TDataLink"; }

  TDataSource* DataSource() const { return dataSource_; }
  // Refused with "DataSource cannot be changed" while DataSourceFixed.
  void SetDataSource(TDataSource* Value);
  bool DataSourceFixed() const { return dataSourceFixed_; }
  void SetDataSourceFixed(bool Value) { dataSourceFixed_ = Value; }
  TDataSet* DataSet() const;
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool Value);
  int32_t BufferCount() const { return bufferCount_; }
  void SetBufferCount(int32_t Value);
  // The active record's position in the window (0 in key state).
  int32_t ActiveRecord() const;
  // Makes another record of the window the dataset's active one (for
  // reading it); the caller restores it.
  void SetActiveRecord(int32_t Value);
  // Records in the window.
  int32_t RecordCount() const;
  // Asks the data source to edit; returns Editing.
  bool Edit();
  // Runs UpdateData with RecordChanged notifications suppressed.
  void UpdateRecord();
  // The dataset this link drives (detail links); none by default.
  virtual TDataSet* GetDetailDataSet() { return nullptr; }

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int32_t Distance);
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* Field);
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* Field);
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;

  void DataEvent(TDataEvent Event, TDataEventInfo Info);
  void UpdateState();
  void SetActive(bool Value);
  void SetEditing(bool Value);
  void UpdateRange();

  TDataSource* dataSource_ = nullptr;
  int32_t firstRecord_ = 0;
  int32_t bufferCount_ = 1;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
  bool dataSourceFixed_ = false;
};

// A link that drives a detail dataset.
class PLAT_API TDetailDataLink : public TDataLink {
 public:
  std::string ClassName() const override { return "TDetailDataLink"; }
};

// The link of a detail dataset to its master: FieldNames names master
// fields; OnMasterChange runs when the master moves to another record or one
// of those fields changes, OnMasterDisable when the link goes inactive or has
// no fields. Before the master moves, the detail's pending edit is posted.
class PLAT_API TMasterDataLink : public TDetailDataLink {
 public:
  explicit TMasterDataLink(TDataSet* DataSet) : dataSet_(DataSet) {}
  std::string ClassName() const override { return "TMasterDataLink"; }

  const std::string& FieldNames() const { return fieldNames_; }
  void SetFieldNames(const std::string& Value);
  // The master fields that FieldNames names (empty while inactive).
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet* GetDetailDataSet() override { return dataSet_; }

  TNotifyEvent OnMasterChange;
  TNotifyEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override;
  void RecordChanged(TField* Field) override;

 private:
  TDataSet* dataSet_;
  std::string fieldNames_;
  std::vector<TField*> fields_;
};

}  // namespace plat
