#pragma once

#include <QStringList>

#include <string>
#include <vector>

namespace commandline {

// The arguments without the options Qt's application object takes for itself (-platform,
// -display, -style...), in any of the forms it accepts.
QStringList withoutQtOptions(const QStringList &arguments);

// The arguments for the application object: "-platform=NAME" split into two, and the X
// server chosen when a display is there and nobody chose a platform (the strip places
// itself and stays on top, which Wayland forbids).
std::vector<std::string> platformArguments(const std::vector<std::string> &arguments,
                                           bool platformInEnvironment, bool haveDisplay);

} // namespace commandline
