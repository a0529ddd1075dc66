#include "innertext.h"

#include "document/defaultstyle.h"
#include "document/gumboinput.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace defaultstyle;

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
    std::size_t size() const { return m_out.size(); }
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

// The CSS white-space processing of one line-breaking box, node by node in document order:
// the state of the current line and the white-space modes in force.
class WhiteSpaceCollapser
{
public:
    using TextMap = std::unordered_map<const GumboNode *, std::string>;

    // inherited: the mode the box starts in, the nearest set by it or an ancestor.
    WhiteSpaceCollapser(WhiteSpace inherited, bool quirks, const TextMap &rawText,
                        TextMap &rendered, std::unordered_set<const GumboNode *> &collapsedBlocks,
                        std::unordered_map<const GumboNode *, bool> &svgText)
        : m_quirks(quirks), m_rawText(rawText), m_rendered(rendered),
          m_collapsedBlocks(collapsedBlocks), m_svgText(svgText)
    {
        pushMode(inherited, nullptr);
    }

    // Processes a node on the way in; true to go into its children.
    bool enter(const GumboNode *n)
    {
        if (isTextNode(n)) {
            if (makesText(n))
                addText(n);
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
            m_collapsedBlocks.insert(n);
        } else if (d == Display::Atomic) {
            emitPending(false);
            m_line.hasContent = true;
            m_line.afterZeroWidthSpace = false;
            return false;
        } else if (d == Display::InlineBlock) {
            emitPending(false);
            m_saved.push_back(m_line);
            boundary();
        }
        pushMode(whiteSpaceOf(n, m_quirks), n);
        return true;
    }

    // Processes an element after its children.
    void leave(const GumboNode *n)
    {
        if (m_modeOwners.back() == n) {
            m_modes.pop_back();
            m_modeOwners.pop_back();
        }
        const Display d = effectiveDisplay(n);
        if (d == Display::None || isHtml(n, GUMBO_TAG_BR))
            return;
        if (breaksLine(d)) {
            boundary();
        } else if (d == Display::InlineBlock && !m_saved.empty()) {
            m_line = m_saved.back();
            m_saved.pop_back();
            m_line.pendingSpace = false;
            m_line.hasContent = true;
            m_line.afterZeroWidthSpace = false;
        }
    }

    // The text nodes whose rendered text this run wrote.
    const std::vector<const GumboNode *> &touched() const { return m_touched; }

private:
    struct Line
    {
        bool pendingSpace = false;
        bool pendingHasBreak = false; // the pending run holds a segment break (newline)
        const GumboNode *pendingOwner = nullptr;
        bool hasContent = false;
        bool afterZeroWidthSpace = false;
    };

    bool makesText(const GumboNode *n) const
    {
        if (hiddenByParent(n->parent, n))
            return false;
        if (n->parent && isElement(n->parent) && isTableInternal(effectiveDisplay(n->parent)) &&
            onlyCollapsibleSpace(n->v.text.text))
            return false; // white space between table parts makes no box
        // SVG draws text only inside its text elements.
        return !n->parent || insideSvgText(n->parent, &m_svgText);
    }

    void addText(const GumboNode *n)
    {
        std::string &out = m_rendered[n];
        out.clear(); // an inner box may have been processed on its own before
        m_touched.push_back(n);
        const char *text = n->v.text.text;
        if (m_modes.back() == WhiteSpace::Preserve) {
            if (*text) {
                emitPending(false);
                m_line.afterZeroWidthSpace = false;
                out += text;
                m_line.hasContent = out.back() != '\n';
            }
            return;
        }
        for (const char *p = text; *p; ++p) {
            if (isCollapsibleSpace(*p)) {
                if (!m_line.pendingSpace) {
                    m_line.pendingSpace = true;
                    m_line.pendingOwner = n;
                }
                m_line.pendingHasBreak = m_line.pendingHasBreak || *p == '\n' || *p == '\r';
                continue;
            }
            const bool zeroWidthSpace = std::strncmp(p, "\xE2\x80\x8B", 3) == 0;
            emitPending(zeroWidthSpace);
            if (zeroWidthSpace) {
                out.append(p, 3);
                p += 2;
            } else {
                out += *p;
            }
            m_line.hasContent = true;
            m_line.afterZeroWidthSpace = zeroWidthSpace;
        }
    }

    // A segment break next to a zero-width space vanishes instead of becoming a space.
    void emitPending(bool beforeZeroWidthSpace)
    {
        if (m_line.pendingSpace && m_line.hasContent &&
            !(m_line.pendingHasBreak && (m_line.afterZeroWidthSpace || beforeZeroWidthSpace)))
            m_rendered[m_line.pendingOwner] += ' ';
        m_line.pendingSpace = false;
        m_line.pendingHasBreak = false;
    }

    void boundary() { m_line = Line{}; }

    void pushMode(WhiteSpace ws, const GumboNode *owner)
    {
        if (ws == WhiteSpace::Inherit)
            return;
        m_modes.push_back(ws);
        m_modeOwners.push_back(owner);
    }

    bool m_quirks;
    const TextMap &m_rawText;
    TextMap &m_rendered;
    std::unordered_set<const GumboNode *> &m_collapsedBlocks;
    std::unordered_map<const GumboNode *, bool> &m_svgText;
    Line m_line;
    std::vector<Line> m_saved; // lines interrupted by an inline-block
    std::vector<WhiteSpace> m_modes{WhiteSpace::Collapse};
    std::vector<const GumboNode *> m_modeOwners{nullptr};
    std::vector<const GumboNode *> m_touched;
};

} // namespace

RenderedText::RenderedText(const GumboNode *root,
                           const std::unordered_map<const GumboNode *, std::string> &rawText,
                           bool restore)
    : m_root(root), m_restore(restore), m_rawText(rawText), m_quirks(root && isQuirks(root))
{
}

std::string RenderedText::finish(std::string text) const
{
    return m_restore ? gumboinput::restore(text) : std::move(text);
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

const GumboNode *RenderedText::lineRoot(const GumboNode *node) const
{
    std::vector<const GumboNode *> passed;
    const GumboNode *root = m_root;
    for (const GumboNode *n = node; n && isElement(n); n = n->parent) {
        if (const auto known = m_lineRoots.find(n); known != m_lineRoots.end()) {
            root = known->second;
            break;
        }
        passed.push_back(n);
        if (breaksLine(effectiveDisplay(n))) {
            root = n;
            break;
        }
    }
    for (const GumboNode *n : passed)
        m_lineRoots.emplace(n, root);
    return root;
}

std::uint8_t RenderedText::inheritedWhiteSpace(const GumboNode *block) const
{
    std::vector<const GumboNode *> passed;
    auto mode = static_cast<std::uint8_t>(WhiteSpace::Collapse);
    for (const GumboNode *n = block; n && isElement(n); n = n->parent) {
        if (const auto known = m_whiteSpace.find(n); known != m_whiteSpace.end()) {
            mode = known->second;
            break;
        }
        passed.push_back(n);
        if (const WhiteSpace own = whiteSpaceOf(n, m_quirks); own != WhiteSpace::Inherit) {
            mode = static_cast<std::uint8_t>(own);
            break;
        }
    }
    for (const GumboNode *n : passed)
        m_whiteSpace.emplace(n, mode);
    return mode;
}

void RenderedText::ensureCollapsed(const GumboNode *textNode) const
{
    const GumboNode *block = lineRoot(textNode->parent);
    if (!m_collapsedBlocks.contains(block))
        collapseWhiteSpace(block);
}

// Lines begin and end at the boundaries of every line-breaking box, so the white space of
// the text inside one such box depends only on that box's content and the white-space
// modes it inherits. That lets a read of one element's text process only the boxes its text
// lies in instead of the whole page.
void RenderedText::collapseWhiteSpace(const GumboNode *block) const
{
    WhiteSpaceCollapser collapser(static_cast<WhiteSpace>(inheritedWhiteSpace(block)), m_quirks,
                                  m_rawText, m_rendered, m_collapsedBlocks, m_svgText);
    m_collapsedBlocks.insert(block);
    walkChildren(
        block, [&collapser](const GumboNode *n) { return collapser.enter(n); },
        [&collapser](const GumboNode *n) { collapser.leave(n); });
    if (m_restore)
        for (const GumboNode *n : collapser.touched())
            if (const auto it = m_rendered.find(n); it != m_rendered.end())
                it->second = gumboinput::restore(it->second);
}

std::string RenderedText::innerText(const GumboNode *element, std::size_t limit) const
{
    if (!isRendered(element)) {
        std::string text = textContent(element);
        if (text.size() > limit)
            text.resize(limit);
        return text;
    }
    // A closed details element lays its content out but never paints it.
    for (const GumboNode *n = element; n && isElement(n); n = n->parent)
        if (hiddenByParent(n->parent, n))
            return {};

    // What has been joined never changes as the walk goes on, so the walk can stop once it
    // has enough.
    ItemBuilder items;
    walkChildren(
        element,
        [&](const GumboNode *n) -> bool {
            if (items.size() >= limit)
                return false;
            if (isTextNode(n)) {
                ensureCollapsed(n);
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
            if (items.size() >= limit)
                return;
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
    std::string text = items.take();
    if (text.size() > limit)
        text.resize(limit);
    return text;
}
