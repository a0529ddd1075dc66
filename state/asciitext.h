#pragma once

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
