// FrmWait: TfrmWait, the wait dialog of a long operation (a repair, a copy
// of a table) that runs in the GUI thread and reports as it goes.
//
// Contract
//  1. Caption "Please Wait...", on top, no window buttons, the hourglass
//     cursor, centred; the message (initially "Wait..."), a progress bar
//     0..100, "Abort" (the default and cancel button) and "Background
//     Mode".
//  2. It does not appear at once: 500 ms after Start it shows, and only if
//     the operation has not finished (Finish) and its progress is at most
//     50 %. Progress and AbortRequested let the event loop run, so the
//     timer fires and the buttons work while the operation goes on.
//  3. Abort sets the request the operation checks (AbortRequested).
//  4. Background Mode hides the dialog and minimises the application's
//     windows; restoring a window of the application shows the dialog
//     again with the same message.
//  5. While shown it is application-modal: the other windows take no
//     input; hidden or finished, they do again, and the window that had
//     the focus gets it back.
//
// Thread use: GUI thread only.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tiv::qtui {

class TfrmWait : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kShowDelayMs = 500;

  explicit TfrmWait(QWidget* parent = nullptr);
  ~TfrmWait() override;

  void Start(const QString& message);
  void SetMessage(const QString& message);
  // Contract 2.
  void Progress(int percent);
  bool AbortRequested();
  void Finish();
  int ProgressValue() const;
  QPushButton* AbortButton() const { return abort_; }
  QPushButton* BackgroundButton() const { return background_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowNow();
  void HideNow();
  void DisableOthers();
  void EnableOthers();
  void GoBackground();

  QLabel* message_;
  QProgressBar* bar_;
  QPushButton* abort_;
  QPushButton* background_;
  QTimer timer_;
  bool finished_ = true;
  bool abortRequested_ = false;
  bool inBackground_ = false;
  QPointer<QWidget> previouslyActive_;
};

}  // namespace tiv::qtui
