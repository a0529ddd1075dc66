#pragma once

#include <gumbo.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// Deciding whether a tree built from the start of a page already reads, for a few elements
// looked up by id, exactly as the tree of the whole page would. The argument is written
// beside judgePrefix in prefixparse.cpp.
namespace prefixparse {

struct Verdict
{
    enum Kind
    {
        Enough, // the prefix tree reads the same as the whole page's would
        Longer, // an element is missing or still open: a longer prefix may do
        Whole   // the rest of the page could change the reading: parse all of it
    };
    Kind kind = Whole;
    std::size_t cut = 0; // Enough: the end of the later element's end tag
};

// document: gumbo's tree of text.substr(0, parsed), before any reshaping.
// text: the whole page as gumbo gets it. settled: the encoding can no longer change.
Verdict judgePrefix(const GumboNode *document, std::string_view text, std::size_t parsed,
                    std::span<const std::string> ids, bool settled);

} // namespace prefixparse
