#pragma once

#include <QStringList>

#include <string>
#include <vector>

namespace commandline {

// The arguments without the options Qt's application object takes for itself (-platform,
// -display, -style...), in any of the forms it accepts.
QStringList withoutQtOptions(const QStringList &arguments);

// The first of Qt's options that takes a value but is the last argument, as typed; empty
// when there is none. Qt would take such an option for unset and start on its defaults.
QString qtOptionLackingValue(const QStringList &arguments);

// The name to show in usage and error texts: the file name the program was started as,
// without its folder ("ormix" for "/usr/bin/ormix").
std::string programName(const char *argv0);

// How the platform plugin is to be chosen, from the arguments and the environment values
// QT_QPA_PLATFORM and DISPLAY (null when unset).
struct PlatformChoice
{
    // The arguments for the application object: "-platform=NAME" split into two, and the X
    // server chosen when a display is there and nobody chose a platform (the strip places
    // itself and stays on top, which Wayland forbids).
    std::vector<std::string> arguments;
    // Nobody chose a platform and there is no X display to use: the program cannot run as
    // it should (Wayland alone leaves placement and stacking to the compositor).
    bool noDisplay = false;
};
PlatformChoice choosePlatform(const std::vector<std::string> &arguments, const char *qpaPlatform,
                              const char *display);

} // namespace commandline
