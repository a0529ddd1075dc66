#include "defaultstyle.h"

#include <string>

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

// SVG draws text only from its text elements (and HTML in foreignObject); everything else
// in it (shapes, gradients, titles) adds no text.
Display svgDisplay(const GumboNode *n)
{
    GumboStringPiece original = n->v.element.original_tag;
    gumbo_tag_from_original_text(&original);
    std::string name(original.data ? original.data : "", original.length);
    for (char &c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
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

bool insideSvgText(const GumboNode *parent)
{
    if (!isElement(parent) || parent->v.element.tag_namespace != GUMBO_NAMESPACE_SVG)
        return true;
    for (const GumboNode *n = parent;
         n && isElement(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_SVG; n = n->parent)
        if (n->v.element.tag != GUMBO_TAG_FOREIGNOBJECT && svgDisplay(n) == Display::Block)
            return true;
    return false;
}

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
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
        return Display::None;
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
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_P:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
        return Display::Block;
    case GUMBO_TAG_LI:
        return Display::ListItem;
    case GUMBO_TAG_TABLE:
        return Display::Table;
    case GUMBO_TAG_CAPTION:
        return Display::Caption;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Display::Cell;
    case GUMBO_TAG_COLGROUP:
        return Display::ColumnGroup;
    case GUMBO_TAG_COL:
        return Display::Column;
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
        return Display::RowGroup;
    case GUMBO_TAG_TR:
        return Display::Row;
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_METER:
    case GUMBO_TAG_PROGRESS:
        return Display::Atomic;
    case GUMBO_TAG_OBJECT:
        // Nothing to load here: an object without data shows its fallback content.
        return hasAttribute(n, "data") ? Display::Atomic : Display::Inline;
    case GUMBO_TAG_SELECT: // its options read as lines of their own
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_MARQUEE:
        return Display::InlineBlock;
    case GUMBO_TAG_UNKNOWN: {
        // Elements gumbo does not know; the ones the style sheet makes blocks.
        GumboStringPiece name = e.original_tag;
        gumbo_tag_from_original_text(&name);
        std::string lower(name.data ? name.data : "", name.length);
        for (char &c : lower)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        if (lower == "search")
            return Display::Block;
        if (lower == "dialog")
            return hasAttribute(n, "open") ? Display::Block : Display::None;
        return Display::Inline;
    }
    default:
        return Display::Inline;
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

// A closed details element shows its first summary only.
bool hiddenByParent(const GumboNode *parent, const GumboNode *child)
{
    if (!parent || !isHtml(parent, GUMBO_TAG_DETAILS) || hasAttribute(parent, "open"))
        return false;
    const GumboVector &kids = parent->v.element.children;
    for (unsigned i = 0; i < kids.length; ++i) {
        const GumboNode *k = childAt(&kids, i);
        if (isHtml(k, GUMBO_TAG_SUMMARY))
            return k != child;
    }
    return true;
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
