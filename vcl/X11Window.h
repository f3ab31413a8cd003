// What an X11 desktop is told of a window beyond Qt's own flags.
#pragma once

class QWidget;

namespace vcl::x11 {

// Asks the window manager to keep the window out of task bars and pagers. Takes effect when
// called before the window is mapped (its show event); nothing where the platform is not X11.
void SkipTaskbar(QWidget& window);

} // namespace vcl::x11
