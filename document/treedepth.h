#pragma once

#include <gumbo.h>

#include <cstddef>

// Browsers build the element tree at most 512 levels deep: an element the parser opens
// deeper is hung on the element at level 512 instead (text stays where it is). gumbo has
// no such limit, so we reshape its tree the same way after parsing.
struct TreeShape
{
    std::size_t elements = 0; // elements walked (template contents aside): room to reserve
    bool templates = false;   // template contents, which stay as deep as they were parsed
};
TreeShape capTreeDepth(GumboNode *document);

// gumbo frees a tree recursively, so a deep one (template contents are not capped) would
// run it out of stack. When anything lies deeper than browsers build, this hangs every node
// straight under the document; only for a tree about to be destroyed.
void flattenForDestroy(GumboNode *document);
