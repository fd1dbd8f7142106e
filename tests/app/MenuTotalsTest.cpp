// The totals and the global coefficient over generated periods put into
// the in-memory table directly: sums truncated as shown, the comparison
// with the report's total days both ways, the single-period case, and the
// sums exact in hundredths.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "Menu.h"
#include "access/ZUDMain.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuTotalsTest : public CalcWindowTest {
  Q_OBJECT

 private:
  // Generated periods: "dias diascoef diascotizados porcentaje" each.
  void Generated(const QStringList& rows) {
    TABSTable t;
    t.SetDatabaseName("MEMORY");
    t.SetTableName("periodos");
    t.Open();
    for (const QString& row : rows) {
      const QStringList v = row.split(u' ');
      t.Append();
      t.FieldByName("dias").SetAsInteger(v[0].toLongLong());
      t.FieldByName("diascoef").SetAsFloat(v[1].toDouble());
      t.FieldByName("diascotizados").SetAsFloat(v[2].toDouble());
      t.FieldByName("porcentaje").SetAsFloat(v[3].toDouble());
      t.Post();
    }
  }

 private Q_SLOTS:
  void init() {
    Prepare("tivoran-totals");
    Start();
  }

  void cleanup() { Finish(); }

  void totals_data() {
    QTest::addColumn<QStringList>("generated");
    QTest::addColumn<QString>("diasTot");
    QTest::addColumn<int>("item");
    QTest::addColumn<bool>("ckTotDias");
    // LNumLin LTotDiasNat LTotDiasCoef LTotDiasCotizados | L100 | LFaltan | LCoeficiente LPorcent
    QTest::addColumn<QString>("totals");
    QTest::addColumn<QString>("l100");
    QTest::addColumn<QString>("faltan");
    QTest::addColumn<QString>("coef");
    const QStringList two = {"90 45 67.5 50", "275 275 275 100"};
    QTest::newRow("two periods") << two << "" << 1 << false << "2 365 320 342"
                                 << ""
                                 << ""
                                 << "87,67 %";
    QTest::newRow("730 natural days, the rest at 100") << two << "730" << 0 << true << "2 365 320 342"
                                                       << "Días al 100% "
                                                       << "365"
                                                       << "93,84 %";
    QTest::newRow("300 natural days: fewer than counted") << two << "300" << 0 << true << "2 365 320 342"
                                                          << "Error: Días totales inf. 65 suma cotizaciones"
                                                          << ""
                                                          << "87,67 %";
    QTest::newRow("400 natural days, not added") << two << "400" << 0 << false << "2 365 320 342"
                                                 << "Faltan: "
                                                 << "35"
                                                 << "87,67 %";
    QTest::newRow("400 weighted days, not added") << two << "400" << 1 << false << "2 365 320 342"
                                                  << "Faltan: "
                                                  << "80"
                                                  << "87,67 %";
    QTest::newRow("equal totals are no error") << two << "365" << 0 << true << "2 365 320 342"
                                               << "Días al 100% "
                                               << "0"
                                               << "87,67 %";
    QTest::newRow("one period shows its percentage")
        << QStringList({"10 6.45 9 64.5"}) << "" << 1 << false << "1 10 6 9"
        << ""
        << ""
        << "64,50 %";
    QTest::newRow("one period with days added")
        << QStringList({"365 182.5 273 50"}) << "730" << 0 << true << "1 365 182 273"
        << "Días al 100% "
        << "365"
        << "74,93 %";
    QTest::newRow("320,99 weighted days show 320")
        << QStringList({"200 160.5 200 80.25", "165 160.49 165 97.27"}) << "" << 1 << false << "2 365 320 365"
        << ""
        << ""
        << "87,67 %";
    QTest::newRow("hundredths summed exactly")
        << QStringList({"50 29.97 44 59.94", "40 4.02 6 10.05", "20 2.01 3 10.05"}) << "" << 1 << false << "3 110 36 53"
        << ""
        << ""
        << "32,73 %";
    QTest::newRow("no generated period") << QStringList() << "" << 1 << false << "0 0 0 0"
                                         << ""
                                         << ""
                                         << " ";
  }
  void totals() {
    QFETCH(QStringList, generated);
    QFETCH(QString, diasTot);
    QFETCH(int, item);
    QFETCH(bool, ckTotDias);
    Generated(generated);
    Get("EDiasTot")->setText(diasTot);
    Get<QRadioButton>(item == 0 ? "CKDiasNat0" : "CKDiasNat1")->setChecked(true);
    Get<QCheckBox>("CKTotDias")->setChecked(ckTotDias);
    dialogs_->Reset();
    Get<QToolButton>("BotCalcularTotales")->click();
    QCOMPARE(dialogs_->messages, QStringList());
    QTEST(
        QStringList({Caption("LNumLin"), Caption("LTotDiasNat"), Caption("LTotDiasCoef"), Caption("LTotDiasCotizados")})
            .join(u' '),
        "totals");
    QTEST(Caption("L100"), "l100");
    QTEST(Caption("LFaltan"), "faltan");
    QTEST(Caption("LCoeficiente") + u' ' + Caption("LPorcent"), "coef");
  }

  void totalDaysField() {
    QLineEdit* tot = Get("EDiasTot");
    QCheckBox* ck = Get<QCheckBox>("CKTotDias");
    Focus(tot);
    QTest::keyClicks(tot, QStringLiteral("730"));
    QVERIFY(ck->isVisible());
    QVERIFY(Get<QWidget>("CKDiasNat")->isVisible());
    ck->setChecked(true);
    QCOMPARE(dialogs_->messages, QStringList());

    tot->setText(QStringLiteral("0"));
    QVERIFY(!ck->isVisible());
    QVERIFY(!Get<QWidget>("CKDiasNat")->isVisible());

    // Emptied, the total takes the 100 % option with it.
    tot->clear();
    QVERIFY(!ck->isChecked());
    QVERIFY(Caption("L100").isEmpty());
    QCOMPARE(dialogs_->messages, QStringList());

    tot->setText(QStringLiteral("7x"));
    QCOMPARE(dialogs_->messages, QStringList({"Núm de días erróneo"}));
    QCOMPARE(tot->text(), QStringLiteral("0"));
    QCOMPARE(Focused(), static_cast<QWidget*>(tot));
  }

  void addingAtHundredNeedsATotal() {
    Get("EDiasTot")->setText(QStringLiteral("730"));
    Get("EDiasTot")->blockSignals(true);
    Get("EDiasTot")->setText(QStringLiteral("x"));
    Get("EDiasTot")->blockSignals(false);
    Get<QLabel>("LNumLin")->clear();
    Get<QCheckBox>("CKTotDias")->setChecked(true);
    QCOMPARE(dialogs_->messages, QStringList({"Introduzca el total de dias cotizados"}));
    QCOMPARE(Focused(), Get<QWidget>("EDiasTot"));
    QVERIFY(Caption("LNumLin").isEmpty());  // nothing recalculated
  }
};

QTEST_MAIN(MenuTotalsTest)
#include "MenuTotalsTest.moc"
