#include "desktop/autostart.h"
#include "desktop/browser.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// What starts Ormix with the session, and what Ormix starts: the web browser.
class TestAutostart final : public QObject
{
    Q_OBJECT

    static QString entryText()
    {
        QFile f(QString::fromStdString(autostartEntryPath()));
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
        // An installed /usr/bin/ormix would be written by its name.
        const QTemporaryDir nothingOnPath;
        const EnvGuard path("PATH", QFile::encodeName(nothingOnPath.path()));
        QCOMPARE(QString::fromStdString(autostartEntryPath()),
                 home.path() + QStringLiteral("/autostart/ormix.desktop"));
        QVERIFY(!autostartEntryExists());
        QVERIFY(removeAutostartEntry()); // nothing there is not a failure
        QVERIFY(writeAutostartEntry("/usr/bin/ormix"));
        QVERIFY(autostartEntryExists());
        QCOMPARE(execLine(), QStringLiteral("/usr/bin/ormix"));
        QVERIFY(entryText().startsWith(QLatin1String("[Desktop Entry]\n")));
        QVERIFY(removeAutostartEntry());
        QVERIFY(!autostartEntryExists());
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
        QVERIFY(writeAutostartEntry(path.toStdString()));
        QCOMPARE(execLine(), exec);
        QCOMPARE(desktopEntryProblems(QString::fromStdString(autostartEntryPath())), QString());
    }

    // Folders: "bin" holds the program, "other" another program of the same name, "link" a
    // symbolic link to the program, "empty" nothing.
    void execNamesTheProgramWhenPathFindsIt_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<bool>("byName");
        const QStringList bin{QStringLiteral("bin")};
        const QString program = QStringLiteral("bin/ormix");
        QTest::newRow("on PATH") << program << bin << true;
        QTest::newRow("PATH finds a link to it")
            << program << QStringList{QStringLiteral("link")} << true;
        QTest::newRow("started through a link") << QStringLiteral("link/ormix") << bin << true;
        QTest::newRow("another one earlier on PATH")
            << program << QStringList{QStringLiteral("other"), QStringLiteral("bin")} << false;
        QTest::newRow("another one on PATH")
            << program << QStringList{QStringLiteral("other")} << false;
        QTest::newRow("none on PATH") << program << QStringList{QStringLiteral("empty")} << false;
    }

    void execNamesTheProgramWhenPathFindsIt()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, path);
        QFETCH(bool, byName);
        TempConfigHome home;
        const QTemporaryDir root;
        const QDir dir(root.path());
        for (const char *folder : {"bin", "other", "link", "empty"})
            QVERIFY(dir.mkdir(QLatin1String(folder)));
        for (const char *file : {"bin/ormix", "other/ormix"}) {
            QFile f(dir.filePath(QLatin1String(file)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
            f.close();
            QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));
        }
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("bin/ormix")),
                            dir.filePath(QStringLiteral("link/ormix"))));
        QStringList folders;
        for (const QString &folder : path)
            folders << dir.filePath(folder);
        const EnvGuard guard("PATH", QFile::encodeName(folders.join(QLatin1Char(':'))));

        QVERIFY(writeAutostartEntry(QFile::encodeName(dir.filePath(program)).toStdString()));
        QCOMPARE(execLine(), byName ? QStringLiteral("ormix") : dir.filePath(program));
    }

    void reportsFailure()
    {
        TempConfigHome home;
        // A plain file where the autostart folder should be.
        QFile blocker(home.path() + QStringLiteral("/autostart"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!writeAutostartEntry("/usr/bin/ormix"));
        QVERIFY(!autostartEntryExists());
    }

    void openUrlFiltersSchemes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opened");
        QTest::newRow("http") << QStringLiteral("http://blog.example/12#comment3") << true;
        QTest::newRow("https upper-case scheme")
            << QStringLiteral("HTTPS://blog.example/guestbook") << true;
        QTest::newRow("percent-encoded Korean")
            << QStringLiteral("http://blog.example/%ED%95%9C?q=1") << true;
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("data") << QStringLiteral("data:text/html,<b>x</b>") << false;
        QTest::newRow("relative") << QStringLiteral("/12#comment") << false;
        QTest::newRow("empty") << QStringLiteral("") << false;
        QTest::newRow("no host") << QStringLiteral("http://") << false;
        QTest::newRow("newline inside") << QStringLiteral("http://blog.example/\n--help") << false;
        QTest::newRow("blank inside") << QStringLiteral("http://blog.example/a b") << false;
        QTest::newRow("option-looking") << QStringLiteral("--version") << false;
    }

    void openUrlFiltersSchemes()
    {
        QFETCH(QString, url);
        QFETCH(bool, opened);
        UrlRecorder browser;
        QCOMPARE(openInBrowser(url.toStdString()), opened);
        QCOMPARE(browser.opened(),
                 opened
                     ? QStringList{QString::fromUtf8(QUrl::fromEncoded(url.toUtf8()).toEncoded())}
                     : QStringList());
    }
};

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
