#include "textencoding.h"

#include "document/encodingtables.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>
#include <vector>

namespace textencoding {

namespace {

struct LabelEntry
{
    const char *encoding;
    std::initializer_list<const char *> labels;
};

// The Encoding Standard's label table.
const LabelEntry kLabels[] = {
    {"UTF-8",
     {"unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "utf-8", "utf8", "x-unicode20utf8"}},
    {"IBM866", {"866", "cp866", "csibm866", "ibm866"}},
    {"ISO-8859-2",
     {"csisolatin2", "iso-8859-2", "iso-ir-101", "iso8859-2", "iso88592", "iso_8859-2",
      "iso_8859-2:1987", "l2", "latin2"}},
    {"ISO-8859-3",
     {"csisolatin3", "iso-8859-3", "iso-ir-109", "iso8859-3", "iso88593", "iso_8859-3",
      "iso_8859-3:1988", "l3", "latin3"}},
    {"ISO-8859-4",
     {"csisolatin4", "iso-8859-4", "iso-ir-110", "iso8859-4", "iso88594", "iso_8859-4",
      "iso_8859-4:1988", "l4", "latin4"}},
    {"ISO-8859-5",
     {"csisolatincyrillic", "cyrillic", "iso-8859-5", "iso-ir-144", "iso8859-5", "iso88595",
      "iso_8859-5", "iso_8859-5:1988"}},
    {"ISO-8859-6",
     {"arabic", "asmo-708", "csiso88596e", "csiso88596i", "csisolatinarabic", "ecma-114",
      "iso-8859-6", "iso-8859-6-e", "iso-8859-6-i", "iso-ir-127", "iso8859-6", "iso88596",
      "iso_8859-6", "iso_8859-6:1987"}},
    {"ISO-8859-7",
     {"csisolatingreek", "ecma-118", "elot_928", "greek", "greek8", "iso-8859-7", "iso-ir-126",
      "iso8859-7", "iso88597", "iso_8859-7", "iso_8859-7:1987", "sun_eu_greek"}},
    {"ISO-8859-8",
     {"csiso88598e", "csisolatinhebrew", "hebrew", "iso-8859-8", "iso-8859-8-e", "iso-ir-138",
      "iso8859-8", "iso88598", "iso_8859-8", "iso_8859-8:1988", "visual"}},
    {"ISO-8859-8-I", {"csiso88598i", "iso-8859-8-i", "logical"}},
    {"ISO-8859-10",
     {"csisolatin6", "iso-8859-10", "iso-ir-157", "iso8859-10", "iso885910", "l6", "latin6"}},
    {"ISO-8859-13", {"iso-8859-13", "iso8859-13", "iso885913"}},
    {"ISO-8859-14", {"iso-8859-14", "iso8859-14", "iso885914"}},
    {"ISO-8859-15", {"csisolatin9", "iso-8859-15", "iso8859-15", "iso885915", "iso_8859-15", "l9"}},
    {"ISO-8859-16", {"iso-8859-16"}},
    {"KOI8-R", {"cskoi8r", "koi", "koi8", "koi8-r", "koi8_r"}},
    {"KOI8-U", {"koi8-ru", "koi8-u"}},
    {"macintosh", {"csmacintosh", "mac", "macintosh", "x-mac-roman"}},
    {"windows-874",
     {"dos-874", "iso-8859-11", "iso8859-11", "iso885911", "tis-620", "windows-874"}},
    {"windows-1250", {"cp1250", "windows-1250", "x-cp1250"}},
    {"windows-1251", {"cp1251", "windows-1251", "x-cp1251"}},
    {"windows-1252",
     {"ansi_x3.4-1968", "ascii", "cp1252", "cp819", "csisolatin1", "ibm819", "iso-8859-1",
      "iso-ir-100", "iso8859-1", "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1", "latin1",
      "us-ascii", "windows-1252", "x-cp1252"}},
    {"windows-1253", {"cp1253", "windows-1253", "x-cp1253"}},
    {"windows-1254",
     {"cp1254", "csisolatin5", "iso-8859-9", "iso-ir-148", "iso8859-9", "iso88599", "iso_8859-9",
      "iso_8859-9:1989", "l5", "latin5", "windows-1254", "x-cp1254"}},
    {"windows-1255", {"cp1255", "windows-1255", "x-cp1255"}},
    {"windows-1256", {"cp1256", "windows-1256", "x-cp1256"}},
    {"windows-1257", {"cp1257", "windows-1257", "x-cp1257"}},
    {"windows-1258", {"cp1258", "windows-1258", "x-cp1258"}},
    {"x-mac-cyrillic", {"x-mac-cyrillic", "x-mac-ukrainian"}},
    {"GBK",
     {"chinese", "csgb2312", "csiso58gb231280", "gb2312", "gb_2312", "gb_2312-80", "gbk",
      "iso-ir-58", "x-gbk"}},
    {"gb18030", {"gb18030"}},
    {"Big5", {"big5", "big5-hkscs", "cn-big5", "csbig5", "x-x-big5"}},
    {"EUC-JP", {"cseucpkdfmtjapanese", "euc-jp", "x-euc-jp"}},
    {"ISO-2022-JP", {"csiso2022jp", "iso-2022-jp"}},
    {"Shift_JIS",
     {"csshiftjis", "ms932", "ms_kanji", "shift-jis", "shift_jis", "sjis", "windows-31j",
      "x-sjis"}},
    {"EUC-KR",
     {"cseuckr", "csksc56011987", "euc-kr", "iso-ir-149", "korean", "ks_c_5601-1987",
      "ks_c_5601-1989", "ksc5601", "ksc_5601", "windows-949"}},
    {"replacement",
     {"csiso2022kr", "hz-gb-2312", "iso-2022-cn", "iso-2022-cn-ext", "iso-2022-kr", "replacement"}},
    {"UTF-16BE", {"unicodefffe", "utf-16be"}},
    {"UTF-16LE",
     {"csunicode", "iso-10646-ucs-2", "ucs-2", "unicode", "unicodefeff", "utf-16", "utf-16le"}},
    {"x-user-defined", {"x-user-defined"}},
};

bool isHtmlSpace(unsigned char c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool startsWithNoCase(std::string_view s, std::size_t at, std::string_view prefix)
{
    if (s.size() - std::min(at, s.size()) < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(s[at + i]) != prefix[i])
            return false;
    return true;
}

// --- the <meta> prescan ---

struct Attribute
{
    std::string name;
    std::string value;
};

class Prescanner
{
public:
    explicit Prescanner(std::string_view bytes) : m_s(bytes) {}
    std::optional<std::string> run();

private:
    bool atEnd() const { return m_pos >= m_s.size(); }
    unsigned char byte() const { return static_cast<unsigned char>(m_s[m_pos]); }
    // No value at the end of the attributes; an overrun aborts the prescan (m_aborted).
    std::optional<Attribute> getAttribute();
    std::optional<std::string> processMeta();

    std::string_view m_s;
    std::size_t m_pos = 0;
    bool m_aborted = false;
};

std::optional<Attribute> Prescanner::getAttribute()
{
    while (!atEnd() && (isHtmlSpace(byte()) || byte() == '/'))
        ++m_pos;
    if (atEnd()) {
        m_aborted = true;
        return std::nullopt;
    }
    if (byte() == '>')
        return std::nullopt;
    Attribute attr;
    for (;;) {
        if (atEnd()) {
            m_aborted = true;
            return std::nullopt;
        }
        const unsigned char b = byte();
        if (b == '=' && !attr.name.empty()) {
            ++m_pos;
            break;
        }
        if (isHtmlSpace(b)) {
            while (!atEnd() && isHtmlSpace(byte()))
                ++m_pos;
            if (atEnd()) {
                m_aborted = true;
                return std::nullopt;
            }
            if (byte() != '=')
                return attr;
            ++m_pos;
            break;
        }
        if (b == '/' || b == '>')
            return attr;
        attr.name += lowerAscii(static_cast<char>(b));
        ++m_pos;
    }
    while (!atEnd() && isHtmlSpace(byte()))
        ++m_pos;
    if (atEnd()) {
        m_aborted = true;
        return std::nullopt;
    }
    const unsigned char first = byte();
    if (first == '"' || first == '\'') {
        for (;;) {
            ++m_pos;
            if (atEnd()) {
                m_aborted = true;
                return std::nullopt;
            }
            if (byte() == first) {
                ++m_pos;
                return attr;
            }
            attr.value += lowerAscii(static_cast<char>(byte()));
        }
    }
    if (first == '>')
        return attr;
    for (;;) {
        if (atEnd()) {
            m_aborted = true;
            return std::nullopt;
        }
        if (isHtmlSpace(byte()) || byte() == '>')
            return attr;
        attr.value += lowerAscii(static_cast<char>(byte()));
        ++m_pos;
    }
}

std::optional<std::string> Prescanner::processMeta()
{
    std::vector<std::string> seen;
    bool gotPragma = false;
    std::optional<bool> needPragma;
    std::optional<std::string> charset;
    bool charsetFailed = false;
    for (;;) {
        auto attr = getAttribute();
        if (!attr)
            break;
        if (std::find(seen.begin(), seen.end(), attr->name) != seen.end())
            continue;
        seen.push_back(attr->name);
        if (attr->name == "http-equiv") {
            if (attr->value == "content-type")
                gotPragma = true;
        } else if (attr->name == "content") {
            if (!charset && !charsetFailed) {
                if (auto label = charsetFromContentType(attr->value)) {
                    charset = encodingForLabel(*label);
                    charsetFailed = !charset;
                    needPragma = true;
                }
            }
        } else if (attr->name == "charset") {
            charset = encodingForLabel(attr->value);
            charsetFailed = !charset;
            needPragma = false;
        }
    }
    if (m_aborted || !needPragma || (*needPragma && !gotPragma) || !charset)
        return std::nullopt;
    if (*charset == "UTF-16BE" || *charset == "UTF-16LE")
        return std::string("UTF-8");
    if (*charset == "x-user-defined")
        return std::string("windows-1252");
    return charset;
}

std::optional<std::string> Prescanner::run()
{
    while (!atEnd() && !m_aborted) {
        if (m_s.compare(m_pos, 4, "<!--") == 0) {
            const std::size_t close = m_s.find("-->", m_pos + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            m_pos = close + 2;
        } else if (startsWithNoCase(m_s, m_pos, "<meta") && m_pos + 5 < m_s.size() &&
                   (isHtmlSpace(static_cast<unsigned char>(m_s[m_pos + 5])) ||
                    m_s[m_pos + 5] == '/')) {
            m_pos += 5;
            if (auto found = processMeta())
                return found;
        } else if (byte() == '<' && m_pos + 1 < m_s.size() &&
                   (std::isalpha(static_cast<unsigned char>(m_s[m_pos + 1])) ||
                    (m_s[m_pos + 1] == '/' && m_pos + 2 < m_s.size() &&
                     std::isalpha(static_cast<unsigned char>(m_s[m_pos + 2]))))) {
            while (!atEnd() && !isHtmlSpace(byte()) && byte() != '>')
                ++m_pos;
            while (!m_aborted && getAttribute()) {
            }
        } else if (byte() == '<' && m_pos + 1 < m_s.size() &&
                   (m_s[m_pos + 1] == '!' || m_s[m_pos + 1] == '/' || m_s[m_pos + 1] == '?')) {
            const std::size_t close = m_s.find('>', m_pos + 2);
            if (close == std::string_view::npos)
                return std::nullopt;
            m_pos = close;
        }
        ++m_pos;
    }
    return std::nullopt;
}

// --- decoders ---

void decodeUtf8(std::string_view in, std::string &out)
{
    unsigned needed = 0, seen = 0;
    unsigned char lower = 0x80, upper = 0xBF;
    char32_t cp = 0;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        if (needed == 0) {
            if (b < 0x80) {
                // Most of a page is ASCII: copy the whole run at once.
                std::size_t end = i + 1;
                while (end < in.size() && static_cast<unsigned char>(in[end]) < 0x80)
                    ++end;
                out.append(in.data() + i, end - i);
                i = end;
                continue;
            }
            ++i;
            if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                cp = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0)
                    lower = 0xA0;
                if (b == 0xED)
                    upper = 0x9F;
                needed = 2;
                cp = b & 0xF;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0)
                    lower = 0x90;
                if (b == 0xF4)
                    upper = 0x8F;
                needed = 3;
                cp = b & 0x7;
            } else {
                appendUtf8(out, 0xFFFD);
            }
            continue;
        }
        if (b < lower || b > upper) {
            // The byte starts over; only the bytes seen so far are replaced.
            needed = seen = 0;
            cp = 0;
            lower = 0x80;
            upper = 0xBF;
            appendUtf8(out, 0xFFFD);
            continue;
        }
        ++i;
        lower = 0x80;
        upper = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        if (++seen == needed) {
            appendUtf8(out, cp);
            needed = seen = 0;
            cp = 0;
        }
    }
    if (needed != 0)
        appendUtf8(out, 0xFFFD);
}

void decodeUtf16(std::string_view in, bool bigEndian, std::string &out)
{
    std::optional<char32_t> leadSurrogate;
    std::size_t i = 0;
    for (; i + 1 < in.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        const auto b1 = static_cast<unsigned char>(in[i + 1]);
        const char32_t unit = bigEndian ? (char32_t(b0) << 8) | b1 : (char32_t(b1) << 8) | b0;
        if (leadSurrogate) {
            const char32_t lead = *leadSurrogate;
            leadSurrogate.reset();
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
                continue;
            }
            appendUtf8(out, 0xFFFD); // the unit is looked at again below
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            leadSurrogate = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            appendUtf8(out, 0xFFFD);
        else
            appendUtf8(out, unit);
    }
    if (leadSurrogate || i < in.size())
        appendUtf8(out, 0xFFFD);
}

void decodeEucKr(std::string_view in, std::string &out)
{
    const auto &index = tables::eucKrIndex();
    unsigned char lead = 0;
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (lead != 0) {
            const unsigned char l = lead;
            lead = 0;
            char32_t cp = 0;
            if (b >= 0x41 && b <= 0xFE)
                cp = index[static_cast<std::size_t>(l - 0x81) * 190 + (b - 0x41)];
            if (cp != 0) {
                appendUtf8(out, cp);
                ++i;
                continue;
            }
            appendUtf8(out, 0xFFFD);
            if (b >= 0x80)
                ++i; // an ASCII trail byte stands on its own again
            continue;
        }
        ++i;
        if (b < 0x80)
            out += static_cast<char>(b);
        else if (b >= 0x81 && b <= 0xFE)
            lead = b;
        else
            appendUtf8(out, 0xFFFD);
    }
    if (lead != 0)
        appendUtf8(out, 0xFFFD);
}

void decodeSingleByte(std::string_view in, const std::array<char32_t, 128> &table, std::string &out)
{
    for (char ch : in) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else
            appendUtf8(out, table[b - 0x80] ? table[b - 0x80] : 0xFFFD);
    }
}

} // namespace

std::optional<std::string> encodingForLabel(std::string_view label)
{
    while (!label.empty() && isHtmlSpace(static_cast<unsigned char>(label.front())))
        label.remove_prefix(1);
    while (!label.empty() && isHtmlSpace(static_cast<unsigned char>(label.back())))
        label.remove_suffix(1);
    std::string lower;
    for (char c : label)
        lower += lowerAscii(c);
    for (const LabelEntry &entry : kLabels)
        for (const char *l : entry.labels)
            if (lower == l)
                return std::string(entry.encoding);
    return std::nullopt;
}

std::optional<std::string> charsetFromContentType(std::string_view s)
{
    std::size_t pos = 0;
    for (;;) {
        std::size_t found = std::string_view::npos;
        for (std::size_t i = pos; i + 7 <= s.size(); ++i)
            if (startsWithNoCase(s, i, "charset")) {
                found = i;
                break;
            }
        if (found == std::string_view::npos)
            return std::nullopt;
        pos = found + 7;
        while (pos < s.size() && isHtmlSpace(static_cast<unsigned char>(s[pos])))
            ++pos;
        if (pos < s.size() && s[pos] == '=') {
            ++pos;
            break;
        }
    }
    while (pos < s.size() && isHtmlSpace(static_cast<unsigned char>(s[pos])))
        ++pos;
    if (pos >= s.size())
        return std::nullopt;
    if (s[pos] == '"' || s[pos] == '\'') {
        const std::size_t close = s.find(s[pos], pos + 1);
        if (close == std::string_view::npos)
            return std::nullopt;
        return std::string(s.substr(pos + 1, close - pos - 1));
    }
    std::size_t end = pos;
    while (end < s.size() && !isHtmlSpace(static_cast<unsigned char>(s[end])) && s[end] != ';')
        ++end;
    return std::string(s.substr(pos, end - pos));
}

std::optional<std::string> prescanForEncoding(std::string_view bytes)
{
    return Prescanner(bytes).run();
}

Sniffed sniffEncoding(std::string_view bytes, std::string_view httpCharset)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return {"UTF-8", 3, true};
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return {"UTF-16BE", 2, true};
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return {"UTF-16LE", 2, true};
    if (auto fromHttp = encodingForLabel(httpCharset))
        return {*fromHttp, 0, true};
    if (auto fromMeta = prescanForEncoding(bytes.substr(0, 1024)))
        return {*fromMeta, 0, false};
    return {"UTF-8", 0, false};
}

std::string decodeToUtf8(std::string_view bytes, std::string_view encoding)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    if (encoding == "UTF-8") {
        decodeUtf8(bytes, out);
    } else if (encoding == "UTF-16LE" || encoding == "UTF-16BE") {
        decodeUtf16(bytes, encoding == "UTF-16BE", out);
    } else if (encoding == "EUC-KR") {
        decodeEucKr(bytes, out);
    } else if (encoding == "replacement") {
        if (!bytes.empty())
            appendUtf8(out, 0xFFFD);
    } else if (const auto *table = tables::singleByteTable(encoding)) {
        decodeSingleByte(bytes, *table, out);
    } else {
        tables::decodeWithSystem(bytes, encoding, out);
    }
    return out;
}

void prepareDecoders()
{
    tables::prepareAll();
}

std::string_view outputEncoding(std::string_view encoding)
{
    if (encoding == "UTF-16LE" || encoding == "UTF-16BE" || encoding == "replacement")
        return "UTF-8";
    return encoding;
}

std::string encodeForUrl(std::u32string_view text, std::string_view encoding)
{
    std::string out;
    encoding = outputEncoding(encoding);
    for (char32_t c : text) {
        if (encoding == "UTF-8") {
            appendUtf8(out, c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (auto bytes = tables::encodeChar(c, encoding)) {
            out += *bytes;
            continue;
        }
        // The URL Standard's stand-in for a character the encoding lacks: "&#N;", encoded.
        out += "%26%23" + std::to_string(static_cast<unsigned long>(c)) + "%3B";
    }
    return out;
}

std::u32string utf8ToUtf32(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    std::string valid;
    std::string_view s = utf8;
    // Our strings are normally valid already; repair them once if not.
    auto decodeValid = [&out](std::string_view v) {
        for (std::size_t i = 0; i < v.size();) {
            const auto b = static_cast<unsigned char>(v[i]);
            const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(v[i + k]) & 0x3F);
            out += cp;
            i += n;
        }
    };
    decodeUtf8(s, valid);
    decodeValid(valid);
    return out;
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace textencoding
