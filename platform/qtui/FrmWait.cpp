#include "qtui/FrmWait.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tiv::qtui {

TfrmWait::TfrmWait(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmWait"));
  setWindowTitle(QStringLiteral("Please Wait..."));
  setCursor(Qt::WaitCursor);
  auto* layout = new QVBoxLayout(this);
  message_ = new QLabel(QStringLiteral("Wait..."), this);
  message_->setObjectName(QStringLiteral("lblMessage"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ProgressBar"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  abort_ = new QPushButton(QStringLiteral("Abort"), this);
  abort_->setObjectName(QStringLiteral("btnAbort"));
  abort_->setDefault(true);
  background_ = new QPushButton(QStringLiteral("Background Mode"), this);
  background_->setObjectName(QStringLiteral("btnBackground"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(abort_);
  buttons->addWidget(background_);
  layout->addWidget(message_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (!finished_ && bar_->value() <= 50) ShowNow();
  });
  connect(abort_, &QPushButton::clicked, this, [this] { abortRequested_ = true; });
  connect(background_, &QPushButton::clicked, this, [this] { GoBackground(); });
  qApp->installEventFilter(this);
}

TfrmWait::~TfrmWait() {
  qApp->removeEventFilter(this);
  EnableOthers();
}

void TfrmWait::Start(const QString& message) {
  SetMessage(message);
  bar_->setValue(0);
  finished_ = false;
  abortRequested_ = false;
  inBackground_ = false;
  timer_.start(kShowDelayMs);
}

void TfrmWait::SetMessage(const QString& message) { message_->setText(message); }

int TfrmWait::ProgressValue() const { return bar_->value(); }

void TfrmWait::Progress(int percent) {
  bar_->setValue(std::clamp(percent, 0, 100));
  QCoreApplication::processEvents();
}

bool TfrmWait::AbortRequested() {
  QCoreApplication::processEvents();
  return abortRequested_;
}

void TfrmWait::Finish() {
  finished_ = true;
  timer_.stop();
  HideNow();
}

void TfrmWait::ShowNow() {
  if (inBackground_) return;
  DisableOthers();
  // Centred on the screen (or the parent).
  adjustSize();
  if (QWidget* p = parentWidget()) move(p->geometry().center() - rect().center());
  show();
  raise();
  activateWindow();
}

void TfrmWait::HideNow() {
  hide();
  EnableOthers();
}

// Application-modal while shown: input to every other window waits, and
// the window that was active gets the focus back afterwards.
void TfrmWait::DisableOthers() {
  if (isModal()) return;
  previouslyActive_ = QApplication::activeWindow();
  setWindowModality(Qt::ApplicationModal);
}

void TfrmWait::EnableOthers() {
  if (!isModal()) return;
  setWindowModality(Qt::NonModal);
  if (previouslyActive_) previouslyActive_->activateWindow();
  previouslyActive_.clear();
}

void TfrmWait::GoBackground() {
  inBackground_ = true;
  HideNow();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->isVisible()) w->showMinimized();
}

bool TfrmWait::eventFilter(QObject* watched, QEvent* event) {
  // Contract 4: a window of the application restored brings the dialog
  // back while the operation still runs.
  if (inBackground_ && !finished_ && event->type() == QEvent::WindowStateChange && watched != this) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->isWindow() && !(w->windowState() & Qt::WindowMinimized)) {
      inBackground_ = false;
      ShowNow();
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tiv::qtui
