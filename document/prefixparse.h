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

// document: gumbo's tree of the first parsed bytes of a page (not all of it), before any
// reshaping. Enough still needs the rest of the page to pass restIsHarmless.
Verdict judgePrefix(const GumboNode *document, std::size_t parsed,
                    std::span<const std::string> ids);

// Whether the rest of the page after an Enough cut leaves the reading alone: no markup in it
// could change it (points 2, 4 and 5 of the argument). Purely lexical and deliberately
// coarse: a match in text or a comment refuses too. rest may be the decoded text or the raw
// bytes of an encoding in which bytes below 0x80 always stand for themselves: what the
// decoded text holds, the bytes hold too. settled: the encoding can no longer change.
// protectedPrefix: the prefix was parsed with gumbo's lost characters swapped for stand-ins,
// which the whole page would not be if the rest (UTF-8) held any of them.
bool restIsHarmless(std::string_view rest, std::span<const std::string> ids, bool settled,
                    bool protectedPrefix);

} // namespace prefixparse
