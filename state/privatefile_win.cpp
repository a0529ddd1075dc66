#include "state/privatefile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

// A profile folder is private to its user already; QSaveFile writes through a temporary
// file and a rename.
bool makePrivateFolder(const QString &path)
{
    return QDir().mkpath(path);
}

bool makePrivateFile(const QString &path)
{
    QFile file(path);
    return file.exists() || file.open(QIODevice::WriteOnly);
}

bool writeFileWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           file.commit();
}

// Not locked: two copies of Ormix under one Windows profile write in turn at worst.
FileLock::FileLock(const QString &) : m_locked(true) {}

FileLock::~FileLock() = default;
