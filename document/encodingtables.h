#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Code tables behind the decoders, built once from the C library's converters so that no
// table of our own has to be maintained.
namespace textencoding::tables {

// The Encoding Standard's EUC-KR index (windows-949): code point for pointer
// (lead - 0x81) * 190 + (trail - 0x41); 0 where the index has none. All of it lies in the
// Basic Multilingual Plane. Built at the first call, from the converter prepareAll opened.
const std::array<char16_t, 23940> &eucKrIndex();

// Code points of bytes 0x80..0xFF of a single-byte encoding (0 = none); null when the
// encoding is not a single-byte one.
const std::array<char32_t, 128> *singleByteTable(std::string_view encoding);

// Decodes the multi-byte encodings we have no table for (Shift_JIS, GBK...) with the C
// library; an undecodable byte becomes U+FFFD.
void decodeWithSystem(std::string_view bytes, std::string_view encoding, std::string &out);

// The bytes of one non-ASCII character in encoding; no value when it has none.
std::optional<std::string> encodeChar(char32_t c, std::string_view encoding);

// Builds every table above and opens every converter of the C library they use, for a
// process that will not be able to open their files later.
void prepareAll();

} // namespace textencoding::tables
