#include "secret.h"

#include <cstring>

void wipeString(std::string &text) noexcept
{
    if (!text.empty()) {
        // A volatile walk, so the compiler cannot drop the stores as dead.
        volatile char *p = text.data();
        for (std::size_t i = 0; i < text.size(); ++i)
            p[i] = 0;
    }
    text.clear();
}

namespace {

void wipeBytes(void *data, std::size_t size) noexcept
{
    volatile auto *p = static_cast<volatile unsigned char *>(data);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = 0;
}

} // namespace

void wipeSharedBytes(QByteArray &bytes) noexcept
{
    // data_ptr() reaches the buffer without detaching; raw (unowned) data is left alone.
    if (bytes.data_ptr().isMutable() && !bytes.isEmpty())
        wipeBytes(bytes.data_ptr().data(), static_cast<std::size_t>(bytes.size()));
    bytes.clear();
}

void wipeSharedText(QString &text) noexcept
{
    if (text.data_ptr().isMutable() && !text.isEmpty())
        wipeBytes(text.data_ptr().data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}
