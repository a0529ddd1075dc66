#pragma once

#include <QByteArray>

// QSettings decodes an INI value element that begins with "@Variant(" or "@DateTime(" with
// QDataStream, which trusts the lengths a damaged file declares and may try to allocate
// gigabytes and abort, or recurse into nested lists until the stack runs out. Ormix never
// writes such values (a string starting with "@" is stored as "@@"). This returns the file
// without every entry whose value could decode to one, cut into entries and unescaped the
// way QSettings reads an INI file; any doubt about an escape counts as a match, and any
// byte the UTF-8 decoder may drop or hold back (all of 0x80 and up) as gone, so an entry
// is dropped rather than handed over when in doubt.
// Everything else, "@Variant(" inside other text included, stays byte for byte.
QByteArray withoutSerializedIniValues(const QByteArray &data);
