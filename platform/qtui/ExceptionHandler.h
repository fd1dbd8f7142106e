// ExceptionHandler: what happens to an exception that escapes an event
// handler.
//
// The calculator signals every user error by throwing; nothing catches it
// on the way up. The one application-wide handler shows its message in a
// modal box with OK (through the dialog service) and the rest of the event
// handler that threw is skipped. Two routes lead here:
//  - RunHandler(f): the windows run each of their handlers through it, so an
//    exception never has to unwind through the toolkit's own frames;
//  - TivoranApplication::notify (Application.h): the safety net for any
//    exception that still escapes an event.
//
// Invariants
//  1. The shown text is the exception's what(), read as Windows-1252 (the
//     code page of every message of the calculator and of the engine).
//  2. An exception that is not a std::exception is shown as "Error".
//  3. Showing never throws: a failure while showing is dropped.
//  4. EAbort (an operation a dataset's error handler chose to abort) is
//     shown as nothing at all.
//
// Thread use: GUI thread only.
#pragma once

#include <exception>
#include <utility>

namespace tiv::qtui {

// Shows the exception in a modal box with OK; call it outside the catch
// block that captured it.
void ShowException(const std::exception_ptr& error) noexcept;

// Runs one event handler; an exception it throws is shown, not propagated.
// Returns false when the handler threw.
template <class Handler>
bool RunHandler(Handler&& handler) noexcept {
  std::exception_ptr error;
  try {
    std::forward<Handler>(handler)();
    return true;
  } catch (...) {
    error = std::current_exception();
  }
  ShowException(error);
  return false;
}

}  // namespace tiv::qtui
