#include "AccessDialogsQt.h"

#include "access/Database.h"
#include "locale/CodePage.h"
#include "qtui/DialogService.h"
#include "qtui/FrmWait.h"
#include "qtui/PassDialog.h"

namespace {

QString FromAnsi(const std::string& text) { return QString::fromStdU16String(tiv::locale::Win1252ToUtf16(text)); }

class QtWait : public TABSWait {
 public:
  QtWait(QWidget* parent, const std::string& message) : dialog_(parent) { dialog_.Start(FromAnsi(message)); }
  ~QtWait() override { dialog_.Finish(); }
  void Progress(int percent) override { dialog_.Progress(percent); }
  bool AbortRequested() override { return dialog_.AbortRequested(); }

 private:
  tiv::qtui::TfrmWait dialog_;
};

}  // namespace

std::unique_ptr<TABSWait> QtAccessDialogs::BeginWait(const std::string& message) {
  return std::make_unique<QtWait>(parent_, message);
}

bool QtAccessDialogs::AskPassword(TABSDatabase& database) {
  QString password;
  const QString line =
      database.DatabaseName().empty() ? QString() : QStringLiteral("Database: ") + FromAnsi(database.DatabaseName());
  if (!tiv::qtui::TABSPassDialog::Ask(line, password, parent_)) return false;
  database.Password = tiv::locale::Utf16ToWin1252(password.toStdU16String());
  return true;
}

bool QtAccessDialogs::Confirm(const std::string& text) { return tiv::qtui::Dialogs().Confirm(parent_, FromAnsi(text)); }

void QtAccessDialogs::ShowWarning(const std::string& text) {
  tiv::qtui::Dialogs().ShowMessage(parent_, FromAnsi(text));
}

void QtAccessDialogs::ShowInformation(const std::string& text) {
  tiv::qtui::Dialogs().ShowMessage(parent_, FromAnsi(text));
}
