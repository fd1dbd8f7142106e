// FieldDataLink: the link of a control that shows and edits one field of
// a dataset (a data-aware edit or check box).
//
// Contract
//  1. Field() is the dataset's field named FieldName, found again whenever
//     the dataset opens or its fields change; null while the dataset is
//     closed or has no such field.
//  2. OnDataChange runs whenever what the control shows may have changed
//     (the dataset opened, closed, scrolled, was reread, or the field or
//     the whole record changed); the control reads Field() then.
//  3. Edit() is how a control starts changing the value: it puts a
//     browsing dataset into edit mode (true), or answers false when the
//     dataset cannot be edited (closed, read-only, empty, the field
//     read-only). A control that refuses the user's change then shows the
//     value again.
//  4. OnUpdateData runs when the dataset is about to post: the control
//     writes what the user typed into the field.
//
// Thread use: the GUI thread.
#pragma once

#include <functional>
#include <string>

#include "dataset/DataSource.h"

namespace tiv::dataset {

class FieldDataLink : public DataLink {
 public:
  void SetFieldName(std::string name);
  const std::string& FieldName() const { return fieldName_; }
  Field* GetField() const { return field_; }
  bool CanModify() const;
  // Contract 3.
  bool Edit();
  bool Editing() const;

  std::function<void()> OnDataChange;
  std::function<void()> OnUpdateData;

  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled() override;
  void RecordChanged(Field* field) override;
  void UpdateData() override;

 private:
  void Rebind();
  void Changed() {
    if (OnDataChange) OnDataChange();
  }

  std::string fieldName_;
  Field* field_ = nullptr;
};

}  // namespace tiv::dataset
