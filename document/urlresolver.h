#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An address broken into its parts the way browsers hold it: every part is already
// normalised (lower-case scheme and host, default port dropped, percent-encoded).
struct UrlRecord
{
    std::string scheme;
    std::string username;
    std::string password;
    std::optional<std::string> host; // serialised form ("[::1]" for IPv6)
    std::optional<int> port;
    std::vector<std::string> path; // segments of a hierarchical path
    bool opaquePath = false;       // "mailto:x", "javascript:..." keep their path as one string
    std::string opaquePathText;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool isSpecial() const;
    // The address as a browser reports it in an element's href.
    std::string serialize(bool excludeFragment = false) const;
};

// Parses input (UTF-8) as a browser parses an href: relative forms are resolved against
// base, and the query is percent-encoded in the document's encoding (a WHATWG encoding
// name such as "UTF-8" or "EUC-KR"). No value when the input is not a valid address.
std::optional<UrlRecord> parseUrl(std::string_view input, const UrlRecord *base = nullptr,
                                  std::string_view queryEncoding = "UTF-8");

// Convenience: input resolved against base, serialised; no value when either fails.
std::optional<std::string> resolveUrl(std::string_view input, std::string_view base,
                                      std::string_view queryEncoding = "UTF-8");
