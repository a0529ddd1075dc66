#include "commandline.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Options of QGuiApplication, QApplication and the xcb platform that take a value.
constexpr std::array<std::string_view, 16> QtValueOptions = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon",  "qwindowtitle",       "session",       "display", "geometry",
    "style",        "stylesheet",         "name",          "title",   "visual",
    "qmljsdebugger"};
// And those that stand alone.
constexpr std::array<std::string_view, 6> QtFlagOptions = {"reverse", "widgetcount", "nograb",
                                                           "dograb",  "sync",        "testability"};

// The option's name without its dashes and without "=value"; empty for a non-option.
std::string_view optionName(std::string_view arg)
{
    if (arg.size() < 2 || arg[0] != '-')
        return {};
    arg.remove_prefix(arg[1] == '-' ? 2 : 1);
    return arg.substr(0, arg.find('='));
}

bool hasValueAttached(std::string_view arg)
{
    return arg.find('=') != std::string_view::npos;
}

template<std::size_t N>
bool contains(const std::array<std::string_view, N> &list, std::string_view name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

} // namespace

namespace commandline {

QStringList withoutQtOptions(const QStringList &arguments)
{
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const std::string arg = arguments.at(i).toStdString();
        const std::string_view name = optionName(arg);
        if (i > 0 && contains(QtValueOptions, name)) {
            if (!hasValueAttached(arg))
                ++i; // its value
            continue;
        }
        if (i > 0 && contains(QtFlagOptions, name) && !hasValueAttached(arg))
            continue;
        kept << arguments.at(i);
    }
    return kept;
}

QString qtOptionLackingValue(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const std::string arg = arguments.at(i).toStdString();
        if (!contains(QtValueOptions, optionName(arg)) || hasValueAttached(arg))
            continue;
        if (i + 1 == arguments.size())
            return arguments.at(i);
        ++i; // its value
    }
    return {};
}

std::string programName(const char *argv0)
{
    const std::string_view path = argv0 ? argv0 : "";
    const std::string_view name = path.substr(path.rfind('/') + 1);
    return name.empty() ? std::string("ormix") : std::string(name);
}

PlatformChoice choosePlatform(const std::vector<std::string> &arguments, const char *qpaPlatform,
                              const char *display)
{
    // Qt takes an empty QT_QPA_PLATFORM for an unset one, and so does this.
    const bool haveDisplay = display && *display;
    std::vector<std::string> out;
    bool platformChosen = qpaPlatform && *qpaPlatform;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (i > 0 && optionName(arg) == "platform") {
            platformChosen = true;
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                // Qt reads only "-platform NAME".
                out.emplace_back("-platform");
                out.push_back(arg.substr(eq + 1));
                continue;
            }
        }
        out.push_back(arg);
    }
    if (!platformChosen && haveDisplay) {
        out.emplace_back("-platform");
        out.emplace_back("xcb");
    }
    return {std::move(out), !platformChosen && !haveDisplay};
}

} // namespace commandline
