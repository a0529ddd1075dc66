#pragma once

#include <QByteArray>
#include <QByteArrayView>

// One entry of an INI file, cut as QSettings' INI reader cuts it: "\n" and "\r" both end a
// line, but not inside quotes, which may run over line ends; a backslash takes the next byte
// (a "\r\n" or "\n\r" pair as one) with it; ";" at the start makes the line a comment and
// elsewhere outside quotes ends the entry; blank lines are passed over, and comment lines
// with the white space after them, indent included.
struct IniLine
{
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1; // the first "=" outside quotes, or -1
};

// The next entry from pos, which it moves past the entry; false at the end of the data.
bool NextIniLine(QByteArrayView data, qsizetype &pos, IniLine &line);

// QSettings decodes an INI value element that begins with "@Variant(" or "@DateTime(" with
// QDataStream, which trusts the lengths a damaged file declares and may try to allocate
// gigabytes and abort, or recurse into nested lists until the stack runs out. Ormix never
// writes such values (a string starting with "@" is stored as "@@"). This returns the file
// without every entry whose value could decode to one, cut into entries and unescaped the
// way QSettings reads an INI file; any doubt about an escape counts as a match, and any
// byte the UTF-8 decoder may drop or hold back (all of 0x80 and up) as gone, so an entry
// is dropped rather than handed over when in doubt.
// Everything else, "@Variant(" inside other text included, stays byte for byte.
QByteArray WithoutSerializedIniValues(const QByteArray &data);
