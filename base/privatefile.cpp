#include "privatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t OwnerOnly = 0600;
constexpr mode_t OwnerOnlyFolder = 0700;

// A write past RLIMIT_FSIZE raises SIGXFSZ, whose default action ends the process: ignored,
// the write fails with EFBIG and the old file stays.
void ignoreFileSizeSignal()
{
    static const bool ignored = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    Q_UNUSED(ignored);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

bool makePrivateFolder(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Folders that are missing are made one by one, private, as the XDG base directory
    // rules ask of a state folder.
    qsizetype from = 1;
    while (from <= absolute.size()) {
        qsizetype end = absolute.indexOf(QLatin1Char('/'), from);
        if (end < 0)
            end = absolute.size();
        const QByteArray name = QFile::encodeName(absolute.left(end));
        if (::mkdir(name.constData(), OwnerOnlyFolder) != 0 && errno != EEXIST)
            return false;
        from = end + 1;
    }
    const QByteArray name = QFile::encodeName(absolute);
    struct stat st = {};
    if (::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid())
        return ::chmod(name.constData(), OwnerOnlyFolder) == 0;
    return true;
}

bool makePrivateFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, OwnerOnly);
    if (fd < 0)
        return false;
    struct stat st = {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && (st.st_mode & 077) != 0)
        ok = ::fchmod(fd, st.st_mode & 0700) == 0;
    ::close(fd);
    return ok;
}

bool writeFileWhole(const QString &path, const QByteArray &bytes)
{
    ignoreFileSizeSignal();
    const QByteArray name = QFile::encodeName(path);
    QByteArray temporary = name + ".XXXXXX";
    // mkostemp makes the file 0600, whatever the umask.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), name.constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

FileLock::FileLock(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, OwnerOnly);
    if (m_fd < 0)
        return;
    // About a tenth of a second in all, so the event loop is never held up for long.
    static constexpr useconds_t pauses[] = {2000, 5000, 10000, 20000, 30000, 35000};
    for (std::size_t attempt = 0;; ++attempt) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_locked = true;
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || attempt == std::size(pauses))
            return;
        ::usleep(pauses[attempt]);
    }
}

FileLock::~FileLock()
{
    // Closing the descriptor releases the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}
