#pragma once

class QWidget;

namespace WindowLook {

// Asks the window manager to keep a window out of the taskbar and the pager. Qt's tool
// window flag only gives the window the utility type, which not every taskbar skips.
// Does nothing outside X11. Call it right after the window is shown.
void skipTaskbar(QWidget *window);

} // namespace WindowLook
