#include "app/application.h"
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "settings/settingslocation.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

QtMessageHandler g_handlerBeforeStart = nullptr;

// Qt ends a start it cannot make (no such platform plugin, an X display that does not
// answer) with a fatal message and an abort. That is no crash but "cannot run here": the
// message as Qt prints it, then status 1.
void endStartThatCannotRun(QtMsgType type, const QMessageLogContext &context,
                           const QString &message)
{
    g_handlerBeforeStart(type, context, message);
    if (type == QtFatalMsg) {
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

int run(int argc, char **argv, std::vector<std::string> arguments)
{
    // One run per settings folder; a second start hands over and ends without a display.
    SingleInstance instance(settingsStoreLocation());
    if (!instance.claim()) {
        QCoreApplication core(argc, argv);
        if (instance.claimOrRaise(5000) != SingleInstance::Handover::Claimed) {
            std::puts("Ormix is already running.");
            return 0;
        }
    }

    std::vector<char *> args;
    args.reserve(arguments.size() + 1);
    for (std::string &arg : arguments)
        args.push_back(arg.data());
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;

    g_handlerBeforeStart = qInstallMessageHandler(endStartThatCannotRun);
    Application app(count, args.data());
    qInstallMessageHandler(g_handlerBeforeStart);
    instance.listen();
    QObject::connect(&instance, &SingleInstance::raiseRequested, &app, &Application::bringToFront);
    const int code = app.start() ? app.exec() : 0;
    // The socket goes while the event loop's machinery is still there; the lock with the run.
    instance.stopListening();
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // The journal keeps standard error; the category says which part is speaking.
    if (!qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
    int exitCode = 0;
    if (!checkCommandLine(argc, argv, exitCode))
        return exitCode;
    if (handleInformationalOptions(argc, argv, exitCode))
        return exitCode;

    commandline::PlatformChoice platform =
        commandline::choosePlatform(std::vector<std::string>(argv, argv + argc),
                                    std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"));
    if (platform.noDisplay) {
        // Decided before any application object exists: Qt would otherwise abort, or put the
        // strip in a full-screen tile.
        std::fputs("ormix: Ormix needs X11 or XWayland, and DISPLAY names no X display.\n", stderr);
        return 1;
    }

    return run(argc, argv, std::move(platform.arguments));
}
