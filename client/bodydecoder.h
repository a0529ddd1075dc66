#pragma once

#include <QByteArray>

#include <zlib.h>

// Inflates a gzip or deflate body as it arrives, never more than the caller has room for,
// so a small body that inflates to gigabytes costs no more than the size cap. gzip may come
// in several members (what follows the last is ignored); deflate with or without the zlib
// wrapper, told apart on its first two bytes however the body is split into reads.
class BodyDecoder
{
public:
    BodyDecoder() = default;
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    // Starts a body of the given Content-Encoding; false for an encoding we did not offer.
    bool begin(const QByteArray &contentEncoding);
    // Whether the body is being inflated (not sent as it is).
    bool active() const { return m_state != State::Identity; }

    // Appends the decoded form of data to out until out holds more than limit bytes.
    // False when the data cannot be decoded.
    bool decode(const QByteArray &data, QByteArray &out, qint64 limit);

private:
    enum class State
    {
        Identity,
        Sniffing, // deflate: waiting for the two bytes that tell the wrapper
        Inflating,
        BetweenMembers, // gzip: a member ended; the next bytes may start another
        Done,           // the stream ended; the rest is ignored
    };

    bool init(int windowBits);
    void end();

    z_stream m_zs{};
    State m_state = State::Identity;
    bool m_zlib = false; // m_zs is initialised
    bool m_gzip = false;
    QByteArray m_held;
};
