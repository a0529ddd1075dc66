#include "browser.h"

#include "base/logging.h"

#include <QDesktopServices>
#include <QUrl>

#include <algorithm>
#include <string_view>

static bool startsWithNoCase(const std::string &text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b);
    });
}

bool isOpenableWebAddress(const std::string &url)
{
    // Links come from a page strangers can write to: only plain web addresses leave
    // the program, never javascript:, file:, data: or anything a shell could misread.
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://"))
        return false;
    // Longer would fail at exec, silently; refused here where it can be seen.
    if (url.size() > MaxOpenableLinkBytes)
        return false;
    const bool hasControlOrBlank = std::any_of(url.begin(), url.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
    if (hasControlOrBlank)
        return false;
    const QUrl parsed = QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode);
    return parsed.isValid() && !parsed.host().isEmpty();
}

bool openInBrowser(const std::string &url)
{
    if (!isOpenableWebAddress(url))
        return false;
    const QUrl address = QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode);
    if (QDesktopServices::openUrl(address))
        return true;
    qCWarning(lcInstance) << "the web browser could not be started for"
                          << logging::safeAddress(url);
    return false;
}
