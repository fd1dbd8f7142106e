#include "dataset/DataSource.h"

#include <algorithm>

#include "dataset/DataSet.h"

namespace tiv::dataset {

DataLink::~DataLink() { SetDataSource(nullptr); }

void DataLink::SetDataSource(DataSource* source) {
  if (source_ == source) return;
  if (source_) source_->Detach(*this);
  source_ = source;
  if (source_) source_->Attach(*this);
  ActiveChanged();
}

DataSet* DataLink::Data() const { return source_ ? source_->Data() : nullptr; }

bool DataLink::Active() const { return Data() && Data()->Active(); }

DataSource::~DataSource() {
  SetDataSet(nullptr);
  for (DataLink* link : std::vector<DataLink*>(links_)) link->source_ = nullptr;
}

void DataSource::SetDataSet(DataSet* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_) dataSet_->RemoveSource(*this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddSource(*this);
  Notify(Event::ActiveChanged, nullptr);
}

void DataSource::Attach(DataLink& link) { links_.push_back(&link); }

void DataSource::Detach(DataLink& link) {
  links_.erase(std::remove(links_.begin(), links_.end(), &link), links_.end());
}

void DataSource::Notify(Event event, Field* field) {
  if (!Enabled && event != Event::UpdateData) return;
  // A handler may attach or detach links: walk a copy, skipping any that
  // left meanwhile.
  for (DataLink* link : std::vector<DataLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
    switch (event) {
      case Event::ActiveChanged: link->ActiveChanged(); break;
      case Event::DataSetChanged: link->DataSetChanged(); break;
      case Event::DataSetScrolled: link->DataSetScrolled(); break;
      case Event::RecordChanged: link->RecordChanged(field); break;
      case Event::EditingChanged: link->EditingChanged(); break;
      case Event::UpdateData: link->UpdateData(); break;
    }
  }
  switch (event) {
    case Event::ActiveChanged:
    case Event::EditingChanged:
      if (OnStateChange) OnStateChange();
      if (event == Event::ActiveChanged && OnDataChange) OnDataChange(nullptr);
      break;
    case Event::DataSetChanged:
    case Event::DataSetScrolled:
    case Event::RecordChanged:
      if (OnDataChange) OnDataChange(field);
      break;
    case Event::UpdateData: break;
  }
}

}  // namespace tiv::dataset
