#include "CodePage.h"

#include <unicode/ucnv.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace tiv::locale {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter is not thread-safe; each thread keeps its own.
UConverter* Cp1252() {
  thread_local Converter conv = [] {
    UErrorCode status = U_ZERO_ERROR;
    Converter c(ucnv_open("windows-1252", &status));
    if (U_FAILURE(status) || !c) throw std::runtime_error("ICU has no windows-1252 converter");
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &status);
    return c;
  }();
  return conv.get();
}

// ICU's windows-1252 table leaves five bytes unassigned; they stand for the
// C1 controls of the same value so that no byte is lost.
bool IsUnassigned(unsigned char b) { return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D; }

// The UTF-16 unit of every byte, asked of ICU once: a byte of the code
// page is always one unit.
const std::array<char16_t, 256>& ByteTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    UConverter* conv = Cp1252();
    for (int b = 0; b < 256; ++b) {
      t[static_cast<size_t>(b)] = static_cast<char16_t>(b);
      if (b < 0x80 || IsUnassigned(static_cast<unsigned char>(b))) continue;
      UChar u[2];
      UErrorCode status = U_ZERO_ERROR;
      const char src = static_cast<char>(b);
      const int32_t n = ucnv_toUChars(conv, u, 2, &src, 1, &status);
      if (U_SUCCESS(status) && n == 1) t[static_cast<size_t>(b)] = static_cast<char16_t>(u[0]);
    }
    return t;
  }();
  return table;
}

}  // namespace

void Win1252ToUtf16(std::string_view bytes, char16_t* out) {
  const std::array<char16_t, 256>& table = ByteTable();
  for (unsigned char b : bytes) *out++ = table[b];
}

std::u16string Win1252ToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  Win1252ToUtf16(bytes, out.data());
  return out;
}

std::string Utf16ToWin1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  UConverter* conv = Cp1252();
  for (char16_t c : text) {
    if (c < 0x80 || (c <= 0xFF && IsUnassigned(static_cast<unsigned char>(c)))) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char b[4];
    UErrorCode status = U_ZERO_ERROR;
    const UChar src = static_cast<UChar>(c);
    int32_t n = ucnv_fromUChars(conv, b, sizeof b, &src, 1, &status);
    out.push_back(U_SUCCESS(status) && n == 1 ? b[0] : '?');
  }
  return out;
}

}  // namespace tiv::locale
