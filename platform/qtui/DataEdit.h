// DataEdit: a one-line edit bound to a field of a dataset.
//
// Contract
//  1. It shows the field's text (Field.h contract 4) of the dataset's
//     active record, converted from Windows-1252; empty for NULL; disabled
//     while there is no field.
//  2. Typing puts the dataset into edit mode (read-only when it cannot be
//     edited). What was typed goes into the field when the edit loses the
//     focus or the dataset posts; an empty text stores NULL. A text the
//     field cannot take raises the engine's conversion error and stays in
//     the edit.
//
// Thread use: GUI thread only.
#pragma once

#include <QLineEdit>

#include "dataset/Dataset.h"

namespace tiv::qtui {

class DataEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit DataEdit(QWidget* parent = nullptr);
  ~DataEdit() override;

  void SetDataSource(tiv::dataset::DataSource* source) { link_.SetDataSource(source); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  // Writes what was typed into the field (contract 2).
  void UpdateRecord();

 protected:
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void Show();

  tiv::dataset::FieldDataLink link_;
  bool typed_ = false;
  bool showing_ = false;
};

}  // namespace tiv::qtui
