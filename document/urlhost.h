#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace urlhost {

// The URL Standard's host parser: the serialised host ("example.com", "127.0.0.1",
// "[::1]", or an opaque host for non-special schemes); no value when it is not valid.
std::optional<std::string> parseHost(std::u32string_view input, bool notSpecial);

} // namespace urlhost
