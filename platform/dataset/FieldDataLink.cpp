#include "dataset/FieldDataLink.h"

#include "dataset/DataSet.h"

namespace tiv::dataset {

void FieldDataLink::SetFieldName(std::string name) {
  fieldName_ = std::move(name);
  Rebind();
  Changed();
}

void FieldDataLink::Rebind() {
  DataSet* d = Data();
  field_ = d && d->Active() && !fieldName_.empty() ? d->FindField(fieldName_) : nullptr;
}

bool FieldDataLink::CanModify() const {
  DataSet* d = Data();
  return field_ && d && d->Active() && !d->ReadOnly && !field_->ReadOnly;
}

bool FieldDataLink::Editing() const {
  DataSet* d = Data();
  return d && (d->State() == DataSetState::Edit || d->State() == DataSetState::Insert);
}

bool FieldDataLink::Edit() {
  if (!CanModify()) return false;
  if (Editing()) return true;
  DataSet& d = *Data();
  if (d.IsEmpty()) return false;
  d.Edit();
  return Editing();
}

void FieldDataLink::ActiveChanged() {
  Rebind();
  Changed();
}

void FieldDataLink::DataSetChanged() {
  Rebind();
  Changed();
}

void FieldDataLink::DataSetScrolled() { Changed(); }

void FieldDataLink::RecordChanged(Field* field) {
  if (!field || field == field_) Changed();
}

void FieldDataLink::UpdateData() {
  if (field_ && OnUpdateData) OnUpdateData();
}

}  // namespace tiv::dataset
