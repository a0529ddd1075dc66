// Both ends of the page reader's protocol. The first byte picks the end:
//   0: the reader's, a stream of request frames as Ormix writes them;
//   1: Ormix's, a stream of answer frames as a reader (or whatever took its place) writes them;
//   2: the reader's caps, a reading made of the input's bytes, capped and answered.
// Whatever a decoder accepts must be within every bound and encode back to the same bytes.
#include "reader/readerprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace readerprotocol;

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Splits input into frames as both ends do: a header, then the payload it announces; no
// value past the last whole frame.
bool nextFrame(std::string_view &input, std::string_view &payload, std::size_t limit)
{
    if (input.size() < HeaderBytes)
        return false;
    char header[HeaderBytes];
    std::memcpy(header, input.data(), HeaderBytes);
    const std::size_t length = payloadLength(header);
    if (length > limit || input.size() - HeaderBytes < length)
        return false;
    payload = input.substr(HeaderBytes, length);
    input.remove_prefix(HeaderBytes + length);
    return true;
}

void requests(std::string_view input)
{
    std::string_view payload;
    while (nextFrame(input, payload, MaxRequestBytes)) {
        const auto request = decodeRequest(payload);
        if (!request)
            continue;
        check(request->charset.size() <= MaxCharsetBytes);
        check(request->address.size() <= MaxAddressBytes);
        check(request->page.size() <= MaxPageBytes);
        const auto head = requestHead(*request, request->page.size());
        check(head.has_value());
        check(head->substr(HeaderBytes) + std::string(request->page) == payload);
        // Taken in as the reader does, a length at a time, the fields end where the page
        // starts.
        std::size_t fields = requestFieldBytes({});
        for (;;) {
            check(fields <= payload.size() && fields <= MaxFieldBytes);
            const std::size_t next = requestFieldBytes(payload.substr(0, fields));
            if (next <= fields) {
                fields = next;
                break;
            }
            fields = next;
        }
        check(fields == payload.size() - request->page.size());
    }
}

void answers(std::string_view input)
{
    std::string_view payload;
    while (nextFrame(input, payload, MaxAnswerBytes)) {
        const auto answer = decodeAnswer(payload);
        if (!answer)
            continue;
        check(answer->reading.todayCount >= 0);
        check((answer->status == Answer::Read) == answer->why.empty());
        for (const RecentItemList &items : answer->reading.items) {
            check(items.size() <= MaxItemsPerKind);
            check(answer->status == Answer::Read || items.empty());
            for (const RecentItem &item : items) {
                check(!item.text.empty() && item.text.size() <= MaxTextBytes);
                check(item.link.size() <= MaxLinkBytes);
                check(isUtf8(item.text) && isUtf8(item.link));
            }
        }
        check(encodeAnswer(*answer).substr(HeaderBytes) == payload);
    }
}

// A reading from the input: a count, then texts and links of lengths the input gives.
void caps(std::string_view input)
{
    DashboardReading reading;
    std::size_t kind = 0;
    bool text = true;
    std::string pending;
    while (input.size() >= 2) {
        const std::size_t length =
            (static_cast<unsigned char>(input[0]) << 8 | static_cast<unsigned char>(input[1])) * 4;
        input.remove_prefix(2);
        const std::string_view piece = input.substr(0, std::min(length, input.size()));
        input.remove_prefix(piece.size());
        if (text) {
            pending = piece;
        } else if (!pending.empty() && isUtf8(pending) && isUtf8(piece)) {
            reading.items[kind % ItemKindCount].push_back(RecentItem{pending, std::string(piece)});
            ++kind;
        }
        text = !text;
    }
    capReading(reading);
    Answer answer;
    answer.status = Answer::Read;
    answer.encoding = "UTF-8";
    answer.reading = reading;
    const std::string frame = encodeAnswer(answer);
    const auto back = decodeAnswer(std::string_view(frame).substr(HeaderBytes));
    check(back.has_value() && *back == answer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0:
        requests(input);
        break;
    case 1:
        answers(input);
        break;
    default:
        caps(input);
        break;
    }
    return 0;
}
