#include "bodydecoder.h"

#include <algorithm>
#include <cstring>

namespace {

// RFC 1950's header. A raw stream could only pass with a stored block's padding bits set in
// its first byte, which encoders leave clear.
bool isZlibHeader(unsigned char cmf, unsigned char flg)
{
    return (cmf & 0x0f) == Z_DEFLATED && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

} // namespace

BodyDecoder::~BodyDecoder()
{
    end();
}

bool BodyDecoder::begin(const QByteArray &contentEncoding)
{
    end();
    const QByteArray coding = contentEncoding.trimmed().toLower();
    if (coding.isEmpty() || coding == "identity")
        return true;
    if (coding == "gzip" || coding == "x-gzip") {
        m_gzip = true;
        return init(15 + 16);
    }
    if (coding == "deflate") {
        // The wrapper is decided on the first two bytes, which may come in two reads.
        m_state = State::Sniffing;
        return true;
    }
    return false;
}

bool BodyDecoder::decode(const QByteArray &data, QByteArray &out, qint64 limit)
{
    if (m_state == State::Identity) {
        out += data;
        return true;
    }
    // Bytes held back from an earlier read go first.
    const QByteArray input = m_held.isEmpty() ? data : m_held + data;
    m_held.clear();
    const auto *bytes = reinterpret_cast<const unsigned char *>(input.constData());
    qsizetype pos = 0;
    while (out.size() <= limit) {
        const qsizetype left = input.size() - pos;
        switch (m_state) {
        case State::Identity:
        case State::Done:
            return true;
        case State::Sniffing:
            if (left < 2) {
                m_held = input.mid(pos);
                return true;
            }
            // Some servers send "deflate" without the zlib wrapper; browsers take both.
            if (!init(isZlibHeader(bytes[pos], bytes[pos + 1]) ? 15 : -15))
                return false;
            break;
        case State::BetweenMembers:
            // Concatenated gzip members are one body; anything else after one is ignored.
            if (left == 0 || (left == 1 && bytes[pos] == 0x1f)) {
                m_held = input.mid(pos);
                return true;
            }
            if (bytes[pos] != 0x1f || bytes[pos + 1] != 0x8b) {
                m_state = State::Done;
                return true;
            }
            if (inflateReset(&m_zs) != Z_OK)
                return false;
            m_state = State::Inflating;
            break;
        case State::Inflating: {
            char chunk[16384];
            const qint64 room = std::min<qint64>(sizeof chunk, limit + 1 - out.size());
            m_zs.next_in = const_cast<Bytef *>(bytes + pos);
            m_zs.avail_in = static_cast<uInt>(left);
            m_zs.next_out = reinterpret_cast<Bytef *>(chunk);
            m_zs.avail_out = static_cast<uInt>(room);
            const int rc = inflate(&m_zs, Z_NO_FLUSH);
            out.append(chunk, room - m_zs.avail_out);
            pos = input.size() - m_zs.avail_in;
            if (rc == Z_STREAM_END) {
                m_state = m_gzip ? State::BetweenMembers : State::Done;
                break;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                return false;
            if (m_zs.avail_in == 0 && m_zs.avail_out != 0)
                return true;
            break;
        }
        }
    }
    return true;
}

bool BodyDecoder::init(int windowBits)
{
    std::memset(&m_zs, 0, sizeof m_zs);
    m_zlib = inflateInit2(&m_zs, windowBits) == Z_OK;
    m_state = m_zlib ? State::Inflating : State::Done;
    return m_zlib;
}

void BodyDecoder::end()
{
    if (m_zlib)
        inflateEnd(&m_zs);
    m_zlib = false;
    m_gzip = false;
    m_state = State::Identity;
    m_held.clear();
}
