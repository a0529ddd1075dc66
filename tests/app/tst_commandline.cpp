// The platform choice made in main before any application object exists.
#include "app/commandline.h"

#include <QTest>

#include <optional>

class TestCommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void platformFollowsTheArgumentsAndTheEnvironment_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<std::optional<QByteArray>>("qpaPlatform");
        QTest::addColumn<std::optional<QByteArray>>("display");
        QTest::addColumn<QStringList>("expected"); // empty: refused for want of a display
        using Env = std::optional<QByteArray>;
        const QStringList bare{QStringLiteral("ormix")};
        const QStringList xcb{QStringLiteral("ormix"), QStringLiteral("-platform"),
                              QStringLiteral("xcb")};
        const QStringList offscreen{QStringLiteral("ormix"), QStringLiteral("-platform"),
                                    QStringLiteral("offscreen")};
        QTest::newRow("an X display") << bare << Env() << Env(":0") << xcb;
        // Qt takes an empty QT_QPA_PLATFORM for an unset one; so must the choice.
        QTest::newRow("empty QT_QPA_PLATFORM, an X display") << bare << Env("") << Env(":0") << xcb;
        QTest::newRow("empty QT_QPA_PLATFORM, no display")
            << bare << Env("") << Env() << QStringList();
        QTest::newRow("an empty DISPLAY") << bare << Env() << Env("") << QStringList();
        QTest::newRow("QT_QPA_PLATFORM chosen, no display")
            << bare << Env("offscreen") << Env() << bare;
        QTest::newRow("-platform=NAME, no display")
            << QStringList{QStringLiteral("ormix"), QStringLiteral("-platform=offscreen")} << Env()
            << Env() << offscreen;
        QTest::newRow("--platform NAME over a display")
            << QStringList{QStringLiteral("ormix"), QStringLiteral("--platform"),
                           QStringLiteral("offscreen")}
            << Env() << Env(":0")
            << QStringList{QStringLiteral("ormix"), QStringLiteral("--platform"),
                           QStringLiteral("offscreen")};
    }

    void platformFollowsTheArgumentsAndTheEnvironment()
    {
        QFETCH(QStringList, arguments);
        QFETCH(std::optional<QByteArray>, qpaPlatform);
        QFETCH(std::optional<QByteArray>, display);
        QFETCH(QStringList, expected);
        std::vector<std::string> args;
        for (const QString &arg : arguments)
            args.push_back(arg.toStdString());
        const commandline::PlatformChoice choice =
            commandline::choosePlatform(args, qpaPlatform ? qpaPlatform->constData() : nullptr,
                                        display ? display->constData() : nullptr);
        QCOMPARE(choice.noDisplay, expected.isEmpty());
        if (expected.isEmpty())
            return;
        QStringList got;
        for (const std::string &arg : choice.arguments)
            got << QString::fromStdString(arg);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
