#include "Controles.h"

#include "locale/CodePage.h"
#include "qtui/FocusChain.h"

std::string ToAnsi(const QString& text) {
  return tiv::locale::Utf16ToWin1252(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())));
}

QString FromAnsi(std::string_view ansi) { return QString::fromStdU16String(tiv::locale::Win1252ToUtf16(ansi)); }

void SiguienteControl(QWidget* control) { tiv::qtui::PostFocusNext(control); }
