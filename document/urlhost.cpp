#include "urlhost.h"

#include "document/textencoding.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <vector>

// Hosts by the URL Standard: percent-decoding, IDNA through QUrl, the numeric IPv4 forms
// browsers accept, IPv6 through QUrl (which prints it the same way), opaque hosts.

namespace urlhost {

namespace {

bool isAsciiDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}
bool isAsciiHex(char32_t c)
{
    return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char32_t asciiLower(char32_t c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// The C0 control percent-encode set, as opaque hosts use it.
void appendC0Encoded(std::string &out, char32_t c)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string utf8;
    textencoding::appendUtf8(utf8, c);
    if (c >= 0x20 && c <= 0x7E) {
        out += utf8;
        return;
    }
    for (unsigned char b : utf8) {
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 15];
    }
}

std::string percentDecode(std::u32string_view input)
{
    std::string bytes;
    for (char32_t c : input)
        textencoding::appendUtf8(bytes, c);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' && i + 2 < bytes.size() &&
            isAsciiHex(static_cast<unsigned char>(bytes[i + 1])) &&
            isAsciiHex(static_cast<unsigned char>(bytes[i + 2]))) {
            out += static_cast<char>(std::stoi(bytes.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += bytes[i];
        }
    }
    return out;
}

bool isForbiddenHostCodePoint(char32_t c)
{
    switch (c) {
    case 0:
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '#':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
        return true;
    default:
        return false;
    }
}

bool isForbiddenDomainCodePoint(char32_t c)
{
    return isForbiddenHostCodePoint(c) || c <= 0x1F || c == '%' || c == 0x7F;
}

// IPv4 number: decimal, 0x-hex or 0-octal; no value on failure.
std::optional<std::uint64_t> parseIpv4Number(std::u32string_view s)
{
    if (s.empty())
        return std::nullopt;
    int radix = 10;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        radix = 16;
        s.remove_prefix(2);
    } else if (s.size() >= 2 && s[0] == '0') {
        radix = 8;
        s.remove_prefix(1);
    }
    if (s.empty())
        return 0;
    std::uint64_t value = 0;
    for (char32_t c : s) {
        int digit;
        if (isAsciiDigit(c))
            digit = static_cast<int>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<int>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<int>(c - 'A' + 10);
        else
            return std::nullopt;
        if (digit >= radix)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFFull * 16) // already too big; keep it from overflowing
            value = 0xFFFFFFFFFull * 16;
    }
    return value;
}

std::vector<std::u32string> splitDots(std::u32string_view s)
{
    std::vector<std::u32string> parts(1);
    for (char32_t c : s) {
        if (c == '.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool endsInANumber(std::u32string_view s)
{
    auto parts = splitDots(s);
    if (parts.back().empty()) {
        if (parts.size() == 1)
            return false;
        parts.pop_back();
    }
    const std::u32string &last = parts.back();
    if (!last.empty() && std::all_of(last.begin(), last.end(), isAsciiDigit))
        return true;
    return parseIpv4Number(last).has_value();
}

std::optional<std::string> parseIpv4(std::u32string_view s)
{
    auto parts = splitDots(s);
    if (parts.back().empty() && parts.size() > 1)
        parts.pop_back();
    if (parts.size() > 4)
        return std::nullopt;
    std::vector<std::uint64_t> numbers;
    for (const auto &part : parts) {
        const auto n = parseIpv4Number(part);
        if (!n)
            return std::nullopt;
        numbers.push_back(*n);
    }
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i)
        if (numbers[i] > 255)
            return std::nullopt;
    std::uint64_t limit = 1;
    for (std::size_t i = numbers.size(); i < 5; ++i)
        limit *= 256;
    if (numbers.back() >= limit)
        return std::nullopt;
    std::uint64_t address = numbers.back();
    for (std::size_t i = 0; i + 1 < numbers.size(); ++i) {
        std::uint64_t weight = 1;
        for (std::size_t k = i; k < 3; ++k)
            weight *= 256;
        address += numbers[i] * weight;
    }
    return std::to_string((address >> 24) & 255) + '.' + std::to_string((address >> 16) & 255) +
           '.' + std::to_string((address >> 8) & 255) + '.' + std::to_string(address & 255);
}

std::optional<std::string> parseIpv6(std::u32string_view s)
{
    for (char32_t c : s)
        if (!(isAsciiHex(c) || c == ':' || c == '.'))
            return std::nullopt;
    std::string ascii;
    for (char32_t c : s)
        ascii += static_cast<char>(c);
    // QUrl parses and prints IPv6 the same way: lower case, longest zero run compressed.
    const QUrl probe(QStringLiteral("http://[%1]/").arg(QString::fromLatin1(ascii)),
                     QUrl::StrictMode);
    if (!probe.isValid() || probe.host().isEmpty())
        return std::nullopt;
    return '[' + probe.host().toStdString() + ']';
}

std::optional<std::string> parseOpaqueHost(std::u32string_view s)
{
    for (char32_t c : s)
        if (c != '%' && isForbiddenHostCodePoint(c))
            return std::nullopt;
    std::string out;
    for (char32_t c : s)
        appendC0Encoded(out, c);
    return out;
}

} // namespace

std::optional<std::string> parseHost(std::u32string_view input, bool notSpecial)
{
    if (!input.empty() && input.front() == '[') {
        if (input.back() != ']')
            return std::nullopt;
        return parseIpv6(input.substr(1, input.size() - 2));
    }
    if (notSpecial)
        return parseOpaqueHost(input);
    const std::string decoded = percentDecode(input);
    const std::u32string domain = textencoding::utf8ToUtf32(decoded);
    if (domain.find(U'\uFFFD') != std::u32string::npos)
        return std::nullopt; // not valid UTF-8 after decoding, or a replacement character
    std::u32string ascii;
    const bool allAscii =
        std::all_of(domain.begin(), domain.end(), [](char32_t c) { return c < 0x80; });
    if (allAscii) {
        for (char32_t c : domain)
            ascii += asciiLower(c);
    } else {
        const QByteArray ace = QUrl::toAce(QString::fromStdU32String(domain));
        if (ace.isEmpty())
            return std::nullopt;
        for (char c : ace)
            ascii += asciiLower(static_cast<unsigned char>(c));
    }
    if (ascii.empty())
        return std::nullopt;
    for (char32_t c : ascii)
        if (isForbiddenDomainCodePoint(c))
            return std::nullopt;
    if (endsInANumber(ascii))
        return parseIpv4(ascii);
    std::string out;
    for (char32_t c : ascii)
        out += static_cast<char>(c);
    return out;
}

} // namespace urlhost
