#pragma once

#include <gumbo.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// Deciding whether a tree built from the start of a page already holds a few elements, looked
// up by id, as no later byte could change them. The argument is written beside judgePrefix
// in prefixparse.cpp.
namespace prefixparse {

struct Verdict
{
    enum Kind
    {
        Enough, // the prefix holds the elements as no later byte could change them
        Longer, // an element is missing or still open: a longer prefix may do
        Whole,  // the rest could change the elements: parse all of the page
        Before  // a <frameset> at cut replaced the body: judge the text before it instead
    };
    Kind kind = Whole;
    std::size_t cut = 0; // Enough: where the page is read to (see prefixparse.cpp); Before
};

// document: gumbo's tree of the first parsed bytes of a page (not all of it), before any
// reshaping.
Verdict judgePrefix(const GumboNode *document, std::size_t parsed,
                    std::span<const std::string> ids);

} // namespace prefixparse
