// What an X11 desktop is told of a window beyond Qt's own flags.
#pragma once

class QWidget;

namespace vcl::x11 {

// Asks the window manager to keep the window out of task bars and pagers, before the window is
// mapped (its show event): the state the window manager finds when it takes the window.
// Nothing where the platform is not X11.
void SkipTaskbar(QWidget& window);
// The same request for a window already mapped, through the window manager (EWMH's
// _NET_WM_STATE message). A window shown again soon after it was hidden needs it: a window
// manager that sees the hide late clears the state the show had just set.
void AskSkipTaskbar(QWidget& window);

} // namespace vcl::x11
