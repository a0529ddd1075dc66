#pragma once

#include "model/recentitem.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What Ormix and its page reader say to each other over the reader's standard input and
// output. Every message is a frame: the length of what follows as four bytes, little-endian,
// then that many bytes. A request carries a page; its answer is the dashboard reading, or why
// there is none. Both ends check every frame in full: to Ormix, the answer comes from a
// process that parsed a stranger's page, so it is bounded, capped and validated before
// anything of it is used.
namespace readerprotocol {

inline constexpr std::size_t HeaderBytes = 4;
// The page loader's body cap, and room for the rest of a request.
inline constexpr std::size_t MaxPageBytes = std::size_t(8) * 1024 * 1024;
inline constexpr std::size_t MaxRequestBytes = MaxPageBytes + 64 * 1024;
inline constexpr std::size_t MaxCharsetBytes = 64;
inline constexpr std::size_t MaxAddressBytes = 16 * 1024;
// A dashboard shows a handful of items of each kind; a reading keeps the newest of these.
inline constexpr std::size_t MaxItemsPerKind = 64;
inline constexpr std::size_t MaxTextBytes = 2048;
inline constexpr std::size_t MaxLinkBytes = 8192;
inline constexpr std::size_t MaxWhyBytes = 512;
inline constexpr std::size_t MaxEncodingBytes = 32;
// Everything a valid answer can hold, with room to spare.
inline constexpr std::size_t MaxAnswerBytes = std::size_t(2) * 1024 * 1024;

struct Request
{
    std::string_view page;    // the body as it came
    std::string_view charset; // the charset the reply declared; may be empty
    std::string_view address; // the final address after redirects
    bool whole = false;       // parse the whole page, not only as far as the reading needs
};

struct Answer
{
    enum Status : std::uint8_t
    {
        Read = 0,         // reading holds the dashboard
        NotDashboard = 1, // the page was parsed but does not read as a dashboard
        Failed = 2        // the page could not be read at all
    };
    Status status = Failed;
    std::string why;          // NotDashboard, Failed: a few words for a log
    std::string encoding;     // the WHATWG name of the encoding the page was decoded with
    std::string baseUrl;      // what the page's links were resolved against
    bool wholePage = false;   // the tree was built from the whole page, not a prefix
    DashboardReading reading; // Read only

    friend bool operator==(const Answer &, const Answer &) = default;
};

// The payload length a frame's header announces.
std::uint32_t payloadLength(const char (&header)[HeaderBytes]);

// A request's frame up to the page, whose bytes follow it unchanged: the whole frame is
// requestHead(request, page.size()) + page. No value when a field is over its bound.
std::optional<std::string> requestHead(const Request &request, std::size_t pageBytes);
// The request a frame's payload holds (pointing into it); no value when it is malformed.
std::optional<Request> decodeRequest(std::string_view payload);
// How many of a request payload's first bytes its fields (all but the page) take, as far as
// start, the payload's first bytes, tells: while the result is more than start holds, read
// that many and ask again. A reader can so take the fields in without the page, and then
// decodeRequest them alone. (Over MaxFieldBytes: the request is malformed.)
std::size_t requestFieldBytes(std::string_view start);
inline constexpr std::size_t MaxFieldBytes = 2 + 2 + MaxCharsetBytes + 4 + MaxAddressBytes;

// The whole frame of an answer. The reader caps the reading first (capReading).
std::string encodeAnswer(const Answer &answer);
// The answer a frame's payload holds, only when every part of it is within bounds, valid
// UTF-8 and consistent; otherwise no value and why says what is wrong with it.
std::optional<Answer> decodeAnswer(std::string_view payload, std::string *why = nullptr);

// Keeps a reading within the bounds an answer may hold: the newest MaxItemsPerKind items of
// each kind, texts cut at a character boundary to MaxTextBytes, items whose link is longer
// than MaxLinkBytes left out (a cut link would open another address).
void capReading(DashboardReading &reading);

// Whether text is well-formed UTF-8 (no surrogates, no overlong forms).
bool isUtf8(std::string_view text);

} // namespace readerprotocol
