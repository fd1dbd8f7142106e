#include "qtui/DataCheckBox.h"

namespace tiv::qtui {

DataCheckBox::DataCheckBox(QWidget* parent) : DataCheckBox(QString(), parent) {}

DataCheckBox::DataCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
  link_.OnDataChange = [this] { Show(); };
  connect(this, &QCheckBox::clicked, this, [this](bool checked) { Clicked(checked); });
  Show();
}

DataCheckBox::~DataCheckBox() {
  link_.OnDataChange = nullptr;
  link_.SetDataSource(nullptr);
}

void DataCheckBox::Show() {
  showing_ = true;
  tiv::dataset::Field* f = link_.GetField();
  setEnabled(f != nullptr);
  setChecked(f && !f->IsNull() && f->AsBoolean());
  showing_ = false;
}

void DataCheckBox::Clicked(bool checked) {
  if (showing_) return;
  if (!link_.Edit()) {
    Show();
    return;
  }
  link_.GetField()->SetAsBoolean(checked);
}

}  // namespace tiv::qtui
