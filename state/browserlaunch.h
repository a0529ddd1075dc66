#pragma once

#include <cstddef>
#include <string>

// The longest link handed to the browser: the longest single argument the system passes to
// a new process (Linux: MAX_ARG_STRLEN less the terminator; Windows: the command line).
#if defined(_WIN32)
inline constexpr std::size_t MaxOpenableLinkBytes = 32000;
#else
inline constexpr std::size_t MaxOpenableLinkBytes = 131071;
#endif

// True for an absolute http:// or https:// address without control characters and not over
// MaxOpenableLinkBytes: the only addresses the program hands to a web browser.
bool isOpenableWebAddress(const std::string &url);

// Starts the desktop's web browser with the address; false when nothing was started.
// Addresses that are not openable web addresses are refused silently.
bool launchWebBrowser(const std::string &url);
