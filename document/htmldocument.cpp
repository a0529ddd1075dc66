#include "htmldocument.h"

#include "document/encodingtables.h"
#include "document/gumboinput.h"
#include "document/innertext.h"
#include "document/prefixparse.h"
#include "document/textencoding.h"
#include "document/treedepth.h"
#include "document/urlresolver.h"

#include <gumbo.h>

#include <algorithm>
#include <cstdint>
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

// Asks a document built from a prefix whether it holds the wanted elements for good.
struct PrefixCheck
{
    std::span<const std::string> ids;
    prefixparse::Verdict verdict;
    // The text is the whole page: its tree is kept whatever the verdict.
    bool whole = false;
};

class DocumentImpl final : public HtmlDocument
{
public:
    // source: the page, or a prefix of it (whole false); already protected for gumbo. With
    // check, the tree is judged first and kept when it holds the elements (then read only up
    // to the cut) or is the whole page's.
    DocumentImpl(std::string source, bool restore, std::string encoding, std::string_view address,
                 bool whole = true, PrefixCheck *check = nullptr);
    ~DocumentImpl() override;
    DocumentImpl(const DocumentImpl &) = delete;
    DocumentImpl &operator=(const DocumentImpl &) = delete;

    const HtmlElement *body() const override { return m_body; }
    const HtmlElement *getElementById(std::string_view id) const override;
    std::string baseUrl() const override;
    std::string encodingName() const override { return m_encoding; }
    bool isWhole() const override { return m_whole; }
    // The text the tree was built from.
    std::string_view source() const { return m_source; }

    // The encoding a <meta> in the parsed tree asks for; no value when none does.
    std::optional<std::string> declaredEncoding() const;
    // Whether the head ended inside the parsed text: the body was opened by its own tag or
    // holds something, so it was not only implied at the end of the text.
    bool headEnded() const;

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
    GumboOutput *m_output = nullptr;
    std::vector<ElementImpl> m_elements;
    std::unordered_map<const GumboNode *, std::string> m_rawText;
    std::unique_ptr<RenderedText> m_text;
    const HtmlElement *m_body = nullptr;
    std::optional<UrlRecord> m_address;
    std::optional<UrlRecord> m_base;
    mutable std::unordered_map<std::string, std::size_t> m_ids;
    mutable bool m_idsBuilt = false;
    // Where the reading ends in m_source: what later markup made (a base, an element or an
    // attribute) is not looked at.
    std::size_t m_readTo = SIZE_MAX;
};

DocumentImpl::DocumentImpl(std::string source, bool restore, std::string encoding,
                           std::string_view address, bool whole, PrefixCheck *check)
    : m_source(std::move(source)), m_encoding(std::move(encoding)), m_restore(restore),
      m_whole(whole)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // we never read parse errors; do not keep them
    m_output = gumbo_parse_with_options(&options, m_source.data(), m_source.size());
    if (check) {
        // Judged on the tree as gumbo built it, before it is reshaped below.
        check->verdict = prefixparse::judgePrefix(m_output ? m_output->document : nullptr,
                                                  m_source.size(), check->ids);
        if (check->verdict.kind == prefixparse::Verdict::Enough) {
            m_readTo = check->verdict.cut;
            m_whole = m_whole && m_readTo == m_source.size();
        } else if (!check->whole || check->verdict.kind == prefixparse::Verdict::Before) {
            m_templates = true; // thrown away unshaped: a deep tree must be flattened first
            return;
        }
    }
    if (m_output) {
        const TreeShape shape = capTreeDepth(m_output->document);
        m_elements.reserve(shape.elements + 16);
        m_templates = shape.templates;
    }
    if (!address.empty())
        m_address = parseUrl(address);
    buildElements();
    m_text = std::make_unique<RenderedText>(m_output ? m_output->document : nullptr, m_rawText,
                                            m_restore);
    findBase();
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
        if (!isHtmlTag(e.node(), GUMBO_TAG_BASE) ||
            e.node()->v.element.start_pos.offset >= m_readTo)
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

bool DocumentImpl::headEnded() const
{
    const auto *body = static_cast<const ElementImpl *>(m_body);
    if (!body)
        return false;
    const GumboElement &e = body->node()->v.element;
    return e.children.length > 0 || e.original_tag.length > 0;
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
            const GumboElement &e = m_elements[i].node()->v.element;
            const GumboAttribute *a = gumbo_get_attribute(&e.attributes, "id");
            if (a && *a->value && e.start_pos.offset < m_readTo && a->name_start.offset < m_readTo)
                m_ids.emplace(restored(a->value), i); // keeps the first in tree order
        }
    }
    const auto it = m_ids.find(std::string(id));
    return it == m_ids.end() ? nullptr : &m_elements[it->second];
}

std::string DocumentImpl::baseUrl() const
{
    return m_base ? m_base->serialize() : std::string();
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
constexpr std::size_t kHeadProbe = std::size_t(64) * 1024;
constexpr std::size_t kPrefixGrowth = 4;

// The head of the page, to learn its encoding from: up to the end of its first "<body" tag
// (any case), looked for in a start of the page that doubles up to kHeadProbe bytes; all of
// those when there is none.
std::string_view headOf(PageBytes &bytes)
{
    for (std::size_t window = kMinPrefix;; window *= 2) {
        const std::string_view start = bytes.prefix(window).substr(0, window);
        for (std::size_t at = start.find('<'); at != std::string_view::npos;
             at = start.find('<', at + 1)) {
            if (start.size() - at >= 5 && (start[at + 1] | 0x20) == 'b' &&
                (start[at + 2] | 0x20) == 'o' && (start[at + 3] | 0x20) == 'd' &&
                (start[at + 4] | 0x20) == 'y') {
                const std::size_t end = start.find('>', at);
                if (end != std::string_view::npos)
                    return start.substr(0, end + 1);
                break; // the tag goes on past the window
            }
        }
        if (start.size() < window || window >= kHeadProbe)
            return start;
    }
}

// The page after the bytes of its BOM.
class AfterBom final : public PageBytes
{
public:
    AfterBom(PageBytes &page, std::size_t bom) : m_page(page), m_skip(std::min(bom, page.size())) {}
    std::size_t size() const override { return m_page.size() - m_skip; }
    std::string_view prefix(std::size_t n) override
    {
        return m_page.prefix(m_skip + std::min(n, size())).substr(m_skip);
    }

private:
    PageBytes &m_page;
    std::size_t m_skip;
};

// Encodings in which every byte below 0x80 is that ASCII character wherever it stands, and
// '<' never continues a character: the bytes before a '<' decode to exactly the start of the
// whole page's text. (UTF-16 and ISO-2022-JP are not such; gb18030 can encode the stand-ins
// gumboinput borrows.)
bool readsByPrefix(const std::string &encoding)
{
    return encoding == "UTF-8" || encoding == "EUC-KR" || encoding == "Shift_JIS" ||
           encoding == "EUC-JP" || encoding == "Big5" ||
           textencoding::tables::singleByteTable(encoding) != nullptr;
}

// A first guess: twice the offset where the last id is first written, which leaves the
// element room to close. The ids are looked for in a start of the page that doubles until it
// holds them all (or is the whole page), so no more of the page is taken in than that. Only
// the number of attempts depends on the guess, never the reading.
std::size_t guessPrefix(PageBytes &bytes, std::span<const std::string> ids)
{
    std::vector<std::size_t> found(ids.size(), std::string_view::npos);
    std::size_t searched = 0; // where the search of the next window starts
    for (std::size_t window = kMinPrefix;; window *= 2) {
        const std::string_view start = bytes.prefix(window).substr(0, window);
        std::size_t last = 0;
        bool all = true;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (found[i] == std::string_view::npos)
                found[i] = start.find(ids[i], searched);
            if (found[i] == std::string_view::npos)
                all = false;
            else
                last = std::max(last, found[i]);
        }
        if (all || start.size() < window)
            return std::max(kMinPrefix, 2 * last + 1024);
        // An id may straddle the window's end.
        std::size_t longest = 0;
        for (const std::string &id : ids)
            longest = std::max(longest, id.size());
        searched = start.size() - std::min(start.size(), longest);
    }
}

// The tree of text (the page's first bytes, or with whole all of them), judged for ids: kept
// when it holds the elements as no later byte could change them, and then read only up to
// the cut, or when it is the whole page's. Null otherwise; longer then says whether a longer
// prefix may do.
std::unique_ptr<DocumentImpl> judged(std::string text, const std::string &encoding,
                                     std::string_view address, std::span<const std::string> ids,
                                     bool whole, bool *longer)
{
    using prefixparse::Verdict;
    *longer = false;
    bool restore = gumboinput::protect(text);
    PrefixCheck check{ids, {}, whole};
    auto document =
        std::make_unique<DocumentImpl>(std::move(text), restore, encoding, address, whole, &check);
    std::string again;
    if (check.verdict.kind == Verdict::Before) {
        // A <frameset> took the body away; the page is judged as it stood before it.
        again = document->source().substr(0, check.verdict.cut);
        restore = restore || gumboinput::protect(again);
    } else if (check.verdict.kind == Verdict::Enough && !restore) {
        // The text uses gumbo's stand-ins itself, so it was parsed unprotected. Up to the cut
        // it may not, and is then parsed protected, as it would be on its own.
        again = document->source().substr(0, check.verdict.cut);
        if (!gumboinput::protect(again))
            return document;
        restore = true;
    } else {
        *longer = check.verdict.kind == Verdict::Longer && !whole;
        if (check.verdict.kind == Verdict::Enough || whole)
            return document;
        return nullptr;
    }
    document.reset();
    PrefixCheck second{ids, {}, false};
    document = std::make_unique<DocumentImpl>(std::move(again), restore, encoding, address, false,
                                              &second);
    if (second.verdict.kind == Verdict::Enough)
        return document;
    return nullptr;
}

// Builds the page's tree, or with ids that of the shortest prefix in a growing series that
// holds the elements as no later byte could change them (see prefixparse.cpp); the whole
// page when none does, judged the same way. Bytes are taken in and decoded only up to the
// prefix tried last.
std::unique_ptr<DocumentImpl> build(PageBytes &bytes, const std::string &encoding,
                                    std::string_view address, std::span<const std::string> ids,
                                    std::size_t firstLength)
{
    const bool prefixes = !ids.empty() && readsByPrefix(encoding) &&
                          std::none_of(ids.begin(), ids.end(), [](const std::string &id) {
                              return id.find('<') != std::string::npos;
                          });
    std::size_t tried = 0;
    for (std::size_t length = prefixes ? (firstLength ? firstLength : guessPrefix(bytes, ids)) : 0;
         prefixes && length < bytes.size(); length *= kPrefixGrowth) {
        // Cut before a '<', so no character or reference straddles the cut.
        const std::string_view start = bytes.prefix(length + 1);
        const std::size_t end = start.rfind('<', length);
        if (end == std::string_view::npos || end <= tried)
            continue;
        tried = end;
        bool longer = false;
        if (auto document = judged(textencoding::decodeToUtf8(start.substr(0, end), encoding),
                                   encoding, address, ids, false, &longer))
            return document;
        if (!longer)
            break;
    }
    const std::string_view all = bytes.prefix(bytes.size());
    if (!ids.empty()) {
        // Where the elements are complete, the reading ends with them however far the series
        // got, whatever the encoding.
        bool longer = false;
        if (auto document = judged(textencoding::decodeToUtf8(all, encoding), encoding, address,
                                   ids, true, &longer))
            return document;
    }
    std::string text = textencoding::decodeToUtf8(all, encoding);
    const bool restore = gumboinput::protect(text);
    return std::make_unique<DocumentImpl>(std::move(text), restore, encoding, address);
}

} // namespace

std::unique_ptr<HtmlDocument> HtmlDocument::parse(PageBytes &bytes, std::string_view httpCharset,
                                                  std::string_view address,
                                                  std::span<const std::string> ids,
                                                  std::size_t firstPrefix)
{
    const auto sniffed = textencoding::sniffEncoding(bytes.prefix(1024), httpCharset);
    AfterBom body(bytes, sniffed.bomLength);
    std::string encoding = sniffed.encoding;
    bool settled = sniffed.certain;
    if (!settled) {
        // A <meta> the prescan did not see (past 1024 bytes) still changes the encoding, from
        // the head only. The head alone is parsed first: when it ends with its first <body>
        // tag (or within 64 KiB), it names the encoding for good, and the page is read once.
        PageView head(headOf(body));
        const auto probe = build(head, encoding, address, {}, 0);
        if (probe->headEnded()) {
            encoding = probe->declaredEncoding().value_or(encoding);
            settled = true;
        }
    }
    auto document = build(body, encoding, address, ids, firstPrefix);
    if (!settled) {
        // A prefix holds the whole head: a wanted element is in the body.
        const auto declared = document->declaredEncoding();
        if (declared && *declared != encoding) {
            document.reset();
            document = build(body, *declared, address, ids, firstPrefix);
        }
    }
    return document;
}

std::unique_ptr<HtmlDocument>
HtmlDocument::parse(std::string_view bytes, std::string_view httpCharset, std::string_view address,
                    std::span<const std::string> ids, std::size_t firstPrefix)
{
    PageView page(bytes);
    return parse(page, httpCharset, address, ids, firstPrefix);
}
