// calc_program: the calculator started as a user starts it, for the tests
// that need a real second process: the program's own start-up, window and
// event loop, its database beside the executable, and every box answered
// by printing its text ("message: <text>", UTF-8) on standard output.
// Once the window is shown it prints "shown <rows of the entered-periods
// grid>" and closes it; the exit code is the program's.
#include <QTableView>
#include <QTimer>
#include <cstdio>

#include "AccessDialogsQt.h"
#include "Menu.h"
#include "qtui/Application.h"
#include "qtui/ScriptedDialogs.h"

namespace {

class PrintingDialogs : public tiv::qtui::ScriptedDialogs {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override {
    ScriptedDialogs::ShowMessage(parent, text);
    std::printf("message: %s\n", text.toUtf8().constData());
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  tiv::qtui::TivoranApplication app(argc, argv);
  PrintingDialogs dialogs;
  tiv::qtui::ScopedDialogService dialogScope(dialogs);
  QtAccessDialogs accessDialogs;
  TABSScopedAccessDialogs accessDialogsScope(accessDialogs);
  TFormMenuPral form;
  QTimer::singleShot(0, &form, [&form] {
    auto* grid = form.findChild<QTableView*>(QStringLiteral("DBGrid1"));
    std::printf("shown %d\n", grid ? grid->model()->rowCount() : -1);
    std::fflush(stdout);
    form.close();
  });
  return app.Run(form);
}
