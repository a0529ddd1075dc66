// The recording notification server as a program of its own, for the whole-program tests:
//   notification-recorder CAPABILITY...
// Prints READY once it owns the name, then one JSON line per notification received;
// "invoke ID" on standard input acts as a click on that notification. Ends at end of input.
#include "tests/desktop/notificationrecorder.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    NotificationRecorder recorder(app.arguments().mid(1));
    recorder.onRecorded = [](const NotificationRecorder::Received &n) {
        const QJsonObject line{{QStringLiteral("id"), static_cast<qint64>(n.id)},
                               {QStringLiteral("app"), n.appName},
                               {QStringLiteral("icon"), n.appIcon},
                               {QStringLiteral("summary"), n.summary},
                               {QStringLiteral("body"), n.body},
                               {QStringLiteral("actions"), QJsonArray::fromStringList(n.actions)}};
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    };
    if (!recorder.start()) {
        std::fprintf(stderr, "notification-recorder: cannot own org.freedesktop.Notifications\n");
        return 1;
    }
    std::printf("READY\n");
    std::fflush(stdout);

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command.starts_with("invoke "))
                recorder.invokeDefault(static_cast<uint>(std::stoul(command.substr(7))));
        }
    });
    return QCoreApplication::exec();
}
