// Stands in for the page reader in tests: consumes one request whole, then misbehaves.
//   fakereader MODE [ONCE_FILE REAL_READER]
// MODE: spin, abort, garbage, toomuch, twice, quit. With ONCE_FILE, only the first reader
// started misbehaves (it creates the file); later ones become the real reader.
#include "reader/readerprotocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

bool readExactly(char *into, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(STDIN_FILENO, into, size);
        if (n <= 0)
            return false;
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            std::_Exit(5);
        done += static_cast<std::size_t>(n);
    }
}

std::string validAnswer()
{
    readerprotocol::Answer answer;
    answer.status = readerprotocol::Answer::Read;
    answer.encoding = "UTF-8";
    answer.reading.todayCount = 7;
    answer.reading[ItemKind::Comment].push_back({"text", "http://127.0.0.1/1"});
    return readerprotocol::encodeAnswer(answer);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    if (argc >= 4) {
        if (access(argv[2], F_OK) == 0) {
            execl(argv[3], argv[3], static_cast<char *>(nullptr));
            return 3;
        }
        if (FILE *once = std::fopen(argv[2], "w"))
            std::fclose(once);
    }
    char header[readerprotocol::HeaderBytes];
    if (!readExactly(header, sizeof header))
        return 4;
    std::string payload(readerprotocol::payloadLength(header), '\0');
    if (!readExactly(payload.data(), payload.size()))
        return 4;
    const std::string mode = argv[1];
    if (mode == "spin") {
        volatile unsigned long turns = 0;
        for (;;)
            turns = turns + 1;
    }
    if (mode == "abort")
        std::abort();
    if (mode == "garbage") {
        std::string frame = validAnswer();
        frame[readerprotocol::HeaderBytes + 1] = 9; // no such status
        writeAll(frame);
    } else if (mode == "toomuch") {
        const std::size_t length = readerprotocol::MaxAnswerBytes + 1;
        std::string frame(readerprotocol::HeaderBytes, '\0');
        for (std::size_t i = 0; i < readerprotocol::HeaderBytes; ++i)
            frame[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
        writeAll(frame + std::string(length, 'x'));
    } else if (mode == "twice") {
        writeAll(validAnswer() + validAnswer());
    } else if (mode == "quit") {
        return 0;
    }
    // Waits to be killed, or for standard input to end.
    while (::read(STDIN_FILENO, header, 1) > 0) {
    }
    return 0;
}
