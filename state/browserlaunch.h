#pragma once

#include <string>

// True for an absolute http:// or https:// address without control characters:
// the only addresses the program hands to a web browser.
bool IsOpenableWebAddress(const std::string &url);

// Starts the desktop's web browser with the address; false when nothing was started.
// Addresses that are not openable web addresses are refused silently.
bool LaunchWebBrowser(const std::string &url);
