// DataCheckBox: a check box bound to a boolean field of a dataset.
//
// Contract
//  1. It shows the field of the dataset's active record: checked for true,
//     unchecked for false or NULL; disabled while there is no field (the
//     dataset closed or without it).
//  2. A click the user makes puts the dataset into edit mode and stores
//     true or false in the field at once; when the dataset cannot be edited
//     the box shows the field's value again.
//
// Thread use: GUI thread only.
#pragma once

#include <QCheckBox>

#include "dataset/Dataset.h"

namespace tiv::qtui {

class DataCheckBox : public QCheckBox {
  Q_OBJECT

 public:
  explicit DataCheckBox(QWidget* parent = nullptr);
  explicit DataCheckBox(const QString& text, QWidget* parent = nullptr);
  ~DataCheckBox() override;

  void SetDataSource(tiv::dataset::DataSource* source) { link_.SetDataSource(source); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }

 private:
  void Show();
  void Clicked(bool checked);

  tiv::dataset::FieldDataLink link_;
  bool showing_ = false;
};

}  // namespace tiv::qtui
