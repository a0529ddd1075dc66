#include "state/boundedfile.h"

#include <QFile>
#include <QFileInfo>

BoundedFile readBoundedFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return BoundedFile::Missing;
    if (!info.isFile())
        return BoundedFile::Unreadable;
    if (info.size() > maxBytes)
        return BoundedFile::Replaceable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return BoundedFile::Unreadable;
    bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        bytes.clear();
        return BoundedFile::Unreadable;
    }
    return BoundedFile::Usable;
}
