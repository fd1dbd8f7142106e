// The components under the program's Qt widgets: a grid over a table of the
// in-memory database (the engine's texts, the current row, a post), and
// the components' dialogs shown through the program's dialogs.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "AccessDialogsQt.h"
#include "access/ZUDMain.h"
#include "qtui/DataGrid.h"
#include "qtui/PassDialog.h"
#include "qtui/ScriptedDialogs.h"

using tiv::dataset::DataSource;
using tiv::dataset::FieldValue;

class AccessQtTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void gridOverAnInMemoryTable() {
    TABSTable periodos("periodos");
    periodos.SetDatabaseName("MEMORY");
    periodos.SetTableName("periodos_grid");
    periodos.FieldDefs = {{"id", aftAutoInc}, {"desde", aftDate}, {"porcentaje", aftDouble}};
    periodos.IndexDefs = {{"desde", "desde"}};
    periodos.CreateTable();
    periodos.SetIndexName("desde");
    periodos.Open();
    DataSource source;
    source.SetDataSet(&periodos);
    tiv::qtui::DataGrid grid;
    grid.SetDataSource(&source);
    grid.SetColumns({{"desde", QStringLiteral("Desde"), 90}, {"porcentaje", QStringLiteral("%"), 60}});
    for (int i = 0; i < 3; ++i) {
      periodos.Insert();
      periodos.FieldByName("desde").SetValue(FieldValue::Date(733773 + 10 * (2 - i)));
      periodos.FieldByName("porcentaje").SetAsFloat(62.5 + i);
      periodos.Post();
    }
    QCOMPARE(grid.model()->rowCount(), 3);
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Desde"));
    QCOMPARE(grid.model()->index(0, 0).data().toString(), QStringLiteral("01/01/2010"));
    QCOMPARE(grid.model()->index(0, 1).data().toString(), QStringLiteral("64,5"));
    QCOMPARE(grid.currentIndex().row(), 0);  // the last post: the earliest date
    periodos.Last();
    QCOMPARE(grid.currentIndex().row(), 2);
    periodos.Close();
    QCOMPARE(grid.model()->rowCount(), 0);
    periodos.DeleteTable();
  }

  void componentDialogsGoThroughTheProgramsDialogs() {
    tiv::qtui::ScriptedDialogs scripted;
    tiv::qtui::ScopedDialogService service(scripted);
    QtAccessDialogs dialogs;
    scripted.answers = {true};
    QVERIFY(dialogs.Confirm("\xBFReparar?"));
    QCOMPARE(scripted.questions, QStringList{QStringLiteral("¿Reparar?")});
    dialogs.ShowWarning("backup: x.bak");
    QCOMPARE(scripted.messages, QStringList{QStringLiteral("backup: x.bak")});
    TABSDatabase database;
    database.SetDatabaseName("secreto");
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<tiv::qtui::TABSPassDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      QTest::keyClicks(dialog->PasswordEdit(), QStringLiteral("clave"));
      dialog->findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
    });
    QVERIFY(dialogs.AskPassword(database));
    QCOMPARE(QString::fromStdString(database.Password), QStringLiteral("clave"));
    std::unique_ptr<TABSWait> wait = dialogs.BeginWait("Copy Table...");
    wait->Progress(5);
    QVERIFY(!wait->AbortRequested());
  }
};

QTEST_MAIN(AccessQtTest)
#include "AccessQtTest.moc"
