#pragma once

#include <cstddef>
#include <string>

// The longest link handed to the browser: the longest single argument Linux passes to a new
// process (MAX_ARG_STRLEN less the terminator), as the desktop's opener gets it.
inline constexpr std::size_t MaxOpenableLinkBytes = 131071;

// True for an absolute http:// or https:// address without control characters and not over
// MaxOpenableLinkBytes: the only addresses the program hands to a web browser.
bool isOpenableWebAddress(const std::string &url);

// Opens the address in the desktop's web browser through QDesktopServices; false when nothing
// took it (logged) or it is not an openable web address (refused without a word: links come
// from strangers).
bool openInBrowser(const std::string &url);
