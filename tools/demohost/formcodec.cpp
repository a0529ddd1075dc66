#include "formcodec.h"

#include <cstdio>

namespace formcodec {

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decodeComponent(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0) {
                out += c;
                continue;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> parsePairs(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view part = text.substr(start, end - start);
        if (!part.empty()) {
            const size_t eq = part.find('=');
            if (eq == std::string_view::npos)
                pairs.emplace_back(decodeComponent(part), std::string());
            else
                pairs.emplace_back(decodeComponent(part.substr(0, eq)),
                                   decodeComponent(part.substr(eq + 1)));
        }
        start = end + 1;
    }
    return pairs;
}

std::string value(const std::vector<std::pair<std::string, std::string>> &pairs,
                  std::string_view name, std::string fallback)
{
    for (const auto &[key, val] : pairs) {
        if (key == name)
            return val;
    }
    return fallback;
}

std::string encodeComponent(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
static size_t utf8Length(std::string_view s, size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    unsigned min = 0;
    unsigned cp = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

std::string jsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (size_t i = 0; i < utf8.size();) {
        const size_t len = utf8Length(utf8, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        const char c = utf8[i];
        if (len > 1) {
            out.append(utf8.substr(i, len));
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
        i += len;
    }
    out += '"';
    return out;
}

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace formcodec
