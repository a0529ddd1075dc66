#pragma once

#include <QByteArray>

// QSettings decodes an INI value element that begins with "@Variant(" or "@DateTime(" with
// QDataStream, which trusts the lengths a damaged file declares and may try to allocate
// gigabytes and abort. Ormix never writes such values (a string starting with "@" is stored
// as "@@"). This returns the file without every entry whose value could decode to one, cut
// into entries and unescaped the way QSettings reads an INI file; any doubt about an escape
// counts as a match, so an entry is dropped rather than handed over when in doubt.
// Everything else, "@Variant(" inside other text included, stays byte for byte.
QByteArray WithoutSerializedIniValues(const QByteArray &data);
