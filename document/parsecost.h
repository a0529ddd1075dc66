#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

// What a page will cost to parse, estimated before gumbo sees it. gumbo's tree builder
// walks its stack of open elements and its list of active formatting elements for almost
// every token, so a deep or misnested page costs it depth times tokens: seconds or hours
// for shapes a body of a few MiB can hold. The estimate runs the tree builder's decisions
// over a model of both lists in one pass over the text, charging every walk, element and
// attribute at what gumbo and our tree over it spend on them, and stops where the budget
// runs out.
namespace parsecost {

// In estimated nanoseconds of one desktop core: the whole parse (decoding, gumbo, our tree,
// freeing it) of any page within it stays well under a second.
inline constexpr double kBudget = 450e6;

// What used up most of the budget.
enum class Excess
{
    None,
    Depth,      // walks over a deep stack of open elements
    Formatting, // formatting elements reopened or matched again and again
    Attributes, // tags with very many attributes
    Size,       // the sheer number of tokens and elements
    Abort,      // gumbo 0.10 would end the program on an assertion, at any cost
};

struct Estimate
{
    // Bytes from the start that parse within the budget: the whole text when it does, else
    // where the token that ran over it starts.
    std::size_t affordable = 0;
    Excess excess = Excess::None;
    std::size_t deepest = 0; // the most elements open at once up to there
    double cost = 0;         // estimated nanoseconds of what was looked at

    // What parsing only the first length bytes costs (a little more, never less).
    double costOf(std::size_t length) const;

    // Offsets where a token starts, every few KiB, with the cost of everything before.
    std::vector<std::pair<std::size_t, double>> marks;
};

// text: the page as gumbo gets it (UTF-8, after gumboinput::protect).
Estimate estimate(std::string_view text, double budget = kBudget);

} // namespace parsecost
