// Case files and the qualifying period through the main window on a real
// database: save and load (also in a new run), hand-written files with
// their line errors, texts that are no case, every prompt to save with
// each answer, and the qualifying-period box with its conversions.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <memory>

#include "Funcion.h"
#include "Menu.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuCaseTest : public CalcWindowTest {
  Q_OBJECT

 private:
  QStringList Rows() const { return GridRows("DBGrid1", 1); }
  void Write(const char* name, const QByteArray& bytes) {
    QFile f(Path(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  void Load(const QString& path) {
    dialogs_->openNames = {path};
    Get<QToolButton>("BotAbrir")->click();
    Settle();
  }
  // Types into an edit of the qualifying-period box as a user does.
  void Type(const char* name, const QString& text) {
    QLineEdit* e = Get(name);
    Focus(e);
    e->selectAll();
    QTest::keyClicks(e, text);
    Settle();
  }

 private Q_SLOTS:
  void init() {
    Prepare("tivoran-case");
    Start();
  }

  void cleanup() { Finish(); }

  void aSavedCaseLoadsTheSameInANewRun() {
    Add("01/04/2010", "30/06/2010", "64,5");
    Add("01/01/2010", "31/03/2010", "50");
    Get("EDiasTot")->setText(QStringLiteral("730"));
    Get<QRadioButton>("CKDiasNat0")->setChecked(true);
    Get<QCheckBox>("CKTotDias")->setChecked(true);
    dialogs_->saveNames = {Path("caso")};
    Get<QToolButton>("BotGuardar")->click();
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(dialogs_->questions, QStringList({"Guardar supuesto C.G.P."}));
    QCOMPARE(Read(Path("caso.txt")),
             QByteArray("diastot=730\r\ndiasnat=0\r\ncktotdias=si\r\n01/01/2010 31/03/2010 50\r\n"
                        "01/04/2010 30/06/2010 64,5\r\n"));
    QCOMPARE(Text("EditReferencia"), QStringLiteral("CASO"));
    QVERIFY(!form_->Modificado);
    const QStringList saved = Rows();

    form_.reset();
    Start();
    QCOMPARE(Rows(), QStringList());
    Get<QCheckBox>("CKAutomatico")->setChecked(false);
    Load(Path("caso.txt"));
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Rows(), saved);
    QCOMPARE(Text("EDiasTot"), QStringLiteral("730"));
    QVERIFY(Get<QRadioButton>("CKDiasNat0")->isChecked());
    QVERIFY(Get<QCheckBox>("CKTotDias")->isChecked());
    QVERIFY(Get<QCheckBox>("CKAutomatico")->isChecked());
    QCOMPARE(Text("EditReferencia"), QStringLiteral("CASO"));
    QVERIFY(!form_->Modificado);

    // Saved again without total days: no header.
    Get("EDiasTot")->clear();
    dialogs_->saveNames = {Path("caso2.txt")};
    Get<QToolButton>("BotGuardar")->click();
    QCOMPARE(Read(Path("caso2.txt")), QByteArray("01/01/2010 31/03/2010 50\r\n01/04/2010 30/06/2010 64,5\r\n"));
  }

  void aHandWrittenFileLoadsItsGoodLines() {
    form_->LimiteActivo = true;
    form_->FechaLimite = DayNumber(2000, 1, 1);
    Write("mano.txt",
          "01/01/2010 31/03/2010 50\r\n"
          "   01/04/2010    30/06/2010   64.5  parcial\n"
          "   \r\n"
          "01/07/2010 31/07/2010\r"
          "31/03/2010 01/01/2010 50\r\n"
          "01/01/2011 31/12/2011 150\r\n"
          "01/01/2012 31/12/2012 1.000\r\n"
          "15/12/1999 31/12/2005 50\r\n"
          "01/01/2013 01/01/2101 100\r\n");
    Load(Path("mano.txt"));
    QCOMPARE(dialogs_->messages,
             QStringList({"Error en linea 5 (fechas): 31/03/2010 01/01/2010 50",
                          "Error en linea 6 (porcentaje):  01/01/2011 31/12/2011 150",
                          "Error en linea 7 (porcentaje):  01/01/2012 31/12/2012 1.000",
                          "Error en linea 8  (fecha con porcentaje anterior a 01/01/2000): 15/12/1999 31/12/2005 50",
                          "Error en linea 9 (fechas): 01/01/2013 01/01/2101 100"}));
    QCOMPARE(Rows(), QStringList({"01/01/2010 31/03/2010 50 90 45", "01/04/2010 30/06/2010 64,5 91 58,7",
                                  "01/07/2010 31/07/2010 0 31 0"}));
    QCOMPARE(Text("EditReferencia"), QStringLiteral("MANO"));
  }

  void aLineWithoutDatesStopsTheLoading() {
    Write("corta.txt", "01/01/2010 31/03/2010 50\r\nhola 31/12/2010 50\r\n01/01/2011 31/12/2011 50\r\n");
    Load(Path("corta.txt"));
    QCOMPARE(dialogs_->messages, QStringList({"error en fichero de entrada: línea2   hola 31/12/2010 50"}));
    QCOMPARE(Rows(), QStringList({"01/01/2010 31/03/2010 50 90 45"}));
  }

  void aTextThatIsNoCaseChangesNothing_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QString noCase = QStringLiteral("El fichero no contiene un supuesto C.G.P.");
    QTest::newRow("empty") << QByteArray() << noCase;
    QTest::newRow("a letter") << QByteArray("Estimado cliente:\r\nadjunto el informe\r\n") << noCase;
    QTest::newRow("binary") << QByteArray(
                                   "\x7f"
                                   "ELF\x02\x01\x01\0\0\0",
                                   10)
                            << noCase;
    QTest::newRow("huge") << QByteArray(2 << 20, ' ') << noCase;
    QTest::newRow("bad item") << QByteArray("diastot=730\r\ndiasnat=x\r\n")
                              << QStringLiteral(
                                     "Error en la cabecera del supuesto (diasnat debe ser 0 ó 1): diasnat=x");
  }
  void aTextThatIsNoCaseChangesNothing() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Add("01/01/2010", "31/12/2010", "100");
    Get("EditReferencia")->setText(QStringLiteral("MIO"));
    Write("otro.txt", bytes);
    dialogs_->answers = {false};  // not saved first
    Load(Path("otro.txt"));
    QCOMPARE(dialogs_->messages, QStringList({message}));
    QCOMPARE(Rows(), QStringList({"01/01/2010 31/12/2010 100 365 365"}));
    QCOMPARE(Text("EditReferencia"), QStringLiteral("MIO"));
    QVERIFY(form_->Modificado);
  }

  void promptsToSave_data() {
    QTest::addColumn<QString>("action");  // close, new, load
    QTest::addColumn<QString>("answer");  // no, cancel (Yes, then no file chosen), fail, save
    QTest::addColumn<bool>("goesOn");
    for (const char* action : {"close", "new", "load"}) {
      QTest::addRow("%s, no", action) << action << "no" << true;
      QTest::addRow("%s, save cancelled", action) << action << "cancel" << false;
      QTest::addRow("%s, save fails", action) << action << "fail" << false;
      QTest::addRow("%s, saved", action) << action << "save" << true;
    }
  }
  void promptsToSave() {
    QFETCH(QString, action);
    QFETCH(QString, answer);
    QFETCH(bool, goesOn);
    Add("01/01/2010", "31/12/2010", "100");
    Write("otro.txt", "01/01/2015 31/12/2015 50\r\n");
    QVERIFY(form_->Modificado);
    if (action == QStringLiteral("new")) dialogs_->answers.push_back(true);  // "¿Quiere empezar ...?"
    dialogs_->answers.push_back(answer != QStringLiteral("no"));
    if (answer == QStringLiteral("save")) dialogs_->saveNames = {Path("guardado.txt")};
    if (answer == QStringLiteral("fail")) dialogs_->saveNames = {Path("no/existe/guardado.txt")};
    dialogs_->openNames = {Path("otro.txt")};

    if (action == QStringLiteral("close"))
      form_->close();
    else if (action == QStringLiteral("new"))
      Get<QToolButton>("BotNuevo")->click();
    else
      Get<QToolButton>("BotAbrir")->click();
    Settle();

    const QString question = action == QStringLiteral("close")
                                 ? QStringLiteral("¿Desea guardar el supuesto?")
                                 : QStringLiteral("¿Quiere guardar el supuesto en curso?");
    QVERIFY2(dialogs_->questions.contains(question), qPrintable(dialogs_->questions.join(u'|')));
    if (answer == QStringLiteral("fail")) {
      QCOMPARE(dialogs_->messages.size(), 1);
      QVERIFY(dialogs_->messages[0].startsWith(QStringLiteral("No se ha podido guardar el supuesto en ")));
    } else {
      QCOMPARE(dialogs_->messages, QStringList());
    }
    QCOMPARE(QFile::exists(Path("guardado.txt")), answer == QStringLiteral("save"));
    if (answer == QStringLiteral("save"))
      QCOMPARE(Read(Path("guardado.txt")), QByteArray("01/01/2010 31/12/2010 100\r\n"));
    if (!goesOn) {
      // Nothing lost: the window, its periods and the modified mark stay.
      QVERIFY(form_->isVisible());
      QCOMPARE(Rows(), QStringList({"01/01/2010 31/12/2010 100 365 365"}));
      QVERIFY(form_->Modificado);
      QVERIFY(!dialogs_->questions.contains(QStringLiteral("Cargar supuesto C.G.P.")));
      return;
    }
    if (action == QStringLiteral("close")) QVERIFY(!form_->isVisible());
    if (action == QStringLiteral("new")) QCOMPARE(Rows(), QStringList());
    if (action == QStringLiteral("load")) QCOMPARE(Rows(), QStringList({"01/01/2015 31/12/2015 50 365 182,5"}));
  }

  void cancellingTheOpenDialogKeepsTheCase() {
    Add("01/01/2010", "31/12/2010", "100");
    dialogs_->answers = {false};
    Get<QToolButton>("BotAbrir")->click();
    Settle();
    QCOMPARE(dialogs_->questions, QStringList({"¿Quiere guardar el supuesto en curso?", "Cargar supuesto C.G.P."}));
    QVERIFY(form_->Modificado);
    QCOMPARE(Rows().size(), 1);
  }

  void savingNeedsAPeriod() {
    Get<QToolButton>("BotGuardar")->click();
    Settle();
    QCOMPARE(dialogs_->messages, QStringList({"No hay ningún periodo introducido"}));
    QCOMPARE(dialogs_->questions, QStringList());
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));
  }

  void qualifyingPeriod_data() {
    QTest::addColumn<QString>("coef");  // caption of LCoeficiente
    QTest::addColumn<QString>("tot");   // caption of LTotDiasCoef
    QTest::addColumn<QString>("edit");  // the edit typed into
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("dias");  // Edias, EAnys, EMeses afterwards
    QTest::addColumn<QString>("anys");
    QTest::addColumn<QString>("meses");
    QTest::addColumn<QString>("final");  // LFinal, LFinalAny, LFinalMes
    QTest::addColumn<QString>("finalAny");
    QTest::addColumn<QString>("finalMes");
    QTest::addColumn<QString>("colour");
    QTest::newRow("5475 days at 50") << "50,00"
                                     << "3000"
                                     << "Edias"
                                     << "5475"
                                     << "5475"
                                     << "15"
                                     << "0"
                                     << "2737"
                                     << "7"
                                     << "5"
                                     << "green";
    QTest::newRow("15 years at 64,5") << "64,50"
                                      << "3000"
                                      << "EAnys"
                                      << "15"
                                      << "5475"
                                      << "15"
                                      << "0"
                                      << "3531"
                                      << "9"
                                      << "8"
                                      << "red";
    QTest::newRow("400 days") << ""
                              << ""
                              << "Edias"
                              << "400"
                              << "400"
                              << "1"
                              << "1"
                              << ""
                              << ""
                              << ""
                              << "green";
    QTest::newRow("64,6 % of 500") << "64,60"
                                   << "323"
                                   << "Edias"
                                   << "500"
                                   << "500"
                                   << "1"
                                   << "4"
                                   << "323"
                                   << ""
                                   << "10"
                                   << "green";
    QTest::newRow("6 months") << "100,00"
                              << ""
                              << "EMeses"
                              << "6"
                              << "183"
                              << "0"
                              << "6"
                              << "183"
                              << ""
                              << "6"
                              << "red";
  }
  void qualifyingPeriod() {
    QFETCH(QString, coef);
    QFETCH(QString, tot);
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    Get<QLabel>("LCoeficiente")->setText(coef);
    Get<QLabel>("LTotDiasCoef")->setText(tot);
    Get<QLabel>("LCarencia")->setText(QStringLiteral("Jubilación"));
    Type(edit.toLatin1().constData(), typed);
    QCOMPARE(dialogs_->messages, QStringList());
    QTEST(Text("Edias"), "dias");
    QTEST(Text("EAnys"), "anys");
    QTEST(Text("EMeses"), "meses");
    QTEST(Caption("LFinal"), "final");
    QTEST(Caption("LFinalAny"), "finalAny");
    QTEST(Caption("LFinalMes"), "finalMes");
    QVERIFY(Caption("LCarencia").isEmpty());
    const QColor c = Get<QLabel>("LFinal")->palette().color(QPalette::WindowText);
    QTEST(QString(c == QColor(0, 128, 0) ? "green" : c == QColor(255, 0, 0) ? "red" : "other"), "colour");
  }

  void yearsAndMonthsBothWays() {
    Type("EAnys", QStringLiteral("1"));
    Type("EMeses", QStringLiteral("1"));
    QCOMPARE(Text("Edias"), QStringLiteral("396"));
    Type("EAnys", QStringLiteral("0"));
    QCOMPARE(Text("Edias"), QStringLiteral("31"));
    Type("EMeses", QStringLiteral("0"));
    QVERIFY(Text("Edias").isEmpty());
    QVERIFY(Caption("LFinal").isEmpty());
    QCOMPARE(dialogs_->messages, QStringList());

    Type("EMeses", QStringLiteral("12"));
    QCOMPARE(dialogs_->messages, QStringList({"Núm. meses erróneo"}));
    QCOMPARE(Text("EMeses"), QStringLiteral("0"));
    QCOMPARE(Focused(), Get<QWidget>("EMeses"));

    dialogs_->Reset();
    Type("Edias", QStringLiteral("4x"));
    QCOMPARE(dialogs_->messages, QStringList({"núm. días inválido"}));
    QCOMPARE(Focused(), Get<QWidget>("Edias"));
  }
};

QTEST_MAIN(MenuCaseTest)
#include "MenuCaseTest.moc"
