#include "urlhost.h"

#include "document/textencoding.h"

#include <idn2.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

// Hosts by the URL Standard: percent-decoding, IDNA through libidn2, the numeric IPv4 forms
// browsers accept, IPv6, opaque hosts.

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

int hexValue(char32_t c)
{
    if (isAsciiDigit(c))
        return static_cast<int>(c - '0');
    return static_cast<int>(asciiLower(c) - 'a' + 10);
}

// The URL Standard's IPv6 parser: eight 16-bit pieces, one "::" standing for a run of zero
// pieces, and the last two pieces optionally written as dotted-decimal IPv4.
std::optional<std::array<std::uint16_t, 8>> parseIpv6Pieces(std::u32string_view s)
{
    std::array<std::uint16_t, 8> address{};
    std::size_t pieceIndex = 0;
    std::optional<std::size_t> compress;
    std::size_t p = 0;
    const auto at = [&s](std::size_t i) { return i < s.size() ? s[i] : char32_t(0); };
    if (at(p) == ':') {
        if (at(p + 1) != ':')
            return std::nullopt;
        p += 2;
        compress = ++pieceIndex;
    }
    while (p < s.size()) {
        if (pieceIndex == 8)
            return std::nullopt;
        if (s[p] == ':') {
            if (compress)
                return std::nullopt;
            ++p;
            compress = ++pieceIndex;
            continue;
        }
        unsigned value = 0;
        std::size_t length = 0;
        while (length < 4 && p < s.size() && isAsciiHex(s[p])) {
            value = value * 16 + static_cast<unsigned>(hexValue(s[p]));
            ++p;
            ++length;
        }
        if (at(p) == '.') {
            // The last 32 bits as IPv4: exactly four decimal numbers of at most 255, no
            // leading zeros.
            if (length == 0 || pieceIndex > 6)
                return std::nullopt;
            p -= length;
            for (int numbersSeen = 0; numbersSeen < 4; ++numbersSeen) {
                if (numbersSeen > 0) {
                    if (at(p) != '.')
                        return std::nullopt;
                    ++p;
                }
                if (!isAsciiDigit(at(p)))
                    return std::nullopt;
                std::optional<unsigned> piece;
                while (isAsciiDigit(at(p))) {
                    const unsigned number = static_cast<unsigned>(s[p] - '0');
                    if (piece && *piece == 0)
                        return std::nullopt;
                    piece = piece ? *piece * 10 + number : number;
                    if (*piece > 255)
                        return std::nullopt;
                    ++p;
                }
                address[pieceIndex] =
                    static_cast<std::uint16_t>(address[pieceIndex] * 0x100 + *piece);
                if (numbersSeen % 2 == 1)
                    ++pieceIndex;
            }
            if (p < s.size())
                return std::nullopt;
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (p >= s.size())
                return std::nullopt;
        } else if (p < s.size()) {
            return std::nullopt;
        }
        address[pieceIndex++] = static_cast<std::uint16_t>(value);
    }
    if (compress) {
        // The pieces after "::" move to the end; zeros fill the gap.
        std::size_t swaps = pieceIndex - *compress;
        for (std::size_t i = 7; i != 0 && swaps > 0; --i, --swaps)
            std::swap(address[i], address[*compress + swaps - 1]);
    } else if (pieceIndex != 8) {
        return std::nullopt;
    }
    return address;
}

// Lower-case hex without leading zeros; the first longest run of two or more zero pieces
// becomes "::". Embedded IPv4 is printed as hex like the rest, as browsers do.
std::string serializeIpv6(const std::array<std::uint16_t, 8> &address)
{
    std::size_t compressAt = 8;
    std::size_t longest = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t run = 0;
        while (i + run < 8 && address[i + run] == 0)
            ++run;
        if (run > longest) {
            longest = run;
            compressAt = i;
        }
        i += run ? run : 1;
    }
    static const char hex[] = "0123456789abcdef";
    std::string out = "[";
    bool ignore0 = false;
    for (std::size_t i = 0; i < 8; ++i) {
        if (ignore0 && address[i] == 0)
            continue;
        ignore0 = false;
        if (i == compressAt) {
            out += i == 0 ? "::" : ":";
            ignore0 = true;
            continue;
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (address[i] >> shift) & 15u;
            if (digit || started || shift == 0) {
                out += hex[digit];
                started = true;
            }
        }
        if (i != 7)
            out += ':';
    }
    return out + ']';
}

std::optional<std::string> parseIpv6(std::u32string_view s)
{
    const auto pieces = parseIpv6Pieces(s);
    if (!pieces)
        return std::nullopt;
    return serializeIpv6(*pieces);
}

std::string toUtf8(std::u32string_view text)
{
    std::string utf8;
    for (char32_t c : text)
        textencoding::appendUtf8(utf8, c);
    return utf8;
}

// Characters where UTS #46's non-transitional and transitional processing differ.
bool hasDeviation(std::string_view utf8)
{
    for (const char *deviation : {"\xC3\x9F", "\xCF\x82", "\xE2\x80\x8C", "\xE2\x80\x8D"})
        if (utf8.find(deviation) != std::string_view::npos)
            return true;
    return false;
}

// libidn2's conversion of a domain (UTS #46 non-transitional, no STD3 rules) into *out;
// its status. libidn2 adds IDNA2008's repertoire on top, which refuses symbols such as
// emoji that browsers accept; for a domain without deviation characters both processings
// map alike, and the transitional one checks only the UTS #46 table.
int idnaToAscii(const std::string &utf8, std::string *out)
{
    char *ascii = nullptr;
    int rc = idn2_to_ascii_8z(utf8.c_str(), &ascii, IDN2_NONTRANSITIONAL);
    if (rc == IDN2_DISALLOWED && !hasDeviation(utf8)) {
        idn2_free(ascii);
        ascii = nullptr;
        rc = idn2_to_ascii_8z(utf8.c_str(), &ascii, IDN2_TRANSITIONAL);
    }
    if (rc == IDN2_OK && ascii)
        *out = ascii;
    else if (rc == IDN2_OK)
        rc = IDN2_ENCODING_ERROR;
    idn2_free(ascii);
    return rc;
}

// Punycode (RFC 3492) with the IDNA parameters.
constexpr std::uint32_t kBase = 36;
constexpr std::uint32_t kTMin = 1;
constexpr std::uint32_t kTMax = 26;

std::uint32_t adaptBias(std::uint32_t delta, std::uint32_t points, bool first)
{
    delta = first ? delta / 700 : delta / 2;
    delta += delta / points;
    std::uint32_t k = 0;
    while (delta > ((kBase - kTMin) * kTMax) / 2) {
        delta /= kBase - kTMin;
        k += kBase;
    }
    return k + (kBase - kTMin + 1) * delta / (delta + 38);
}

std::uint32_t threshold(std::uint32_t k, std::uint32_t bias)
{
    return k <= bias ? kTMin : (k >= bias + kTMax ? kTMax : k - bias);
}

std::optional<std::string> punycodeEncode(std::u32string_view input)
{
    std::string out;
    for (char32_t c : input)
        if (c < 0x80)
            out += static_cast<char>(c);
    const std::uint32_t basic = static_cast<std::uint32_t>(out.size());
    std::uint32_t handled = basic;
    if (basic > 0)
        out += '-';
    std::uint32_t n = 0x80;
    std::uint32_t delta = 0;
    std::uint32_t bias = 72;
    while (handled < input.size()) {
        std::uint32_t m = UINT32_MAX;
        for (char32_t c : input)
            if (c >= n && c < m)
                m = c;
        if ((m - n) > (UINT32_MAX - delta) / (handled + 1))
            return std::nullopt;
        delta += (m - n) * (handled + 1);
        n = m;
        for (char32_t c : input) {
            if (c < n && ++delta == 0)
                return std::nullopt;
            if (c != n)
                continue;
            std::uint32_t q = delta;
            for (std::uint32_t k = kBase;; k += kBase) {
                const std::uint32_t t = threshold(k, bias);
                if (q < t)
                    break;
                const std::uint32_t digit = t + (q - t) % (kBase - t);
                out += static_cast<char>(digit < 26 ? 'a' + digit : '0' + digit - 26);
                q = (q - t) / (kBase - t);
            }
            out += static_cast<char>(q < 26 ? 'a' + q : '0' + q - 26);
            bias = adaptBias(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

std::optional<std::u32string> punycodeDecode(std::string_view input)
{
    std::u32string out;
    const std::size_t dash = input.rfind('-');
    const std::size_t basic = dash == std::string_view::npos ? 0 : dash;
    for (std::size_t j = 0; j < basic; ++j) {
        if (static_cast<unsigned char>(input[j]) >= 0x80)
            return std::nullopt;
        out += static_cast<char32_t>(input[j]);
    }
    std::uint32_t n = 0x80;
    std::uint32_t i = 0;
    std::uint32_t bias = 72;
    for (std::size_t in = basic > 0 ? basic + 1 : 0; in < input.size();) {
        const std::uint32_t oldi = i;
        std::uint32_t w = 1;
        for (std::uint32_t k = kBase;; k += kBase) {
            if (in >= input.size())
                return std::nullopt;
            const char32_t c = asciiLower(static_cast<unsigned char>(input[in++]));
            std::uint32_t digit;
            if (c >= 'a' && c <= 'z')
                digit = c - 'a';
            else if (isAsciiDigit(c))
                digit = c - '0' + 26;
            else
                return std::nullopt;
            if (digit > (UINT32_MAX - i) / w)
                return std::nullopt;
            i += digit * w;
            const std::uint32_t t = threshold(k, bias);
            if (digit < t)
                break;
            if (w > UINT32_MAX / (kBase - t))
                return std::nullopt;
            w *= kBase - t;
        }
        const auto points = static_cast<std::uint32_t>(out.size() + 1);
        bias = adaptBias(i - oldi, points, oldi == 0);
        if (i / points > 0x10FFFF - n)
            return std::nullopt;
        n += i / points;
        i %= points;
        out.insert(out.begin() + i, static_cast<char32_t>(n));
        ++i;
    }
    return out;
}

// One label that libidn2 refused for where its hyphens stand (at an end, or in the third and
// fourth places), which browsers do not check: each part between hyphens mapped and
// checked on its own, the parts joined again and encoded.
std::optional<std::string> hyphenatedLabelToAscii(const std::u32string &label)
{
    std::u32string mapped;
    std::u32string part;
    for (std::size_t i = 0; i <= label.size(); ++i) {
        if (i < label.size() && label[i] != '-') {
            part += label[i];
            continue;
        }
        if (!part.empty()) {
            std::string ascii;
            if (idnaToAscii(toUtf8(part), &ascii) != IDN2_OK)
                return std::nullopt;
            std::u32string unicode(ascii.begin(), ascii.end());
            if (ascii.starts_with("xn--")) {
                const auto decoded = punycodeDecode(std::string_view(ascii).substr(4));
                if (!decoded)
                    return std::nullopt;
                unicode = *decoded;
            }
            // A part that maps to more than one label, or to a hyphen, is no part.
            if (unicode.find_first_of(U".-") != std::u32string::npos)
                return std::nullopt;
            mapped += unicode;
            part.clear();
        }
        if (i < label.size())
            mapped += '-';
    }
    if (std::all_of(mapped.begin(), mapped.end(), [](char32_t c) { return c < 0x80; })) {
        std::string out;
        for (char32_t c : mapped)
            out += static_cast<char>(c);
        return out;
    }
    const auto encoded = punycodeEncode(mapped);
    if (!encoded)
        return std::nullopt;
    return "xn--" + *encoded;
}

// The URL Standard's "domain to ASCII" for a domain with non-ASCII code points.
std::optional<std::string> domainToAscii(const std::string &utf8)
{
    if (utf8.find('\0') != std::string::npos)
        return std::nullopt; // forbidden anyway, and it would end the C string early
    std::string out;
    const int rc = idnaToAscii(utf8, &out);
    if (rc == IDN2_OK)
        return out;
    if (rc != IDN2_HYPHEN_STARTEND && rc != IDN2_2HYPHEN)
        return std::nullopt;
    // Label by label, the dots UTS #46 maps to "." included.
    out.clear();
    std::u32string label;
    const std::u32string domain = textencoding::utf8ToUtf32(utf8) + U'.';
    for (std::size_t i = 0; i < domain.size(); ++i) {
        const char32_t c = domain[i];
        if (c != '.' && c != 0x3002 && c != 0xFF0E && c != 0xFF61) {
            label += c;
            continue;
        }
        if (!label.empty()) {
            std::string ascii;
            const int labelRc = idnaToAscii(toUtf8(label), &ascii);
            if (labelRc == IDN2_HYPHEN_STARTEND || labelRc == IDN2_2HYPHEN) {
                // A label spelled "xn--" is Punycode, which must decode and check whole.
                std::u32string lower;
                for (char32_t l : label)
                    lower += asciiLower(l);
                if (lower.starts_with(U"xn--"))
                    return std::nullopt;
                const auto hyphenated = hyphenatedLabelToAscii(label);
                if (!hyphenated)
                    return std::nullopt;
                ascii = *hyphenated;
            } else if (labelRc != IDN2_OK) {
                return std::nullopt;
            }
            out += ascii;
        }
        if (i + 1 < domain.size())
            out += '.';
        label.clear();
    }
    return out;
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
        const auto ace = domainToAscii(decoded);
        if (!ace || ace->empty())
            return std::nullopt;
        for (char c : *ace)
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
