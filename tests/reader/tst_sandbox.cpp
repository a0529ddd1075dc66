// The page reader's sandbox, entered by a forked child: what it may still do works, and
// anything else it tries (a file, a socket, a new process, exec) fails or ends it.
#include "reader/sandbox.h"

#include <QFile>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Ended
{
    bool exited = false;
    int code = -1;     // the exit status, or the signal that ended it
    QByteArray status; // /proc/PID/status while it waited in the sandbox
    QByteArray said;   // what it wrote on standard output
};

// Forks a child whose standard input and output are pipes of ours; it enters the sandbox,
// waits for a byte on standard input, then runs action and exits with what it returns.
Ended inSandbox(const std::function<int()> &action)
{
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        qFatal("no pipes");
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[1]);
        close(out[0]);
        // As in the reader: no handler of the test framework's on the way of a signal.
        std::signal(SIGABRT, SIG_DFL);
        std::signal(SIGSEGV, SIG_DFL);
        if (!sandbox::enter(nullptr))
            _exit(90);
        if (write(STDOUT_FILENO, "r", 1) != 1)
            _exit(92);
        char go = 0;
        if (read(STDIN_FILENO, &go, 1) != 1)
            _exit(91);
        _exit(action());
    }
    close(in[0]);
    close(out[1]);
    Ended ended;
    char ready = 0;
    if (read(out[0], &ready, 1) != 1)
        qWarning("the child did not enter the sandbox");
    QFile status(QStringLiteral("/proc/%1/status").arg(child));
    if (status.open(QIODevice::ReadOnly))
        ended.status = status.readAll();
    (void)!write(in[1], "g", 1);
    close(in[1]);
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        ended.said.append(buffer, n);
    close(out[0]);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    ended.exited = WIFEXITED(wstatus);
    ended.code = ended.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
    return ended;
}

} // namespace

class TestSandbox final : public QObject
{
    Q_OBJECT

private slots:
    // Reading requests, writing answers and allocating memory stay allowed.
    void whatAReaderDoesStillWorks()
    {
        const Ended ended = inSandbox([] {
            char byte = 0;
            if (read(STDIN_FILENO, &byte, 1) != 0) // the pipe's end
                return 1;
            void *big = std::malloc(64 << 20);
            if (!big)
                return 2;
            static_cast<volatile char *>(big)[(64 << 20) - 1] = 1;
            std::free(big);
            return write(STDOUT_FILENO, "ok", 2) == 2 ? 0 : 3;
        });
        QVERIFY(ended.exited);
        QCOMPARE(ended.code, 0);
        QCOMPARE(ended.said, QByteArray("ok"));
        QVERIFY(ended.status.contains("NoNewPrivs:\t1"));
        if (sandbox::filters())
            QVERIFY(ended.status.contains("Seccomp:\t2"));
    }

    // Memory past the address-space limit is refused, not granted.
    void theAddressSpaceIsLimited()
    {
        if (!sandbox::filters())
            QSKIP("the sanitizers' build has no address-space limit");
        const Ended ended = inSandbox([] {
            void *huge = std::malloc(sandbox::AddressSpaceBytes);
            return huge ? 1 : 0;
        });
        QVERIFY(ended.exited);
        QCOMPARE(ended.code, 0);
    }

    void everythingElseEndsTheReader_data()
    {
        QTest::addColumn<std::function<int()>>("action");
        QTest::newRow("open a file")
            << std::function<int()>([] { return open("/etc/hostname", O_RDONLY) >= 0 ? 10 : 11; });
        QTest::newRow("open a socket")
            << std::function<int()>([] { return socket(AF_INET, SOCK_STREAM, 0) >= 0 ? 10 : 11; });
        QTest::newRow("fork") << std::function<int()>([] { return fork() >= 0 ? 10 : 11; });
        QTest::newRow("exec") << std::function<int()>([] {
            execl("/bin/true", "true", static_cast<char *>(nullptr));
            return 11;
        });
        QTest::newRow("write to another descriptor")
            << std::function<int()>([] { return write(3, "x", 1) == 1 ? 10 : 11; });
        QTest::newRow("executable memory") << std::function<int()>([] {
            void *code =
                mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            return code != MAP_FAILED ? 10 : 11;
        });
    }

    void everythingElseEndsTheReader()
    {
        if (!sandbox::filters())
            QSKIP("the sanitizers' build has no system call filter");
        QFETCH(std::function<int()>, action);
        const Ended ended = inSandbox(action);
        QVERIFY2(!ended.exited, qPrintable(QStringLiteral("exited with %1").arg(ended.code)));
        QCOMPARE(ended.code, SIGSYS);
    }

    // An abort (a parser's assertion) still ends the reader as an abort.
    void anAbortShowsAsOne()
    {
        const Ended ended = inSandbox([] {
            std::abort();
            return 0;
        });
        QVERIFY(!ended.exited);
        QCOMPARE(ended.code, SIGABRT);
    }
};

QTEST_APPLESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
