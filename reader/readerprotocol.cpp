#include "readerprotocol.h"

#include <algorithm>

namespace readerprotocol {

namespace {

constexpr std::uint8_t Version = 1;
constexpr std::uint8_t WholeFlag = 1;

void putInt(std::string &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putText(std::string &out, std::string_view text, int lengthBytes)
{
    putInt(out, static_cast<std::uint32_t>(text.size()), lengthBytes);
    out.append(text);
}

// Reads a payload front to back; any read past its end fails the whole decoding.
class Cursor
{
public:
    explicit Cursor(std::string_view payload) : m_rest(payload) {}

    std::optional<std::uint32_t> integer(int bytes)
    {
        if (m_rest.size() < static_cast<std::size_t>(bytes))
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint32_t(static_cast<unsigned char>(m_rest[static_cast<std::size_t>(i)]))
                     << (8 * i);
        m_rest.remove_prefix(static_cast<std::size_t>(bytes));
        return value;
    }
    // A text with its length in front; no value when it is longer than limit.
    std::optional<std::string_view> text(int lengthBytes, std::size_t limit)
    {
        const auto length = integer(lengthBytes);
        if (!length || *length > limit || *length > m_rest.size())
            return std::nullopt;
        const std::string_view value = m_rest.substr(0, *length);
        m_rest.remove_prefix(*length);
        return value;
    }
    std::string_view rest() const { return m_rest; }

private:
    std::string_view m_rest;
};

bool isEncodingName(std::string_view name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// The length of the longest prefix of text, at most limit bytes, that ends on a character
// boundary of well-formed UTF-8.
std::size_t utf8Cut(std::string_view text, std::size_t limit)
{
    std::size_t cut = std::min(limit, text.size());
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

} // namespace

bool isUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t needed = 0;
        unsigned char lower = 0x80, upper = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            needed = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            needed = 2;
            lower = b == 0xE0 ? 0xA0 : 0x80;
            upper = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            needed = 3;
            lower = b == 0xF0 ? 0x90 : 0x80;
            upper = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i <= needed)
            return false;
        for (std::size_t k = 1; k <= needed; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if (c < (k == 1 ? lower : 0x80) || c > (k == 1 ? upper : 0xBF))
                return false;
        }
        i += needed + 1;
    }
    return true;
}

std::uint32_t payloadLength(const char (&header)[HeaderBytes])
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < HeaderBytes; ++i)
        value |= std::uint32_t(static_cast<unsigned char>(header[i])) << (8 * i);
    return value;
}

std::optional<std::string> requestHead(const Request &request, std::size_t pageBytes)
{
    if (request.charset.size() > MaxCharsetBytes || request.address.size() > MaxAddressBytes ||
        pageBytes > MaxPageBytes)
        return std::nullopt;
    std::string fields;
    fields += static_cast<char>(Version);
    fields += static_cast<char>(request.whole ? WholeFlag : 0);
    putText(fields, request.charset, 2);
    putText(fields, request.address, 4);
    std::string head;
    putInt(head, static_cast<std::uint32_t>(fields.size() + pageBytes), HeaderBytes);
    return head + fields;
}

std::optional<Request> decodeRequest(std::string_view payload)
{
    if (payload.size() > MaxRequestBytes)
        return std::nullopt;
    Cursor in(payload);
    const auto version = in.integer(1);
    const auto flags = in.integer(1);
    if (version != Version || !flags || (*flags & ~std::uint32_t(WholeFlag)) != 0)
        return std::nullopt;
    Request request;
    request.whole = (*flags & WholeFlag) != 0;
    const auto charset = in.text(2, MaxCharsetBytes);
    const auto address = in.text(4, MaxAddressBytes);
    if (!charset || !address || in.rest().size() > MaxPageBytes)
        return std::nullopt;
    request.charset = *charset;
    request.address = *address;
    request.page = in.rest();
    return request;
}

std::size_t requestFieldBytes(std::string_view start)
{
    const auto number = [start](std::size_t at, std::size_t bytes) {
        std::size_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value |= std::size_t(static_cast<unsigned char>(start[at + i])) << (8 * i);
        return value;
    };
    // Version, flags and the charset's length; then the charset and the address's length;
    // then the address.
    if (start.size() < 4)
        return 4;
    const std::size_t beforeAddress = 4 + number(2, 2) + 4;
    if (start.size() < beforeAddress)
        return beforeAddress;
    return beforeAddress + number(beforeAddress - 4, 4);
}

std::string encodeAnswer(const Answer &answer)
{
    std::string fields;
    fields += static_cast<char>(Version);
    fields += static_cast<char>(answer.status);
    fields += static_cast<char>(answer.wholePage ? 1 : 0);
    putText(fields, answer.encoding, 1);
    putText(fields, answer.baseUrl, 2);
    putText(fields, answer.why, 2);
    putInt(fields, static_cast<std::uint32_t>(answer.reading.todayCount), 4);
    for (const RecentItemList &items : answer.reading.items) {
        putInt(fields, static_cast<std::uint32_t>(items.size()), 2);
        for (const RecentItem &item : items) {
            putText(fields, item.text, 2);
            putText(fields, item.link, 2);
        }
    }
    std::string frame;
    putInt(frame, static_cast<std::uint32_t>(fields.size()), HeaderBytes);
    return frame + fields;
}

std::optional<Answer> decodeAnswer(std::string_view payload, std::string *why)
{
    const auto malformed = [why](const char *what) -> std::optional<Answer> {
        if (why)
            *why = what;
        return std::nullopt;
    };
    if (payload.size() > MaxAnswerBytes)
        return malformed("the answer is larger than any reading");
    Cursor in(payload);
    const auto version = in.integer(1);
    const auto status = in.integer(1);
    const auto whole = in.integer(1);
    if (version != Version || !status || *status > Answer::Failed || !whole || *whole > 1)
        return malformed("the answer does not start as one");
    Answer answer;
    answer.status = static_cast<Answer::Status>(*status);
    answer.wholePage = *whole == 1;
    const auto encoding = in.text(1, MaxEncodingBytes);
    const auto baseUrl = in.text(2, MaxLinkBytes);
    const auto reason = in.text(2, MaxWhyBytes);
    const auto count = in.integer(4);
    if (!encoding || !baseUrl || !reason || !count)
        return malformed("the answer's fields are cut short or too long");
    if (!isEncodingName(*encoding) || !isUtf8(*baseUrl) || !isUtf8(*reason))
        return malformed("the answer's fields are not text");
    const bool read = answer.status == Answer::Read;
    if (read != reason->empty())
        return malformed("the answer's reason does not match its status");
    answer.encoding = *encoding;
    answer.baseUrl = *baseUrl;
    answer.why = *reason;
    answer.reading.todayCount = static_cast<std::int32_t>(*count);
    if (answer.reading.todayCount < 0 || (!read && answer.reading.todayCount != 0))
        return malformed("the answer's count is out of range");
    for (RecentItemList &items : answer.reading.items) {
        const auto n = in.integer(2);
        if (!n || *n > MaxItemsPerKind || (!read && *n != 0))
            return malformed("the answer holds too many items");
        items.reserve(*n);
        for (std::uint32_t i = 0; i < *n; ++i) {
            const auto text = in.text(2, MaxTextBytes);
            const auto link = in.text(2, MaxLinkBytes);
            if (!text || !link)
                return malformed("the answer's items are cut short or too long");
            if (text->empty() || !isUtf8(*text) || !isUtf8(*link))
                return malformed("the answer's items are not text");
            items.push_back(RecentItem{std::string(*text), std::string(*link)});
        }
    }
    if (!in.rest().empty())
        return malformed("the answer goes on past its end");
    return answer;
}

void capReading(DashboardReading &reading)
{
    for (RecentItemList &items : reading.items) {
        std::erase_if(items,
                      [](const RecentItem &item) { return item.link.size() > MaxLinkBytes; });
        if (items.size() > MaxItemsPerKind)
            items.resize(MaxItemsPerKind);
        for (RecentItem &item : items)
            item.text.resize(utf8Cut(item.text, MaxTextBytes));
    }
}

} // namespace readerprotocol
