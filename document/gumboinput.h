#pragma once

#include <string>
#include <string_view>

// gumbo 0.10 turns C0/C1 controls and noncharacters into U+FFFD, where the HTML Standard
// (and every browser) keeps them. Before parsing we swap them for private-use stand-ins
// in plane 16 and swap them back in everything we hand out.
namespace gumboinput {

// Replaces the characters gumbo would drop; false (text untouched) when the text already
// uses the stand-ins, so they could not be told apart.
bool protect(std::string &utf8);

// Turns the stand-ins back into the original characters.
std::string restore(std::string_view utf8);

} // namespace gumboinput
