#pragma once

#include "model/recentitem.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class HtmlDocument;

// The ids of the elements readDashboard looks up; a document parsed for these
// (HtmlDocument::parse) reads exactly as the whole page.
std::vector<std::string> dashboardIds();

// Reads a loaded dashboard; no value when the page contract is not met, and then why says
// which part of it is missing.
std::optional<DashboardReading> readDashboard(const HtmlDocument *document,
                                              std::string *why = nullptr);

// Today's count from the counter's text: the first run of digits between the first
// "오늘" and the next "명" (commas between digits skipped, saturating at INT_MAX).
// No value when either word is missing.
std::optional<int> parseTodayCount(std::string_view counterText);
