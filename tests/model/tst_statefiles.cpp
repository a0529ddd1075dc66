// The files that hold what the user's dashboard shows: private to the user, written whole or
// not at all, and shared by two copies of Ormix without either losing the other's update.
#include "base/privatefile.h"
#include "model/dashboardmodel.h"
#include "model/seenmemory.h"
#include "settings/settings.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return mode_t(-1);
    return st.st_mode & 07777;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A reading whose comments are texts, newest first.
DashboardReading comments(const QStringList &texts)
{
    DashboardReading reading;
    for (const QString &text : texts)
        reading[ItemKind::Comment].push_back(
            {text.toStdString(), "http://blog.example/" + text.toStdString()});
    return reading;
}

std::string newestRemembered(const SeenMemory &memory, const std::string &id)
{
    const std::optional<KnownReading> known = memory.load("http://blog.example", id);
    if (!known || (*known)[indexOf(ItemKind::Comment)].list.empty())
        return {};
    return (*known)[indexOf(ItemKind::Comment)].list.front().text;
}

// Runs body in a child process and gives its exit status; a child that is killed, or does
// not end within a minute, fails the test that waits for it.
int inChild(const std::function<int()> &body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = -1;
    if (child < 0 ||
        !QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60000)) {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status)
                             : 1000 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

} // namespace

class TestStateFiles final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_umask = ::umask(022); }
    void cleanupTestCase() { ::umask(m_umask); }

    // The state folder 0700, seen.json and Ormix.conf 0600, however wide they were before.
    void theFilesAreTheUsersAlone()
    {
        TempConfigHome home;
        const QString seen = SeenMemory::defaultPath();
        const QString folder = QFileInfo(seen).absolutePath();
        QVERIFY(Settings().set(Settings::Interval, 40));
        QCOMPARE(modeOf(home.settingsFile()), mode_t(0600));
        DashboardModel model;
        SeenMemory memory(model, seen);
        memory.attach("http://blog.example", "owner");
        model.takeReading(comments({QStringLiteral("a")}));
        QCOMPARE(modeOf(seen), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(QFileInfo(folder).absolutePath()), mode_t(0700)); // made for it
        QCOMPARE(modeOf(seen + QStringLiteral(".lock")), mode_t(0600));

        // Made wider by an earlier version: narrowed at the next write, the bytes kept.
        QVERIFY(::chmod(QFile::encodeName(home.settingsFile()).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(seen).constData(), 0644) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        QVERIFY(Settings().set(Settings::Interval, 50));
        QCOMPARE(modeOf(home.settingsFile()), mode_t(0600));
        QCOMPARE(Settings().value(Settings::Interval), 50);
        model.takeReading(comments({QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(modeOf(seen), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(newestRemembered(memory, "owner"), std::string("b"));
        // Nothing left beside it but the lock.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("seen.json"), QStringLiteral("seen.json.lock")}));
    }

    // A file-size limit cuts the write short: the process goes on, the old file stays whole,
    // and no temporary file is left behind.
    void aWriteCutShortLeavesTheOldFile()
    {
        TempConfigHome home;
        const QString seen = SeenMemory::defaultPath();
        {
            DashboardModel model;
            SeenMemory memory(model, seen);
            memory.attach("http://blog.example", "owner");
            model.takeReading(comments({QStringLiteral("kept")}));
        }
        const QByteArray before = contents(seen);
        QVERIFY(before.contains("kept"));
        QVERIFY(before.size() < 2048);

        const int status = inChild([&] {
            const rlimit limit = {2048, 2048};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 2;
            DashboardModel model;
            SeenMemory memory(model, seen);
            model.logIn("http://blog.example", "owner");
            memory.attach("http://blog.example", "owner");
            QStringList texts;
            for (int i = 0; i < 8; ++i)
                texts << QString(500, QLatin1Char('a' + i));
            model.takeReading(comments(texts));
            // Still running, and still reading the old file.
            return model.isNew(ItemKind::Comment) && newestRemembered(memory, "owner") == "kept"
                       ? 0
                       : 3;
        });
        QCOMPARE(status, 0);
        QCOMPARE(contents(seen), before);
        QCOMPARE(QDir(QFileInfo(seen).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("seen.json"), QStringLiteral("seen.json.lock")}));
    }

    // Two copies of Ormix with different settings share the state file. While one reads,
    // merges and writes it under the lock, the other does not write: it writes at its next
    // reading, over what the first wrote, and neither loses the other's account.
    void twoWritersKeepEachOthersUpdates()
    {
        TempConfigHome home;
        const QString seen = SeenMemory::defaultPath();
        {
            DashboardModel model;
            SeenMemory memory(model, seen);
            memory.attach("http://blog.example", "first");
            model.takeReading(comments({QStringLiteral("first0")}));
        }
        int locked[2];
        int tried[2];
        int released[2];
        QVERIFY(pipe(locked) == 0 && pipe(tried) == 0 && pipe(released) == 0);
        pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            char byte = 0;
            if (::read(locked[0], &byte, 1) != 1)
                _exit(2);
            DashboardModel model;
            SeenMemory memory(model, seen);
            model.logIn("http://blog.example", "first");
            memory.attach("http://blog.example", "first");
            const DashboardReading reading =
                comments({QStringLiteral("first1"), QStringLiteral("first0")});
            model.takeReading(reading);
            if (::write(tried[1], "x", 1) != 1 || ::read(released[0], &byte, 1) != 1)
                _exit(2);
            // The next reading, the same as the last one.
            model.takeReading(reading);
            _exit(0);
        }
        // A check that fails here must not leave the child waiting for ever.
        const auto reap = qScopeGuard([&] {
            for (int fd : {locked[0], locked[1], tried[0], tried[1], released[0], released[1]})
                ::close(fd);
            if (child > 0) {
                kill(child, SIGKILL);
                waitpid(child, nullptr, 0);
            }
        });
        // The other copy, in the middle of its write: it read the file and holds the lock.
        // (Taken after the fork: the child must not share its descriptor.)
        auto other = std::make_unique<FileLock>(seen + QStringLiteral(".lock"));
        QVERIFY(other->isLocked());
        const QByteArray read = contents(seen);
        QCOMPARE(::write(locked[1], "x", 1), ssize_t(1));
        char byte = 0;
        QCOMPARE(::read(tried[0], &byte, 1), ssize_t(1));
        QCOMPARE(contents(seen), read); // not written under the other's lock
        // The other copy writes what it read with its own account, and lets go.
        QByteArray written = read;
        written.replace("\"accounts\":[",
                        "\"accounts\":[{\"blog\":\"http://blog.example\",\"id\":\"second\","
                        "\"seen\":{\"comment\":[{\"link\":\"http://blog.example/s\","
                        "\"text\":\"second0\"}]}},");
        QVERIFY(written != read);
        {
            QFile file(seen);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(written), written.size());
        }
        other.reset();
        QCOMPARE(::write(released[1], "x", 1), ssize_t(1));
        int status = -1;
        QVERIFY(QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 60000));
        child = -1;
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);

        DashboardModel model;
        const SeenMemory memory(model, seen);
        QCOMPARE(newestRemembered(memory, "first"), std::string("first1"));
        QCOMPARE(newestRemembered(memory, "second"), std::string("second0"));
    }

private:
    mode_t m_umask = 022;
};

QTEST_GUILESS_MAIN(TestStateFiles)
#include "tst_statefiles.moc"
