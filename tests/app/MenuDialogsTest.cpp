// The main window's small dialogs on a real database: the reference list
// of qualifying periods (the shipped rows) handing its choice back, the
// about box, and printing the window (to a PDF file where no printer is
// installed).
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>

#include "Acerca.h"
#include "Menu.h"
#include "diascarencia.h"
#include "qtui/DataGrid.h"
#include "qtui/ScriptedDialogs.h"
#include "support/CalcWindowTest.h"

using tiv::qtui::ScriptedDialogs;

class MenuDialogsTest : public CalcWindowTest {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    Prepare("tivoran-dialogs");
    Start();
  }

  void cleanup() { Finish(); }

  void choosingAReferenceEntryFillsTheQualifyingPeriod() {
    Get<QLabel>("LCoeficiente")->setText(QStringLiteral("50,00"));
    WithDialog<TFormDiasCarencia>([&] { Get<QToolButton>("SpeedButton1")->click(); },
                                  [&](TFormDiasCarencia& dialog, FormDriver& d) {
                                    QCOMPARE(dialog.windowTitle(),
                                             QStringLiteral("Dias carencias específicas y otras"));
                                    auto* grid = d.Get<tiv::qtui::DataGrid>("DBGrid1");
                                    QAbstractItemModel* m = grid->model();
                                    QCOMPARE(m->rowCount(), 12);
                                    QStringList heads;
                                    for (int c = 0; c < m->columnCount(); ++c)
                                      heads << m->headerData(c, Qt::Horizontal).toString();
                                    QCOMPARE(heads, QStringList({"Descripción", "Días", "Años", "Meses"}));
                                    QCOMPARE(grid->columnWidth(0), 152);
                                    // The first row, in id order: 5475 days.
                                    QCOMPARE(m->data(m->index(0, 1)).toString(), QStringLiteral("5475"));
                                    const QRect cell = grid->visualRect(m->index(0, 0));
                                    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
                                    FormDriver::Settle();
                                    QVERIFY(!dialog.isVisible());
                                  });
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(Text("Edias"), QStringLiteral("5475"));
    QCOMPARE(Text("EAnys"), QStringLiteral("15"));
    QCOMPARE(Text("EMeses"), QStringLiteral("0"));
    QCOMPARE(Caption("LCarencia"), QStringLiteral("Jubilación: periodo mínimo (15 años)"));
    QCOMPARE(Caption("LFinal"), QStringLiteral("2737"));

    // Closed without a choice: nothing, and the description goes.
    WithDialog<TFormDiasCarencia>([&] { Get<QToolButton>("SpeedButton1")->click(); },
                                  [&](TFormDiasCarencia&, FormDriver& d) { d.Get<QPushButton>("BitBtn1")->click(); });
    QCOMPARE(Text("Edias"), QStringLiteral("0"));
    QCOMPARE(Text("EAnys"), QStringLiteral("0"));
    QCOMPARE(Text("EMeses"), QStringLiteral("0"));
    QVERIFY(Caption("LCarencia").isEmpty());
  }

  void theAboutBoxShowsTheVersionAndClosesOnAClick() {
    WithDialog<TFormAcercade>([&] { form_->Acercade1Click(); },
                              [&](TFormAcercade& dialog, FormDriver& d) {
                                QCOMPARE(dialog.windowTitle(), QStringLiteral("Acerca de ..."));
                                QCOMPARE(dialog.size(), QSize(337, 176));
                                QCOMPARE(d.Caption("VersionProg"), QStringLiteral("1.00"));
                                QCOMPARE(d.Caption("Fecha"), QStringLiteral("20/05/2018"));
                                QCOMPARE(d.Caption("ProductName"), QStringLiteral("Tivoran"));
                                for (const char* hidden : {"Label2", "DirCorreo", "Sitio"})
                                  QVERIFY2(!d.Get<QLabel>(hidden)->isVisible(), hidden);
                                // The hidden labels' handlers open nothing.
                                dialog.DirCorreoClick();
                                dialog.SitioClick();
                                QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(5, 170));
                                FormDriver::Settle();
                                QVERIFY(!dialog.isVisible());
                              });
  }

  void printingWithoutAPrinterSavesAOnePagePdf() {
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a printer is installed here: it would print");
    Get("EditReferencia")->setText(QStringLiteral("CASO"));
    const QString pdf = QString::fromStdString(dir_->File("pantalla"));
    dialogs_->answers = {true};
    dialogs_->saveNames = {pdf};
    Get<QToolButton>("BoptImprimir")->click();
    Settle();
    QCOMPARE(dialogs_->messages, QStringList());
    QCOMPARE(dialogs_->questions,
             QStringList({"No hay ninguna impresora instalada. ¿Quiere guardar la pantalla en un fichero PDF?",
                          "Guardar la pantalla en PDF"}));
    QFile file(pdf + QStringLiteral(".pdf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QCOMPARE(QString::fromLatin1(bytes).count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), 1);
    QVERIFY2(bytes.contains("/Subtype /Image"), "the page holds the window's image");

    // Declined: nothing is written.
    dialogs_->Reset();
    Get<QToolButton>("BoptImprimir")->click();
    Settle();
    QCOMPARE(dialogs_->questions.size(), 1);
    QCOMPARE(dialogs_->messages, QStringList());

    // A file that cannot be written is said.
    dialogs_->Reset();
    dialogs_->answers = {true};
    dialogs_->saveNames = {QString::fromStdString(dir_->File("no/existe.pdf"))};
    Get<QToolButton>("BoptImprimir")->click();
    Settle();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].startsWith(QStringLiteral("No se ha podido")), qPrintable(dialogs_->messages[0]));
  }
};

QTEST_MAIN(MenuDialogsTest)
#include "MenuDialogsTest.moc"
