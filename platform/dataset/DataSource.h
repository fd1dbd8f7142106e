// DataSource: DataSource and DataLink, how data-aware controls (and detail
// datasets) follow a dataset. A control holds a DataLink attached to a
// DataSource; the source forwards every event of its dataset to its links
// and to its own OnDataChange and OnStateChange handlers.
//
// Events (DataSet.h says when each is sent):
//   ActiveChanged      the dataset opened or closed
//   DataSetChanged     records were added, removed or reread: show again
//   DataSetScrolled    another record became current
//   RecordChanged      a field of the active record changed (the field, or
//                      null for the whole record)
//   EditingChanged     the dataset entered or left edit or insert mode
//   UpdateData         a post begins: write pending edits into the fields
//
// Contract
//  1. A link attached to a source is detached when either goes; a source
//     detaches from its dataset when either goes. No event ever reaches a
//     destroyed object.
//  2. While the dataset's controls are disabled (DisableControls) no event
//     but UpdateData is sent; enabling them again sends DataSetChanged once
//     when anything happened meanwhile.
//
// Thread use: the GUI thread.
#pragma once

#include <functional>
#include <vector>

namespace tiv::dataset {

class DataSet;
class DataSource;
class Field;

class DataLink {
 public:
  DataLink() = default;
  virtual ~DataLink();
  DataLink(const DataLink&) = delete;
  DataLink& operator=(const DataLink&) = delete;

  void SetDataSource(DataSource* source);
  DataSource* Source() const { return source_; }
  // The source's dataset, or null.
  DataSet* Data() const;
  bool Active() const;

  virtual void ActiveChanged() {}
  virtual void DataSetChanged() {}
  virtual void DataSetScrolled() {}
  virtual void RecordChanged(Field* field) { (void)field; }
  virtual void EditingChanged() {}
  virtual void UpdateData() {}

 private:
  friend class DataSource;
  DataSource* source_ = nullptr;
};

class DataSource {
 public:
  DataSource() = default;
  ~DataSource();
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  void SetDataSet(DataSet* dataSet);
  DataSet* Data() const { return dataSet_; }
  bool Enabled = true;
  std::function<void(Field*)> OnDataChange;  // scrolls, record and data changes
  std::function<void()> OnStateChange;

 private:
  friend class DataLink;
  friend class DataSet;
  enum class Event { ActiveChanged, DataSetChanged, DataSetScrolled, RecordChanged, EditingChanged, UpdateData };
  void Notify(Event event, Field* field);
  void Attach(DataLink& link);
  void Detach(DataLink& link);
  void DataSetGone() { dataSet_ = nullptr; }

  DataSet* dataSet_ = nullptr;
  std::vector<DataLink*> links_;
};

}  // namespace tiv::dataset
