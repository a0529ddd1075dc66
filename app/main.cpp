#include "app/ormixapp.h"

#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    int exitCode = 0;
    if (HandleInformationalOptions(argc, argv, exitCode))
        return exitCode;

    // The status window places itself and stays on top, which Wayland forbids:
    // prefer the X server when one is there and nobody chose a platform.
    std::vector<char *> args(argv, argv + argc);
    char platformOption[] = "-platform";
    char xcb[] = "xcb";
    const char *display = std::getenv("DISPLAY");
    if (!std::getenv("QT_QPA_PLATFORM") && display && *display) {
        args.push_back(platformOption);
        args.push_back(xcb);
    }
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;

    COrmixApp app(count, args.data());
    if (!app.InitInstance())
        return 0;
    return app.exec();
}
