#include "htmldocument.h"

#include "document/gumboinput.h"
#include "document/innertext.h"
#include "document/parsecost.h"
#include "document/prefixparse.h"
#include "document/textencoding.h"
#include "document/treedepth.h"
#include "document/urlresolver.h"

#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

class DocumentImpl;

bool isElementNode(const GumboNode *n)
{
    return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}

bool isHtmlTag(const GumboNode *n, GumboTag tag)
{
    return isElementNode(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
           n->v.element.tag == tag;
}

std::string asciiLower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return s;
}

std::string asciiUpper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

// The qualified name the parser gave the element (lower case, SVG names in their camel case).
std::string localName(const GumboNode *n)
{
    const GumboElement &e = n->v.element;
    GumboStringPiece original = e.original_tag;
    std::string name;
    if (original.data && original.length > 0) {
        gumbo_tag_from_original_text(&original);
        name = asciiLower(std::string(original.data, original.length));
    }
    if (name.empty() || (e.tag != GUMBO_TAG_UNKNOWN && name != gumbo_normalized_tagname(e.tag) &&
                         e.tag_namespace == GUMBO_NAMESPACE_HTML))
        name = gumbo_normalized_tagname(e.tag); // implied or renamed by the parser (image -> img)
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG) {
        GumboStringPiece piece{name.data(), name.size()};
        if (const char *adjusted = gumbo_normalize_svg_tagname(&piece))
            name = adjusted;
    }
    return name;
}

class ElementImpl final : public HtmlElement
{
public:
    ElementImpl(const DocumentImpl *document, const GumboNode *node, std::size_t index)
        : m_document(document), m_node(node), m_index(index), m_end(index + 1)
    {
    }

    std::string tagName() const override;
    std::string innerText() const override;
    std::string outerText() const override { return innerText(); }
    bool outerTextStartsWith(std::string_view prefix) const override;
    std::vector<const HtmlElement *> all() const override;
    std::optional<std::string> getAttribute(std::string_view name) const override;

    const GumboNode *node() const { return m_node; }
    void setEnd(std::size_t end) { m_end = end; }

private:
    const DocumentImpl *m_document;
    const GumboNode *m_node;
    std::size_t m_index; // position in tree order
    std::size_t m_end;   // one past the last descendant in tree order
};

// Asks a document built from a prefix whether it reads as the whole page would.
struct PrefixCheck
{
    std::string_view text; // the whole page, protected for gumbo
    std::span<const std::string> ids;
    bool settled = false;
    prefixparse::Verdict verdict;
};

class DocumentImpl final : public HtmlDocument
{
public:
    // source: the page, or a prefix of it with check set; already protected for gumbo.
    DocumentImpl(std::string source, bool restore, std::string encoding, const QUrl &address,
                 PrefixCheck *check = nullptr);
    // A page left unparsed, and why.
    DocumentImpl(std::string encoding, const QUrl &address, std::string refusal);
    ~DocumentImpl() override;
    DocumentImpl(const DocumentImpl &) = delete;
    DocumentImpl &operator=(const DocumentImpl &) = delete;

    const HtmlElement *body() const override { return m_body; }
    const HtmlElement *getElementById(std::string_view id) const override;
    QUrl baseUrl() const override;
    std::string encodingName() const override { return m_encoding; }
    bool isWhole() const override { return m_whole; }
    std::string refusal() const override { return m_refusal; }

    // The encoding a <meta> in the parsed tree asks for; no value when none does.
    std::optional<std::string> declaredEncoding() const;

    const std::vector<ElementImpl> &elements() const { return m_elements; }
    const RenderedText &text() const { return *m_text; }
    std::optional<std::string> resolveHref(const std::string &href, bool againstAddress) const;
    // Text taken from the parsed tree, with gumbo's lost characters put back.
    std::string restored(const char *text) const
    {
        return m_restore ? gumboinput::restore(text) : std::string(text);
    }

private:
    void buildElements();
    void findBase();
    // Where a noscript's raw text starts in m_source; npos when its tag is not there.
    std::size_t noscriptTextStart(const GumboNode *noscript) const;
    void readNoscriptTexts(std::vector<const GumboNode *> noscripts);

    std::string m_source; // gumbo's tree points into it
    std::string m_encoding;
    bool m_restore = false;
    bool m_whole = true;
    bool m_templates = false;
    std::string m_refusal;
    GumboOutput *m_output = nullptr;
    std::vector<ElementImpl> m_elements;
    std::unordered_map<const GumboNode *, std::string> m_rawText;
    std::unique_ptr<RenderedText> m_text;
    const HtmlElement *m_body = nullptr;
    std::optional<UrlRecord> m_address;
    std::optional<UrlRecord> m_base;
    mutable std::unordered_map<std::string, std::size_t> m_ids;
    mutable bool m_idsBuilt = false;
};

DocumentImpl::DocumentImpl(std::string source, bool restore, std::string encoding,
                           const QUrl &address, PrefixCheck *check)
    : m_source(std::move(source)), m_encoding(std::move(encoding)), m_restore(restore)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // we never read parse errors; do not keep them
    m_output = gumbo_parse_with_options(&options, m_source.data(), m_source.size());
    if (check) {
        m_whole = m_source.size() >= check->text.size();
        // Judged on the tree as gumbo built it, before it is reshaped below.
        check->verdict =
            prefixparse::judgePrefix(m_output ? m_output->document : nullptr, check->text,
                                     m_source.size(), check->ids, check->settled);
        if (check->verdict.kind != prefixparse::Verdict::Enough && !m_whole) {
            m_templates = true; // thrown away unshaped: a deep tree must be flattened first
            return;
        }
    }
    if (m_output) {
        const TreeShape shape = capTreeDepth(m_output->document);
        m_elements.reserve(shape.elements + 16);
        m_templates = shape.templates;
    }
    if (address.isValid() && !address.isEmpty())
        m_address = parseUrl(address.toString(QUrl::FullyEncoded).toStdString());
    buildElements();
    m_text = std::make_unique<RenderedText>(m_output ? m_output->document : nullptr, m_rawText,
                                            m_restore);
    findBase();
}

DocumentImpl::DocumentImpl(std::string encoding, const QUrl &address, std::string refusal)
    : m_encoding(std::move(encoding)), m_whole(false), m_refusal(std::move(refusal))
{
    if (address.isValid() && !address.isEmpty())
        m_address = parseUrl(address.toString(QUrl::FullyEncoded).toStdString());
    m_base = m_address;
    m_text = std::make_unique<RenderedText>(nullptr, m_rawText, false);
}

DocumentImpl::~DocumentImpl()
{
    if (!m_output)
        return;
    if (m_templates)
        flattenForDestroy(m_output->document);
    gumbo_destroy_output(&kGumboDefaultOptions, m_output);
}

std::size_t DocumentImpl::noscriptTextStart(const GumboNode *noscript) const
{
    const GumboStringPiece &tag = noscript->v.element.original_tag;
    if (!tag.data || tag.length == 0 || tag.data < m_source.data() ||
        tag.data + tag.length > m_source.data() + m_source.size())
        return std::string::npos;
    return static_cast<std::size_t>(tag.data + tag.length - m_source.data());
}

// With scripting on, a browser reads everything from a noscript's start tag up to the next
// "</noscript" as text. One pass finds every such end. A noscript that starts inside the
// text of another does not exist for a browser; it reads empty, so no stretch of the page is
// copied twice however many unclosed noscripts it holds.
void DocumentImpl::readNoscriptTexts(std::vector<const GumboNode *> noscripts)
{
    if (noscripts.empty())
        return;
    std::sort(noscripts.begin(), noscripts.end(), [this](const GumboNode *a, const GumboNode *b) {
        return noscriptTextStart(a) < noscriptTextStart(b);
    });
    std::vector<std::size_t> ends;
    const char *source = m_source.data();
    const std::size_t size = m_source.size();
    for (std::size_t at = m_source.find("</"); at != std::string::npos && at + 10 <= size;
         at = m_source.find("</", at + 2)) {
        const char *p = source + at;
        if (asciiLower(std::string(p + 2, 8)) == "noscript" &&
            (at + 10 == size || std::strchr("\t\n\f\r />", p[10])))
            ends.push_back(at);
    }
    std::size_t covered = 0; // where the text read last ends
    for (const GumboNode *noscript : noscripts) {
        const std::size_t begin = noscriptTextStart(noscript);
        if (begin < covered) {
            m_rawText.emplace(noscript, std::string());
            continue;
        }
        const auto next = std::lower_bound(ends.begin(), ends.end(), begin);
        const std::size_t end = next == ends.end() ? size : *next;
        std::string raw;
        raw.reserve(end - begin);
        for (const char *p = source + begin; p < source + end; ++p) {
            if (*p == '\r') {
                raw += '\n';
                if (p + 1 < source + end && p[1] == '\n')
                    ++p;
            } else if (*p == '\0') {
                raw += "\xEF\xBF\xBD";
            } else {
                raw += *p;
            }
        }
        m_rawText.emplace(noscript, m_restore ? gumboinput::restore(raw) : raw);
        covered = end;
    }
}

void DocumentImpl::buildElements()
{
    if (!m_output || !m_output->document)
        return;
    struct Frame
    {
        const GumboNode *node;
        unsigned next;
        std::size_t element; // index in m_elements, or npos for the document
        bool raw;            // a noscript read as text: its children are not walked
    };
    std::vector<Frame> stack{{m_output->document, 0, std::string::npos, false}};
    std::vector<const GumboNode *> noscripts;
    while (!stack.empty()) {
        Frame &f = stack.back();
        const GumboVector &kids = f.node->type == GUMBO_NODE_DOCUMENT ? f.node->v.document.children
                                                                      : f.node->v.element.children;
        // A template's children are its content, which is not part of the document tree;
        // a noscript's children are raw text to a browser with scripting on.
        const bool leaf = f.node->type == GUMBO_NODE_TEMPLATE || f.raw;
        if (leaf || f.next >= kids.length) {
            if (f.element != std::string::npos)
                m_elements[f.element].setEnd(m_elements.size());
            stack.pop_back();
            continue;
        }
        const GumboNode *child = static_cast<const GumboNode *>(kids.data[f.next++]);
        if (!isElementNode(child))
            continue;
        m_elements.emplace_back(this, child, m_elements.size());
        const bool raw =
            isHtmlTag(child, GUMBO_TAG_NOSCRIPT) && noscriptTextStart(child) != std::string::npos;
        if (raw)
            noscripts.push_back(child);
        stack.push_back({child, 0, m_elements.size() - 1, raw});
    }
    readNoscriptTexts(std::move(noscripts));
    if (const GumboNode *root = m_output->root) {
        const GumboVector &kids = root->v.element.children;
        for (unsigned i = 0; i < kids.length && !m_body; ++i) {
            const GumboNode *k = static_cast<const GumboNode *>(kids.data[i]);
            if (isHtmlTag(k, GUMBO_TAG_BODY) || isHtmlTag(k, GUMBO_TAG_FRAMESET))
                for (const ElementImpl &e : m_elements)
                    if (e.node() == k) {
                        m_body = &e;
                        break;
                    }
        }
    }
}

void DocumentImpl::findBase()
{
    m_base = m_address;
    for (const ElementImpl &e : m_elements) {
        if (!isHtmlTag(e.node(), GUMBO_TAG_BASE))
            continue;
        const GumboAttribute *href = gumbo_get_attribute(&e.node()->v.element.attributes, "href");
        if (!href)
            continue;
        // The first base with an href decides, resolved against the document's address.
        if (auto frozen =
                parseUrl(restored(href->value), m_address ? &*m_address : nullptr, m_encoding))
            m_base = std::move(frozen);
        break;
    }
}

std::optional<std::string> DocumentImpl::declaredEncoding() const
{
    for (const ElementImpl &e : m_elements) {
        // Browsers act on a late declaration in the head only, not on one in the body.
        if (&e == m_body)
            break;
        if (!isHtmlTag(e.node(), GUMBO_TAG_META) || !e.node()->parent ||
            !isHtmlTag(e.node()->parent, GUMBO_TAG_HEAD))
            continue;
        const GumboVector *attrs = &e.node()->v.element.attributes;
        std::optional<std::string> encoding;
        if (const GumboAttribute *charset = gumbo_get_attribute(attrs, "charset"))
            encoding = textencoding::encodingForLabel(charset->value);
        if (!encoding) {
            const GumboAttribute *equiv = gumbo_get_attribute(attrs, "http-equiv");
            const GumboAttribute *content = gumbo_get_attribute(attrs, "content");
            if (equiv && content && asciiLower(equiv->value) == "content-type")
                if (auto label = textencoding::charsetFromContentType(content->value))
                    encoding = textencoding::encodingForLabel(*label);
        }
        if (!encoding)
            continue;
        if (*encoding == "UTF-16LE" || *encoding == "UTF-16BE")
            return std::string("UTF-8");
        if (*encoding == "x-user-defined")
            return std::string("windows-1252");
        return encoding;
    }
    return std::nullopt;
}

const HtmlElement *DocumentImpl::getElementById(std::string_view id) const
{
    if (id.empty())
        return nullptr;
    if (!m_idsBuilt) {
        m_idsBuilt = true;
        for (std::size_t i = 0; i < m_elements.size(); ++i) {
            const GumboAttribute *a =
                gumbo_get_attribute(&m_elements[i].node()->v.element.attributes, "id");
            if (a && *a->value)
                m_ids.emplace(restored(a->value), i); // keeps the first in tree order
        }
    }
    const auto it = m_ids.find(std::string(id));
    return it == m_ids.end() ? nullptr : &m_elements[it->second];
}

QUrl DocumentImpl::baseUrl() const
{
    if (!m_base)
        return {};
    return QUrl::fromEncoded(QByteArray::fromStdString(m_base->serialize()));
}

std::optional<std::string> DocumentImpl::resolveHref(const std::string &href,
                                                     bool againstAddress) const
{
    const auto &base = againstAddress ? m_address : m_base;
    const auto url = parseUrl(href, base ? &*base : nullptr, m_encoding);
    if (!url)
        return std::nullopt;
    return url->serialize();
}

std::string ElementImpl::tagName() const
{
    const GumboElement &e = m_node->v.element;
    if (e.tag_namespace == GUMBO_NAMESPACE_HTML && e.tag != GUMBO_TAG_UNKNOWN) {
        // Known HTML tags always read as gumbo's name for them: look it up, once per tag.
        static const std::vector<std::string> names = [] {
            std::vector<std::string> upper;
            upper.reserve(GUMBO_TAG_UNKNOWN);
            for (int t = 0; t < GUMBO_TAG_UNKNOWN; ++t)
                upper.push_back(asciiUpper(gumbo_normalized_tagname(static_cast<GumboTag>(t))));
            return upper;
        }();
        return names[static_cast<std::size_t>(e.tag)];
    }
    const std::string name = m_document->restored(localName(m_node).c_str());
    return m_node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML ? asciiUpper(name) : name;
}

std::string ElementImpl::innerText() const
{
    return m_document->text().innerText(m_node);
}

bool ElementImpl::outerTextStartsWith(std::string_view prefix) const
{
    return m_document->text().innerText(m_node, prefix.size()) == prefix;
}

std::vector<const HtmlElement *> ElementImpl::all() const
{
    const auto &elements = m_document->elements();
    std::vector<const HtmlElement *> out;
    out.reserve(m_end - m_index - 1);
    for (std::size_t i = m_index + 1; i < m_end; ++i)
        out.push_back(&elements[i]);
    return out;
}

std::optional<std::string> ElementImpl::getAttribute(std::string_view name) const
{
    const GumboElement &e = m_node->v.element;
    const std::string key =
        e.tag_namespace == GUMBO_NAMESPACE_HTML ? asciiLower(std::string(name)) : std::string(name);
    const GumboAttribute *attr = gumbo_get_attribute(&e.attributes, key.c_str());
    if (!attr)
        return std::nullopt;
    const bool urlValued = isHtmlTag(m_node, GUMBO_TAG_A) || isHtmlTag(m_node, GUMBO_TAG_AREA) ||
                           isHtmlTag(m_node, GUMBO_TAG_LINK) || isHtmlTag(m_node, GUMBO_TAG_BASE);
    std::string value = m_document->restored(attr->value);
    if (key != "href" || !urlValued)
        return value;
    // Like a browser's href: the resolved address, or the value itself when it does not parse.
    if (auto resolved = m_document->resolveHref(value, isHtmlTag(m_node, GUMBO_TAG_BASE)))
        return resolved;
    return value;
}

} // namespace

namespace {

constexpr std::size_t kMinPrefix = 4096;
constexpr std::size_t kPrefixGrowth = 4;

// A first guess: twice the offset where the last id is first written, which leaves the
// element room to close. Only the number of attempts depends on it, never the reading.
std::size_t guessPrefix(const std::string &text, std::span<const std::string> ids)
{
    std::size_t last = 0;
    for (const std::string &id : ids) {
        const std::size_t at = text.find(id);
        if (at != std::string::npos)
            last = std::max(last, at);
    }
    return std::max(kMinPrefix, 2 * last + 1024);
}

std::string withSeparators(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string describe(const parsecost::Estimate &cost)
{
    std::string why;
    switch (cost.excess) {
    case parsecost::Excess::Depth:
        why = "it nests too deeply (" + withSeparators(cost.deepest) + " elements open at once)";
        break;
    case parsecost::Excess::Formatting:
        why = "it reopens formatting elements too often";
        break;
    case parsecost::Excess::Attributes:
        why = "its tags carry too many attributes";
        break;
    case parsecost::Excess::Size:
    case parsecost::Excess::None:
        why = "it holds too much to build a tree of in time";
        break;
    case parsecost::Excess::Abort:
        return "gumbo would abort on it (a foreign element taken for a table part or select) "
               "after byte " +
               withSeparators(cost.affordable);
    }
    return "parsing it would take too long: " + why + " within its first " +
           withSeparators(cost.affordable) + " bytes";
}

// Parses the decoded page, or with ids the shortest prefix in a growing series that is
// known to read the same (see prefixparse.cpp); the whole page when none is. Every parse
// here is paid from budget, and spent says what they cost: prefixes are tried only as long
// as the whole page, when it fits, still does after them; when it does not, a prefix is all
// that can be read.
std::unique_ptr<DocumentImpl> build(std::string text, const std::string &encoding,
                                    const QUrl &address, std::span<const std::string> ids,
                                    bool settled, std::size_t firstLength, double budget,
                                    double &spent)
{
    const bool restore = gumboinput::protect(text);
    const parsecost::Estimate cost = parsecost::estimate(text, budget);
    const bool affordable = cost.affordable >= text.size();
    double left = budget - (affordable ? cost.cost : 0);
    spent = 0;
    if (!ids.empty()) {
        for (std::size_t length = firstLength ? firstLength : guessPrefix(text, ids);
             length < text.size(); length *= kPrefixGrowth) {
            std::size_t cut = std::min(length, cost.affordable);
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                --cut; // not inside a character
            const double price = cost.costOf(cut);
            if (price > left)
                break;
            left -= price;
            spent += price;
            PrefixCheck check{text, ids, settled, {}};
            auto document = std::make_unique<DocumentImpl>(text.substr(0, cut), restore, encoding,
                                                           address, &check);
            if (check.verdict.kind == prefixparse::Verdict::Enough)
                return document;
            if (check.verdict.kind == prefixparse::Verdict::Whole || cut >= cost.affordable)
                break;
        }
    }
    if (!affordable)
        return std::make_unique<DocumentImpl>(encoding, address, describe(cost));
    spent += cost.cost;
    // The previous attempt is gone before the whole page's tree is built.
    return std::make_unique<DocumentImpl>(std::move(text), restore, encoding, address);
}

} // namespace

std::unique_ptr<HtmlDocument>
HtmlDocument::parse(const QByteArray &bytes, const QByteArray &httpCharset, const QUrl &address,
                    std::span<const std::string> ids, std::size_t firstPrefix)
{
    const std::string_view raw(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const auto sniffed = textencoding::sniffEncoding(
        raw,
        std::string_view(httpCharset.constData(), static_cast<std::size_t>(httpCharset.size())));
    const std::string_view body = raw.substr(sniffed.bomLength);
    double spent = 0;
    auto document = build(textencoding::decodeToUtf8(body, sniffed.encoding), sniffed.encoding,
                          address, ids, sniffed.certain, firstPrefix, parsecost::kBudget, spent);
    if (!sniffed.certain) {
        // A <meta> the prescan did not see (past 1024 bytes) still changes the encoding. A
        // prefix holds the whole head (a wanted element is in the body) and no later <meta>.
        // The second parse gets what the first left of the budget.
        const auto declared = document->declaredEncoding();
        if (declared && *declared != sniffed.encoding) {
            document.reset();
            document = build(textencoding::decodeToUtf8(body, *declared), *declared, address, ids,
                             true, firstPrefix, parsecost::kBudget - spent, spent);
        }
    }
    return document;
}
