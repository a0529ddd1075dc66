#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class HtmlDocument;

// One element of a parsed page. Handles stay valid as long as their document lives.
// All texts are UTF-8.
class HtmlElement
{
public:
    virtual ~HtmlElement() = default;
    // Tag name, upper case for HTML elements ("TABLE", "A").
    virtual std::string tagName() const = 0;
    // The innerText getter of the HTML Standard (rendered text, default style sheet).
    virtual std::string innerText() const = 0;
    // The outerText getter, which the HTML Standard defines as equal to innerText.
    virtual std::string outerText() const = 0;
    // outerText().starts_with(prefix), reading no more of the element than that needs.
    virtual bool outerTextStartsWith(std::string_view prefix) const = 0;
    // Every descendant element, in document (tree) order.
    virtual std::vector<const HtmlElement *> all() const = 0;
    // An attribute's value; "href" of A, AREA and LINK gives the address resolved against the
    // document's base URL, or, as a browser's href does, the value as written when it is not
    // a valid address. No value when the attribute is absent.
    virtual std::optional<std::string> getAttribute(std::string_view name) const = 0;
};

// A page's bytes, which may still be arriving: prefix(n) holds at least its first n bytes
// (all of them when it is shorter), taking more in only as far as that. Views stay valid as
// long as the source lives.
class PageBytes
{
public:
    virtual ~PageBytes() = default;
    // The whole page's length.
    virtual std::size_t size() const = 0;
    virtual std::string_view prefix(std::size_t n) = 0;
};

// A page held whole in memory.
class PageView final : public PageBytes
{
public:
    explicit PageView(std::string_view bytes) : m_bytes(bytes) {}
    std::size_t size() const override { return m_bytes.size(); }
    std::string_view prefix(std::size_t) override { return m_bytes; }

private:
    std::string_view m_bytes;
};

class HtmlDocument
{
public:
    virtual ~HtmlDocument() = default;

    // Parses a page as a browser does: the encoding is sniffed from a BOM, then the
    // HTTP charset label (may be empty), then the <meta> prescan, then UTF-8.
    // httpCharset is the reply's charset label; address is the document's address (the final
    // one after redirects), serialized; empty or not a valid address: none.
    //
    // With ids, the page is read only as far as these elements are complete: parsing stops
    // at a prefix that ends after the later one's end tag, once nothing after it could
    // change the elements themselves (their texts, descendants and attributes; see
    // prefixparse.cpp). getElementById of each id, whether there is a body, baseUrl and
    // encodingName are then answered from that prefix: markup after it is not looked at, so
    // a first <base>, or another element with a wanted id, that only comes later changes
    // nothing. Other elements may be missing. When no prefix can be shown to hold the
    // elements so, the whole page is parsed. Bytes past the prefix are neither taken in nor
    // looked at. firstPrefix (bytes; 0 picks one) lets tests try many cuts on small pages.
    //
    // Nothing here bounds what a hostile page costs: gumbo's time grows with depth times
    // tokens, and Debian's gumbo aborts on a few shapes. Pages from the network are parsed
    // in a process that can be killed (the page reader).
    static std::unique_ptr<HtmlDocument> parse(PageBytes &bytes, std::string_view httpCharset,
                                               std::string_view address,
                                               std::span<const std::string> ids = {},
                                               std::size_t firstPrefix = 0);
    static std::unique_ptr<HtmlDocument> parse(std::string_view bytes, std::string_view httpCharset,
                                               std::string_view address,
                                               std::span<const std::string> ids = {},
                                               std::size_t firstPrefix = 0);

    // The body element; null when the document has none.
    virtual const HtmlElement *body() const = 0;
    // The first element in tree order whose id equals id; null when none.
    virtual const HtmlElement *getElementById(std::string_view id) const = 0;
    // The base URL links are resolved against, serialized; empty when there is none.
    virtual std::string baseUrl() const = 0;
    // The WHATWG name of the encoding the page was decoded with ("UTF-8", "EUC-KR"...).
    virtual std::string encodingName() const = 0;
    // False when the tree was built from a prefix of the page (see parse).
    virtual bool isWhole() const = 0;
};
