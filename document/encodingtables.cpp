#include "encodingtables.h"

#include "document/textencoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace textencoding::tables {

namespace {

// WHATWG encoding name to the C library's converter name.
const std::map<std::string_view, const char *> &systemNames()
{
    static const std::map<std::string_view, const char *> names = {
        {"IBM866", "IBM866"},
        {"ISO-8859-2", "ISO-8859-2"},
        {"ISO-8859-3", "ISO-8859-3"},
        {"ISO-8859-4", "ISO-8859-4"},
        {"ISO-8859-5", "ISO-8859-5"},
        {"ISO-8859-6", "ISO-8859-6"},
        {"ISO-8859-7", "ISO-8859-7"},
        {"ISO-8859-8", "ISO-8859-8"},
        {"ISO-8859-8-I", "ISO-8859-8"},
        {"ISO-8859-10", "ISO-8859-10"},
        {"ISO-8859-13", "ISO-8859-13"},
        {"ISO-8859-14", "ISO-8859-14"},
        {"ISO-8859-15", "ISO-8859-15"},
        {"ISO-8859-16", "ISO-8859-16"},
        {"KOI8-R", "KOI8-R"},
        {"KOI8-U", "KOI8-U"},
        {"macintosh", "MACINTOSH"},
        {"windows-874", "CP874"},
        {"windows-1250", "CP1250"},
        {"windows-1251", "CP1251"},
        {"windows-1252", "CP1252"},
        {"windows-1253", "CP1253"},
        {"windows-1254", "CP1254"},
        {"windows-1255", "CP1255"},
        {"windows-1256", "CP1256"},
        {"windows-1257", "CP1257"},
        {"windows-1258", "CP1258"},
        {"x-mac-cyrillic", "MAC-CYRILLIC"},
        {"GBK", "GBK"},
        {"gb18030", "GB18030"},
        {"Big5", "BIG5-HKSCS"},
        {"EUC-JP", "EUC-JP"},
        {"ISO-2022-JP", "ISO-2022-JP"},
        {"Shift_JIS", "CP932"},
        {"EUC-KR", "CP949"},
    };
    return names;
}

class Converter
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv's own failure value
    inline static const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    // iconv_open reports failure as (iconv_t)-1.
    bool valid() const { return m_cd != kFailed; }

    // Converts all of in; no value unless every byte converted.
    std::optional<std::string> convertAll(std::string_view in)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string input(in);
        std::string out(in.size() * 4 + 16, '\0');
        char *ip = input.data();
        std::size_t il = input.size();
        char *op = out.data();
        std::size_t ol = out.size();
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0)
            return std::nullopt;
        if (iconv(m_cd, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1))
            return std::nullopt;
        out.resize(out.size() - ol);
        return out;
    }

    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

// The C library loads its converters from files. Each one in use is opened once and kept
// for the life of the process, under this lock (a converter holds state while it works), so
// that a process which can open no file later still has it.
std::mutex g_convertersLock;

Converter &keptConverter(const char *to, const char *from)
{
    static std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> kept;
    auto &converter = kept[{to, from}];
    if (!converter)
        converter = std::make_unique<Converter>(to, from);
    return *converter;
}

// The one code point bytes decode to; 0 when they decode to none or to several.
char32_t singleCodePoint(Converter &toUtf8, std::string_view bytes)
{
    const auto utf8 = toUtf8.convertAll(bytes);
    if (!utf8)
        return 0;
    const std::u32string cps = utf8ToUtf32(*utf8);
    return cps.size() == 1 ? cps[0] : 0;
}

std::array<char32_t, 128> buildSingleByteTable(std::string_view encoding)
{
    std::array<char32_t, 128> table{};
    if (encoding == "x-user-defined") {
        for (char32_t i = 0; i < 128; ++i)
            table[i] = 0xF780 + i;
        return table;
    }
    Converter toUtf8("UTF-8", systemNames().at(encoding));
    if (!toUtf8.valid())
        return table;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char byte = static_cast<char>(b);
        table[static_cast<std::size_t>(b - 0x80)] =
            singleCodePoint(toUtf8, std::string_view(&byte, 1));
    }
    // The Encoding Standard's windows-* indexes give the bytes 0x80..0x9F that Windows leaves
    // undefined the C1 control of the same value.
    if (encoding.substr(0, 8) == "windows-")
        for (int b = 0x80; b <= 0x9F; ++b)
            if (table[static_cast<std::size_t>(b - 0x80)] == 0)
                table[static_cast<std::size_t>(b - 0x80)] = static_cast<char32_t>(b);
    // Where the C library's tables differ from the Encoding Standard's indexes.
    if (encoding == "macintosh") {
        table[0xC6 - 0x80] = 0x2206; // INCREMENT, not GREEK CAPITAL DELTA
        table[0xF0 - 0x80] = 0xF8FF; // the Apple logo's private-use code point
    }
    if (encoding == "windows-1255")
        table[0xCA - 0x80] = 0x05BA; // HEBREW POINT HOLAM HASER FOR VAV
    return table;
}

bool isSingleByte(std::string_view encoding)
{
    static const std::string_view multiByte[] = {"GBK",         "gb18030",   "Big5",  "EUC-JP",
                                                 "ISO-2022-JP", "Shift_JIS", "EUC-KR"};
    if (encoding == "x-user-defined")
        return true;
    if (!systemNames().count(encoding))
        return false;
    for (std::string_view m : multiByte)
        if (m == encoding)
            return false;
    return true;
}

} // namespace

const std::array<char16_t, 23940> &eucKrIndex()
{
    // Made when a page first needs it, so readers of pages in other encodings never hold
    // it; only the converter opened beforehand is used, as the reader may open no file then.
    static const std::array<char16_t, 23940> index = [] {
        std::array<char16_t, 23940> table{};
        const std::lock_guard lock(g_convertersLock);
        Converter &toUtf8 = keptConverter("UTF-8", "CP949");
        if (!toUtf8.valid())
            return table;
        for (int lead = 0x81; lead <= 0xFE; ++lead)
            for (int trail = 0x41; trail <= 0xFE; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const auto pointer = static_cast<std::size_t>(lead - 0x81) * 190 +
                                     static_cast<std::size_t>(trail - 0x41);
                const char32_t c = singleCodePoint(toUtf8, std::string_view(pair, 2));
                table[pointer] = c <= 0xFFFF ? static_cast<char16_t>(c) : 0;
            }
        return table;
    }();
    return index;
}

const std::array<char32_t, 128> *singleByteTable(std::string_view encoding)
{
    if (!isSingleByte(encoding))
        return nullptr;
    static std::mutex mutex;
    static std::map<std::string, std::array<char32_t, 128>, std::less<>> tables;
    const std::lock_guard lock(mutex);
    auto it = tables.find(encoding);
    if (it == tables.end())
        it = tables.emplace(std::string(encoding), buildSingleByteTable(encoding)).first;
    return &it->second;
}

void decodeWithSystem(std::string_view bytes, std::string_view encoding, std::string &out)
{
    const auto name = systemNames().find(encoding);
    if (name == systemNames().end()) {
        out.append(bytes); // never reached: every label maps to a known encoding
        return;
    }
    const std::lock_guard lock(g_convertersLock);
    Converter &toUtf8 = keptConverter("UTF-8", name->second);
    if (!toUtf8.valid()) {
        if (!bytes.empty())
            appendUtf8(out, 0xFFFD);
        return;
    }
    iconv(toUtf8.handle(), nullptr, nullptr, nullptr, nullptr);
    std::string input(bytes);
    char *ip = input.data();
    std::size_t il = input.size();
    std::string buffer(4096, '\0');
    while (il > 0) {
        char *op = buffer.data();
        std::size_t ol = buffer.size();
        const std::size_t r = iconv(toUtf8.handle(), &ip, &il, &op, &ol);
        out.append(buffer.data(), buffer.size() - ol);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            appendUtf8(out, 0xFFFD);
            ++ip; // skip the offending byte and go on
            --il;
            iconv(toUtf8.handle(), nullptr, nullptr, nullptr, nullptr);
        }
    }
}

std::optional<std::string> encodeChar(char32_t c, std::string_view encoding)
{
    if (encoding == "EUC-KR") {
        // Rare (a query's letters in a Korean page's link): a search of the index costs less
        // than a reverse table kept in every reader. The first pointer wins.
        const auto &index = eucKrIndex();
        const auto at = std::find(index.begin(), index.end(), c);
        if (c == 0 || at == index.end())
            return std::nullopt;
        const auto pointer = static_cast<unsigned>(at - index.begin());
        return std::string{static_cast<char>(pointer / 190 + 0x81),
                           static_cast<char>(pointer % 190 + 0x41)};
    }
    if (const auto *table = singleByteTable(encoding)) {
        for (std::size_t i = 0; i < table->size(); ++i)
            if ((*table)[i] == c)
                return std::string(1, static_cast<char>(i + 0x80));
        return std::nullopt;
    }
    const auto name = systemNames().find(encoding);
    if (name == systemNames().end())
        return std::nullopt;
    const std::lock_guard lock(g_convertersLock);
    Converter &fromUtf8 = keptConverter(name->second, "UTF-8");
    if (!fromUtf8.valid())
        return std::nullopt;
    std::string utf8;
    appendUtf8(utf8, c);
    return fromUtf8.convertAll(utf8);
}

void prepareAll()
{
    for (const auto &[encoding, name] : systemNames()) {
        if (singleByteTable(encoding))
            continue;
        // Opens the converter; for EUC-KR it is all the index needs later.
        std::string sink;
        decodeWithSystem("a", encoding, sink);
        if (encoding != "EUC-KR")
            (void)encodeChar(0xFF21, encoding);
    }
}

} // namespace textencoding::tables
