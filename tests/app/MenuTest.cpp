// The main window driven as a user drives it: keys into the entry line,
// focus moves, and the messages the application's handler shows (answered
// by a scripted dialog service).
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "Menu.h"
#include "qtui/Application.h"
#include "qtui/FocusChain.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuTest : public CalcWindowTest {
  Q_OBJECT

 private:
 private Q_SLOTS:
  void init() {
    Prepare("tivoran-menu");
    Start();
  }

  void cleanup() { Finish(); }

  void windowAfterShow() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Tivoran                   v. 1.00  20/05/2018"));
    QCOMPARE(form_->size(), QSize(982, 637));
    QCOMPARE(Get<QWidget>("Panel1")->height(), 181);
    QCOMPARE(Get<QWidget>("Panel2")->width(), 449);
    QCOMPARE(Get<QWidget>("Panel3")->height(), 41);
    QCOMPARE(Focused(), Get<QWidget>("F1ini"));
    QVERIFY(!form_->Cargando);
    QVERIFY(!form_->Editando);

    QCOMPARE(Text("F1ini"), QStringLiteral("  /  /    "));
    QCOMPARE(Text("F1fin"), QStringLiteral("  /  /    "));
    QCOMPARE(Text("Coef1"), QStringLiteral("100"));
    QCOMPARE(Get("Coef1")->maxLength(), 5);
    QCOMPARE(Get("F1ini")->maxLength(), 10);
    for (const char* e : {"Edias", "EAnys", "EMeses"}) QCOMPARE(Text(e), QStringLiteral("0"));
    for (const char* l : {"diasnat", "diascoef", "LCoeficiente", "LTotDiasNat", "LFinal", "L100", "LPorcent"})
      QVERIFY2(Caption(l).isEmpty(), l);

    struct Shown {
      const char* name;
      const char* text;
      bool visible;
    } shown[] = {
        {"LCGP", "C.G.P.", true},
        {"Label11", "Dias / Días coef.", true},
        {"Label19", "con   'Total días'    (indicando si el total es de días naturales o con los días con coeficiente)",
         true},
        {"Label7", "Días Cotiz.", true},
        {"Label4", "Carencia resultante:", true},
        {"LEditar", "(Editar doble-click)", false},
        {"Panel5", "Generando periodos . . .", false},
        {"LId", "", false},
        {"LNumLin", "", false},
    };
    for (const Shown& s : shown) {
      QCOMPARE(Caption(s.name), QString::fromUtf8(s.text));
      QCOMPARE(Get<QWidget>(s.name)->isVisible(), s.visible);
    }
    struct Hint {
      const char* name;
      const char* hint;
    } hints[] = {
        {"BotNuevo", "Nuevo cálculo"},           {"Coef1", "P.ej. Puede introducir  64,5 ó  645 para 64,50%"},
        {"BotSuma", "Añade periodo a la lista"}, {"EDiasTot", "Días totales del informe"},
        {"SpeedButton1", "Carencias comunes"},   {"BoptImprimir", "Imprimir pantalla"},
    };
    for (const Hint& h : hints) QCOMPARE(Get<QWidget>(h.name)->toolTip(), QString::fromUtf8(h.hint));

    QCOMPARE(Get<QGroupBox>("GroupBox1")->title(), QStringLiteral("Período cotizado"));
    QCOMPARE(Get<QGroupBox>("GroupBox2")->title(), QStringLiteral("Proporcionalidad carencia: "));
    QCOMPARE(Get<QCheckBox>("CKAutomatico")->text(), QStringLiteral("Cálculo automático"));
    QVERIFY(Get<QCheckBox>("CKBorVacios")->isChecked());
    for (const char* hidden : {"BotOK", "CKDiasNat", "CKTotDias", "BotCalcularPeriodos", "BotCalcularTotales", "Memo1"})
      QVERIFY2(!Get<QWidget>(hidden)->isVisible(), hidden);
    QVERIFY(!Get<QWidget>("BotBorrar")->isEnabled());
    QCOMPARE(Get<QToolButton>("BotBorrarTodo")->text(), QStringLiteral("Borrar &todos los periodos"));

    auto headers = [](QTableView* grid) {
      QStringList h;
      for (int c = 0; c < grid->model()->columnCount(); ++c)
        h << grid->model()->headerData(c, Qt::Horizontal).toString();
      return h;
    };
    QCOMPARE(headers(Get<QTableView>("DBGrid1")), QStringList({"id", "desde", "hasta", "coef", "dias", "diascoef"}));
    QCOMPARE(headers(Get<QTableView>("DBGrid2")),
             QStringList({"id", "desde", "hasta", "porcentaje", "dias", "diascoef", "diascotizados"}));
    QCOMPARE(Get<QTableView>("DBGrid1")->model()->rowCount(), 0);
    QCOMPARE(Get<QTableView>("DBGrid1")->editTriggers(), QAbstractItemView::NoEditTriggers);

    QStringList menu;
    for (QAction* a : Get<QMenu>("PopupMenu1")->actions()) menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(menu, QStringList({QStringLiteral("&Configuración"), "&Salir", "-", "Acerca de..."}));
  }

  void tabOrder() {
    QStringList chain;
    QWidget* w = Get<QWidget>("EditReferencia");
    chain << w->objectName();
    for (int i = 0; i < 20; ++i) {
      w = tiv::qtui::NextInTabOrder(w);
      if (!w || w->objectName() == QStringLiteral("EditReferencia")) break;
      chain << w->objectName();
    }
    QCOMPARE(chain, QStringList({"EditReferencia", "F1ini", "F1fin", "Coef1", "BotSuma", "BotCancelar", "EDiasTot",
                                 "Edias", "EAnys", "EMeses", "CKAutomatico", "DBGrid1", "DBGrid2"}));
  }

  void periodTypedIntoTheEntryLine() {
    TypeAndLeave("F1ini", QStringLiteral("01/01/2010"));
    TypeAndLeave("F1fin", QStringLiteral("31/12/2010"));
    QCOMPARE(Caption("diasnat"), QStringLiteral("365"));
    QCOMPARE(Focused(), Get<QWidget>("Coef1"));
    Settle();
    QCOMPARE(Get("Coef1")->selectedText(), QStringLiteral("100"));
    QTest::keyClicks(Get("Coef1"), QStringLiteral("64.5"));
    QCOMPARE(Text("Coef1"), QStringLiteral("64,5"));
    QCOMPARE(Caption("diascoef"), QStringLiteral("235,43"));
    QTest::keyClick(Get("Coef1"), Qt::Key_Tab);
    Settle();
    QCOMPARE(Text("Coef1"), QStringLiteral("64,5"));
    QCOMPARE(Caption("diascoef"), QStringLiteral("235,43"));
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void oneDigitDayAndMonthAreRewritten() {
    QLineEdit* f1ini = Get("F1ini");
    Focus(f1ini);
    f1ini->setText(QStringLiteral("1 /2 /2010"));
    QTest::keyClick(f1ini, Qt::Key_Tab);
    Settle();
    QCOMPARE(Text("F1ini"), QStringLiteral("01/02/2010"));
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void coefficientEntry_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("diascoef");
    const QString none;
    const QString range = QStringLiteral("Sólo admite de 1 a 100");
    QTest::newRow("645 is 64,5") << "645"
                                 << "64,5" << none << "235,43";
    QTest::newRow("6450 is 64,5") << "6450"
                                  << "64,5" << none << "235,43";
    QTest::newRow("999 is 99,9") << "999"
                                 << "99,9" << none << "364,64";
    // 0,5 % of 365 days is 1.8249999... as a double; rounding works on 18
    // significant digits.
    QTest::newRow("0,5 accepted") << "0,5"
                                  << "0,5" << none << "1,83";
    QTest::newRow("100 accepted") << "100"
                                  << "100" << none << "365";
    QTest::newRow("1000 refused") << "1000"
                                  << "100" << range << "365";
    QTest::newRow("0 refused") << "0"
                               << "100" << range << "365";
    QTest::newRow("negative refused") << "-5"
                                      << "100" << range << "365";
    QTest::newRow("above 9999 refused") << "99999"
                                        << "100" << range << "365";
    QTest::newRow("letters") << "abc"
                             << "100" << QStringLiteral("Coeficiente inválido") << "365";
    QTest::newRow("empty") << ""
                           << "100" << QStringLiteral("Coeficiente inválido") << "365";
  }

  void coefficientEntry() {
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, diascoef);
    TypeAndLeave("F1ini", QStringLiteral("01/01/2010"));
    TypeAndLeave("F1fin", QStringLiteral("31/12/2010"));
    QLineEdit* coef = Get("Coef1");
    QCOMPARE(Focused(), coef);
    Settle();
    if (typed.isEmpty())
      QTest::keyClick(coef, Qt::Key_Delete);
    else
      QTest::keyClicks(coef, typed);
    QTest::keyClick(coef, Qt::Key_Tab);
    Settle();
    QCOMPARE(Text("Coef1"), text);
    QCOMPARE(dialogs_->messages, message.isEmpty() ? QStringList() : QStringList({message}));
    // A refused percentage keeps the focus in the field.
    QCOMPARE(Focused() == coef, !message.isEmpty());
    QCOMPARE(Caption("diascoef"), diascoef);
  }

  void coefficientWithoutDaysChangesNothingElse() {
    form_->findChild<QLineEdit*>(QStringLiteral("Coef1"))->setText(QStringLiteral("645"));
    form_->Coef1Exit();
    QCOMPARE(Text("Coef1"), QStringLiteral("64,5"));
    QVERIFY(Caption("diascoef").isEmpty());
    QVERIFY(Caption("diasnat").isEmpty());
  }

  void startDateChecks_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("refused");
    QTest::newRow("31 February") << "31022010"
                                 << "31/02/2010" << true;
    QTest::newRow("year 1899") << "01011899"
                               << "01/01/1899" << true;
    QTest::newRow("year 2101") << "01012101"
                               << "01/01/2101" << true;
    QTest::newRow("day missing") << "  012010"
                                 << "  /01/2010" << true;
    QTest::newRow("first day of 1900") << "01011900"
                                       << "01/01/1900" << false;
    QTest::newRow("last day of 2100") << "31122100"
                                      << "31/12/2100" << false;
    QTest::newRow("29 February of a leap year") << "29022012"
                                                << "29/02/2012" << false;
  }

  void startDateChecks() {
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(bool, refused);
    // With an end date in place, a refused start date is the only message:
    // the end date field the focus passed through is not checked.
    Get("F1fin")->setText(QStringLiteral("31/12/2010"));
    QLineEdit* f1ini = Get("F1ini");
    Focus(f1ini);
    // Blank positions cannot be typed; such a text is set as it stands.
    if (typed.contains(u' '))
      f1ini->setText(text);
    else
      QTest::keyClicks(f1ini, typed);
    QCOMPARE(f1ini->text(), text);
    QTest::keyClick(f1ini, Qt::Key_Tab);
    Settle();
    QCOMPARE(dialogs_->messages, refused ? QStringList({"Fecha inicial incorrecta"}) : QStringList());
    QCOMPARE(Focused(), refused ? Get<QWidget>("F1ini") : Get<QWidget>("F1fin"));
    QCOMPARE(f1ini->text(), text);
  }

  void endDateChecks_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("not a date") << "01/01/2010"
                                << "31/04/2010"
                                << "Fecha hasta incorrecta"
                                << "F1fin";
    QTest::newRow("year out of range") << "01/01/2010"
                                       << "01/01/2101"
                                       << "Fecha final incorrecta"
                                       << "F1fin";
    QTest::newRow("start after end") << "02/01/2010"
                                     << "01/01/2010"
                                     << "Fecha inicial mayor que la final"
                                     << "F1ini";
    QTest::newRow("start missing") << ""
                                   << "01/01/2010"
                                   << "'  /  /    ' no es una fecha válida"
                                   << "Coef1";
    QTest::newRow("same day") << "05/03/2010"
                              << "05/03/2010"
                              << ""
                              << "Coef1";
  }

  void endDateChecks() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    if (!start.isEmpty()) TypeAndLeave("F1ini", start);
    TypeAndLeave("F1fin", end);
    QCOMPARE(dialogs_->messages, message.isEmpty() ? QStringList() : QStringList({message}));
    QCOMPARE(Focused(), Get<QWidget>(focus.toLatin1().constData()));
    // A refused period shows no days: the rest of the handler was skipped.
    QCOMPARE(Caption("diasnat"), message.isEmpty() ? QStringLiteral("1") : QString());
  }

  void leavingAnEmptyDateFieldDoesNothing() {
    Focus(Get("F1ini"));
    QTest::keyClick(Get("F1ini"), Qt::Key_Tab);
    Settle();
    QTest::keyClick(Get("F1fin"), Qt::Key_Tab);
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Focused(), Get<QWidget>("Coef1"));
    QVERIFY(Caption("diasnat").isEmpty());
  }

  void enterKeys_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("next");
    QTest::newRow("empty F1ini keeps the focus") << "F1ini"
                                                 << ""
                                                 << "F1ini";
    QTest::newRow("filled F1ini moves") << "F1ini"
                                        << "01/01/2010"
                                        << "F1fin";
    QTest::newRow("empty F1fin keeps the focus") << "F1fin"
                                                 << ""
                                                 << "F1fin";
    QTest::newRow("Coef1 moves to +") << "Coef1"
                                      << ""
                                      << "BotSuma";
    QTest::newRow("EDiasTot") << "EDiasTot"
                              << ""
                              << "Edias";
    QTest::newRow("Edias") << "Edias"
                           << ""
                           << "EAnys";
    QTest::newRow("EAnys") << "EAnys"
                           << ""
                           << "EMeses";
    QTest::newRow("EMeses") << "EMeses"
                            << ""
                            << "CKAutomatico";
  }

  void enterKeys() {
    QFETCH(QString, control);
    QFETCH(QString, preset);
    QFETCH(QString, next);
    QLineEdit* e = Get(control.toLatin1().constData());
    if (!preset.isEmpty()) e->setText(preset);
    Focus(e);
    QTest::keyClick(e, Qt::Key_Return);
    Settle();
    QCOMPARE(Focused()->objectName(), next);
  }

  void typedCharactersAreFiltered() {
    QLineEdit* tot = Get("EDiasTot");
    Focus(tot);
    QTest::keyClicks(tot, QStringLiteral("1.2,3"));
    QCOMPARE(tot->text(), QStringLiteral("123"));

    QLineEdit* anys = Get("EAnys");
    Focus(anys);
    QTest::keyClicks(anys, QStringLiteral("15"));
    QCOMPARE(anys->text(), QStringLiteral("15"));
    QTest::keyClick(anys, '.');
    Settle();
    QCOMPARE(anys->text(), QStringLiteral("15"));
    QCOMPARE(Focused(), Get<QWidget>("EMeses"));

    QLineEdit* f1ini = Get("F1ini");
    Focus(f1ini);
    QTest::keyClicks(f1ini, QStringLiteral("0a1.0-1x2010"));
    QCOMPARE(f1ini->text(), QStringLiteral("01/01/2010"));
  }

  void enteringAnEditSelectsItsText() {
    for (const char* name : {"Coef1", "Edias", "EAnys", "EMeses", "EDiasTot"}) {
      QLineEdit* e = Get(name);
      {
        // Only the selection is looked at here, not the conversions.
        const QSignalBlocker quiet(e);
        e->setText(QStringLiteral("12"));
      }
      Focus(e);
      QCOMPARE(e->selectedText(), QStringLiteral("12"));
    }
    // A click into the qualifying-period and total-days edits selects too.
    for (const char* name : {"Edias", "EDiasTot"}) {
      QLineEdit* e = Get(name);
      e->deselect();
      QTest::mouseClick(e, Qt::LeftButton, {}, QPoint(4, 4));
      Settle();
      QCOMPARE(e->selectedText(), QStringLiteral("12"));
    }
  }

  void automaticCalculationSwitch() {
    // Over no entered period the calculation gives 0 generated periods and
    // 0 days; switched off, the results are empty.
    QCheckBox* automatico = Get<QCheckBox>("CKAutomatico");

    form_->Cargando = true;
    automatico->setChecked(false);
    automatico->setChecked(true);
    QVERIFY(Caption("LNumLin").isEmpty());

    form_->Cargando = false;
    automatico->setChecked(false);
    Get<QLabel>("LTotDiasNat")->setText(QStringLiteral("365"));
    Get<QLabel>("LCoeficiente")->setText(QStringLiteral("64,50"));
    Get("EAnys")->setText(QStringLiteral("15"));
    QTest::mouseClick(automatico, Qt::LeftButton);
    QVERIFY(automatico->isChecked());
    QCOMPARE(Caption("LNumLin"), QStringLiteral("0"));
    QCOMPARE(Caption("LTotDiasNat"), QStringLiteral("0"));
    QVERIFY(Caption("LCoeficiente").isEmpty());

    QTest::mouseClick(automatico, Qt::LeftButton);
    QVERIFY(!automatico->isChecked());
    QVERIFY(Caption("LTotDiasNat").isEmpty());
    QVERIFY(Caption("LNumLin").isEmpty());
    QCOMPARE(Text("EAnys"), QStringLiteral("0"));
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void popupMenuAndSalir() {
    QMenu* menu = Get<QMenu>("PopupMenu1");
    QTest::mouseClick(Get<QToolButton>("BotMenu"), Qt::LeftButton);
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    QAction* salir = menu->findChild<QAction*>(QStringLiteral("Salir1"));
    if (!salir)
      for (QAction* a : menu->actions())
        if (a->objectName() == QStringLiteral("Salir1")) salir = a;
    QVERIFY(salir);
    salir->trigger();
    Settle();
    QVERIFY(!form_->isVisible());
  }

  void periodArithmeticOfTheWindow() {
    // The window passes its rounding mode and day numbers through.
    QCOMPARE(form_->CalcularDias(0, 364, 64.5), 235.43);
    QCOMPARE(form_->CalcularDiasEfectivos(365, 235.43), 352.5);
    QCOMPARE(form_->CalcularDiasAAMM(1, 6), 548.0);
  }
};

int main(int argc, char** argv) {
  tiv::qtui::TivoranApplication app(argc, argv);
  MenuTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "MenuTest.moc"
