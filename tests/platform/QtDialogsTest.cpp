// The wait and password dialogs of the data-access components, on the
// offscreen platform: the wait dialog's delay, its Abort, its background
// mode and the windows it disables; the password typed and OK or Cancel.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qtui/FrmWait.h"
#include "qtui/PassDialog.h"

using tiv::qtui::TABSPassDialog;
using tiv::qtui::TfrmWait;

namespace {

// Runs the event loop for `ms` while an operation "works" in slices, as a
// long copy does in the GUI thread.
void Work(TfrmWait& wait, int ms, int percent) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    wait.Progress(percent);
    QTest::qWait(10);
  }
}

}  // namespace

class QtDialogsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void waitDialogShowsOnlyAfterItsDelay() {
    QWidget main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TfrmWait wait(&main);
    QCOMPARE(wait.windowTitle(), QStringLiteral("Please Wait..."));
    wait.Start(QStringLiteral("Copy Table..."));
    Work(wait, 300, 10);
    QVERIFY(!wait.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    Work(wait, 400, 10);
    QVERIFY(wait.isVisible());
    QCOMPARE(QApplication::activeModalWidget(), &wait);  // the other windows wait too
    QVERIFY(!wait.AbortRequested());
    wait.AbortButton()->click();
    QVERIFY(wait.AbortRequested());
    wait.Finish();
    QVERIFY(!wait.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    // An operation past half-way at the delay, or finished, never shows it.
    wait.Start(QStringLiteral("Copy Table..."));
    Work(wait, 700, 60);
    QVERIFY(!wait.isVisible());
    wait.Finish();
    wait.Start(QStringLiteral("Copy Table..."));
    wait.Finish();
    QTest::qWait(700);
    QVERIFY(!wait.isVisible());
  }

  void backgroundModeHidesUntilTheApplicationIsRestored() {
    QWidget main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TfrmWait wait(&main);
    wait.Start(QStringLiteral("Repairing Database..."));
    Work(wait, 650, 0);
    QVERIFY(wait.isVisible());
    wait.BackgroundButton()->click();
    QVERIFY(!wait.isVisible());
    QVERIFY(main.windowState() & Qt::WindowMinimized);
    main.showNormal();
    Work(wait, 50, 5);
    QVERIFY(wait.isVisible());
    wait.Finish();
  }

  void passwordDialogGivesWhatWasTypedOnOk() {
    for (const bool ok : {true, false}) {
      QTimer::singleShot(0, [ok] {
        auto* dialog = qobject_cast<TABSPassDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Database authentication"));
        QCOMPARE(dialog->PasswordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(dialog->PasswordEdit()->text().isEmpty());
        QTest::keyClicks(dialog->PasswordEdit(), QStringLiteral("clave"));
        dialog->findChild<QPushButton*>(ok ? QStringLiteral("OKButton") : QStringLiteral("CancelButton"))->click();
      });
      QString password = QStringLiteral("before");
      QCOMPARE(TABSPassDialog::Ask(QStringLiteral("Database: app"), password), ok);
      QCOMPARE(password, ok ? QStringLiteral("clave") : QStringLiteral("before"));
    }
  }
};

QTEST_MAIN(QtDialogsTest)
#include "QtDialogsTest.moc"
