// ormix-reader: reads dashboard pages for Ormix in a process of its own, with no rights.
// Requests come framed on standard input and answers go framed to standard output
// (reader/readerprotocol.h), one answer per request, until standard input ends. Ormix starts
// it, gives every page a deadline and kills it when the page takes longer.
#include "document/htmldocument.h"
#include "reader/pagereading.h"
#include "reader/readerprotocol.h"
#include "reader/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <malloc.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

enum class Got
{
    All,
    End,  // standard input ended before the first byte
    Short // it ended in the middle
};

Got readExactly(char *into, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(STDIN_FILENO, into + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done == 0 ? Got::End : Got::Short;
        done += static_cast<std::size_t>(n);
    }
    return Got::All;
}

// Reads and drops a request too large to hold, so the next one starts where it should.
bool discard(std::size_t size)
{
    char sink[16384];
    while (size > 0) {
        const std::size_t chunk = std::min(size, sizeof sink);
        if (readExactly(sink, chunk) != Got::All)
            return false;
        size -= chunk;
    }
    return true;
}

bool writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Where requests are read to: one mapping as large as the largest request, made once. Its
// pages cost memory only once a request reaches them, and those past the first KeptBytes go
// back after a request that used them: a large page is not kept between pages, and an
// ordinary one neither maps nor faults anything anew.
class RequestMemory
{
public:
    static constexpr std::size_t KeptBytes = std::size_t(64) * 1024;

    RequestMemory()
    {
        void *p = mmap(nullptr, readerprotocol::MaxRequestBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<char *>(p);
    }
    RequestMemory(const RequestMemory &) = delete;
    RequestMemory &operator=(const RequestMemory &) = delete;

    char *data() const { return m_data; }
    // After a request that wrote its first used bytes.
    void release(std::size_t used) const
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t end = (used + page - 1) / page * page;
        if (end > KeptBytes)
            madvise(m_data + KeptBytes, end - KeptBytes, MADV_DONTNEED);
    }

private:
    char *m_data = nullptr;
};

// A request's payload, taken in from standard input only as far as it is read: its fields
// first, then as much of the page as the reading asks for. The rest is read past, into the
// bytes already read, and never kept.
class Payload
{
public:
    Payload(const RequestMemory &memory, std::size_t size) : m_data(memory.data()), m_size(size) {}

    std::size_t size() const { return m_size; }
    // How far the payload's memory was written.
    std::size_t used() const { return m_used; }
    // At least the first n bytes, all of them when there are fewer.
    std::string_view first(std::size_t n)
    {
        n = std::min(n, m_size);
        if (m_taken < n) {
            // Standard input ending inside a request leaves nothing to answer.
            if (readExactly(m_data + m_taken, n - m_taken) != Got::All)
                std::_Exit(4);
            m_taken = n;
            m_used = std::max(m_used, n);
        }
        return {m_data, m_taken};
    }
    // Reads the rest of the payload without keeping it, so the next request starts where it
    // should. Once the reading is done, what was read is no longer needed.
    void skipRest()
    {
        const std::size_t chunk =
            std::clamp<std::size_t>(m_used / 4096 * 4096, 4096, RequestMemory::KeptBytes);
        for (std::size_t left = m_size - m_taken; left > 0;) {
            const std::size_t n = std::min(left, chunk);
            if (readExactly(m_data, n) != Got::All)
                std::_Exit(4);
            left -= n;
            m_used = std::max(m_used, n);
        }
        m_taken = m_size;
    }

private:
    char *m_data;
    std::size_t m_size;
    std::size_t m_taken = 0;
    std::size_t m_used = 0;
};

// The page in a payload, after its fields.
class PageInPayload final : public PageBytes
{
public:
    PageInPayload(Payload &payload, std::size_t fields) : m_payload(payload), m_fields(fields) {}
    std::size_t size() const override { return m_payload.size() - m_fields; }
    std::string_view prefix(std::size_t n) override
    {
        return m_payload.first(m_fields + n).substr(m_fields);
    }

private:
    Payload &m_payload;
    std::size_t m_fields;
};

readerprotocol::Answer failed(const char *why)
{
    readerprotocol::Answer answer;
    answer.status = readerprotocol::Answer::Failed;
    answer.why = why;
    return answer;
}

// Takes a request's fields in, then reads its page as far as the reading needs.
readerprotocol::Answer readRequest(Payload &payload)
{
    std::size_t fields = 0;
    for (std::size_t want = readerprotocol::requestFieldBytes({});;) {
        if (want > payload.size() || want > readerprotocol::MaxFieldBytes)
            return failed("the request is malformed");
        const std::string_view start = payload.first(want);
        want = readerprotocol::requestFieldBytes(start);
        if (want <= start.size()) {
            fields = want;
            break;
        }
    }
    const auto request = readerprotocol::decodeRequest(payload.first(fields).substr(0, fields));
    if (!request)
        return failed("the request is malformed");
    if (payload.size() - fields > readerprotocol::MaxPageBytes)
        return failed("the request is malformed");
    PageInPayload page(payload, fields);
    try {
        return readPage(*request, page);
    } catch (const std::bad_alloc &) {
        return failed("the page needs more memory than a reading may take");
    }
}

// Gives the heap's free memory back when a page left much of it, as a page read whole does.
void trimHeap()
{
    constexpr std::size_t FreeBytesKept = std::size_t(256) * 1024;
    if (mallinfo2().fordblks > FreeBytesKept)
        malloc_trim(0);
}

} // namespace

int main()
{
    // A large page's tree and text go into mappings of their own, handed back after the
    // request, never kept in the heap between requests.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    prepareReading();
    // What the warm-up left in the heap goes back before the first page.
    malloc_trim(0);
    // Room for a whole page in the pipe, so Ormix hands it over in one go.
    fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
    const RequestMemory memory;
    if (!memory.data())
        return 3;
    std::string why;
    if (!sandbox::enter(&why)) {
        std::fprintf(stderr, "ormix-reader: cannot enter the sandbox (%s)\n", why.c_str());
        return 3;
    }
    for (;;) {
        char header[readerprotocol::HeaderBytes];
        const Got got = readExactly(header, sizeof header);
        // Straight out: the libraries' teardown at exit would make calls the sandbox forbids.
        if (got == Got::End)
            std::_Exit(0);
        if (got == Got::Short)
            std::_Exit(4);
        const std::size_t length = readerprotocol::payloadLength(header);
        readerprotocol::Answer answer;
        if (length > readerprotocol::MaxRequestBytes) {
            if (!discard(length))
                std::_Exit(4);
            answer = failed("the request is larger than any page");
        } else {
            Payload payload(memory, length);
            answer = readRequest(payload);
            payload.skipRest();
            memory.release(payload.used());
        }
        if (!writeAll(readerprotocol::encodeAnswer(answer)))
            std::_Exit(4);
        trimHeap();
    }
}
