#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Form and query decoding and JSON text building for the demo host.
namespace formcodec {

// Decodes application/x-www-form-urlencoded text: '+' is a space, "%XX" one byte.
// A '%' not followed by two hex digits stays as it is, as browsers do.
std::string decodeComponent(std::string_view text);

// Splits "a=1&b=2" into decoded pairs, in order; a part without '=' has an empty value.
std::vector<std::pair<std::string, std::string>> parsePairs(std::string_view text);

// The value of the first pair named name, or fallback.
std::string value(const std::vector<std::pair<std::string, std::string>> &pairs,
                  std::string_view name, std::string fallback = {});

// Percent-encodes every byte except unreserved ones (for building addresses).
std::string encodeComponent(std::string_view bytes);

// A JSON string literal; invalid UTF-8 bytes become U+FFFD so the output stays valid.
std::string jsonString(std::string_view utf8);

// Lower-case hex of the bytes, for checks that must see every byte exactly.
std::string hex(std::string_view bytes);

// Text made safe for HTML element content and attribute values.
std::string htmlEscape(std::string_view text);

} // namespace formcodec
