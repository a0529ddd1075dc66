#include "state/settingslocation.h"

#include "state/inifile.h"

#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString settingsStoreLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ormix/Ormix.conf");
}

namespace {

enum class FileState
{
    Missing,
    Usable,
    // Never readable as settings: a FIFO, a device, a file over the limit.
    Replaceable,
    // Not readable now (no descriptor left, no access, an I/O error, a folder, ...): it may
    // hold the user's values, so it is left alone.
    Unreadable
};

// Reads the file only when it is a regular file of at most MaxSettingsFileBytes. Opened
// without blocking, so a FIFO put in its place cannot hold up the start.
FileState readSettingsFile(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? FileState::Missing : FileState::Unreadable;
    struct stat st = {};
    const bool known = ::fstat(fd, &st) == 0;
    FileState state = FileState::Unreadable;
    if (known && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ||
                  (S_ISREG(st.st_mode) && st.st_size > MaxSettingsFileBytes))) {
        state = FileState::Replaceable;
    } else if (known && S_ISREG(st.st_mode)) {
        bytes.resize(qsizetype(st.st_size) + 1);
        qsizetype got = 0;
        state = FileState::Usable;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                state = FileState::Unreadable;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        // Grown past the limit since fstat, so being written right now: not read, and not
        // replaced on a size fstat did not show.
        if (got > MaxSettingsFileBytes)
            state = FileState::Unreadable;
        bytes.resize(got);
    }
    ::close(fd);
    if (state != FileState::Usable)
        bytes.clear();
    return state;
}

} // namespace

std::unique_ptr<QSettings> openSettingsStore(const QString &path, SettingsAccess access)
{
    QByteArray bytes;
    switch (readSettingsFile(path, bytes)) {
    case FileState::Replaceable:
        if (access == SettingsAccess::Read)
            return nullptr;
        // Not a file we could ever read back (a FIFO, a link to a device, a huge file):
        // replaced by the value written now. unlink() removes a link, never its target.
        ::unlink(QFile::encodeName(path).constData());
        break;
    case FileState::Unreadable:
        // Writing now would save this one value over the others the file may still hold.
        return nullptr;
    case FileState::Usable: {
        const QByteArray safe = withoutSerializedIniValues(bytes);
        if (safe.size() == bytes.size())
            break;
        // QSettings reads the file itself: what it must not see has to leave the disk first.
        QSaveFile repaired(path);
        if (!repaired.open(QIODevice::WriteOnly) || repaired.write(safe) != safe.size() ||
            !repaired.commit())
            return nullptr;
        break;
    }
    case FileState::Missing:
        break;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}
