#pragma once

#include <QByteArray>
#include <QString>

// Files of ours (the settings, what was seen of the dashboard): readable by this user alone,
// and written whole or not at all.

// Makes the folder, and any missing folder above it, for this user alone; a folder of ours
// made wider before is narrowed. False when there is no folder to write in.
bool makePrivateFolder(const QString &path);

// Narrows an existing file to this user, or creates it empty and private, so that a save
// that keeps the file's mode leaves it private. False when that cannot be done.
bool makePrivateFile(const QString &path);

// Replaces path with bytes through a private temporary file beside it: every write, the
// close and an fsync are checked before the rename, and a file-size limit is an error, not
// the end of the process. False leaves the old file as it was.
bool writeFileWhole(const QString &path, const QByteArray &bytes);

// An exclusive lock on a lock file, taken without waiting for more than a moment: another
// copy of Ormix holds it only while it reads, merges and writes one small file.
class FileLock
{
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool isLocked() const { return m_locked; }

private:
    int m_fd = -1;
    bool m_locked = false;
};
