#include "settings/settings.h"
#include "settings/settingslocation.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Lowers the descriptor limit to the lowest free descriptor while it lives, so every
// open() fails with EMFILE.
class NoFreeDescriptors
{
public:
    NoFreeDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &m_old);
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (lowest >= 0)
            ::close(lowest);
        rlimit lowered = m_old;
        lowered.rlim_cur = rlim_t(std::max(lowest, 0));
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~NoFreeDescriptors() { setrlimit(RLIMIT_NOFILE, &m_old); }
    NoFreeDescriptors(const NoFreeDescriptors &) = delete;
    NoFreeDescriptors &operator=(const NoFreeDescriptors &) = delete;

private:
    rlimit m_old = {};
};

class TestSettings final : public QObject
{
    Q_OBJECT

    static void writeFile(const TempConfigHome &home, const QByteArray &bytes)
    {
        QDir().mkpath(home.path() + QStringLiteral("/Ormix"));
        QFile f(home.settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // Each read through a fresh table, so the file is read anew.
    static int dword(SettingKey<int> key, int fallback)
    {
        const Settings settings;
        return settings.isStored(key) ? settings.value(key) : fallback;
    }
    static std::string text(SettingKey<QString> key) { return Settings().value(key).toStdString(); }
    static bool write(SettingKey<int> key, int value) { return Settings().set(key, value); }
    static bool write(SettingKey<QString> key, const std::string &value)
    {
        return Settings().set(key, QString::fromStdString(value));
    }

    // Whether QSettings on its own, without our guard, hands some value of the file to
    // QDataStream: anything it gives as other than text was decoded there.
    static bool qsettingsDecodes(const QByteArray &bytes)
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("probe.conf"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        QSettings raw(path, QSettings::IniFormat);
        const QStringList keys = raw.allKeys();
        return std::any_of(keys.begin(), keys.end(), [&](const QString &key) {
            const int type = raw.value(key).typeId();
            return type != QMetaType::QString && type != QMetaType::QStringList;
        });
    }

    // A value that QSettings would decode with a declared length of 60 GB, and the same in
    // escapes only, which a byte held back by the UTF-8 decoder cannot end.
    static QByteArray bomb() { return "(\\0\\0\\0\\tx2\\0\\0\\0\\xqe)"; }
    static QByteArray escapedBomb() { return "\\x28\\0\\0\\0\\t\\x78\\x32\\0\\0\\x29"; }

    // 125,000 lists, each the only element of the one around it: QDataStream reads them
    // recursively and runs out of stack long before the end.
    static QByteArray nestedLists()
    {
        const QByteArray list("\0\0\0\t", 4); // the type of a variant list
        QByteArray out = "(";
        for (int i = 0; i < 125000; ++i)
            out += list + QByteArray("\0\0\0\1", 4);
        return out + list + QByteArray(4, '\0') + ')';
    }

private slots:
    void cleanProfileGivesDefaults()
    {
        TempConfigHome home;
        Settings settings;
        const std::array<std::pair<SettingKey<int>, int>, 8> numbers = {{
            {Settings::Interval, 30},
            {Settings::LeftPos, 100},
            {Settings::TopPos, 100},
            {Settings::Width, 150},
            {Settings::Height, 23},
            {Settings::Transparency, 10},
            {Settings::StartWithSession, 0},
            {Settings::PollInterval, 30},
        }};
        for (const auto &[key, value] : numbers) {
            QVERIFY(!settings.isStored(key));
            QCOMPARE(settings.value(key), value);
        }
        const std::array<std::pair<SettingKey<bool>, bool>, 5> onOff = {{
            {Settings::SaveId, true},
            {Settings::KeyringPassword, false},
            {Settings::DesktopNotify, false},
            {Settings::RememberSeen, false},
            {Settings::TrayIcon, false},
        }};
        for (const auto &[key, value] : onOff) {
            QVERIFY(!settings.isStored(key));
            QCOMPARE(settings.value(key), value);
        }
        QCOMPARE(settings.value(Settings::BlogUrl), QString());
        QCOMPARE(settings.value(Settings::Id), QString());
        QCOMPARE(settings.value(Settings::PauseUntil), QString());
        QVERIFY(!QFile::exists(home.settingsFile()));
        QCOMPARE(settings.location(), home.settingsFile());
    }

    // Every name and meaning as a settings file written by Ormix 0.1c has them: read from
    // such a file, and written again byte for byte.
    void namesOnDiskStayAsTheyWere()
    {
        QFile fixture(qEnvironmentVariable("ORMIX_TEST_DATA") +
                      QStringLiteral("/settings/ormix-0.1c.conf"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QByteArray written = fixture.readAll();
        const std::array<std::pair<SettingKey<int>, int>, 7> numbers = {{
            {Settings::Interval, 45},
            {Settings::LeftPos, -5},
            {Settings::TopPos, 200},
            {Settings::Width, 180},
            {Settings::Height, 23},
            {Settings::Transparency, 35},
            {Settings::StartWithSession, 1},
        }};
        const std::array<SettingKey<bool>, 3> on = {Settings::SaveId, Settings::KeyringPassword,
                                                    Settings::DesktopNotify};
        const std::string blogUrl = "http://blog.example/~owner";
        const std::string id = "주인 owner";
        {
            TempConfigHome home;
            writeFile(home, written);
            Settings settings;
            QCOMPARE(settings.value(Settings::BlogUrl).toStdString(), blogUrl);
            QCOMPARE(settings.value(Settings::Id).toStdString(), id);
            for (const auto &[key, value] : numbers) {
                QVERIFY(settings.isStored(key));
                QCOMPARE(settings.value(key), value);
            }
            for (const SettingKey<bool> key : on) {
                QVERIFY(settings.isStored(key));
                QVERIFY(settings.value(key));
            }
        }
        TempConfigHome home;
        Settings settings;
        QVERIFY(settings.set(Settings::BlogUrl, QString::fromStdString(blogUrl)));
        QVERIFY(settings.set(Settings::Id, QString::fromStdString(id)));
        QVERIFY(settings.set(Settings::SaveId, true));
        for (const auto &[key, value] : numbers)
            QVERIFY(settings.set(key, value));
        QVERIFY(settings.set(Settings::KeyringPassword, true));
        QVERIFY(settings.set(Settings::DesktopNotify, true));
        QFile file(home.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), written);
    }

    void roundTrips()
    {
        TempConfigHome home;
        QVERIFY(write(Settings::Interval, 45));
        QVERIFY(write(Settings::LeftPos, -5));
        QVERIFY(write(Settings::Id, std::string("블로거")));
        QVERIFY(write(Settings::BlogUrl, std::string("http://a.example,b")));
        QCOMPARE(dword(Settings::Interval, 30), 45);
        QCOMPARE(dword(Settings::LeftPos, 100), -5);
        QCOMPARE(text(Settings::Id), std::string("블로거"));
        QCOMPARE(text(Settings::BlogUrl), std::string("http://a.example,b"));
        // Writing one value keeps the others.
        QVERIFY(write(Settings::Interval, 60));
        QCOMPARE(text(Settings::Id), std::string("블로거"));
        QCOMPARE(dword(Settings::LeftPos, 100), -5);

        // Read once and kept: what changes under it is not seen; its own writes are, and
        // say so.
        Settings settings;
        QSignalSpy changed(&settings, &Settings::changed);
        QCOMPARE(settings.value(Settings::Interval), 60);
        QVERIFY(write(Settings::Interval, 70));
        QCOMPARE(settings.value(Settings::Interval), 60);
        QVERIFY(settings.set(Settings::Transparency, 25));
        QCOMPARE(settings.value(Settings::Transparency), 25);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toInt(), Settings::Transparency.index);
    }

    // A consumer follows the one value it needs: told now, after each write of that value
    // and of no other, while its context lives. A write that fails tells nobody; an option
    // never turned on is not written off; the run's own interval reaches no file.
    void observersFollowTheirValue()
    {
        TempConfigHome home;
        const auto file = [&home] {
            QFile f(home.settingsFile());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        Settings settings;
        QList<int> seen;
        auto context = std::make_unique<QObject>();
        settings.observe(Settings::Transparency, context.get(), [&seen](int v) { seen << v; });
        QCOMPARE(seen, QList<int>{10});
        QVERIFY(settings.set(Settings::LeftPos, 5));
        QVERIFY(settings.set(Settings::Transparency, 40));
        QCOMPARE(seen, (QList<int>{10, 40}));
        // What another table writes is not this one's (read once and kept).
        QVERIFY(write(Settings::Transparency, 70));
        QCOMPARE(seen, (QList<int>{10, 40}));
        context.reset();
        QVERIFY(settings.set(Settings::Transparency, 50));
        QCOMPARE(seen, (QList<int>{10, 40}));

        QList<bool> notify;
        settings.observe(Settings::DesktopNotify, this, [&notify](bool on) { notify << on; });
        QStringList ids;
        settings.observe(Settings::Id, this, [&ids](const QString &id) { ids << id; });
        QVERIFY(settings.set(Settings::DesktopNotify, false));
        QCOMPARE(notify, QList<bool>{false});
        QVERIFY(!file().contains("DesktopNotify"));
        QVERIFY(settings.set(Settings::DesktopNotify, true));
        QVERIFY(settings.set(Settings::DesktopNotify, false));
        QCOMPARE(notify, (QList<bool>{false, true, false}));
        QVERIFY(file().contains("DesktopNotify=0"));
        QVERIFY(settings.set(Settings::Id, QStringLiteral("주인")));
        QCOMPARE(ids, (QStringList{QString(), QStringLiteral("주인")}));

        QList<int> polls;
        settings.observe(Settings::PollInterval, this, [&polls](int v) { polls << v; });
        const QByteArray before = file();
        QVERIFY(settings.set(Settings::PollInterval, 45));
        QCOMPARE(polls, (QList<int>{30, 45}));
        QCOMPARE(settings.value(Settings::PollInterval), 45);
        QCOMPARE(file(), before);
        QCOMPARE(Settings().value(Settings::PollInterval), 30);

        // Nothing reaches the disk: nothing is kept, nobody is told.
        QVERIFY(QFile::remove(home.settingsFile()));
        QVERIFY(QDir().mkpath(home.settingsFile()));
        QVERIFY(!settings.set(Settings::DesktopNotify, true));
        QVERIFY(!settings.set(Settings::Id, QStringLiteral("x")));
        QCOMPARE(notify, (QList<bool>{false, true, false}));
        QCOMPARE(ids.size(), 2);
        QCOMPARE(settings.value(Settings::Id), QStringLiteral("주인"));
    }

    void stringsMustFitTheBuffer()
    {
        TempConfigHome home;
        const std::string fits(99, 'a');
        const std::string tooLong(100, 'a');
        write(Settings::Id, fits);
        QCOMPARE(text(Settings::Id), fits);
        write(Settings::Id, tooLong);
        QCOMPARE(text(Settings::Id), std::string());
        // The limit counts bytes: 33 Korean syllables are 99 bytes, 34 are 102.
        std::string korean;
        for (int i = 0; i < 33; ++i)
            korean += "가";
        write(Settings::BlogUrl, korean);
        QCOMPARE(text(Settings::BlogUrl), korean);
        write(Settings::BlogUrl, korean + "가");
        QCOMPARE(text(Settings::BlogUrl), std::string());
    }

    void wrongTypesAndRangesGiveDefaults()
    {
        TempConfigHome home;
        writeFile(home, "[General]\n"
                        "LeftPos=abc\n"
                        "TopPos=99999999999\n"
                        "Width=4294967295\n"
                        "Height=-2147483649\n"
                        "INTERVAL=\"@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x12garbage)\"\n"
                        "ID=a, b\n"
                        "BlogURL=http://kept.example\n"
                        "Transparency= 20 \n");
        QCOMPARE(dword(Settings::LeftPos, 100), 100);
        QCOMPARE(dword(Settings::TopPos, 100), 100);
        QCOMPARE(dword(Settings::Width, 150), -1); // a 32-bit value read as signed, as stored
        QCOMPARE(dword(Settings::Height, 23), 23);
        QCOMPARE(dword(Settings::Interval, 30), 30);
        QCOMPARE(dword(Settings::Transparency, 10), 20);
        QCOMPARE(text(Settings::Id), std::string());
        QCOMPARE(text(Settings::BlogUrl), std::string("http://kept.example"));
    }

    void corruptFilesDoNotCrashOrLoseValues()
    {
        TempConfigHome home;
        QByteArray junk(4096, '\0');
        for (auto &c : junk)
            c = char(QRandomGenerator::global()->bounded(256));
        writeFile(home, junk);
        QCOMPARE(dword(Settings::LeftPos, 100), 100);
        QCOMPARE(text(Settings::Id), std::string());

        // Broken lines around good ones: the good ones still read, and survive a write.
        writeFile(home, "[General\n=\n\xff\xfe==\nID=kept\n[Gen]eral]\nINTERVAL=40\n");
        QCOMPARE(text(Settings::Id), std::string("kept"));
        QVERIFY(write(Settings::LeftPos, 7));
        QCOMPARE(dword(Settings::LeftPos, 100), 7);
        QCOMPARE(text(Settings::Id), std::string("kept"));
    }

    void theGuardKeepsWhatQSettingsReads_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QVariantMap>("values");
        QTest::newRow("lone CRs, a BOM, comments, \"=\" in quotes")
            << QByteArray("\xEF\xBB\xBF[General]\rLeftPos=5 ; five\r\"a=b\"=1\rTopPos=7\rID=x\r")
            << QVariantMap{{QStringLiteral("LeftPos"), QStringLiteral("5")},
                           {QStringLiteral("TopPos"), QStringLiteral("7")},
                           {QStringLiteral("ID"), QStringLiteral("x")}};
        QTest::newRow("indented section after a comment")
            << QByteArray("[General]\nTransparency=40\n; a comment\n  [Other]\nTransparency=70\n")
            << QVariantMap{{QStringLiteral("Transparency"), QStringLiteral("40")}};
        // Not an entry to drop either, or its values would move into [General].
        QTest::newRow("indented section like an entry")
            << QByteArray("[General]\nTransparency=40\n;\n\t[Other=@Variant(x)]\nTransparency=70\n")
            << QVariantMap{{QStringLiteral("Transparency"), QStringLiteral("40")}};
    }

    // Entries are cut as QSettings cuts them by the guard in front of the store.
    void theGuardKeepsWhatQSettingsReads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QVariantMap, values);
        TempConfigHome home;
        writeFile(home, file);
        {
            QSettings raw(home.settingsFile(), QSettings::IniFormat);
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                QCOMPARE(raw.value(it.key()), it.value());
        }
        const auto store = openSettingsStore(home.settingsFile(), SettingsAccess::Read);
        QVERIFY(store);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QCOMPARE(store->value(it.key()), it.value());
    }

    void serializedValuesCannotExhaustMemory_data()
    {
        const QByteArray bomb = this->bomb();
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("left");
        QTest::newRow("plain") << "INTERVAL=@Variant" + bomb << QByteArray();
        QTest::newRow("second element") << "LeftPos=1, @Variant" + bomb << QByteArray();
        QTest::newRow("date") << "When=@DateTime" + bomb << QByteArray();
        QTest::newRow("after a lone CR")
            << "X=@VariantD=\r,a=@Variant" + bomb << QByteArray("X=@VariantD=\r");
        QTest::newRow("quotes joined") << "B=\"@\" \"Variant\"" + bomb << QByteArray();
        QTest::newRow("hex escape") << "B=\\x040Variant" + bomb << QByteArray();
        QTest::newRow("octal escape") << "B=\\100Variant" + bomb << QByteArray();
        QTest::newRow("dropped escape") << "B=@\\qVariant" + bomb << QByteArray();
        QTest::newRow("continued line") << "B=@Var\\\r\niant" + bomb << QByteArray();
        QTest::newRow("quote over lines")
            << "B=\"x\n[General]\nY=1\", @Variant" + bomb << QByteArray();
        // Behind bytes the UTF-8 decoder drops or holds back.
        QTest::newRow("behind a BOM") << "B=\xEF\xBB\xBF@Variant" + bomb << QByteArray();
        QTest::newRow("BOM split by an escape")
            << "B=\xEF\xBB\\x40\xBFVariant" + bomb << QByteArray();
        QTest::newRow("BOM split by quotes")
            << "B=\xEF\"\"\xBB\"\"\xBF@Variant" + bomb << QByteArray();
        QTest::newRow("BOM split by a comma") << "B=\xEF,\xBB\xBF@Variant" + bomb << QByteArray();
        QTest::newRow("BOM after an escaped element")
            << "B=\\x41, \xEF\xBB\xBF@Variant" + bomb << QByteArray();
        QTest::newRow("held back to the end")
            << "B=\xE4\\x40\\x56\\x61\\x72\\x69\\x61\\x6e\\x74" + escapedBomb() << QByteArray();
        QTest::newRow("nested lists behind a BOM")
            << "ID=\xEF\xBB\xBF@Variant" + nestedLists() << QByteArray();
        // Ours, or text QSettings never decodes: kept byte for byte.
        const QByteArray kept = "A=@@Variant(x)\nB=\"a, @Variant(b)\"\nC=my@Variant(x)\n"
                                "D=\" @Variant(x)\"\n[@Variant(x)]\n[General]\n;E=@Variant(x)";
        QTest::newRow("kept") << kept << kept;
    }

    void serializedValuesCannotExhaustMemory()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, left);
        // QSettings itself decodes what is dropped and nothing that is kept, shown with a
        // harmless payload in place of the harmful one: an int, in escapes only.
        const QByteArray harmless = "\\x28\\0\\0\\0\\x2\\0\\0\\0\\x5\\x29";
        QByteArray probe = entry;
        probe.replace(bomb(), harmless).replace(escapedBomb(), harmless);
        probe.replace(nestedLists(), harmless);
        QCOMPARE(qsettingsDecodes("[General]\n" + probe + '\n'), left != entry);

        TempConfigHome home;
        writeFile(home, "[General]\nID=kept\n" + entry + "\nTopPos=7\n");
        QCOMPARE(text(Settings::Id), std::string("kept"));
        QFile file(home.settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "[General]\nID=kept\n" + left + "\nTopPos=7\n");
        file.close();
        QVERIFY(write(Settings::Width, 150));
        QCOMPARE(text(Settings::Id), std::string("kept"));
        QCOMPARE(dword(Settings::TopPos, 100), 7);
        QCOMPARE(dword(Settings::Width, 0), 150);
    }

    void onlyRegularSmallFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("link to /dev/zero") << QStringLiteral("zero");
        QTest::newRow("over 1 MiB") << QStringLiteral("huge");
    }

    void onlyRegularSmallFilesAreRead()
    {
        QFETCH(QString, kind);
        TempConfigHome home;
        QDir().mkpath(home.path() + QStringLiteral("/Ormix"));
        const QByteArray path = QFile::encodeName(home.settingsFile());
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(mkfifo(path.constData(), 0600), 0);
        } else if (kind == QLatin1String("zero")) {
            QCOMPARE(symlink("/dev/zero", path.constData()), 0);
        } else {
            QByteArray big("[General]\nLeftPos=5\nID=big\n");
            big += QByteArray(qsizetype(2) * 1024 * 1024, ';');
            writeFile(home, big);
        }

        // Read in a child: a read that blocks or runs away must fail this test, not hang it.
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const bool defaults = dword(Settings::LeftPos, 100) == 100 &&
                                  dword(Settings::Transparency, 10) == 10 &&
                                  text(Settings::Id).empty();
            _exit(defaults ? 0 : 1);
        }
        int status = -1;
        const bool ended =
            QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60000);
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        QVERIFY2(ended, "reading the settings did not return");
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);

        // A write puts a regular file in its place, which then reads back.
        QVERIFY(write(Settings::LeftPos, 7));
        QVERIFY(QFileInfo(home.settingsFile()).isFile());
        QVERIFY(!QFileInfo(home.settingsFile()).isSymLink());
        QCOMPARE(dword(Settings::LeftPos, 100), 7);
        QVERIFY(QFileInfo(QStringLiteral("/dev/zero")).exists());
    }

    void variantInsideATextIsKept()
    {
        TempConfigHome home;
        QVERIFY(write(Settings::Id, std::string("my@Variant(x)")));
        QVERIFY(write(Settings::BlogUrl, std::string("a, @Variant(b)")));
        QVERIFY(write(Settings::Interval, 40));
        QCOMPARE(text(Settings::Id), std::string("my@Variant(x)"));
        QCOMPARE(text(Settings::BlogUrl), std::string("a, @Variant(b)"));
        QCOMPARE(dword(Settings::Interval, 30), 40);
        QVERIFY(write(Settings::Interval, 41));
        QCOMPARE(text(Settings::Id), std::string("my@Variant(x)"));
        QCOMPARE(text(Settings::BlogUrl), std::string("a, @Variant(b)"));
    }

    void unreadableStoreGivesDefaultsAndFailedWrites_data()
    {
        QTest::addColumn<QString>("kind");
        // A folder where the file should be: nothing can be read or written there.
        QTest::newRow("folder") << QStringLiteral("folder");
        // open() fails with EMFILE, as it would in a process that leaks descriptors.
        QTest::newRow("no descriptor left") << QStringLiteral("emfile");
        // A regular file whose read() fails with EIO.
        QTest::newRow("read error") << QStringLiteral("eio");
    }

    // Whatever cannot be read now may still hold the user's values: it is left as it is.
    void unreadableStoreGivesDefaultsAndFailedWrites()
    {
        QFETCH(QString, kind);
        TempConfigHome home;
        const QString file = home.settingsFile();
        const QByteArray saved = "[General]\nLeftPos=5\nID=kept\n";
        const QString memory = QStringLiteral("/proc/self/mem");
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(file));
        } else if (kind == QLatin1String("eio")) {
            QVERIFY(QDir().mkpath(home.path() + QStringLiteral("/Ormix")));
            QVERIFY(QFile::link(memory, file));
        } else {
            writeFile(home, saved);
        }
        {
            std::optional<NoFreeDescriptors> limit;
            if (kind == QLatin1String("emfile"))
                limit.emplace();
            QCOMPARE(dword(Settings::LeftPos, 100), 100);
            QCOMPARE(text(Settings::Id), std::string());
            QVERIFY(!write(Settings::LeftPos, 7));
            QVERIFY(!write(Settings::Id, std::string("x")));
        }
        if (kind == QLatin1String("folder")) {
            QVERIFY(QFileInfo(file).isDir());
        } else if (kind == QLatin1String("eio")) {
            QCOMPARE(QFileInfo(file).symLinkTarget(), memory);
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), saved);
            QCOMPARE(dword(Settings::LeftPos, 100), 5);
            QCOMPARE(text(Settings::Id), std::string("kept"));
        }
    }

    void writeKilledMidwayLeavesAWholeFile()
    {
        TempConfigHome home;
        QVERIFY(write(Settings::Id, std::string("keep-me")));
        QVERIFY(write(Settings::Interval, 0));
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(SETTINGS_WRITER));
            QVERIFY(writer.waitForStarted());
            QTest::qWait(20 + QRandomGenerator::global()->bounded(60));
            writer.kill();
            writer.waitForFinished();
            QCOMPARE(text(Settings::Id), std::string("keep-me"));
            QVERIFY(dword(Settings::Interval, -1) >= 0);
            QVERIFY(write(Settings::Height, round));
            QCOMPARE(dword(Settings::Height, -1), round);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
