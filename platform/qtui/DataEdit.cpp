#include "qtui/DataEdit.h"

#include "locale/CodePage.h"

namespace tiv::qtui {

DataEdit::DataEdit(QWidget* parent) : QLineEdit(parent) {
  link_.OnDataChange = [this] { Show(); };
  link_.OnUpdateData = [this] { UpdateRecord(); };
  connect(this, &QLineEdit::textEdited, this, [this](const QString&) {
    if (showing_) return;
    // Set first: entering edit mode shows the record again, which must
    // keep what is being typed.
    typed_ = true;
    if (!link_.Edit()) {
      typed_ = false;
      Show();
    }
  });
  Show();
}

DataEdit::~DataEdit() {
  link_.OnDataChange = nullptr;
  link_.OnUpdateData = nullptr;
  link_.SetDataSource(nullptr);
}

void DataEdit::Show() {
  // What the user typed stays until it is stored (a change of another
  // field of the record must not wipe it).
  if (typed_ && link_.Editing()) return;
  typed_ = false;
  showing_ = true;
  tiv::dataset::Field* f = link_.GetField();
  setEnabled(f != nullptr);
  setText(f ? QString::fromStdU16String(tiv::locale::Win1252ToUtf16(f->Text())) : QString());
  showing_ = false;
}

void DataEdit::UpdateRecord() {
  if (!typed_ || !link_.GetField() || !link_.Editing()) return;
  link_.GetField()->SetText(tiv::locale::Utf16ToWin1252(text().toStdU16String()));
  typed_ = false;
}

void DataEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  UpdateRecord();
}

}  // namespace tiv::qtui
