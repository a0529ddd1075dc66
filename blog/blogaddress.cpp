#include "blogaddress.h"

#include "base/asciitext.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// The scheme the user typed ("http" or "https") and the rest of the blog address.
std::pair<std::string, std::string> splitBlogUrl(const std::string &blogUrl)
{
    const auto sep = blogUrl.find("://");
    if (sep == std::string::npos)
        return {"http", blogUrl};
    return {blogUrl.substr(0, sep), blogUrl.substr(sep + 3)};
}

// The dashboard's address as the login's requestURI value, in the address and in the form.
// What would end the value or change its meaning there is percent-encoded; every other
// character of the blog address goes as it is.
std::string dashboardRequestUri(const std::string &blogUrl)
{
    const auto [scheme, rest] = splitBlogUrl(blogUrl);
    std::string value = scheme + "%3A%2F%2F";
    for (const char c : rest) {
        switch (c) {
        case '&':
            value += "%26";
            break;
        case '#':
            value += "%23";
            break;
        case '+':
            value += "%2B";
            break;
        case '=':
            value += "%3D";
            break;
        case '%':
            value += "%25";
            break;
        case ' ':
            value += "%20";
            break;
        default:
            value += c;
        }
    }
    return value + "%2Fowner%2Fcenter%2Fdashboard";
}

// Appends the form encoding of value to out, which must have room for it already: a
// reallocation would leave a copy of a password behind in freed memory.
void appendFormEncoded(std::string &out, const std::string &value)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        const bool unreserved =
            (b < 0x80 && std::isalnum(b)) || c == '-' || c == '_' || c == '.' || c == '*';
        if (unreserved) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0f];
        }
    }
}

} // namespace

namespace blogaddress {

bool hasBlogScheme(const std::string &address)
{
    // A control character (a NUL from a damaged settings file, say) makes no address.
    const bool control = std::any_of(address.begin(), address.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    return !control && (address.starts_with("http://") || address.starts_with("https://"));
}

std::string withoutTrailingSlash(std::string address)
{
    if (address.ends_with('/'))
        address.pop_back();
    return address;
}

std::string formEncode(const std::string &value)
{
    std::string out;
    out.reserve(value.size() * 3);
    appendFormEncoded(out, value);
    return out;
}

std::string loginAddress(const std::string &blogUrl)
{
    return blogUrl + "/login?requestURI=" + dashboardRequestUri(blogUrl) + "&try=1";
}

std::string loginBody(const std::string &blogUrl, const std::string &id,
                      const std::string &password)
{
    // Built in one buffer sized up front, so no partial copy of the password is released.
    const std::string requestUri = dashboardRequestUri(blogUrl);
    std::string body;
    body.reserve(64 + requestUri.size() + 3 * (id.size() + password.size()));
    body += "requestURI=";
    body += requestUri;
    body += "&goPortal=false&loginid=";
    appendFormEncoded(body, id);
    body += "&password=";
    appendFormEncoded(body, password);
    body += "&save=on";
    return body;
}

std::string dashboardAddress(const std::string &blogUrl)
{
    return blogUrl + "/owner/center/dashboard";
}

bool isDashboardAddress(const std::string &location, const std::string &blogUrl)
{
    const std::string page = toLowerAscii(location);
    const std::string dashboard = toLowerAscii(dashboardAddress(blogUrl));
    if (page == dashboard)
        return true;
    const QUrl at(QString::fromStdString(page));
    const QUrl expected(QString::fromStdString(dashboard));
    return expected.scheme() == QLatin1String("http") && at.scheme() == QLatin1String("https") &&
           at.host() == expected.host() && at.userInfo() == expected.userInfo() &&
           at.path() == expected.path() && at.query() == expected.query() &&
           at.fragment() == expected.fragment();
}

} // namespace blogaddress
