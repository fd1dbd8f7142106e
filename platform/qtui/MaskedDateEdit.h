// MaskedDateEdit: a one-line edit for a date typed as dd/mm/yyyy into a
// fixed mask, like an edit with the mask "!99/99/9999;1;_".
//
// Invariants
//  1. text() always has exactly 10 characters: "/" at positions 2 and 5,
//     and a digit or a space at every other position. The empty edit reads
//     "  /  /    " (EmptyText()).
//  2. Typing overwrites: a digit replaces the position under the cursor
//     (skipping the "/" literals) and the cursor moves on; any other
//     printable key is refused. Backspace and Delete blank positions instead
//     of shifting the rest.
//  3. Gaining the focus other than by a click selects the whole text, so
//     the first digit typed starts a new date.
//  4. A text set by program or pasted is fitted back into the mask: three
//     "/"-separated parts fill day, month and year from the left; anything
//     else puts its digits into the positions in order.
//
// Thread use: GUI thread only.
#pragma once

#include <QLineEdit>

namespace tiv::qtui {

class MaskedDateEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit MaskedDateEdit(QWidget* parent = nullptr);

  static QString EmptyText();
  bool IsEmpty() const { return text() == EmptyText(); }

  // Fits a text into the mask (invariant 4).
  static QString Fit(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  static bool IsLiteral(int pos) { return pos == 2 || pos == 5; }
  static bool IsWellFormed(const QString& text);
  void Refit();
  void TypeDigit(QChar digit);
  // Blanks the selected positions; returns false when nothing is selected.
  bool BlankSelection();
  void SetChar(int pos, QChar c);

  bool refitting_ = false;
};

}  // namespace tiv::qtui
