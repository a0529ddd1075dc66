#include "defaultstyle.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace defaultstyle {

namespace {

const char *attribute(const GumboNode *n, const char *name)
{
    const GumboAttribute *a = gumbo_get_attribute(&n->v.element.attributes, name);
    return a ? a->value : nullptr;
}

bool equalsNoCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b) {
        const char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        if (ca != *b)
            return false;
    }
    return *a == *b;
}

// The tag name as written in the source, lower-cased: gumbo names only the HTML tags it knows.
std::string lowerTagName(const GumboNode *n)
{
    GumboStringPiece original = n->v.element.original_tag;
    gumbo_tag_from_original_text(&original);
    std::string name(original.data ? original.data : "", original.length);
    for (char &c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return name;
}

// SVG draws text only from its text elements (and HTML in foreignObject); everything else
// in it (shapes, gradients, titles) adds no text.
Display svgDisplay(const GumboNode *n)
{
    const std::string name = lowerTagName(n);
    if (n->v.element.tag == GUMBO_TAG_SVG)
        return (n->parent && isElement(n->parent) &&
                n->parent->v.element.tag_namespace == GUMBO_NAMESPACE_HTML)
                   ? Display::InlineBlock
                   : Display::Inline;
    if (n->v.element.tag == GUMBO_TAG_FOREIGNOBJECT || name == "text")
        return Display::Block;
    if (n->v.element.tag == GUMBO_TAG_A || name == "g" || name == "switch" || name == "tspan" ||
        name == "textpath")
        return Display::Inline;
    return Display::None;
}

} // namespace

bool isElement(const GumboNode *n)
{
    return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}

bool isTextNode(const GumboNode *n)
{
    return n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE ||
           n->type == GUMBO_NODE_CDATA;
}

const GumboVector *childrenOf(const GumboNode *n)
{
    if (isElement(n))
        return &n->v.element.children;
    if (n->type == GUMBO_NODE_DOCUMENT)
        return &n->v.document.children;
    return nullptr;
}

const GumboNode *childAt(const GumboVector *v, unsigned i)
{
    return static_cast<const GumboNode *>(v->data[i]);
}

bool isHtml(const GumboNode *n, GumboTag tag)
{
    return isElement(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
           n->v.element.tag == tag;
}

bool hasAttribute(const GumboNode *n, const char *name)
{
    return attribute(n, name) != nullptr;
}

bool insideSvgText(const GumboNode *parent, std::unordered_map<const GumboNode *, bool> *memo)
{
    if (!isElement(parent) || parent->v.element.tag_namespace != GUMBO_NAMESPACE_SVG)
        return true;
    std::vector<const GumboNode *> passed;
    bool inside = false;
    for (const GumboNode *n = parent;
         n && isElement(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_SVG; n = n->parent) {
        if (memo) {
            if (const auto known = memo->find(n); known != memo->end()) {
                inside = known->second;
                break;
            }
            passed.push_back(n);
        }
        if (n->v.element.tag != GUMBO_TAG_FOREIGNOBJECT && svgDisplay(n) == Display::Block) {
            inside = true;
            break;
        }
    }
    if (memo)
        for (const GumboNode *n : passed)
            memo->emplace(n, inside);
    return inside;
}

namespace {

// The style sheet's display for the HTML elements whose value follows from the tag alone.
// Tags listed nowhere are inline; displayOf decides the few that look at attributes.
constexpr GumboTag NotRendered[] = {
    GUMBO_TAG_AREA,     GUMBO_TAG_BASE,   GUMBO_TAG_BASEFONT, GUMBO_TAG_DATALIST, GUMBO_TAG_HEAD,
    GUMBO_TAG_LINK,     GUMBO_TAG_META,   GUMBO_TAG_NOEMBED,  GUMBO_TAG_NOFRAMES, GUMBO_TAG_PARAM,
    GUMBO_TAG_RP,       GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE,    GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE,
    GUMBO_TAG_NOSCRIPT, GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK,
};
constexpr GumboTag Blocks[] = {
    GUMBO_TAG_HTML,     GUMBO_TAG_BODY,     GUMBO_TAG_ADDRESS, GUMBO_TAG_BLOCKQUOTE,
    GUMBO_TAG_CENTER,   GUMBO_TAG_DIV,      GUMBO_TAG_FIGURE,  GUMBO_TAG_FIGCAPTION,
    GUMBO_TAG_FOOTER,   GUMBO_TAG_HEADER,   GUMBO_TAG_HR,      GUMBO_TAG_LEGEND,
    GUMBO_TAG_LISTING,  GUMBO_TAG_MAIN,     GUMBO_TAG_P,       GUMBO_TAG_PLAINTEXT,
    GUMBO_TAG_PRE,      GUMBO_TAG_XMP,      GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,
    GUMBO_TAG_H1,       GUMBO_TAG_H2,       GUMBO_TAG_H3,      GUMBO_TAG_H4,
    GUMBO_TAG_H5,       GUMBO_TAG_H6,       GUMBO_TAG_HGROUP,  GUMBO_TAG_NAV,
    GUMBO_TAG_SECTION,  GUMBO_TAG_DIR,      GUMBO_TAG_DD,      GUMBO_TAG_DL,
    GUMBO_TAG_DT,       GUMBO_TAG_MENU,     GUMBO_TAG_OL,      GUMBO_TAG_UL,
    GUMBO_TAG_FIELDSET, GUMBO_TAG_DETAILS,  GUMBO_TAG_SUMMARY, GUMBO_TAG_FRAMESET,
    GUMBO_TAG_FRAME,    GUMBO_TAG_OPTGROUP, GUMBO_TAG_OPTION,
};
// Replaced elements and form controls.
constexpr GumboTag Atomic[] = {
    GUMBO_TAG_IMG,    GUMBO_TAG_IMAGE,    GUMBO_TAG_IFRAME, GUMBO_TAG_EMBED,    GUMBO_TAG_VIDEO,
    GUMBO_TAG_CANVAS, GUMBO_TAG_TEXTAREA, GUMBO_TAG_METER,  GUMBO_TAG_PROGRESS,
};
// A select's options read as lines of their own.
constexpr GumboTag InlineBlocks[] = {GUMBO_TAG_SELECT, GUMBO_TAG_BUTTON, GUMBO_TAG_MARQUEE};

constexpr std::array<Display, GUMBO_TAG_LAST + 1> DisplayByTag = [] {
    std::array<Display, GUMBO_TAG_LAST + 1> table{};
    table.fill(Display::Inline);
    const auto set = [&table](std::span<const GumboTag> tags, Display display) {
        for (const GumboTag tag : tags)
            table[tag] = display;
    };
    set(NotRendered, Display::None);
    set(Blocks, Display::Block);
    set(Atomic, Display::Atomic);
    set(InlineBlocks, Display::InlineBlock);
    table[GUMBO_TAG_LI] = Display::ListItem;
    table[GUMBO_TAG_TABLE] = Display::Table;
    table[GUMBO_TAG_CAPTION] = Display::Caption;
    table[GUMBO_TAG_TD] = table[GUMBO_TAG_TH] = Display::Cell;
    table[GUMBO_TAG_COLGROUP] = Display::ColumnGroup;
    table[GUMBO_TAG_COL] = Display::Column;
    table[GUMBO_TAG_THEAD] = table[GUMBO_TAG_TBODY] = table[GUMBO_TAG_TFOOT] = Display::RowGroup;
    table[GUMBO_TAG_TR] = Display::Row;
    return table;
}();

// Elements gumbo does not know; the ones the style sheet makes blocks.
Display unknownElementDisplay(const GumboNode *n)
{
    const std::string lower = lowerTagName(n);
    if (lower == "search")
        return Display::Block;
    if (lower == "dialog")
        return hasAttribute(n, "open") ? Display::Block : Display::None;
    return Display::Inline;
}

} // namespace

Display displayOf(const GumboNode *n)
{
    const GumboElement &e = n->v.element;
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG)
        return svgDisplay(n);
    if (e.tag_namespace == GUMBO_NAMESPACE_MATHML)
        return Display::Inline;
    if (hasAttribute(n, "hidden"))
        return e.tag == GUMBO_TAG_EMBED ? Display::Atomic : Display::None;
    switch (e.tag) {
    case GUMBO_TAG_INPUT: {
        const char *type = attribute(n, "type");
        return type && equalsNoCase(type, "hidden") ? Display::None : Display::Atomic;
    }
    case GUMBO_TAG_AUDIO:
        return hasAttribute(n, "controls") ? Display::Atomic : Display::None;
    case GUMBO_TAG_FORM:
        // A form the parser left inside a table part is never shown.
        if (n->parent &&
            (isHtml(n->parent, GUMBO_TAG_TABLE) || isHtml(n->parent, GUMBO_TAG_THEAD) ||
             isHtml(n->parent, GUMBO_TAG_TBODY) || isHtml(n->parent, GUMBO_TAG_TFOOT) ||
             isHtml(n->parent, GUMBO_TAG_TR)))
            return Display::None;
        return Display::Block;
    case GUMBO_TAG_OBJECT:
        // Nothing to load here: an object without data shows its fallback content.
        return hasAttribute(n, "data") ? Display::Atomic : Display::Inline;
    case GUMBO_TAG_UNKNOWN:
        return unknownElementDisplay(n);
    default: {
        const auto tag = static_cast<std::size_t>(e.tag);
        return tag < DisplayByTag.size() ? DisplayByTag[tag] : Display::Inline;
    }
    }
}

bool isBlockLevel(Display d)
{
    return d == Display::Block || d == Display::ListItem || d == Display::Table ||
           d == Display::Caption;
}

bool breaksLine(Display d)
{
    return isBlockLevel(d) || d == Display::RowGroup || d == Display::Row || d == Display::Cell ||
           d == Display::Column || d == Display::ColumnGroup;
}

bool isTableInternal(Display d)
{
    return d == Display::Table || d == Display::RowGroup || d == Display::Row ||
           d == Display::Column || d == Display::ColumnGroup;
}

// A closed details element shows its first summary only. A summary looks back to the one
// before it at most, so asking for every child passes each child once.
bool hiddenByParent(const GumboNode *parent, const GumboNode *child)
{
    if (!parent || !isHtml(parent, GUMBO_TAG_DETAILS) || hasAttribute(parent, "open"))
        return false;
    if (!isHtml(child, GUMBO_TAG_SUMMARY))
        return true;
    const GumboVector &kids = parent->v.element.children;
    for (unsigned i = static_cast<unsigned>(child->index_within_parent); i-- > 0;)
        if (isHtml(childAt(&kids, i), GUMBO_TAG_SUMMARY))
            return true;
    return false;
}

Display effectiveDisplay(const GumboNode *n)
{
    if (hiddenByParent(n->parent, n))
        return Display::None;
    if (n->parent && isElement(n->parent)) {
        const GumboElement &pe = n->parent->v.element;
        if (pe.tag_namespace == GUMBO_NAMESPACE_HTML && displayOf(n->parent) == Display::Atomic)
            return Display::None;
    }
    return isElement(n) ? displayOf(n) : Display::Inline;
}

WhiteSpace whiteSpaceOf(const GumboNode *n, bool quirks)
{
    if (n->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return WhiteSpace::Inherit;
    switch (n->v.element.tag) {
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_TEXTAREA:
        return WhiteSpace::Preserve;
    case GUMBO_TAG_NOBR:
        return WhiteSpace::Collapse;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return hasAttribute(n, "nowrap") ? WhiteSpace::Collapse : WhiteSpace::Inherit;
    case GUMBO_TAG_TABLE:
        // Quirks-mode tables reset white-space to its initial value.
        return quirks ? WhiteSpace::Collapse : WhiteSpace::Inherit;
    default:
        return WhiteSpace::Inherit;
    }
}

bool isQuirks(const GumboNode *n)
{
    while (n->parent)
        n = n->parent;
    return n->type == GUMBO_NODE_DOCUMENT &&
           n->v.document.doc_type_quirks_mode == GUMBO_DOCTYPE_QUIRKS;
}

} // namespace defaultstyle
