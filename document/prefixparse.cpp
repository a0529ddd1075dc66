#include "prefixparse.h"

#include "document/defaultstyle.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Why a prefix can be enough.
//
// For each wanted id, take the element carrying it that its own end tag closes first in the
// page, and cut the page right after the later of these end tags. The page is read as it
// stands at the cut: there, getElementById must find these elements. The cut depends only on
// the page, so any prefix that holds it gives the same reading.
//
// The tree builder consumes tokens in order. At the cut the tokenizer is in its data state
// (only HTML elements are open, see 3), and every token before it is processed the same way
// whatever follows, so at the cut both parses hold the same tree, stack of open elements and
// list of active formatting elements. What can the rest of the page still do to a wanted
// element (its text, its descendants, their tag names and attributes)?
//
// 1. Change its subtree. Nodes are inserted only into an open element (at its end, or
//    before an open table when foster parenting). Each wanted element was closed by its own
//    end tag, so it and everything inside it is off the stack. The adoption agency moves the
//    children of a furthest block, an open element; it runs for a formatting element that is
//    open (refused at the cut, 3) or opened later, whose furthest block is then later
//    content too. Nothing else moves or removes nodes but a <frameset> replacing the body.
// 2. Change its attributes. Only <html> and <body> start tags add attributes to an existing
//    element, and neither may be wanted.
// 3. Change what surrounds it. Its ancestors cannot change (1), nor its style: we apply the
//    default style sheet only, so its text depends on its own subtree and its ancestors,
//    provided it is a line-breaking box (its text starts and ends lines; an inline element's
//    edges would collapse with text around it). Every element open at the cut must be an
//    HTML element from a short list of containers (no formatting element, which the
//    adoption agency could reparent, no select, template, foreign or raw-text element, which
//    change how what follows is read).
// 4. Be read from the source text past the cut: <noscript> is, so it is refused before the
//    cut. Elements nested deeper than the browsers' depth cap are reshaped after parsing:
//    refused before the cut too.
// 5. Be copied: the parser clones a formatting element of the active list when later
//    content reopens it, and a clone carrying a wanted id could come before the element in
//    tree order. A formatting element with a wanted id before the cut is refused.
// What the rest of the page could still change around the elements is not looked at: the
// reading is that of the page up to the cut, whose tree is built again without what a
// longer prefix held past it. A first <base> past the cut, another element with a wanted id
// put before them by foster parenting or by a later <body>, or a <frameset> replacing the
// body, is not seen. The rest is neither decoded nor scanned.

namespace prefixparse {

namespace {

using defaultstyle::childAt;
using defaultstyle::childrenOf;
using defaultstyle::isElement;

constexpr unsigned kDepthMargin = 500; // below the cap of 512 that reshapes deep trees

bool isHtmlElement(const GumboNode *n)
{
    return isElement(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

bool isFormatting(const GumboNode *n)
{
    if (!isHtmlElement(n))
        return false;
    switch (n->v.element.tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_B:
    case GUMBO_TAG_BIG:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_FONT:
    case GUMBO_TAG_I:
    case GUMBO_TAG_NOBR:
    case GUMBO_TAG_S:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_STRIKE:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_TT:
    case GUMBO_TAG_U:
        return true;
    default:
        return false;
    }
}

// Containers that may stay open across the cut: later tokens only append to them or pop them.
bool mayStayOpen(const GumboNode *n)
{
    if (!isHtmlElement(n))
        return false;
    switch (n->v.element.tag) {
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_SPAN:
    case GUMBO_TAG_P:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return true;
    default:
        return false;
    }
}

// The element's id, when the markup before offset gave it one (a later <html> or <body> tag
// adds attributes to the element its first one made).
const char *idOf(const GumboNode *n, std::size_t before = SIZE_MAX)
{
    const GumboAttribute *id = gumbo_get_attribute(&n->v.element.attributes, "id");
    return id && id->name_start.offset < before ? id->value : nullptr;
}

bool isWanted(const char *id, std::span<const std::string> ids)
{
    return id && std::find(ids.begin(), ids.end(), std::string_view(id)) != ids.end();
}

struct Walked
{
    const GumboNode *node;
    unsigned depth;
};

} // namespace

Verdict judgePrefix(const GumboNode *document, std::size_t parsed, std::span<const std::string> ids)
{
    if (!document || ids.empty())
        return {};
    // A <frameset> that replaced the body took everything in it away: the tree at the cut is
    // that of the text before the frameset.
    for (unsigned i = 0; i < childrenOf(document)->length; ++i) {
        const GumboNode *html = childAt(childrenOf(document), i);
        if (!isHtmlElement(html) || html->v.element.tag != GUMBO_TAG_HTML)
            continue;
        for (unsigned k = 0; k < childrenOf(html)->length; ++k) {
            const GumboNode *n = childAt(childrenOf(html), k);
            if (isHtmlElement(n) && n->v.element.tag == GUMBO_TAG_FRAMESET)
                return {Verdict::Before, n->v.element.start_pos.offset};
        }
    }

    // Every element in tree order with its depth (html is 1).
    std::vector<Walked> elements;
    std::vector<Walked> stack;
    for (unsigned i = childrenOf(document)->length; i-- > 0;)
        stack.push_back({childAt(childrenOf(document), i), 1});
    while (!stack.empty()) {
        const Walked w = stack.back();
        stack.pop_back();
        if (!isElement(w.node))
            continue;
        elements.push_back(w);
        if (w.node->type == GUMBO_NODE_TEMPLATE)
            continue; // template contents are not part of the tree
        const GumboVector *kids = childrenOf(w.node);
        for (unsigned i = kids->length; i-- > 0;)
            stack.push_back({childAt(kids, i), w.depth + 1});
    }

    // The elements carrying a wanted id, in tree order, by id.
    std::vector<std::vector<const GumboNode *>> carriers(ids.size());
    for (const Walked &w : elements) {
        const char *value = idOf(w.node);
        if (!value)
            continue;
        const auto id = std::find(ids.begin(), ids.end(), std::string_view(value));
        if (id != ids.end())
            carriers[static_cast<std::size_t>(id - ids.begin())].push_back(w.node);
    }

    // For each id, the element carrying it that its end tag closes first in the page: the
    // page is read up to where one of each is complete.
    std::size_t cut = 0;
    std::vector<const GumboNode *> chosen;
    for (const std::vector<const GumboNode *> &nodes : carriers) {
        const GumboNode *best = nullptr;
        std::size_t bestEnd = 0;
        bool open = false;
        for (const GumboNode *n : nodes) {
            const GumboElement &e = n->v.element;
            // Their ids may come from later tags, and they keep no end position: never read.
            if (isHtmlElement(n) && (e.tag == GUMBO_TAG_HTML || e.tag == GUMBO_TAG_BODY))
                continue;
            const bool closedByItsEndTag = !(n->parse_flags & GUMBO_INSERTION_IMPLICIT_END_TAG) &&
                                           e.original_end_tag.data && e.original_end_tag.length > 0;
            const std::size_t end = e.end_pos.offset + e.original_end_tag.length;
            if (closedByItsEndTag && (!best || end < bestEnd)) {
                best = n;
                bestEnd = end;
            } else if (!closedByItsEndTag && e.end_pos.offset >= parsed) {
                open = true; // still open when the prefix ended: a longer one may close it
            }
        }
        if (!best)
            return {nodes.empty() || open ? Verdict::Longer : Verdict::Whole};
        const GumboElement &e = best->v.element;
        if (!isHtmlElement(best) || isFormatting(best) || e.tag == GUMBO_TAG_HTML ||
            e.tag == GUMBO_TAG_BODY || !defaultstyle::breaksLine(defaultstyle::displayOf(best)))
            return {};
        chosen.push_back(best);
        cut = std::max(cut, bestEnd);
    }
    if (cut > parsed)
        return {};
    // In the page up to the cut, getElementById must find the chosen elements: no other
    // element with the id from markup before the cut comes first in tree order.
    for (std::size_t k = 0; k < ids.size(); ++k) {
        const auto first =
            std::find_if(carriers[k].begin(), carriers[k].end(), [cut](const GumboNode *n) {
                return n->v.element.start_pos.offset < cut && idOf(n, cut);
            });
        if (first == carriers[k].end() || *first != chosen[k])
            return {};
    }

    for (const Walked &w : elements) {
        const GumboElement &e = w.node->v.element;
        if (e.start_pos.offset >= cut)
            continue;
        if (w.depth > kDepthMargin || (isHtmlElement(w.node) && e.tag == GUMBO_TAG_NOSCRIPT))
            return {};
        if (isFormatting(w.node) && isWanted(idOf(w.node), ids))
            return {};
        // html and body closed by their end tags keep no end position: they may stay open.
        if (e.end_pos.offset >= cut && !mayStayOpen(w.node))
            return {};
    }

    return {Verdict::Enough, cut};
}

} // namespace prefixparse
