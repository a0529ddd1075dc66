#pragma once

#include <gumbo.h>

#include <cstddef>

// Browsers build the element tree at most 512 levels deep: an element the parser opens
// deeper is hung on the element at level 512 instead (text stays where it is). gumbo has
// no such limit, so we reshape its tree the same way after parsing.
// Returns how many elements it went through (template contents aside), which tells the
// caller how much room the tree's element list needs.
std::size_t capTreeDepth(GumboNode *document);
