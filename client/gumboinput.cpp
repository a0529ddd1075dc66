#include "gumboinput.h"

#include "textencoding.h"

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
