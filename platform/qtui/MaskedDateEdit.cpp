#include "MaskedDateEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>

namespace tiv::qtui {

namespace {
constexpr int kLength = 10;
const int kWidths[3] = {2, 2, 4};
}  // namespace

MaskedDateEdit::MaskedDateEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kLength);
  setAcceptDrops(false);
  setText(EmptyText());
  connect(this, &QLineEdit::textChanged, this, &MaskedDateEdit::Refit);
}

QString MaskedDateEdit::EmptyText() { return QStringLiteral("  /  /    "); }

bool MaskedDateEdit::IsWellFormed(const QString& text) {
  if (text.size() != kLength) return false;
  for (int i = 0; i < kLength; ++i) {
    const QChar c = text[i];
    if (IsLiteral(i) ? c != u'/' : !(c == u' ' || (c >= u'0' && c <= u'9'))) return false;
  }
  return true;
}

QString MaskedDateEdit::Fit(const QString& text) {
  if (IsWellFormed(text)) return text;
  QString out = EmptyText();
  const QStringList parts = text.split(u'/');
  if (parts.size() == 3) {
    int base = 0;
    for (int p = 0; p < 3; ++p) {
      int at = base;
      for (QChar c : parts[p])
        if (c.isDigit() && c.unicode() < 128 && at < base + kWidths[p]) out[at++] = c;
      base += kWidths[p] + 1;
    }
    return out;
  }
  int at = 0;
  for (QChar c : text) {
    if (!(c.isDigit() && c.unicode() < 128)) continue;
    while (at < kLength && IsLiteral(at)) ++at;
    if (at >= kLength) break;
    out[at++] = c;
  }
  return out;
}

void MaskedDateEdit::Refit() {
  if (refitting_) return;
  const QString current = text();
  if (IsWellFormed(current)) return;
  refitting_ = true;
  const int cursor = cursorPosition();
  setText(Fit(current));
  setCursorPosition(qMin(cursor, kLength));
  refitting_ = false;
}

void MaskedDateEdit::SetChar(int pos, QChar c) {
  QString t = text();
  t[pos] = c;
  setText(t);
}

bool MaskedDateEdit::BlankSelection() {
  if (!hasSelectedText()) return false;
  const int start = selectionStart();
  const int end = qMin(start + static_cast<int>(selectedText().size()), kLength);
  QString t = text();
  for (int i = start; i < end; ++i)
    if (!IsLiteral(i)) t[i] = u' ';
  setText(t);
  setCursorPosition(start);
  return true;
}

void MaskedDateEdit::TypeDigit(QChar digit) {
  BlankSelection();
  int pos = cursorPosition();
  while (pos < kLength && IsLiteral(pos)) ++pos;
  if (pos >= kLength) return;
  SetChar(pos, digit);
  ++pos;
  while (pos < kLength && IsLiteral(pos)) ++pos;
  setCursorPosition(pos);
}

void MaskedDateEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (event->reason() != Qt::MouseFocusReason) selectAll();
}

void MaskedDateEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    const QString pasted = QApplication::clipboard()->text();
    for (QChar c : pasted)
      if (c.isDigit() && c.unicode() < 128) TypeDigit(c);
    return;
  }
  if (event->matches(QKeySequence::Cut)) {
    if (hasSelectedText()) QApplication::clipboard()->setText(selectedText());
    BlankSelection();
    return;
  }
  if (event->key() == Qt::Key_Backspace) {
    if (BlankSelection()) return;
    int pos = cursorPosition() - 1;
    while (pos >= 0 && IsLiteral(pos)) --pos;
    if (pos < 0) return;
    SetChar(pos, u' ');
    setCursorPosition(pos);
    return;
  }
  if (event->key() == Qt::Key_Delete) {
    if (BlankSelection()) return;
    int pos = cursorPosition();
    while (pos < kLength && IsLiteral(pos)) ++pos;
    if (pos >= kLength) return;
    SetChar(pos, u' ');
    setCursorPosition(pos);
    return;
  }
  const QString typed = event->text();
  const bool control = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!control && typed.size() == 1 && typed[0].isPrint()) {
    if (typed[0] >= u'0' && typed[0] <= u'9') TypeDigit(typed[0]);
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace tiv::qtui
