// The entered periods of the main window on a real database: adding,
// editing (the row loaded, wherever the selection goes), deleting one and
// all, each refusal with its message and the table left as it was.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "Funcion.h"
#include "Menu.h"
#include "qtui/DataGrid.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuPeriodsTest : public CalcWindowTest {
  Q_OBJECT

 private:
  tiv::qtui::DataGrid* Grid() { return Get<tiv::qtui::DataGrid>("DBGrid1"); }
  // The entered periods as the grid shows them: "id desde hasta coef dias diascoef".
  QStringList Rows() const { return GridRows("DBGrid1"); }
  // Puts a period into the entry line as typed, without leaving the fields.
  void Enter(const char* desde, const char* hasta, const char* coef) {
    Get("F1ini")->setText(QString::fromLatin1(desde));
    Get("F1fin")->setText(QString::fromLatin1(hasta));
    Get("Coef1")->setText(QString::fromLatin1(coef));
  }
  void Select(int row) {
    Grid()->selectRow(row);
    Settle();
  }
  void DoubleClick(int row) {
    const QRect cell = Grid()->visualRect(Grid()->model()->index(row, 1));
    QTest::mouseDClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
    Settle();
  }
  bool Enabled(const char* name) { return Get<QWidget>(name)->isEnabled(); }
  bool Visible(const char* name) { return Get<QWidget>(name)->isVisible(); }

 private Q_SLOTS:
  void init() {
    Prepare("tivoran-periods");
    Start();
  }

  void cleanup() { Finish(); }

  void addingStoresThePeriodAndClearsTheLine_data() {
    QTest::addColumn<QString>("coef");
    QTest::addColumn<QString>("row");
    QTest::newRow("full time") << "100"
                               << "1 01/01/2010 31/12/2010 100 365 365";
    QTest::newRow("64,5") << "64,5"
                          << "1 01/01/2010 31/12/2010 64,5 365 235,43";
    QTest::newRow("645 is 64,5") << "645"
                                 << "1 01/01/2010 31/12/2010 64,5 365 235,43";
    QTest::newRow("6450 is 64,50") << "6450"
                                   << "1 01/01/2010 31/12/2010 64,5 365 235,43";
  }
  void addingStoresThePeriodAndClearsTheLine() {
    QFETCH(QString, coef);
    QFETCH(QString, row);
    QVERIFY(!Enabled("BotBorrar"));
    QVERIFY(!Visible("LEditar"));

    Add("01/01/2010", "31/12/2010", coef.toLatin1().constData());
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Rows(), QStringList({row}));
    // Recalculated at once: one generated period.
    QCOMPARE(Caption("LNumLin"), QStringLiteral("1"));
    QCOMPARE(Get<QTableView>("DBGrid2")->model()->rowCount(), 1);
    QCOMPARE(Text("F1ini"), QStringLiteral("  /  /    "));
    QCOMPARE(Text("F1fin"), QStringLiteral("  /  /    "));
    QCOMPARE(Text("Coef1"), QStringLiteral("100"));
    QVERIFY(Caption("diasnat").isEmpty());
    QVERIFY(Caption("diascoef").isEmpty());
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));
    QVERIFY(form_->Modificado);
    QVERIFY(Enabled("BotBorrar"));
    QVERIFY(Enabled("BotBorrarTodo"));
    QVERIFY(Visible("LEditar"));
  }

  void refusedEntriesStoreNothing_data() {
    QTest::addColumn<bool>("limit");
    QTest::addColumn<QString>("desde");
    QTest::addColumn<QString>("hasta");
    QTest::addColumn<QString>("coef");
    QTest::addColumn<QString>("message");  // empty: stored
    QTest::addColumn<QString>("focus");
    const QString partial = QStringLiteral("No puede haber cotizaciones parciales anteriores a 01/01/2000");
    QTest::newRow("no start") << false << "  /  /    "
                              << "31/12/2010"
                              << "100"
                              << "Fecha errónea"
                              << "F1ini";
    QTest::newRow("no end") << false << "01/01/2010"
                            << "  /  /    "
                            << "100"
                            << "Fecha errónea"
                            << "F1fin";
    QTest::newRow("31/02") << false << "31/02/2010"
                           << "31/12/2010"
                           << "100"
                           << "Fecha errónea"
                           << "F1ini";
    QTest::newRow("no number") << false << "01/01/2010"
                               << "31/12/2010"
                               << "x"
                               << "Coeficiente erróneo"
                               << "Coef1";
    QTest::newRow("end before start") << false << "31/12/2010"
                                      << "01/01/2010"
                                      << "100"
                                      << "Fechas erróneas"
                                      << "F1ini";
    QTest::newRow("zero") << false << "01/01/2010"
                          << "31/12/2010"
                          << "0"
                          << "Sólo admite de 1 a 100"
                          << "Coef1";
    QTest::newRow("end year 2101") << false << "01/01/2010"
                                   << "01/01/2101"
                                   << "100"
                                   << "Fecha final incorrecta"
                                   << "F1fin";
    QTest::newRow("part-time before the limit") << true << "15/12/1999"
                                                << "31/12/2005"
                                                << "50" << partial << "F1ini";
    QTest::newRow("645 before the limit is part-time") << true << "15/12/1999"
                                                       << "31/12/2005"
                                                       << "645" << partial << "F1ini";
    QTest::newRow("full time before the limit") << true << "15/12/1999"
                                                << "31/12/2005"
                                                << "100"
                                                << ""
                                                << "F1ini";
    QTest::newRow("part-time from the limit") << true << "01/01/2000"
                                              << "31/12/2005"
                                              << "50"
                                              << ""
                                              << "F1ini";
  }
  void refusedEntriesStoreNothing() {
    QFETCH(bool, limit);
    QFETCH(QString, desde);
    QFETCH(QString, hasta);
    QFETCH(QString, coef);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    form_->LimiteActivo = limit;
    form_->FechaLimite = DayNumber(2000, 1, 1);
    Add(desde.toLatin1().constData(), hasta.toLatin1().constData(), coef.toUtf8().constData());
    if (message.isEmpty()) {
      QCOMPARE(dialogs_->messages, QStringList());
      QCOMPARE(Rows().size(), 1);
      return;
    }
    QCOMPARE(dialogs_->messages, QStringList({message}));
    QCOMPARE(Rows(), QStringList());
    QCOMPARE(Focused(), Get<QWidget>(focus.toLatin1().constData()));
    QVERIFY(!form_->Modificado);
    QVERIFY(!Enabled("BotBorrar"));
  }

  void twoPeriodsWithTheSameStartAreBothKept() {
    Add("01/01/2010", "31/03/2010", "50");
    Add("01/01/2010", "30/06/2010", "30");
    Add("01/01/2009", "31/12/2009", "100");
    QCOMPARE(Rows(), QStringList({"3 01/01/2009 31/12/2009 100 365 365", "1 01/01/2010 31/03/2010 50 90 45",
                                  "2 01/01/2010 30/06/2010 30 181 54,3"}));
  }

  void editStoresIntoTheRowLoaded() {
    Add("01/01/2010", "31/12/2010", "100");
    Add("01/01/2011", "30/06/2011", "50");
    DoubleClick(0);
    QVERIFY(form_->Editando);
    QCOMPARE(Text("F1ini"), QStringLiteral("01/01/2010"));
    QCOMPARE(Text("F1fin"), QStringLiteral("31/12/2010"));
    QCOMPARE(Text("Coef1"), QStringLiteral("100"));
    QCOMPARE(Caption("diasnat"), QStringLiteral("365"));
    QCOMPARE(Caption("diascoef"), QStringLiteral("365"));
    QCOMPARE(Caption("LId"), QStringLiteral("1"));
    QVERIFY(Visible("BotOK"));
    QVERIFY(Visible("BotCancelar"));
    QVERIFY(!Visible("BotSuma"));
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));

    // The user moves the selection to the other row before confirming.
    Select(1);
    Get("Coef1")->setText(QStringLiteral("50"));
    QTest::mouseClick(Get<QPushButton>("BotOK"), Qt::LeftButton);
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Rows(), QStringList({"1 01/01/2010 31/12/2010 50 365 182,5", "2 01/01/2011 30/06/2011 50 181 90,5"}));
    QVERIFY(!form_->Editando);
    QVERIFY(Visible("BotSuma"));
    QVERIFY(!Visible("BotOK"));
    QVERIFY(Caption("LId").isEmpty());
    QVERIFY(form_->Modificado);
  }

  void editRefusalsKeepTheRowAndTheLine_data() {
    QTest::addColumn<QString>("hasta");
    QTest::addColumn<QString>("coef");
    QTest::addColumn<QString>("message");
    QTest::newRow("no end") << "  /  /    "
                            << "50"
                            << "Fecha errónea";
    QTest::newRow("end before start") << "01/12/2009"
                                      << "100"
                                      << "Fechas erróneas";
    QTest::newRow("part-time before the limit") << "31/12/2010"
                                                << "645"
                                                << "No puede haber cotizaciones parciales anteriores a 01/01/2011";
  }
  void editRefusalsKeepTheRowAndTheLine() {
    QFETCH(QString, hasta);
    QFETCH(QString, coef);
    QFETCH(QString, message);
    Add("01/01/2010", "31/12/2010", "100");
    form_->LimiteActivo = true;
    form_->FechaLimite = DayNumber(2011, 1, 1);
    DoubleClick(0);
    Get("F1fin")->setText(hasta);
    Get("Coef1")->setText(coef);
    QTest::mouseClick(Get<QPushButton>("BotOK"), Qt::LeftButton);
    Settle();
    QCOMPARE(dialogs_->messages, QStringList({message}));
    QCOMPARE(Rows(), QStringList({"1 01/01/2010 31/12/2010 100 365 365"}));
    QVERIFY(form_->Editando);
    QCOMPARE(Text("F1fin"), hasta);

    QTest::mouseClick(Get<QPushButton>("BotCancelar"), Qt::LeftButton);
    Settle();
    QVERIFY(!form_->Editando);
    QCOMPARE(Text("F1ini"), QStringLiteral("  /  /    "));
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));
    QCOMPARE(Rows(), QStringList({"1 01/01/2010 31/12/2010 100 365 365"}));
  }

  void anEmptyGridHasNothingToEditOrDelete() {
    QTest::mouseDClick(Grid()->viewport(), Qt::LeftButton, {}, Grid()->viewport()->rect().center());
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QVERIFY(!form_->Editando);
    QVERIFY(!Visible("BotOK"));
    QVERIFY(!Enabled("BotBorrar"));
    QVERIFY(!Enabled("BotBorrarTodo"));
    form_->BotBorrarClick();
    QCOMPARE(dialogs_->questions, QStringList());
  }

  void deleteOneAsksAndKeepsTheOthers() {
    Add("01/01/2010", "31/12/2010", "100");
    Add("01/01/2011", "30/06/2011", "50");
    Select(1);
    dialogs_->answers = {false};
    QTest::mouseClick(Get<QToolButton>("BotBorrar"), Qt::LeftButton);
    Settle();
    const QString question =
        QStringLiteral("¿Seguro que quieres borrar el período:? \n\r2  01/01/2011  30/06/2011  coef.: 50");
    QCOMPARE(dialogs_->questions, QStringList({question}));
    QCOMPARE(Rows().size(), 2);
    QVERIFY(Enabled("BotBorrar"));

    form_->Modificado = false;
    dialogs_->answers = {true};
    QTest::mouseClick(Get<QToolButton>("BotBorrar"), Qt::LeftButton);
    Settle();
    QCOMPARE(Rows(), QStringList({"1 01/01/2010 31/12/2010 100 365 365"}));
    QVERIFY(form_->Modificado);
    QVERIFY(Enabled("BotBorrar"));
  }

  void deletingTheLastPeriodClearsEverything() {
    Add("01/01/2010", "31/12/2010", "100");
    Get("EditReferencia")->setText(QStringLiteral("caso 7"));
    Get("EDiasTot")->setText(QStringLiteral("900"));
    Get<QCheckBox>("CKTotDias")->setChecked(true);
    dialogs_->answers = {true};
    QTest::mouseClick(Get<QToolButton>("BotBorrar"), Qt::LeftButton);
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Rows(), QStringList());
    QVERIFY(Text("EditReferencia").isEmpty());
    QVERIFY(Text("EDiasTot").isEmpty());
    QVERIFY(!Get<QCheckBox>("CKTotDias")->isChecked());
    QVERIFY(!Enabled("BotBorrar"));
    QVERIFY(!Enabled("BotBorrarTodo"));
    QVERIFY(!Visible("LEditar"));
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));
    QVERIFY(form_->Modificado);
    // The table still takes periods afterwards.
    Add("01/01/2012", "31/01/2012", "100");
    QCOMPARE(Rows().size(), 1);
  }

  void deleteAllAndNewCaseAsk_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("question");
    QTest::newRow("delete all") << "BotBorrarTodo"
                                << "¿Seguro que quiere borrar todos los periodos?";
    QTest::newRow("new case") << "BotNuevo"
                              << "¿Quiere empezar un nuevo supuesto?";
  }
  void deleteAllAndNewCaseAsk() {
    QFETCH(QString, button);
    QFETCH(QString, question);
    Add("01/01/2010", "31/12/2010", "100");
    Add("01/01/2011", "30/06/2011", "50");
    auto* b = Get<QToolButton>(button.toLatin1().constData());
    dialogs_->answers = {false};
    b->click();
    Settle();
    QCOMPARE(dialogs_->questions, QStringList({question}));
    QCOMPARE(Rows().size(), 2);
    QVERIFY(form_->Modificado);

    dialogs_->answers = {true};
    b->click();
    Settle();
    QCOMPARE(Rows(), QStringList());
    QVERIFY(!form_->Modificado);
    QVERIFY(!Enabled("BotBorrar"));
  }
};

QTEST_MAIN(MenuPeriodsTest)
#include "MenuPeriodsTest.moc"
