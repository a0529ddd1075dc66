#pragma once

#include <QByteArray>
#include <QString>

// A small file of ours that anything may have been put in the place of: a FIFO, a device,
// a huge file, a folder, a file we may not read now.
enum class BoundedFile
{
    Missing,
    Usable,
    // Never readable as such a file: a FIFO, a device, a file over the limit. It may be
    // replaced.
    Replaceable,
    // Not readable now (no descriptor left, no access, an I/O error, a folder, ...): it may
    // hold the user's data, so it is left alone.
    Unreadable
};

// Reads path into bytes only when it is a regular file of at most maxBytes. Opened without
// blocking, so a FIFO put in its place cannot hold anything up.
BoundedFile readBoundedFile(const QString &path, qint64 maxBytes, QByteArray &bytes);
