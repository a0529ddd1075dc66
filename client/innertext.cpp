#include "innertext.h"

#include "gumboinput.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// --- the default style sheet, as far as text is concerned ---

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
    InlineBlock // a line of its own inside the surrounding line (button)
};

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

const char *attribute(const GumboNode *n, const char *name)
{
    const GumboAttribute *a = gumbo_get_attribute(&n->v.element.attributes, name);
    return a ? a->value : nullptr;
}

bool hasAttribute(const GumboNode *n, const char *name)
{
    return attribute(n, name) != nullptr;
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

// False for SVG elements outside a text element, whose own text SVG does not draw.
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

// Boundaries of a line: block-level boxes and the parts of a table.
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

// The display a node gets in place (None for what its parent does not show).
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

enum class WhiteSpace
{
    Inherit,
    Collapse,
    Preserve
};

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

bool isCollapsibleSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool onlyCollapsibleSpace(const char *text)
{
    for (; *text; ++text)
        if (!isCollapsibleSpace(*text))
            return false;
    return true;
}

// Pre-order walk without recursion: enter(node) says whether to go into its children;
// leave(node) runs after them.
template<class Enter, class Leave>
void walkChildren(const GumboNode *parent, Enter &&enter, Leave &&leave)
{
    struct Frame
    {
        const GumboNode *node;
        unsigned next;
    };
    std::vector<Frame> stack;
    const GumboVector *top = childrenOf(parent);
    if (!top)
        return;
    stack.push_back({parent, 0});
    while (!stack.empty()) {
        Frame &f = stack.back();
        const GumboVector *kids = childrenOf(f.node);
        if (!kids || f.next >= kids->length) {
            const GumboNode *done = f.node;
            stack.pop_back();
            if (!stack.empty())
                leave(done);
            continue;
        }
        const GumboNode *child = childAt(kids, f.next++);
        if (enter(child) && isElement(child) && child->type != GUMBO_NODE_TEMPLATE)
            stack.push_back({child, 0});
        else if (isElement(child))
            leave(child);
    }
}

// The items of the rendered text collection steps, joined as the getter joins them.
class ItemBuilder
{
public:
    void addString(const std::string &s)
    {
        if (s.empty())
            return;
        if (m_any && m_breaks > 0)
            m_out.append(static_cast<std::size_t>(m_breaks), '\n');
        m_breaks = 0;
        m_any = true;
        m_out += s;
    }
    void addBreaks(int n)
    {
        if (m_any)
            m_breaks = std::max(m_breaks, n);
    }
    std::string take() { return std::move(m_out); }

private:
    std::string m_out;
    int m_breaks = 0;
    bool m_any = false;
};

bool isRenderedCell(const GumboNode *n)
{
    return isElement(n) && effectiveDisplay(n) == Display::Cell;
}

bool isLastCell(const GumboNode *cell)
{
    const GumboNode *row = cell->parent;
    const GumboVector &kids = row->v.element.children;
    for (unsigned i = static_cast<unsigned>(cell->index_within_parent) + 1; i < kids.length; ++i)
        if (isRenderedCell(childAt(&kids, i)))
            return false;
    return true;
}

bool hasRow(const GumboNode *group)
{
    const GumboVector &kids = group->v.element.children;
    for (unsigned i = 0; i < kids.length; ++i)
        if (isElement(childAt(&kids, i)) && displayOf(childAt(&kids, i)) == Display::Row)
            return true;
    return false;
}

bool isLastRow(const GumboNode *row)
{
    const GumboNode *parent = row->parent;
    const GumboVector &kids = parent->v.element.children;
    for (unsigned i = static_cast<unsigned>(row->index_within_parent) + 1; i < kids.length; ++i) {
        const GumboNode *k = childAt(&kids, i);
        if (isElement(k) && displayOf(k) == Display::Row)
            return false;
    }
    if (!isElement(parent) || displayOf(parent) != Display::RowGroup || !parent->parent)
        return true;
    const GumboNode *table = parent->parent;
    const GumboVector &groups = table->v.element.children;
    for (unsigned i = static_cast<unsigned>(parent->index_within_parent) + 1; i < groups.length;
         ++i) {
        const GumboNode *g = childAt(&groups, i);
        if (isElement(g) && displayOf(g) == Display::RowGroup && hasRow(g))
            return false;
    }
    return true;
}

} // namespace

RenderedText::RenderedText(const GumboNode *root,
                           const std::unordered_map<const GumboNode *, std::string> &rawText,
                           bool restore)
    : m_root(root), m_restore(restore), m_rawText(rawText)
{
}

std::string RenderedText::finish(std::string text) const
{
    return m_restore ? gumboinput::restore(text) : text;
}

bool RenderedText::isRendered(const GumboNode *element) const
{
    for (const GumboNode *n = element; n && isElement(n); n = n->parent)
        if (!hiddenByParent(n->parent, n) && effectiveDisplay(n) == Display::None)
            return false;
    return true;
}

std::string RenderedText::textContent(const GumboNode *element) const
{
    if (const auto raw = m_rawText.find(element); raw != m_rawText.end())
        return raw->second;
    if (element->type == GUMBO_NODE_TEMPLATE)
        return {}; // a template's children are its content, not its descendants
    std::string out;
    walkChildren(
        element,
        [&](const GumboNode *n) {
            if (isTextNode(n)) {
                out += n->v.text.text;
                return false;
            }
            if (const auto raw = m_rawText.find(n); raw != m_rawText.end()) {
                out += raw->second;
                return false;
            }
            return n->type == GUMBO_NODE_ELEMENT;
        },
        [](const GumboNode *) {});
    return finish(std::move(out));
}

void RenderedText::collapseWhiteSpace() const
{
    if (m_collapsed)
        return;
    m_collapsed = true;
    const bool quirks = isQuirks(m_root);

    struct Line
    {
        bool pendingSpace = false;
        const GumboNode *pendingOwner = nullptr;
        bool hasContent = false;
    };
    Line line;
    std::vector<Line> saved; // lines interrupted by an inline-block
    std::vector<WhiteSpace> modes{WhiteSpace::Collapse};
    std::vector<const GumboNode *> modeOwners{nullptr};

    auto boundary = [&line] { line = Line{}; };
    auto emitPending = [&] {
        if (line.pendingSpace && line.hasContent)
            m_rendered[line.pendingOwner] += ' ';
        line.pendingSpace = false;
    };

    walkChildren(
        m_root,
        [&](const GumboNode *n) -> bool {
            if (isTextNode(n)) {
                if (hiddenByParent(n->parent, n))
                    return false;
                if (n->parent && isElement(n->parent) &&
                    isTableInternal(effectiveDisplay(n->parent)) &&
                    onlyCollapsibleSpace(n->v.text.text))
                    return false; // white space between table parts makes no box
                if (n->parent && !insideSvgText(n->parent))
                    return false; // SVG draws text only inside its text elements
                std::string &out = m_rendered[n];
                const char *text = n->v.text.text;
                if (modes.back() == WhiteSpace::Preserve) {
                    if (*text) {
                        emitPending();
                        out += text;
                        line.hasContent = out.back() != '\n';
                    }
                    return false;
                }
                for (const char *p = text; *p; ++p) {
                    if (isCollapsibleSpace(*p)) {
                        if (!line.pendingSpace) {
                            line.pendingSpace = true;
                            line.pendingOwner = n;
                        }
                        continue;
                    }
                    emitPending();
                    out += *p;
                    line.hasContent = true;
                }
                return false;
            }
            if (!isElement(n) || m_rawText.count(n))
                return false;
            const Display d = effectiveDisplay(n);
            if (d == Display::None)
                return false;
            if (isHtml(n, GUMBO_TAG_BR)) {
                boundary();
                return false;
            }
            if (breaksLine(d)) {
                boundary();
            } else if (d == Display::Atomic) {
                emitPending();
                line.hasContent = true;
                return false;
            } else if (d == Display::InlineBlock) {
                emitPending();
                saved.push_back(line);
                boundary();
            }
            const WhiteSpace ws = whiteSpaceOf(n, quirks);
            if (ws != WhiteSpace::Inherit) {
                modes.push_back(ws);
                modeOwners.push_back(n);
            }
            return true;
        },
        [&](const GumboNode *n) {
            if (modeOwners.back() == n) {
                modes.pop_back();
                modeOwners.pop_back();
            }
            const Display d = effectiveDisplay(n);
            if (d == Display::None || isHtml(n, GUMBO_TAG_BR))
                return;
            if (breaksLine(d)) {
                boundary();
            } else if (d == Display::InlineBlock && !saved.empty()) {
                line = saved.back();
                saved.pop_back();
                line.pendingSpace = false;
                line.hasContent = true;
            }
        });
    if (m_restore)
        for (auto &entry : m_rendered)
            entry.second = gumboinput::restore(entry.second);
}

std::string RenderedText::innerText(const GumboNode *element) const
{
    if (!isRendered(element))
        return textContent(element);
    // A closed details element lays its content out but never paints it.
    for (const GumboNode *n = element; n && isElement(n); n = n->parent)
        if (hiddenByParent(n->parent, n))
            return {};
    collapseWhiteSpace();

    ItemBuilder items;
    walkChildren(
        element,
        [&](const GumboNode *n) -> bool {
            if (isTextNode(n)) {
                if (const auto it = m_rendered.find(n); it != m_rendered.end())
                    items.addString(it->second);
                return false;
            }
            if (!isElement(n) || m_rawText.count(n))
                return false;
            const Display d = effectiveDisplay(n);
            if (d == Display::None || d == Display::Atomic)
                return false;
            if (isHtml(n, GUMBO_TAG_BR)) {
                items.addString("\n");
                return false;
            }
            if (isHtml(n, GUMBO_TAG_P))
                items.addBreaks(2);
            if (isBlockLevel(d))
                items.addBreaks(1);
            return true;
        },
        [&](const GumboNode *n) {
            const Display d = effectiveDisplay(n);
            if (d == Display::None || d == Display::Atomic || isHtml(n, GUMBO_TAG_BR) ||
                m_rawText.count(n))
                return;
            if (d == Display::Cell && !isLastCell(n))
                items.addString("\t");
            if (d == Display::Row && !isLastRow(n))
                items.addString("\n");
            if (isHtml(n, GUMBO_TAG_P))
                items.addBreaks(2);
            if (isBlockLevel(d))
                items.addBreaks(1);
        });
    return items.take();
}
