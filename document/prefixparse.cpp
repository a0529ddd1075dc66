#include "prefixparse.h"

#include "document/defaultstyle.h"

#include <algorithm>
#include <vector>

// Why a prefix can be enough.
//
// The tree builder consumes tokens in order. Cut the page right after the end tag that
// closes the later of the wanted elements (the tokenizer is then in its data state, since
// only HTML elements are open, see 3): every token before the cut is processed the same way
// whatever follows, so at the cut both parses hold the same tree, stack of open elements and
// list of active formatting elements. What can the rest of the page still do to what we
// read (each wanted element: which element getElementById finds, its text, its descendants,
// their tag names and attributes; the base URL; the encoding; whether there is a body)?
//
// 1. Change a wanted element's subtree. Nodes are inserted only into an open element (at its
//    end, or before an open table when foster parenting). Each wanted element was closed by
//    its own end tag, so it and everything inside it is off the stack. The adoption agency
//    moves the children of a furthest block, an open element; it runs for a formatting
//    element that is open (refused at the cut, 3) or opened later, whose furthest block is
//    then later content too. Nothing else moves or removes nodes but a <frameset> replacing
//    the body, refused by the scan (5).
// 2. Change an attribute. Only <html> and <body> start tags add attributes to an existing
//    element: refused by the scan.
// 3. Change what surrounds a wanted element. Its ancestors cannot change (1), nor its style:
//    we apply the default style sheet only, so its text depends on its own subtree and its
//    ancestors, provided it is a line-breaking box (its text starts and ends lines; an inline
//    element's edges would collapse with text around it). Every element open at the cut must
//    be an HTML element from a short list of containers (no formatting element, which the
//    adoption agency could reparent, no select, template, foreign or raw-text element, which
//    change how what follows is read).
// 4. Put another element with a wanted id before it in tree order: foster parenting inserts
//    before an open table, and a table may be open at the cut. Such an element must come
//    from a later start tag carrying the id (refused by the scan: any id-like attribute whose
//    value is the id or holds a character reference) or be a clone the parser makes of a
//    formatting element from the list of active formatting elements: refused when any
//    formatting element before the cut carries a wanted id.
// 5. The scan of the rest also refuses <base> (the first base with an href decides the base
//    URL) and, while the encoding is not settled, <meta>. Elements nested deeper than the
//    browsers' depth cap are reshaped after parsing: refused before the cut. <noscript> is
//    read from the source text past its end: refused before the cut.
// Anything not shown safe reads the whole page. The rest is only scanned for the markup of
// 2, 4 and 5, never decoded or parsed: where every byte below 0x80 stands for itself, the
// scan runs over its raw bytes, which hold every match the decoded text would.

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

const char *idOf(const GumboNode *n)
{
    const GumboAttribute *id = gumbo_get_attribute(&n->v.element.attributes, "id");
    return id ? id->value : nullptr;
}

bool isWanted(const char *id, std::span<const std::string> ids)
{
    return id && std::find(ids.begin(), ids.end(), std::string_view(id)) != ids.end();
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view word)
{
    if (text.size() - at < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i])
            return false;
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// The value of an attribute-like "name = value" whose "=" is text[equals].
std::string_view valueAfter(std::string_view text, std::size_t equals)
{
    std::size_t i = equals + 1;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        const std::size_t end = text.find(text[i], i + 1);
        return text.substr(i + 1, end == std::string_view::npos ? end : end - i - 1);
    }
    std::size_t end = i;
    while (end < text.size() && !isSpace(text[end]) && text[end] != '>')
        ++end;
    return text.substr(i, end - i);
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

    // The first element carrying each id, as getElementById finds it.
    std::size_t cut = 0;
    for (const std::string &id : ids) {
        const auto found = std::find_if(elements.begin(), elements.end(), [&id](const Walked &w) {
            const char *value = idOf(w.node);
            return value && id == value;
        });
        if (found == elements.end())
            return {Verdict::Longer};
        const GumboNode *n = found->node;
        const GumboElement &e = n->v.element;
        const bool closedByItsEndTag = !(n->parse_flags & GUMBO_INSERTION_IMPLICIT_END_TAG) &&
                                       e.original_end_tag.data && e.original_end_tag.length > 0;
        if (!closedByItsEndTag) {
            // Still open when the prefix ended: a longer one may close it.
            if (e.end_pos.offset >= parsed)
                return {Verdict::Longer};
            return {};
        }
        if (!isHtmlElement(n) || isFormatting(n) || e.tag == GUMBO_TAG_HTML ||
            e.tag == GUMBO_TAG_BODY || !defaultstyle::breaksLine(defaultstyle::displayOf(n)))
            return {};
        cut = std::max<std::size_t>(cut, e.end_pos.offset + e.original_end_tag.length);
    }
    if (cut > parsed)
        return {};

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

bool restIsHarmless(std::string_view rest, std::span<const std::string> ids, bool settled,
                    bool protectedPrefix)
{
    // Each search runs over the rest once, at the speed of memchr.
    for (std::size_t at = rest.find('<'); at != std::string_view::npos;
         at = rest.find('<', at + 1)) {
        const std::size_t name = at + 1;
        if (startsWithNoCase(rest, name, "base") || startsWithNoCase(rest, name, "body") ||
            startsWithNoCase(rest, name, "html") || startsWithNoCase(rest, name, "frameset") ||
            (!settled && startsWithNoCase(rest, name, "meta")))
            return false;
    }
    // "id", spaces, "=": the value must neither be a wanted id nor hold a reference.
    for (std::size_t at = rest.find('='); at != std::string_view::npos;
         at = rest.find('=', at + 1)) {
        std::size_t name = at;
        while (name > 0 && isSpace(rest[name - 1]))
            --name;
        if (name < 2 || lower(rest[name - 2]) != 'i' || lower(rest[name - 1]) != 'd')
            continue;
        const std::string_view value = valueAfter(rest, at);
        if (value.find('&') != std::string_view::npos ||
            std::find(ids.begin(), ids.end(), value) != ids.end())
            return false;
    }
    // A stand-in (U+100000 and above, F4 80 to F4 8F): the whole page would be parsed
    // unprotected.
    if (protectedPrefix) {
        for (std::size_t at = rest.find('\xF4'); at != std::string_view::npos;
             at = rest.find('\xF4', at + 1)) {
            if (at + 1 < rest.size() && (static_cast<unsigned char>(rest[at + 1]) & 0xF0) == 0x80)
                return false;
        }
    }
    return true;
}

} // namespace prefixparse
