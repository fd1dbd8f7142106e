// The C.G.P. end to end through the main window: periods typed into the
// entry line, the generated periods of the right-hand grid and the totals,
// for the worked examples and the edge cases of generation; and the
// cleanup when generation fails.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "Menu.h"
#include "access/ZUDMain.h"
#include "core/ZUDMemory.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuGenerationTest : public CalcWindowTest {
  Q_OBJECT

 private:
  // "desde hasta porcentaje dias diascoef diascotizados" per generated row.
  QStringList Generated() const { return GridRows("DBGrid2", 1); }
  void Add(const QString& period) {
    const QStringList f = period.split(u' ');
    CalcWindowTest::Add(f[0], f[1], f[2]);
  }

 private Q_SLOTS:
  void init() {
    Prepare("tivoran-generation");
    Start();
  }

  void cleanup() { Finish(); }

  void generation_data() {
    QTest::addColumn<QStringList>("entered");
    QTest::addColumn<QStringList>("generated");
    QTest::addColumn<QString>("totals");  // LTotDiasNat LTotDiasCoef LTotDiasCotizados LCoeficiente
    QTest::newRow("worked example, typed out of order")
        << QStringList({"01/01/2012 31/01/2012 100", "01/04/2010 31/12/2010 30", "01/01/2010 30/06/2010 50"})
        << QStringList({"01/01/2010 31/03/2010 50 90 45 67,5", "01/04/2010 30/06/2010 80 91 72,8 91",
                        "01/07/2010 31/12/2010 30 184 55,2 82,5", "01/01/2012 31/01/2012 100 31 31 31"})
        << "396 204 272 51,52";
    QTest::newRow("one day") << QStringList({"05/03/2010 05/03/2010 40"})
                             << QStringList({"05/03/2010 05/03/2010 40 1 0,4 0"}) << "1 0 0 40,00";
    QTest::newRow("overlap capped at 100")
        << QStringList({"01/01/2010 31/12/2010 60", "01/01/2010 31/12/2010 70"})
        << QStringList({"01/01/2010 31/12/2010 100 365 365 365"}) << "365 365 365 100,00";
    QTest::newRow("same end") << QStringList({"01/01/2010 31/12/2010 50", "01/07/2010 31/12/2010 25"})
                              << QStringList(
                                     {"01/01/2010 30/06/2010 50 181 90,5 135", "01/07/2010 31/12/2010 75 184 138 184"})
                              << "365 228 319 62,47";
    QTest::newRow("adjacent, same percentage")
        << QStringList({"01/01/2010 31/03/2010 50", "01/04/2010 30/06/2010 50"})
        << QStringList({"01/01/2010 31/03/2010 50 90 45 67,5", "01/04/2010 30/06/2010 50 91 45,5 67,5"})
        << "181 90 135 49,72";
    QTest::newRow("a day inside a period")
        << QStringList({"01/01/2010 31/01/2010 50", "10/01/2010 10/01/2010 50"})
        << QStringList({"01/01/2010 09/01/2010 50 9 4,5 6", "10/01/2010 10/01/2010 100 1 1 1",
                        "11/01/2010 31/01/2010 50 21 10,5 15"})
        << "31 16 22 51,61";
  }
  void generation() {
    QFETCH(QStringList, entered);
    for (const QString& p : entered) Add(p);
    QCOMPARE(dialogs_->messages, QStringList());
    QTEST(Generated(), "generated");
    QTEST(QStringList(
              {Caption("LTotDiasNat"), Caption("LTotDiasCoef"), Caption("LTotDiasCotizados"), Caption("LCoeficiente")})
              .join(u' '),
          "totals");
    QCOMPARE(Caption("LNumLin"), QString::number(Generated().size()));
    QVERIFY(!Get<QWidget>("Panel5")->isVisible());
  }

  void calcularRecalculatesWhenAutomaticIsOff() {
    Get<QCheckBox>("CKAutomatico")->setChecked(false);
    Add("01/01/2010 31/12/2010 50");
    QCOMPARE(Generated(), QStringList());
    QVERIFY(Caption("LCoeficiente").isEmpty());
    Get<QToolButton>("BotCalcular")->click();
    Settle();
    QCOMPARE(Generated(), QStringList({"01/01/2010 31/12/2010 50 365 182,5 273"}));
    QCOMPARE(Caption("LCoeficiente"), QStringLiteral("50,00"));
    // The report's days, the rest at 100 %.
    Get("EDiasTot")->setText(QStringLiteral("730"));
    Get<QRadioButton>("CKDiasNat0")->setChecked(true);
    Get<QCheckBox>("CKTotDias")->setChecked(true);
    QCOMPARE(Caption("LCoeficiente"), QStringLiteral("74,93"));
    QCOMPARE(dialogs_->messages, QStringList());
  }

  void aFailedGenerationRestoresTheScreen() {
    Add("01/01/2010 31/12/2010 50");
    QCOMPARE(Generated().size(), 1);
    // The engine out of memory: generation fails at its first allocation.
    MemoryManager().SetLimit(MemoryManager().AllocatedBytes() + 1);
    Get<QToolButton>("BotCalcularPeriodos")->click();
    MemoryManager().SetLimit(0);
    Settle();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].contains(QStringLiteral("30004")), qPrintable(dialogs_->messages[0]));
    QVERIFY(!Get<QWidget>("Panel5")->isVisible());
    // The grids follow their tables again, and the next generation works.
    dialogs_->Reset();
    Add("01/01/2011 31/12/2011 100");
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Get<QTableView>("DBGrid1")->model()->rowCount(), 2);
    QCOMPARE(Generated(),
             QStringList({"01/01/2010 31/12/2010 50 365 182,5 273", "01/01/2011 31/12/2011 100 365 365 365"}));
  }

  void noEnteredPeriodIsHarmless() {
    Get<QCheckBox>("CKAutomatico")->setChecked(false);
    Get<QCheckBox>("CKAutomatico")->setChecked(true);
    Get<QToolButton>("BotCalcularPeriodos")->click();
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Generated(), QStringList());
    QCOMPARE(Caption("LNumLin"), QStringLiteral("0"));
    QVERIFY(Caption("LCoeficiente").isEmpty());
  }
};

QTEST_MAIN(MenuGenerationTest)
#include "MenuGenerationTest.moc"
