// The "ANSI code page" of the system is Windows-1252: the engine's 8-bit
// strings and the case files are Windows-1252 bytes. The windows convert
// QString <-> Windows-1252 at the widget boundary with these two functions,
// nowhere else.
//
// Both directions go through ICU's converter for "windows-1252". A UTF-16
// character with no Windows-1252 form becomes '?'; the five byte values the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control characters of the same value, so every byte string survives a
// round trip.
//
// Thread use: callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace tiv::locale {

std::u16string Win1252ToUtf16(std::string_view bytes);
// The same into `out`, which has room for bytes.size() units (one per byte).
void Win1252ToUtf16(std::string_view bytes, char16_t* out);
std::string Utf16ToWin1252(std::u16string_view text);

}  // namespace tiv::locale
