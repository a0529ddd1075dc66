#pragma once

#include <gumbo.h>

#include <unordered_map>

// What the default user-agent style sheet says about an element, as far as its text is
// concerned: how it is displayed and how it treats white space. We apply no other sheet.
namespace defaultstyle {

enum class Display
{
    None,
    Inline,
    Block,
    ListItem,
    Table,
    Caption,
    RowGroup,
    Row,
    Cell,
    Column,
    ColumnGroup,
    Atomic,     // replaced or form control: no text of its own children
    InlineBlock // a line of its own inside the surrounding line (button, select, svg)
};

enum class WhiteSpace
{
    Inherit,
    Collapse,
    Preserve
};

bool isElement(const GumboNode *n);
bool isTextNode(const GumboNode *n);
const GumboVector *childrenOf(const GumboNode *n);
const GumboNode *childAt(const GumboVector *v, unsigned i);
bool isHtml(const GumboNode *n, GumboTag tag);
bool hasAttribute(const GumboNode *n, const char *name);

// The element's own display value.
Display displayOf(const GumboNode *n);
// The display a node gets in place: None also for what its parent does not show.
Display effectiveDisplay(const GumboNode *n);
// True for a child a closed details element does not show.
bool hiddenByParent(const GumboNode *parent, const GumboNode *child);
// False for SVG elements outside a text element, whose own text SVG does not draw. memo, when
// given, keeps the answer for every element the walk up passes, so no walk passes one twice.
bool insideSvgText(const GumboNode *parent,
                   std::unordered_map<const GumboNode *, bool> *memo = nullptr);

bool isBlockLevel(Display d);
// Boundaries of a line: block-level boxes and the parts of a table.
bool breaksLine(Display d);
bool isTableInternal(Display d);

WhiteSpace whiteSpaceOf(const GumboNode *n, bool quirks);
bool isQuirks(const GumboNode *n);

} // namespace defaultstyle
