// The Qt services under the windows: the masked date edit, the focus move
// and the application-wide handler for exceptions escaping an event.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <stdexcept>

#include "dataset/DatabaseError.h"
#include "qtui/Application.h"
#include "qtui/ExceptionHandler.h"
#include "qtui/FocusChain.h"
#include "qtui/MaskedDateEdit.h"
#include "qtui/ScriptedDialogs.h"

using tiv::qtui::MaskedDateEdit;
using tiv::qtui::ScriptedDialogs;

namespace {

// An edit whose key handler throws for "!" and then would have typed it.
class ThrowingEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  int handled = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->text() == QStringLiteral("!")) throw std::runtime_error("Importe err\xf3neo");
    QLineEdit::keyPressEvent(event);
    ++handled;
  }
};

void Settle() {
  for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

}  // namespace

class QtuiTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void maskedEditTyping_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << ""
                             << "  /  /    ";
    QTest::newRow("digits fill the mask") << "01012010"
                                          << "01/01/2010";
    QTest::newRow("separators typed are skipped") << "01/01/2010"
                                                  << "01/01/2010";
    QTest::newRow("letters refused") << "a0b1-0.1 2x010"
                                     << "01/01/2010";
    QTest::newRow("partial") << "311"
                             << "31/1 /    ";
    QTest::newRow("extra digits dropped") << "0101201099"
                                          << "01/01/2010";
  }

  void maskedEditTyping() {
    QFETCH(QString, keys);
    QFETCH(QString, text);
    MaskedDateEdit edit;
    edit.show();
    QApplication::setActiveWindow(&edit);
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    QVERIFY(edit.IsEmpty());
    QTest::keyClicks(&edit, keys);
    QCOMPARE(edit.text(), text);
  }

  void maskedEditErasing() {
    MaskedDateEdit edit;
    edit.setText(QStringLiteral("01/01/2010"));
    edit.setCursorPosition(3);
    QTest::keyClick(&edit, Qt::Key_Backspace);  // steps back over the "/" and blanks the day's second digit
    QCOMPARE(edit.text(), QStringLiteral("0 /01/2010"));
    QCOMPARE(edit.cursorPosition(), 1);
    QTest::keyClick(&edit, Qt::Key_Delete);
    QCOMPARE(edit.text(), QStringLiteral("0 /01/2010"));
    edit.setCursorPosition(5);
    QTest::keyClick(&edit, Qt::Key_Delete);  // skips the "/" and blanks the year's first digit
    QCOMPARE(edit.text(), QStringLiteral("0 /01/ 010"));
    edit.setSelection(0, 10);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QVERIFY(edit.IsEmpty());
    edit.setSelection(3, 4);
    QTest::keyClick(&edit, '7');
    QCOMPARE(edit.text(), QStringLiteral("  /7 /    "));
  }

  void maskedEditFitsAssignedText_data() {
    QTest::addColumn<QString>("assigned");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << ""
                           << "  /  /    ";
    QTest::newRow("well formed") << "05/03/2010"
                                 << "05/03/2010";
    QTest::newRow("short parts") << "1/2/2010"
                                 << "1 /2 /2010";
    QTest::newRow("other separators") << "31-12-2010"
                                      << "31/12/2010";
    QTest::newRow("too long") << "01/01/201012"
                              << "01/01/2010";
    QTest::newRow("letters") << "ab/cd/efgh"
                             << "  /  /    ";
  }

  void maskedEditFitsAssignedText() {
    QFETCH(QString, assigned);
    QFETCH(QString, text);
    MaskedDateEdit edit;
    edit.setText(assigned);
    QCOMPARE(edit.text(), text);
  }

  void maskedEditPaste() {
    MaskedDateEdit edit;
    edit.show();
    QApplication::setActiveWindow(&edit);
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    QApplication::clipboard()->setText(QStringLiteral("31.12.2010"));
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit.text(), QStringLiteral("31/12/2010"));
  }

  void focusMovesAfterTheEvent() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* a = new QLineEdit(&window);
    auto* hidden = new QLineEdit(&window);
    auto* disabled = new QLineEdit(&window);
    auto* c = new QLineEdit(&window);
    for (QWidget* w : {a, hidden, disabled, c}) layout->addWidget(w);
    hidden->setVisible(false);
    disabled->setEnabled(false);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    a->setFocus();
    QCOMPARE(tiv::qtui::NextInTabOrder(a), c);
    tiv::qtui::PostFocusNext(a);
    QVERIFY(a->hasFocus());  // posted: nothing moved yet
    Settle();
    QVERIFY(c->hasFocus());
  }

  void exceptionEscapingAnEventIsShown() {
    ScriptedDialogs dialogs;
    tiv::qtui::ScopedDialogService scope(dialogs);
    ThrowingEdit edit;
    edit.show();
    QApplication::setActiveWindow(&edit);
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    QTest::keyClicks(&edit, QStringLiteral("a!b"));
    // The message is shown as Windows-1252 text; the throwing handler's
    // remaining work is skipped and the next events are handled as usual.
    QCOMPARE(dialogs.messages, QStringList({QStringLiteral("Importe erróneo")}));
    QCOMPARE(edit.text(), QStringLiteral("ab"));
    QCOMPARE(edit.handled, 2);
  }

  void runHandlerShowsAndReports() {
    ScriptedDialogs dialogs;
    tiv::qtui::ScopedDialogService scope(dialogs);
    bool after = false;
    QVERIFY(!tiv::qtui::RunHandler([&] {
      throw std::runtime_error("Fecha err\xf3nea");
      after = true;
    }));
    QVERIFY(!after);
    QVERIFY(!tiv::qtui::RunHandler([] { throw 42; }));
    QVERIFY(!tiv::qtui::RunHandler([] { throw tiv::dataset::EAbort(); }));  // stopped, nothing shown
    QVERIFY(tiv::qtui::RunHandler([&] { after = true; }));
    QVERIFY(after);
    QCOMPARE(dialogs.messages, QStringList({QStringLiteral("Fecha errónea"), QStringLiteral("Error")}));
  }

  void scriptedAnswers() {
    ScriptedDialogs dialogs;
    tiv::qtui::ScopedDialogService scope(dialogs);
    dialogs.answers = {true};
    dialogs.saveNames = {QStringLiteral("/tmp/x.txt")};
    QVERIFY(tiv::qtui::Dialogs().Confirm(nullptr, QStringLiteral("¿Seguro?")));
    QVERIFY(!tiv::qtui::Dialogs().Confirm(nullptr, QStringLiteral("¿Otra?")));  // unscripted: No
    QCOMPARE(tiv::qtui::Dialogs().SaveFileName(nullptr, QStringLiteral("Guardar"), {}, {}),
             QStringLiteral("/tmp/x.txt"));
    QVERIFY(tiv::qtui::Dialogs().OpenFileName(nullptr, QStringLiteral("Abrir"), {}, {}).isEmpty());
    QCOMPARE(dialogs.questions, QStringList({"¿Seguro?", "¿Otra?", "Guardar", "Abrir"}));
  }
};

int main(int argc, char** argv) {
  tiv::qtui::TivoranApplication app(argc, argv);
  QtuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "QtuiTest.moc"
