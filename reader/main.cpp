// ormix-reader: reads dashboard pages for Ormix in a process of its own, with no rights.
// Requests come framed on standard input and answers go framed to standard output
// (reader/readerprotocol.h), one answer per request, until standard input ends. Ormix starts
// it, gives every page a deadline and kills it when the page takes longer.
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
    char sink[65536];
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

// A request's bytes: mapped whole at once (faulting page by page costs more than the copy
// from the pipe) and handed back after the request.
class Mapping
{
public:
    explicit Mapping(std::size_t size) : m_size(std::max<std::size_t>(size, 1))
    {
        void *p = mmap(nullptr, m_size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<char *>(p);
    }
    ~Mapping()
    {
        if (m_data)
            munmap(m_data, m_size);
    }
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    char *data() const { return m_data; }

private:
    std::size_t m_size;
    char *m_data = nullptr;
};

readerprotocol::Answer failed(const char *why)
{
    readerprotocol::Answer answer;
    answer.status = readerprotocol::Answer::Failed;
    answer.why = why;
    return answer;
}

} // namespace

int main()
{
    // A page of several MiB passes through a few buffers that large: mapped for each request
    // and handed back after it, never kept in the heap between requests.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    prepareReading();
    // What the warm-up left in the heap goes back before the first page.
    malloc_trim(0);
    // Room for a whole page in the pipe, so Ormix hands it over in one go.
    fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
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
            const Mapping payload(length);
            if (!payload.data() || readExactly(payload.data(), length) != Got::All)
                std::_Exit(4);
            const auto request =
                readerprotocol::decodeRequest(std::string_view(payload.data(), length));
            if (!request) {
                answer = failed("the request is malformed");
            } else {
                try {
                    answer = readPage(*request);
                } catch (const std::bad_alloc &) {
                    answer = failed("the page needs more memory than a reading may take");
                }
            }
        }
        if (!writeAll(readerprotocol::encodeAnswer(answer)))
            std::_Exit(4);
        // The page's tree leaves holes in the heap; they go back between pages.
        malloc_trim(0);
    }
}
