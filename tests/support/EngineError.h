// Which engine error a call raised. Engine failures surface as an
// EABSException that carries a native code (the catalogued five-digit
// number) and the shown message without the " - Native error: NNNNN"
// suffix; a test states the code, and the message or a part of it.
#pragma once

#include <cstdint>
#include <functional>
#include <source_location>
#include <string>

// The native code of the engine error `fn` raises, 0 when it returns. When
// `message` is given it receives the shown message ("" when nothing was
// raised). Exceptions other than engine errors pass through to the test.
int32_t NativeCodeOf(const std::function<void()>& fn, std::string* message = nullptr);

// "<code> <message>" of the engine error `fn` raises, "no error" when it
// returns: one comparable string for tables of expected outcomes.
std::string EngineErrorText(const std::function<void()>& fn);

// Fails the test unless `fn` raises the engine error `code` with a shown
// message that contains `messagePart`. Failures name the caller's line.
void ExpectEngineError(const std::function<void()>& fn, int32_t code, const std::string& messagePart = "",
                       std::source_location where = std::source_location::current());
