#pragma once

#include <string>

// The blog host's addresses, built from the blog address the account keeps: "http://" or
// "https://", scheme and host in lower case, the path as typed, without a trailing slash.
namespace blogaddress {

// Whether a typed address may be a blog's: it starts with http:// or https:// and holds no
// control character.
bool hasBlogScheme(const std::string &address);
// The address as the account keeps it: exactly one trailing slash goes, since every address
// below appends its own path.
std::string withoutTrailingSlash(std::string address);

// Form encoding of a login field: letters, digits and -_.* stay, a space becomes "+",
// every other byte %XX.
std::string formEncode(const std::string &value);
// The login form's address and body. In both, the dashboard's address (requestURI) has the
// characters of the blog address that would break the query ("&", "#", "+", "=", "%",
// space) percent-encoded.
std::string loginAddress(const std::string &blogUrl);
std::string loginBody(const std::string &blogUrl, const std::string &id,
                      const std::string &password);
// The owner's dashboard, which the poller reads and the menu opens.
std::string dashboardAddress(const std::string &blogUrl);
// Whether a page's address is the dashboard: its address as built from the blog address
// (compared without regard to case), or the same on the same host upgraded from http to
// https (a redirect browsers follow).
bool isDashboardAddress(const std::string &location, const std::string &blogUrl);

} // namespace blogaddress
