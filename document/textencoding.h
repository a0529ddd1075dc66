#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Turning a page's bytes into text the way browsers do (the WHATWG Encoding Standard).
// Encodings are named by their WHATWG names: "UTF-8", "UTF-16LE", "EUC-KR", "windows-1252"...
namespace textencoding {

// The encoding a label stands for ("euc-kr", " Latin1 ", "ks_c_5601-1987"...); no value for
// an unknown label.
std::optional<std::string> encodingForLabel(std::string_view label);

struct Sniffed
{
    std::string encoding;
    std::size_t bomLength = 0; // bytes to skip before decoding
    bool certain = false;      // false: a <meta> met while parsing may still change it
};

// BOM, then the HTTP charset label, then the <meta> prescan of the first 1024 bytes,
// then UTF-8.
Sniffed sniffEncoding(std::string_view bytes, std::string_view httpCharset);

// The HTML Standard's "prescan a byte stream to determine its encoding" over bytes.
std::optional<std::string> prescanForEncoding(std::string_view bytes);

// The charset named in a Content-Type value as the HTML Standard extracts it from a
// <meta http-equiv> content attribute; no value when there is none.
std::optional<std::string> charsetFromContentType(std::string_view content);

// Decodes bytes (without their BOM) to UTF-8; malformed input becomes U+FFFD.
std::string decodeToUtf8(std::string_view bytes, std::string_view encoding);

// Builds every decoder's tables and opens the C library's converters now, for a process that
// will not be able to open files later; otherwise that happens on first use.
void prepareDecoders();

// The encoding used to encode a URL query: UTF-16 and "replacement" pages use UTF-8.
std::string_view outputEncoding(std::string_view encoding);

// Encodes text for a URL query; a character the encoding lacks becomes "%26%23N%3B"
// ("&#N;" percent-encoded), which the query percent-encoding leaves alone.
std::string encodeForUrl(std::u32string_view text, std::string_view encoding);

// UTF-8 helpers shared by the document layer.
std::u32string utf8ToUtf32(std::string_view utf8);
void appendUtf8(std::string &out, char32_t c);

} // namespace textencoding
