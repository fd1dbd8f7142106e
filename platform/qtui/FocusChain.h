// FocusChain: moving the keyboard focus to the next control of a window as
// a posted request, the way a dialog's "next control" message works: the
// current key event finishes first, then the window's focused control hands
// the focus to the next control in tab order that can take it (visible,
// enabled, accepting Tab focus).
//
// Thread use: GUI thread only.
#pragma once

class QWidget;

namespace tiv::qtui {

// Posts the request to the window of `from`. When the request runs, the
// move starts at the window's focused control (or at `from` when the window
// has none). A window destroyed in between makes the request void.
void PostFocusNext(QWidget* from);

// The next control after `from` in tab order that can take the focus, or
// nullptr when there is none.
QWidget* NextInTabOrder(QWidget* from);

}  // namespace tiv::qtui
