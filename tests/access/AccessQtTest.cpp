// The components under the program's Qt widgets: a grid over a table of the
// in-memory database (the engine's texts, the current row, a post), and
// the components' dialogs shown through the program's dialogs.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "AccessDialogsQt.h"
#include "AccessTestDb.h"
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

  // A query in the grid: its rows in ORDER BY order; a new parameter value
  // shows new rows after the reopen; with a master, the query follows the
  // master's current record.
  void queryRowsInTheGridFollowTheirParameters() {
    AccessTestDb db;
    {
      TABSTable t;
      t.SetDatabaseName("app");
      t.SetTableName("inicial");
      t.Open();
      for (int i = 0; i < 4; ++i) AddPeriod(t, 733773 + 100 * (3 - i), 10 + i, 50);
    }
    TABSQuery q("QPeriodos");
    q.SetDatabaseName("app");
    q.SetSQL({"select desde, dias from inicial", "where desde >= :d", "order by desde"});
    q.ParamNamed("d").SetValue(FieldValue::Date(733773 + 150));
    q.Open();
    DataSource source;
    source.SetDataSet(&q);
    tiv::qtui::DataGrid grid;
    grid.SetDataSource(&source);
    grid.SetColumns({{"desde", QStringLiteral("Desde"), 90}, {"dias", QStringLiteral("Dias"), 40}});
    QCOMPARE(grid.model()->rowCount(), 2);
    QCOMPARE(grid.model()->index(0, 0).data().toString(), QStringLiteral("20/07/2010"));
    QCOMPARE(grid.model()->index(1, 1).data().toString(), QStringLiteral("10"));
    q.Close();
    q.ParamNamed("d").SetValue(FieldValue::Date(733773));
    q.Open();
    QCOMPARE(grid.model()->rowCount(), 4);
    QCOMPARE(grid.model()->index(0, 1).data().toString(), QStringLiteral("13"));

    // The master: one date per record; unbound parameters take its field.
    TABSTable limits("limits");
    limits.SetDatabaseName("MEMORY");
    limits.SetTableName("limits_grid");
    limits.FieldDefs = {{"d", aftDate}};
    limits.CreateTable();
    limits.Open();
    for (int day : {733773 + 250, 733773 + 50}) {
      limits.Insert();
      limits.FieldByName("d").SetValue(FieldValue::Date(day));
      limits.Post();
    }
    q.Close();
    q.Params()[0].bound = false;
    DataSource master;
    master.SetDataSet(&limits);
    q.SetDataSource(&master);
    limits.First();
    q.Open();
    QCOMPARE(grid.model()->rowCount(), 1);
    limits.Next();
    QCOMPARE(grid.model()->rowCount(), 3);
    q.Close();
    limits.Close();
    limits.DeleteTable();
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
