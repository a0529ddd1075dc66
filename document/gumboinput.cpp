#include "gumboinput.h"

#include "document/textencoding.h"

#include <algorithm>

namespace gumboinput {

namespace {

constexpr char32_t kBase = 0x100000;     // U+100000 + c for controls and U+FDD0..U+FDEF
constexpr char32_t kNonChars = 0x10FF00; // two per plane for U+xFFFE and U+xFFFF
constexpr char32_t kNonCharsEnd = kNonChars + 2 * 17;

bool replacedByGumbo(char32_t c)
{
    return (c >= 0x1 && c <= 0x8) || c == 0xB || (c >= 0xE && c <= 0x1F) ||
           (c >= 0x7F && c <= 0x9F) || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

bool isStandIn(char32_t c)
{
    return c >= kBase && c <= 0x10FFFD;
}

char32_t standIn(char32_t c)
{
    if ((c & 0xFFFE) == 0xFFFE)
        return kNonChars + 2 * (c >> 16) + (c & 1);
    return kBase + c;
}

char32_t original(char32_t c)
{
    if (c >= kNonChars && c < kNonCharsEnd)
        return ((c - kNonChars) / 2) << 16 | (0xFFFE + ((c - kNonChars) & 1));
    if ((c >= kBase && c <= kBase + 0x9F) || (c >= kBase + 0xFDD0 && c <= kBase + 0xFDEF))
        return c - kBase;
    return c;
}

// Decodes the code point at s[i] (valid UTF-8) and advances i.
char32_t next(std::string_view s, std::size_t &i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n && i + k < s.size(); ++k)
        c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    return c;
}

} // namespace

namespace {

// gumbo still expands <isindex> into a form, as HTML once did; browsers now parse it as an
// unknown element. A stand-in for its last letter makes gumbo see an unknown tag too.
void renameIsindex(std::string &utf8)
{
    for (std::size_t at = utf8.find('<'); at != std::string::npos; at = utf8.find('<', at + 1)) {
        std::size_t name = at + 1;
        if (name < utf8.size() && utf8[name] == '/')
            ++name;
        if (utf8.size() - name < 8)
            break;
        bool match = true;
        for (std::size_t i = 0; i < 7 && match; ++i)
            match = (utf8[name + i] | 0x20) == "isindex"[i];
        if (!match)
            continue;
        const char after = name + 7 < utf8.size() ? utf8[name + 7] : '>';
        if (!(after == ' ' || after == '\t' || after == '\n' || after == '\f' || after == '\r' ||
              after == '/' || after == '>'))
            continue;
        std::string standInX; // keeps the letter's case for text that merely mentions it
        textencoding::appendUtf8(standInX, standIn(static_cast<unsigned char>(utf8[name + 6])));
        utf8.replace(name + 6, 1, standInX);
    }
}

// gumbo adds up a numeric character reference in an int and overflows on a long one, then
// emits whatever the wrapped value encodes (a stray byte, even a "<"). Browsers read any
// value past U+10FFFF as U+FFFD; so does gumbo for values it can hold, so such numbers are
// shortened to the smallest value past the limit. (Inside script or a comment the text
// then reads differently; nothing we show takes text from there.)
void clampNumericReferences(std::string &utf8)
{
    for (std::size_t at = utf8.find("&#"); at != std::string::npos; at = utf8.find("&#", at + 2)) {
        std::size_t digits = at + 2;
        const bool hex = digits < utf8.size() && (utf8[digits] | 0x20) == 'x';
        if (hex)
            ++digits;
        std::size_t end = digits;
        unsigned long long value = 0;
        for (; end < utf8.size(); ++end) {
            const char c = utf8[end];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                digit = (c | 0x20) - 'a' + 10;
            if (digit < 0)
                break;
            value = std::min<unsigned long long>(value * (hex ? 16 : 10) + digit, 1ULL << 40);
        }
        if (value > 0x7FFFFFFF)
            utf8.replace(digits, end - digits, hex ? "110000" : "1114112");
    }
}

} // namespace

bool protect(std::string &utf8)
{
    bool needed = false;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0x20 && b < 0x7F) {
            ++i;
            continue;
        }
        const char32_t c = next(utf8, i);
        if (isStandIn(c))
            return false;
        needed = needed || replacedByGumbo(c);
    }
    renameIsindex(utf8);
    clampNumericReferences(utf8);
    if (!needed)
        return true;
    std::string out;
    out.reserve(utf8.size() + 64);
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b >= 0x20 && b < 0x7F) {
            out += utf8[i++];
            continue;
        }
        const char32_t c = next(utf8, i);
        textencoding::appendUtf8(out, replacedByGumbo(c) ? standIn(c) : c);
    }
    utf8.swap(out);
    return true;
}

std::string restore(std::string_view utf8)
{
    // Stand-ins are the only 4-byte sequences starting with F4 8x we ever produce.
    if (utf8.find('\xF4') == std::string_view::npos)
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) != 0xF4) {
            out += utf8[i++];
            continue;
        }
        textencoding::appendUtf8(out, original(next(utf8, i)));
    }
    return out;
}

} // namespace gumboinput
