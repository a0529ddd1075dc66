#include "inifile.h"

#include <QByteArrayView>

#include <cstdint>
#include <string_view>

namespace {

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

bool isIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The next entry from pos, which it moves past the entry; false at the end of the data.
bool nextIniLine(QByteArrayView data, qsizetype &pos, IniLine &line)
{
    const qsizetype n = data.size();
    qsizetype start = pos;
    while (start < n && isIniSpace(data[start]))
        ++start;
    line.equals = -1;
    bool quoted = false;
    bool ended = false;
    qsizetype i = start;
    while (i < n && !ended) {
        const char c = data[i++];
        switch (c) {
        case '=':
            if (!quoted && line.equals < 0)
                line.equals = i - 1;
            break;
        case '\n':
        case '\r':
            if (i == start + 1) {
                ++start;
            } else if (!quoted) {
                --i;
                ended = true;
            }
            break;
        case '\\':
            if (i < n) {
                const char e = data[i++];
                if (i < n && ((e == '\n' && data[i] == '\r') || (e == '\r' && data[i] == '\n')))
                    ++i;
            }
            break;
        case '"':
            quoted = !quoted;
            break;
        case ';':
            if (i == start + 1) {
                while (i < n && data[i] != '\n' && data[i] != '\r')
                    ++i;
                // The next entry starts past any indent, or an indented "[" would not
                // open a section here while it does for QSettings.
                while (i < n && isIniSpace(data[i]))
                    ++i;
                start = i;
            } else if (!quoted) {
                --i;
                ended = true;
            }
            break;
        default:
            break;
        }
    }
    pos = i;
    line.start = start;
    line.end = i;
    return i > start;
}

// Follows the start of one value element against the prefixes that QSettings hands to
// QDataStream, one bit per position reached in each prefix.
class SerializedPrefix
{
public:
    void restart()
    {
        for (std::uint32_t &reached : m_reached)
            reached = 1;
    }
    void character(char c)
    {
        for (int k = 0; k < 2; ++k) {
            std::uint32_t next = 0;
            for (std::size_t i = 0; i < prefixes[k].size(); ++i) {
                if ((m_reached[k] >> i & 1) && prefixes[k][i] == c)
                    next |= std::uint32_t(1) << (i + 1);
            }
            m_reached[k] = next;
        }
        note();
    }
    // An escape whose character is not worth working out: any one character, or none.
    void anyCharacter()
    {
        for (int k = 0; k < 2; ++k)
            m_reached[k] |= m_reached[k] << 1 & ((std::uint32_t(2) << prefixes[k].size()) - 1);
        note();
    }
    bool found() const { return m_found; }

private:
    void note()
    {
        for (int k = 0; k < 2; ++k)
            m_found = m_found || (m_reached[k] >> prefixes[k].size() & 1);
    }

    static constexpr std::string_view prefixes[2] = {"@Variant(", "@DateTime("};
    std::uint32_t m_reached[2] = {1, 1};
    bool m_found = false;
};

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// Whether some element of the value may begin with a serialized prefix once QSettings has
// split it at commas outside quotes, removed the quotes and resolved the escapes. Spaces
// outside quotes are passed over everywhere, not only where QSettings trims them: that can
// only find more.
//
// QSettings decodes the text between escapes, quotes and commas piece by piece with one
// stateful UTF-8 decoder per value, so bytes of 0x80 and up may vanish: a byte-order mark
// is dropped when it is the first thing decoded, even if split over pieces or elements,
// and a sequence cut short at the end of a piece is held back, to come out after what
// the escapes gave meanwhile, or never. They never decode to a prefix character
// (overlong forms are refused), so they are passed over rather than ending a match.
// (A held-back sequence that does not go on also swallows the next byte, but only after
// putting U+FFFD in the element, which ends any prefix there.)
bool mayHoldSerializedValue(QByteArrayView value)
{
    SerializedPrefix prefix;
    bool quoted = false;
    qsizetype i = 0;
    while (i < value.size() && !prefix.found()) {
        const char c = value[i++];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            prefix.restart();
        } else if (((c == ' ' || c == '\t') && !quoted) || static_cast<unsigned char>(c) >= 0x80) {
            continue; // may be gone by the time QSettings compares the prefix
        } else if (c != '\\') {
            prefix.character(c);
        } else if (i < value.size()) {
            const char e = value[i++];
            if (e == '"' || e == '?' || e == '\'' || e == '\\') {
                prefix.character(e);
            } else if (std::string_view("abfnrtv").find(e) != std::string_view::npos) {
                prefix.character('\a'); // a control character: never part of a prefix
            } else {
                // A hexadecimal or octal code takes all the digits that follow it; a line
                // continuation takes the other half of a "\r\n" pair.
                if (e == 'x') {
                    while (i < value.size() && isHexDigit(value[i]))
                        ++i;
                } else if (isOctalDigit(e)) {
                    while (i < value.size() && isOctalDigit(value[i]))
                        ++i;
                } else if ((e == '\n' || e == '\r') && i < value.size() &&
                           (value[i] == '\n' || value[i] == '\r') && value[i] != e) {
                    ++i;
                }
                prefix.anyCharacter();
            }
        }
    }
    return prefix.found();
}

} // namespace

QByteArray withoutSerializedIniValues(const QByteArray &data)
{
    if (!data.contains('@') && !data.contains('\\'))
        return data;
    QByteArray kept;
    bool dropped = false;
    qsizetype copied = 0;
    qsizetype pos = 0;
    IniLine line;
    while (nextIniLine(data, pos, line)) {
        // Section headers are not decoded as values.
        if (line.equals < 0 || data[line.start] == '[')
            continue;
        const QByteArrayView value(data.constData() + line.equals + 1, line.end - line.equals - 1);
        if (!mayHoldSerializedValue(value))
            continue;
        kept += QByteArrayView(data.constData() + copied, line.start - copied);
        copied = line.end;
        dropped = true;
    }
    if (!dropped)
        return data;
    kept += QByteArrayView(data.constData() + copied, data.size() - copied);
    return kept;
}
