// Start-up of the main window on its database file: the settings read from
// `configura` and changed through the settings dialog, a failing step that
// still ends the start-up, the entered periods emptied at every start, and
// the program as real processes: a second copy refused while the first
// runs, the database found beside the executable, a missing database.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "Configuracion.h"
#include "Funcion.h"
#include "Menu.h"
#include "access/ZUDMain.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcDatabase.h"
#include "support/CalcWindowTest.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

using tiv::qtui::ScriptedDialogs;

class MenuStartTest : public CalcWindowTest {
  Q_OBJECT

 private:
  int EnteredRows() { return Get<QTableView>("DBGrid1")->model()->rowCount(); }
  // Opens the settings from the menu and works the modal dialog with
  // `drive` (see WithDialog).
  void Settings(const std::function<void(TFormConfiguracion&, FormDriver&)>& drive) {
    WithDialog<TFormConfiguracion>([this] { form_->Configuracin1Click(); }, drive);
  }
  // What the program said next: a box's text ("message: ...") or "shown
  // <rows>"; the toolkit's own warnings on its error output are passed
  // over. "" once it has ended.
  static QString Said(ChildProcess& program, int timeoutMs = 20000) {
    for (;;) {
      const QString line = QString::fromStdString(program.ReadLine(timeoutMs));
      if (line.isEmpty() || line.startsWith(QStringLiteral("message: ")) || line.startsWith(QStringLiteral("shown ")))
        return line;
    }
  }
  // A copy of the calculator in `folder`, as installed beside its database.
  static std::string InstallProgram(const std::filesystem::path& folder) {
    const std::filesystem::path exe = folder / "calc_program";
    std::filesystem::copy_file(CalcProgramPath(), exe);
    return exe.string();
  }

 private Q_SLOTS:
  void init() { Prepare("tivoran-start"); }

  void cleanup() { Finish(); }

  void settingsAreReadAtStart() {
    Start();
    QCOMPARE(dialogs_->messages, QStringList());
    QVERIFY(!form_->Cargando);
    QVERIFY(!form_->LimiteActivo);
    QCOMPARE(form_->FechaLimite, Today());
    QVERIFY(Get<QCheckBox>("CKAutomatico")->isChecked());
    QCOMPARE(form_->DatabaseFile(), Folder() + QStringLiteral("/Tivoran.ZUD"));
  }

  void settingsDialogSetsTheLimitAndTheAutomaticCalculation() {
    Start();
    Settings([&](TFormConfiguracion& dialog, FormDriver& d) {
      QCOMPARE(dialog.windowTitle(), QStringLiteral("configuración"));
      QCOMPARE(dialog.size(), QSize(358, 166));
      QCOMPARE(d.Get<QCheckBox>("DBCheckBox1")->text(), QStringLiteral("No permitir T.P. anterior a: "));
      QCOMPARE(d.Get<QCheckBox>("DBCheckBox2")->text(),
               QStringLiteral("Cálculo inmediato ( a medida que se introducen datos)"));
      QVERIFY(!d.Get<QCheckBox>("DBCheckBox1")->isChecked());
      QVERIFY(d.Get<QCheckBox>("DBCheckBox2")->isChecked());
      d.Get<QCheckBox>("DBCheckBox1")->click();
      d.Get<QCheckBox>("DBCheckBox2")->click();
      QLineEdit* fecha = d.Get("DBFecha");
      FormDriver::Focus(fecha);
      QTest::keyClicks(fecha, QStringLiteral("31/02/2010"));
      d.Get<QPushButton>("BotOK")->click();
      FormDriver::Settle();
      QCOMPARE(dialogs_->messages, QStringList({"Fecha incorrecta"}));
      QVERIFY(dialog.isVisible());
      QVERIFY(fecha->text().isEmpty());
      QCOMPARE(FormDriver::Focused(), fecha);
      QTest::keyClicks(fecha, QStringLiteral("01/01/2000"));
      d.Get<QPushButton>("BotOK")->click();
      FormDriver::Settle();
      QVERIFY(!dialog.isVisible());
    });
    QVERIFY(form_->LimiteActivo);
    QCOMPARE(form_->FechaLimite, DayNumber(2000, 1, 1));
    QVERIFY(!Get<QCheckBox>("CKAutomatico")->isChecked());

    dialogs_->Reset();
    Add("15/12/1999", "31/12/2005", "50");
    QCOMPARE(dialogs_->messages, QStringList({"No puede haber cotizaciones parciales anteriores a 01/01/2000"}));
    Add("01/01/2000", "31/12/2005", "50");
    QCOMPARE(EnteredRows(), 1);

    // Read again by the next start; the limit goes with its date.
    form_.reset();
    dialogs_->Reset();
    Start();
    QVERIFY(form_->LimiteActivo);
    QCOMPARE(form_->FechaLimite, DayNumber(2000, 1, 1));
    Settings([&](TFormConfiguracion&, FormDriver& d) {
      QCOMPARE(d.Text("DBFecha"), QStringLiteral("01/01/2000"));
      d.Get<QCheckBox>("DBCheckBox1")->click();
      d.Get<QPushButton>("BotOK")->click();
    });
    QVERIFY(!form_->LimiteActivo);
    QCOMPARE(form_->FechaLimite, Today());
    Settings([&](TFormConfiguracion&, FormDriver& d) { QVERIFY(d.Text("DBFecha").isEmpty()); });
  }

  void cancellingTheSettingsChangesNothing() {
    Start();
    Settings([&](TFormConfiguracion&, FormDriver& d) {
      d.Get<QCheckBox>("DBCheckBox1")->click();
      d.Get<QCheckBox>("DBCheckBox2")->click();
      d.Get<QPushButton>("BotCancelar")->click();
    });
    QVERIFY(!form_->LimiteActivo);
    QVERIFY(Get<QCheckBox>("CKAutomatico")->isChecked());
    Settings([&](TFormConfiguracion&, FormDriver& d) {
      QVERIFY(!d.Get<QCheckBox>("DBCheckBox1")->isChecked());
      QVERIFY(d.Get<QCheckBox>("DBCheckBox2")->isChecked());
    });
  }

  void aFailedSettingsStepIsShownAndStartUpEnds() {
    {
      TABSDatabase db("setup");
      db.SetDatabaseName("menu_start_setup");
      db.SetDatabaseFileName(dir_->File("Tivoran.ZUD"));
      TABSTable configura;
      configura.SetDatabaseName("menu_start_setup");
      configura.SetTableName("configura");
      configura.DeleteTable();
    }
    Start();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains(QStringLiteral("configura")), qPrintable(dialogs_->messages[0]));
    QVERIFY(!form_->Cargando);
    // The rest of the window works.
    Add("01/01/2010", "31/12/2010", "100");
    QCOMPARE(EnteredRows(), 1);
  }

  void enteredPeriodsAreGoneAtTheNextStart() {
    Start();
    Add("01/01/2010", "31/12/2010", "100");
    QCOMPARE(EnteredRows(), 1);
    form_.reset();
    Start();
    QCOMPARE(EnteredRows(), 0);
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void aSecondCopyIsRefusedAndTheFirstGoesOn() {
    Start();
    Add("01/01/2010", "31/12/2010", "100");
    ChildProcess second({}, InstallProgram(dir_->Path()));
    QCOMPARE(Said(second), QStringLiteral("message: Hay otra instancia del programa en uso"));
    QCOMPARE(second.Wait(), 1);
    QCOMPARE(Said(second, 1000), QString());  // never shown
    // The first copy keeps its periods and goes on.
    QCOMPARE(EnteredRows(), 1);
    Add("01/01/2011", "31/12/2011", "50");
    QCOMPARE(EnteredRows(), 2);
    QCOMPARE(dialogs_->messages, QStringList());
    // Once it has ended, a copy starts.
    form_.reset();
    ChildProcess third({}, dir_->File("calc_program"));
    QCOMPARE(Said(third), QStringLiteral("shown 0"));
    QCOMPARE(third.Wait(), 0);
  }

  void theDatabaseIsTheOneBesideTheProgram() {
    const std::string exe = InstallProgram(dir_->Path());
    ScratchDir elsewhere("tivoran-cwd");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    ChildProcess program({}, exe);
    std::filesystem::current_path(before);
    QCOMPARE(Said(program), QStringLiteral("shown 0"));
    QCOMPARE(program.Wait(), 0);
    QVERIFY(!std::filesystem::exists(elsewhere.File("Tivoran.ZUD")));
  }

  void aMissingDatabaseIsSaidAndTheProgramEnds() {
    std::filesystem::remove(dir_->File("Tivoran.ZUD"));
    ChildProcess program({}, InstallProgram(dir_->Path()));
    QCOMPARE(Said(program),
             QStringLiteral("message: No se encuentra la base de datos ") + Folder() + QStringLiteral("/Tivoran.ZUD"));
    QCOMPARE(program.Wait(), 1);
    QCOMPARE(Said(program, 1000), QString());
    QVERIFY(!std::filesystem::exists(dir_->File("Tivoran.ZUD")));
  }
};

QTEST_MAIN(MenuStartTest)
#include "MenuStartTest.moc"
