#include "state/autostart.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class TestAutostart final : public QObject
{
    Q_OBJECT

    static QString entryText()
    {
        QFile f(QString::fromStdString(AutostartEntryPath()));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll());
    }

    static QString execLine()
    {
        const QStringList lines = entryText().split(QLatin1Char('\n'));
        for (const QString &line : lines)
            if (line.startsWith(QLatin1String("Exec=")))
                return line.mid(5);
        return {};
    }

private slots:
    void writesAndRemovesTheEntry()
    {
        TempConfigHome home;
        QCOMPARE(QString::fromStdString(AutostartEntryPath()),
                 home.path() + QStringLiteral("/autostart/ormix.desktop"));
        QVERIFY(!AutostartEntryExists());
        QVERIFY(RemoveAutostartEntry()); // nothing there is not a failure
        QVERIFY(WriteAutostartEntry("/usr/bin/ormix"));
        QVERIFY(AutostartEntryExists());
        QCOMPARE(execLine(), QStringLiteral("/usr/bin/ormix"));
        QVERIFY(entryText().startsWith(QLatin1String("[Desktop Entry]\n")));
        QVERIFY(RemoveAutostartEntry());
        QVERIFY(!AutostartEntryExists());
    }

    void quotesPathsAsTheDesktopEntryRulesAsk_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringLiteral("/opt/ormix/bin/ormix")
                               << QStringLiteral("/opt/ormix/bin/ormix");
        QTest::newRow("space") << QStringLiteral("/home/a b/ormix")
                               << QStringLiteral("\"/home/a b/ormix\"");
        QTest::newRow("dollar and quote")
            << QStringLiteral("/tmp/$x\"y/ormix") << QStringLiteral("\"/tmp/\\\\$x\\\\\"y/ormix\"");
        QTest::newRow("percent") << QStringLiteral("/tmp/100%/ormix")
                                 << QStringLiteral("/tmp/100%%/ormix");
        QTest::newRow("Korean") << QStringLiteral("/home/사용자/ormix")
                                << QStringLiteral("/home/사용자/ormix");
    }

    void quotesPathsAsTheDesktopEntryRulesAsk()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        TempConfigHome home;
        QVERIFY(WriteAutostartEntry(path.toStdString()));
        QCOMPARE(execLine(), exec);
        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validator.isEmpty()) {
            QProcess p;
            p.start(validator, {QString::fromStdString(AutostartEntryPath())});
            QVERIFY(p.waitForFinished());
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(p.readAllStandardOutput().trimmed(), QByteArray());
        }
    }

    void reportsFailure()
    {
        TempConfigHome home;
        // A plain file where the autostart folder should be.
        QFile blocker(home.path() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!WriteAutostartEntry("/usr/bin/ormix"));
        QVERIFY(!AutostartEntryExists());
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
