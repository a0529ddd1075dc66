#include "boundedfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

BoundedFile readBoundedFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? BoundedFile::Missing : BoundedFile::Unreadable;
    struct stat st = {};
    const bool known = ::fstat(fd, &st) == 0;
    BoundedFile state = BoundedFile::Unreadable;
    if (known && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ||
                  (S_ISREG(st.st_mode) && st.st_size > maxBytes))) {
        state = BoundedFile::Replaceable;
    } else if (known && S_ISREG(st.st_mode)) {
        bytes.resize(qsizetype(st.st_size) + 1);
        qsizetype got = 0;
        state = BoundedFile::Usable;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                state = BoundedFile::Unreadable;
                break;
            }
            if (n == 0)
                break;
            got += n;
        }
        // Grown past the limit since fstat, so being written right now: not read, and not
        // replaced on a size fstat did not show.
        if (got > maxBytes)
            state = BoundedFile::Unreadable;
        bytes.resize(got);
    }
    ::close(fd);
    if (state != BoundedFile::Usable)
        bytes.clear();
    return state;
}
