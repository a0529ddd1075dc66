#pragma once

#include <cstddef>
#include <string>

// ASCII letters in lower case, every other byte as it is: how addresses, tag names and
// labels are compared, never by the user's locale.
inline std::string toLowerAscii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// An address with its scheme and host in lower case and the rest as it is: a host name is
// never case-sensitive, a path may well be (a blog at "/MyBlog"). Without "://", unchanged.
inline std::string withLowerCaseSchemeAndHost(std::string address)
{
    const std::size_t sep = address.find("://");
    if (sep == std::string::npos)
        return address;
    std::size_t end = address.find_first_of("/?#", sep + 3);
    if (end == std::string::npos)
        end = address.size();
    // User information before an "@" keeps its case.
    const std::size_t at = address.rfind('@', end - 1);
    const std::size_t host = at != std::string::npos && at >= sep + 3 ? at + 1 : sep + 3;
    for (std::size_t i = 0; i < end; ++i) {
        char &c = address[i];
        if ((i < sep || i >= host) && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return address;
}
