#include "parsecost.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <unordered_map>
#include <utility>
#include <vector>

// The model follows gumbo 0.10's tree construction (parser.c) decision by decision: the same
// stack of open elements, list of active formatting elements and insertion modes, and the same
// walks over them, each charged at what the walk costs gumbo. Where it cannot follow gumbo
// cheaply it keeps more elements open than gumbo would, never fewer: a page can then only look
// dearer than it is. The tokenizer is followed as far as it decides what is markup (comments,
// raw text, the script escapes).

namespace parsecost {

namespace {

// What gumbo and the tree over it spend, in nanoseconds, measured with bench_parse's
// shapes (gumbo 0.10.1, glibc malloc).
constexpr double kPerByte = 25;          // decoding, protecting, tokenizing, freeing
constexpr double kPerChar = 15;          // a character token through the tree builder
constexpr double kPerTag = 100;          // a tag token
constexpr double kPerElement = 450;      // an element made, walked by our tree, read, freed
constexpr double kPerAttribute = 100;    // an attribute made and copied
constexpr double kPerNode = 300;         // a text node or comment, its rendered text too
constexpr double kScanStep = 0.5;        // a pointer compared or moved in a list
constexpr double kAttributePair = 4;     // two attribute names or values compared
constexpr double kClone = 150;           // a formatting element copied (besides the element)
constexpr double kCloneAttribute = 100;  // and each of its attributes
constexpr double kAttributeLookups = 60; // name lookups adjusting a foreign element
constexpr double kTagSet = 15;           // gumbo building a tag set on the stack to test one tag
constexpr double kPerDeepElement = 700;  // an element past the depth cap, hung on another
constexpr std::size_t kDepthCap = 512;   // as treedepth.h caps the tree

using TagSet = std::array<bool, GUMBO_TAG_LAST + 1>;

constexpr TagSet tagSet(std::initializer_list<GumboTag> tags)
{
    TagSet set{};
    for (GumboTag t : tags)
        set[t] = true;
    return set;
}

constexpr TagSet kSpecial =
    tagSet({GUMBO_TAG_ADDRESS,    GUMBO_TAG_APPLET,     GUMBO_TAG_AREA,     GUMBO_TAG_ARTICLE,
            GUMBO_TAG_ASIDE,      GUMBO_TAG_BASE,       GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND,
            GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,       GUMBO_TAG_BR,       GUMBO_TAG_BUTTON,
            GUMBO_TAG_CAPTION,    GUMBO_TAG_CENTER,     GUMBO_TAG_COL,      GUMBO_TAG_COLGROUP,
            GUMBO_TAG_MENUITEM,   GUMBO_TAG_DD,         GUMBO_TAG_DETAILS,  GUMBO_TAG_DIR,
            GUMBO_TAG_DIV,        GUMBO_TAG_DL,         GUMBO_TAG_DT,       GUMBO_TAG_EMBED,
            GUMBO_TAG_FIELDSET,   GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,   GUMBO_TAG_FOOTER,
            GUMBO_TAG_FORM,       GUMBO_TAG_FRAME,      GUMBO_TAG_FRAMESET, GUMBO_TAG_H1,
            GUMBO_TAG_H2,         GUMBO_TAG_H3,         GUMBO_TAG_H4,       GUMBO_TAG_H5,
            GUMBO_TAG_H6,         GUMBO_TAG_HEAD,       GUMBO_TAG_HEADER,   GUMBO_TAG_HGROUP,
            GUMBO_TAG_HR,         GUMBO_TAG_HTML,       GUMBO_TAG_IFRAME,   GUMBO_TAG_IMG,
            GUMBO_TAG_INPUT,      GUMBO_TAG_ISINDEX,    GUMBO_TAG_LI,       GUMBO_TAG_LINK,
            GUMBO_TAG_LISTING,    GUMBO_TAG_MARQUEE,    GUMBO_TAG_MENU,     GUMBO_TAG_META,
            GUMBO_TAG_NAV,        GUMBO_TAG_NOEMBED,    GUMBO_TAG_NOFRAMES, GUMBO_TAG_NOSCRIPT,
            GUMBO_TAG_OBJECT,     GUMBO_TAG_OL,         GUMBO_TAG_P,        GUMBO_TAG_PARAM,
            GUMBO_TAG_PLAINTEXT,  GUMBO_TAG_PRE,        GUMBO_TAG_SCRIPT,   GUMBO_TAG_SECTION,
            GUMBO_TAG_SELECT,     GUMBO_TAG_STYLE,      GUMBO_TAG_SUMMARY,  GUMBO_TAG_TABLE,
            GUMBO_TAG_TBODY,      GUMBO_TAG_TD,         GUMBO_TAG_TEMPLATE, GUMBO_TAG_TEXTAREA,
            GUMBO_TAG_TFOOT,      GUMBO_TAG_TH,         GUMBO_TAG_THEAD,    GUMBO_TAG_TITLE,
            GUMBO_TAG_TR,         GUMBO_TAG_UL,         GUMBO_TAG_WBR,      GUMBO_TAG_XMP});
constexpr TagSet kScopeHtml =
    tagSet({GUMBO_TAG_APPLET, GUMBO_TAG_CAPTION, GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TD,
            GUMBO_TAG_TH, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TEMPLATE});
constexpr TagSet kMathText =
    tagSet({GUMBO_TAG_MI, GUMBO_TAG_MO, GUMBO_TAG_MN, GUMBO_TAG_MS, GUMBO_TAG_MTEXT});
constexpr TagSet kImpliedEnd =
    tagSet({GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTION, GUMBO_TAG_OPTGROUP,
            GUMBO_TAG_P, GUMBO_TAG_RP, GUMBO_TAG_RB, GUMBO_TAG_RT, GUMBO_TAG_RTC});
constexpr TagSet kImpliedEndThoroughly = tagSet(
    {GUMBO_TAG_CAPTION, GUMBO_TAG_COLGROUP, GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI,
     GUMBO_TAG_OPTION, GUMBO_TAG_OPTGROUP, GUMBO_TAG_P, GUMBO_TAG_RP, GUMBO_TAG_RT, GUMBO_TAG_RTC,
     GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_HEAD, GUMBO_TAG_TR});
constexpr TagSet kFormatting = tagSet(
    {GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT, GUMBO_TAG_I,
     GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE, GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
constexpr TagSet kFormattingEnd =
    tagSet({GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT,
            GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
            GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
constexpr TagSet kHeadings =
    tagSet({GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
constexpr TagSet kBlockStart =
    tagSet({GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE,  GUMBO_TAG_ASIDE,      GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_CENTER,  GUMBO_TAG_DETAILS,  GUMBO_TAG_DIR,        GUMBO_TAG_DIV,
            GUMBO_TAG_DL,      GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,
            GUMBO_TAG_FOOTER,  GUMBO_TAG_HEADER,   GUMBO_TAG_HGROUP,     GUMBO_TAG_MENU,
            GUMBO_TAG_MAIN,    GUMBO_TAG_NAV,      GUMBO_TAG_OL,         GUMBO_TAG_P,
            GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY,  GUMBO_TAG_UL});
constexpr TagSet kBlockEnd =
    tagSet({GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,    GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_BUTTON,  GUMBO_TAG_CENTER,  GUMBO_TAG_DETAILS,  GUMBO_TAG_DIR,
            GUMBO_TAG_DIV,     GUMBO_TAG_DL,      GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION,
            GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER,  GUMBO_TAG_HEADER,   GUMBO_TAG_HGROUP,
            GUMBO_TAG_LISTING, GUMBO_TAG_MAIN,    GUMBO_TAG_MENU,     GUMBO_TAG_NAV,
            GUMBO_TAG_OL,      GUMBO_TAG_PRE,     GUMBO_TAG_SECTION,  GUMBO_TAG_SUMMARY,
            GUMBO_TAG_UL});
constexpr TagSet kFromHead =
    tagSet({GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_MENUITEM,
            GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE,
            GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE});
constexpr TagSet kVoidInBody = tagSet({GUMBO_TAG_AREA, GUMBO_TAG_BR, GUMBO_TAG_EMBED, GUMBO_TAG_IMG,
                                       GUMBO_TAG_IMAGE, GUMBO_TAG_KEYGEN, GUMBO_TAG_WBR});
constexpr TagSet kTablePart =
    tagSet({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
            GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR});
constexpr TagSet kFosterTarget =
    tagSet({GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TR});
constexpr TagSet kOpenAtBodyEnd = tagSet(
    {GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTGROUP, GUMBO_TAG_OPTION, GUMBO_TAG_P,
     GUMBO_TAG_RB, GUMBO_TAG_RP, GUMBO_TAG_RT, GUMBO_TAG_RTC, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
     GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR, GUMBO_TAG_BODY, GUMBO_TAG_HTML});
constexpr TagSet kTableContext = tagSet({GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE});
constexpr TagSet kTableBodyContext =
    tagSet({GUMBO_TAG_HTML, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TEMPLATE});
constexpr TagSet kTableRowContext = tagSet({GUMBO_TAG_HTML, GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE});
constexpr TagSet kBreakout = tagSet(
    {GUMBO_TAG_B,      GUMBO_TAG_BIG,    GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,  GUMBO_TAG_BR,
     GUMBO_TAG_CENTER, GUMBO_TAG_CODE,   GUMBO_TAG_DD,         GUMBO_TAG_DIV,   GUMBO_TAG_DL,
     GUMBO_TAG_DT,     GUMBO_TAG_EM,     GUMBO_TAG_EMBED,      GUMBO_TAG_H1,    GUMBO_TAG_H2,
     GUMBO_TAG_H3,     GUMBO_TAG_H4,     GUMBO_TAG_H5,         GUMBO_TAG_H6,    GUMBO_TAG_HEAD,
     GUMBO_TAG_HR,     GUMBO_TAG_I,      GUMBO_TAG_IMG,        GUMBO_TAG_LI,    GUMBO_TAG_LISTING,
     GUMBO_TAG_MENU,   GUMBO_TAG_META,   GUMBO_TAG_NOBR,       GUMBO_TAG_OL,    GUMBO_TAG_P,
     GUMBO_TAG_PRE,    GUMBO_TAG_RUBY,   GUMBO_TAG_S,          GUMBO_TAG_SMALL, GUMBO_TAG_SPAN,
     GUMBO_TAG_STRONG, GUMBO_TAG_STRIKE, GUMBO_TAG_SUB,        GUMBO_TAG_SUP,   GUMBO_TAG_TABLE,
     GUMBO_TAG_TT,     GUMBO_TAG_U,      GUMBO_TAG_UL,         GUMBO_TAG_VAR});

enum Mode : std::uint8_t
{
    Initial,
    BeforeHtml,
    BeforeHead,
    InHead,
    InHeadNoscript,
    AfterHead,
    InBody,
    Text,
    InTable,
    InTableText,
    InCaption,
    InColumnGroup,
    InTableBody,
    InRow,
    InCell,
    InSelect,
    InSelectInTable,
    InTemplate,
    AfterBody,
    InFrameset,
    AfterFrameset,
    AfterAfterBody,
    AfterAfterFrameset,
    NoMode, // an empty stack of template modes
};

enum class Raw : std::uint8_t
{
    None,
    RcData,
    RawText,
    Script,
    PlainText,
};

// The elements a walk down the stack of open elements stops at, one kind of walk each.
enum Bound : std::uint8_t
{
    BoundDefault,  // "has an element in scope"
    BoundListItem, // in list item scope
    BoundButton,   // in button scope
    BoundTable,    // in table scope
    BoundSelect,   // in select scope
    BoundRoot,     // has an open element at all
    BoundSpecial,  // any other end tag
    BoundListWalk, // a new <li>, <dd> or <dt> looking for the one to close
    BoundHtml,     // a foreign end tag: the first HTML element
    BoundMode,     // resetting the insertion mode
    BoundCount
};

struct Open
{
    std::uint64_t name; // hash of the lower-case tag name: foreign end tags match on it
    std::uint32_t id;
    std::uint16_t tag;
    std::uint8_t ns;
    bool htmlPoint;    // an HTML integration point
    std::int32_t prev; // the open element below with the same tag (HTML) or name (foreign)
    // For each kind of walk, the nearest element at or below this one that stops it: a walk
    // from the top costs gumbo its length, and us a lookup.
    std::array<std::int32_t, BoundCount> below;
};

struct Active
{
    std::uint64_t key;   // the attributes, in any order
    std::uint32_t id;    // 0 for a marker
    std::uint32_t pos;   // where in the stack it is while open
    std::uint32_t attrs; // how many
    std::uint16_t tag;
};

struct Token
{
    enum Kind : std::uint8_t
    {
        Chars,
        StartTag,
        EndTag,
        Comment,
        Doctype,
        Eof,
    };
    Kind kind = Chars;
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    std::uint64_t name = 0;
    std::uint64_t key = 0;
    std::uint32_t attrs = 0;
    bool selfClosing = false;
    bool fontBreakout = false; // font with color, face or size
    bool htmlEncoding = false; // encoding="text/html" or "application/xhtml+xml"
    bool hidden = false;       // type="hidden"
    bool quirks = false;       // Doctype: one that puts the page in quirks mode
    std::size_t count = 0;     // Chars: code points
    std::size_t leadingSpace = 0;
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

constexpr std::uint64_t kFnvBasis = 1469598103934665603ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

std::uint64_t mix(std::uint64_t x)
{
    x ^= x >> 31;
    x *= 0x7fb5d329728ea185ULL;
    x ^= x >> 27;
    x *= 0x81dadef4bc2dd44dULL;
    return x ^ (x >> 33);
}

bool equalsNoCase(std::string_view text, std::size_t at, std::string_view word)
{
    if (text.size() - std::min(at, text.size()) < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i])
            return false;
    return true;
}

class Estimator
{
public:
    Estimator(std::string_view text, double budget) : m_s(text), m_budget(budget)
    {
        m_stack.reserve(64);
        m_afe.reserve(16);
        m_lastHtml.fill(-1);
    }

    Estimate run();

private:
    // --- cost ---
    enum Share
    {
        ShareSize,
        ShareDepth,
        ShareFormatting,
        ShareAttributes,
        ShareCount
    };
    void charge(double ns, Share share)
    {
        m_cost += ns;
        m_shares[share] += ns;
    }
    bool over() const { return m_aborts || m_cost > m_budget; }
    // An open element looked at through its node: the deeper the stack, the fewer of its
    // nodes are still in a cache.
    double walkStep() const
    {
        const std::size_t depth = m_stack.size();
        return depth <= 8192 ? 1.5 : depth <= 32768 ? 4 : depth <= 131072 ? 8 : 20;
    }
    // A walk that builds a tag set for every element it looks at.
    double tagStep(int sets = 1) const { return walkStep() + kTagSet * sets; }
    // A foreign element's name, in the page's text, compared with an end tag's.
    double foreignStep() const { return 10 + 3 * walkStep(); }

    // --- tokenizer ---
    std::size_t markup(std::size_t at);
    std::size_t lexTag(std::size_t at, bool end, std::size_t tokenStart);
    std::size_t rawText(std::size_t at);
    std::size_t scriptEnd(std::size_t at) const;
    std::size_t appropriateEnd(std::size_t at) const;
    void text(std::size_t begin, std::size_t end);
    void emit(Token &token);
    double endOfFile() const;

    // --- tree construction ---
    void chars(Token t);
    void bodyText(std::size_t count);
    void flushTableText();
    bool htmlRules(const Token &t) const;
    void dispatch(Token &t);
    void foreign(Token &t);
    void inHtmlMode(Token &t);
    void initial(Token &t);
    void beforeHtml(Token &t);
    void beforeHead(Token &t);
    void inHead(Token &t);
    void inHeadNoscript(Token &t);
    void afterHead(Token &t);
    void inBody(Token &t);
    void bodyStart(Token &t);
    void bodyEnd(Token &t);
    void bodyEof();
    void textMode(Token &t);
    void inTable(Token &t);
    void inCaption(Token &t);
    void inColumnGroup(Token &t);
    void inTableBody(Token &t);
    void inRow(Token &t);
    void inCell(Token &t);
    void inSelect(Token &t);
    void inSelectInTable(Token &t);
    void inTemplate(Token &t);
    void afterBody(Token &t);
    void inFrameset(Token &t);

    // --- the stack of open elements ---
    const Open &current() const { return m_stack.back(); }
    static std::uint16_t boundsOf(const Open &o);
    void push(Open o);
    long top() const { return static_cast<long>(m_stack.size()) - 1; }
    // Where a walk from the top stops: the target at found, else the element at bound (or
    // the bottom); charges the elements looked at.
    long walk(long found, Bound bound, int tagSets = 0);
    static bool is(const Open &o, GumboTag tag)
    {
        return o.ns == GUMBO_NAMESPACE_HTML && o.tag == tag;
    }
    static bool in(const Open &o, const TagSet &set)
    {
        return o.ns == GUMBO_NAMESPACE_HTML && set[o.tag];
    }
    bool currentIs(GumboTag tag) const { return !m_stack.empty() && is(current(), tag); }
    bool currentIn(const TagSet &set) const { return !m_stack.empty() && in(current(), set); }
    static bool special(const Open &o);
    static bool defaultBoundary(const Open &o);
    static bool mathText(const Open &o)
    {
        return o.ns == GUMBO_NAMESPACE_MATHML && kMathText[o.tag];
    }
    enum class Scope
    {
        Default,
        ListItem,
        Button,
        Table,
        Select,
        Anywhere,
    };
    long inScope(GumboTag tag, Scope scope);
    long inScope(const TagSet &tags);
    long lastOpen(GumboTag tag) const { return m_lastHtml[tag]; }
    bool hasTemplate() { return inScope(GUMBO_TAG_TEMPLATE, Scope::Anywhere) >= 0; }
    // deep: what an element past the depth cap is put down to.
    void insert(GumboTag tag, std::uint8_t ns = GUMBO_NAMESPACE_HTML, std::uint64_t name = 0,
                bool htmlPoint = false, Share deep = ShareDepth);
    void insertFrom(const Token &t) { insert(t.tag, GUMBO_NAMESPACE_HTML, t.name); }
    void insertForeign(const Token &t, std::uint8_t ns);
    void pop();
    void popUntil(std::size_t size);
    void popThrough(GumboTag tag);
    void eraseAt(std::size_t i);
    void insertAt(std::size_t i, const Open &o);
    void generateImpliedEndTags(GumboTag except = GUMBO_TAG_LAST);
    void closeElement(GumboTag tag); // implicitly_close_tags
    void closeP();
    void closeListItem(bool li);
    void clearStackBackTo(const TagSet &stopAt);
    bool closeTable();
    void closeCell(GumboTag tag);
    void closeSelect();
    void resetMode();
    void startRaw(const Token &t, Raw raw);

    // --- the list of active formatting elements ---
    bool isOpen(const Active &a) const
    {
        return a.id != 0 && a.pos < m_stack.size() && m_stack[a.pos].id == a.id;
    }
    double openScan(const Active &a) const
    {
        return kScanStep * static_cast<double>(isOpen(a) ? a.pos + 1 : m_stack.size());
    }
    void reconstruct();
    void addFormatting(const Token &t);
    void pushMarker() { m_afe.push_back({0, 0, 0, 0, 0}); }
    void clearToMarker();
    void eraseActive(std::size_t i);
    long activeIndexOf(std::uint32_t id);
    void adoptionAgency(GumboTag subject);

    std::string_view m_s;
    double m_budget;
    double m_cost = 0;
    std::array<double, ShareCount> m_shares{};
    std::size_t m_tokenStart = 0;
    std::size_t m_affordable = std::string_view::npos;
    std::size_t m_deepest = 0;
    double m_settled = 0; // the cost of every token before the current one
    double m_ending = 0;  // and of an end of file right before it
    std::size_t m_nextMark = 0;
    std::vector<std::pair<std::size_t, double>> m_marks;

    std::vector<Open> m_stack;
    std::array<std::int32_t, GUMBO_TAG_LAST + 1> m_lastHtml;       // the topmost open of each tag
    std::unordered_map<std::uint64_t, std::int32_t> m_lastForeign; // and of each foreign name
    std::vector<Open> m_moved; // elements taken off and put back around a middle change
    std::vector<Active> m_afe;
    std::vector<Mode> m_templateModes;
    std::uint32_t m_ids = 0;
    Mode m_mode = Initial;
    Mode m_original = Initial;      // where Text mode returns to
    Mode m_tableOriginal = Initial; // where InTableText returns to
    Raw m_raw = Raw::None;
    std::uint64_t m_rawName = 0;
    std::size_t m_rawNameLength = 0;
    const char *m_rawNameText = "";
    bool m_reprocess = false;
    bool m_foster = false;
    bool m_quirks = false;
    bool m_head = false;
    bool m_pendingNonSpace = false;
    bool m_aborts = false;       // gumbo would not survive the text up to here
    std::uint32_t m_form = 0;    // the form element pointer, by id
    std::size_t m_listedRun = 0; // elements from the bottom that an end of body may leave open
    std::size_t m_htmlAttrs = 0;
    std::size_t m_bodyAttrs = 0;
};

bool Estimator::special(const Open &o)
{
    switch (o.ns) {
    case GUMBO_NAMESPACE_HTML:
        return kSpecial[o.tag];
    case GUMBO_NAMESPACE_MATHML:
        return kMathText[o.tag] || o.tag == GUMBO_TAG_ANNOTATION_XML;
    default:
        return o.tag == GUMBO_TAG_FOREIGNOBJECT || o.tag == GUMBO_TAG_DESC;
    }
}

bool Estimator::defaultBoundary(const Open &o)
{
    switch (o.ns) {
    case GUMBO_NAMESPACE_HTML:
        return kScopeHtml[o.tag];
    case GUMBO_NAMESPACE_MATHML:
        return kMathText[o.tag] || o.tag == GUMBO_TAG_ANNOTATION_XML;
    default:
        return o.tag == GUMBO_TAG_FOREIGNOBJECT || o.tag == GUMBO_TAG_DESC ||
               o.tag == GUMBO_TAG_TITLE;
    }
}

// --- tokenizer ---------------------------------------------------------------------------

Estimate Estimator::run()
{
    const std::size_t n = m_s.size();
    std::size_t at = 0;
    while (at < n && m_affordable == std::string_view::npos) {
        if (m_raw != Raw::None) {
            at = rawText(at);
            continue;
        }
        const void *lt = std::memchr(m_s.data() + at, '<', n - at);
        const std::size_t next =
            lt ? static_cast<std::size_t>(static_cast<const char *>(lt) - m_s.data()) : n;
        if (next > at) {
            text(at, next);
            at = next;
            continue;
        }
        at = markup(at);
    }
    if (m_affordable == std::string_view::npos) {
        Token eof;
        eof.kind = Token::Eof;
        m_tokenStart = n;
        emit(eof);
    }
    Estimate result;
    result.deepest = m_deepest;
    result.cost = m_cost;
    result.marks = std::move(m_marks);
    if (m_affordable == std::string_view::npos) {
        result.affordable = n;
        return result;
    }
    result.affordable = m_affordable;
    if (m_aborts) {
        result.excess = Excess::Abort;
        return result;
    }
    // The sheer size is the reason only when no walk or copy took a good share.
    const auto largest = std::max_element(m_shares.begin() + ShareDepth, m_shares.end());
    if (*largest < m_shares[ShareSize] / 3)
        result.excess = Excess::Size;
    else if (largest == m_shares.begin() + ShareDepth)
        result.excess = Excess::Depth;
    else if (largest == m_shares.begin() + ShareFormatting)
        result.excess = Excess::Formatting;
    else
        result.excess = Excess::Attributes;
    return result;
}

void Estimator::text(std::size_t begin, std::size_t end)
{
    const std::string_view run = m_s.substr(begin, end - begin);
    Token t;
    t.kind = Token::Chars;
    for (const char c : run)
        t.count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    while (t.leadingSpace < run.size() && isSpace(run[t.leadingSpace]))
        ++t.leadingSpace;
    charge(kPerByte * static_cast<double>(run.size()) + kPerChar * static_cast<double>(t.count) +
               kPerNode,
           ShareSize);
    m_tokenStart = begin;
    emit(t);
}

std::size_t Estimator::markup(std::size_t at)
{
    const std::size_t n = m_s.size();
    const std::size_t start = at;
    auto bogus = [&](std::size_t from) {
        const std::size_t close = m_s.find('>', from);
        const std::size_t end = close == std::string_view::npos ? n : close + 1;
        charge(kPerByte * static_cast<double>(end - start) + kPerNode, ShareSize);
        Token t;
        t.kind = Token::Comment;
        m_tokenStart = start;
        emit(t);
        return end;
    };
    if (at + 1 >= n) {
        text(at, n);
        return n;
    }
    const char c = m_s[at + 1];
    if (c == '!') {
        if (m_s.compare(at + 2, 2, "--") == 0) {
            std::size_t end = n;
            const std::size_t body = at + 4;
            if (body < n && m_s[body] == '>') {
                end = body + 1;
            } else if (m_s.compare(body, 2, "->") == 0) {
                end = body + 2;
            } else {
                const std::size_t a = m_s.find("-->", body);
                const std::size_t b = m_s.find("--!>", body);
                if (a != std::string_view::npos || b != std::string_view::npos)
                    end = std::min(a == std::string_view::npos ? n : a + 3,
                                   b == std::string_view::npos ? n : b + 4);
            }
            charge(kPerByte * static_cast<double>(end - start) + kPerNode, ShareSize);
            Token t;
            t.kind = Token::Comment;
            m_tokenStart = start;
            emit(t);
            return end;
        }
        if (equalsNoCase(m_s, at + 2, "doctype")) {
            const std::size_t close = m_s.find('>', at);
            const std::size_t end = close == std::string_view::npos ? n : close + 1;
            // Only a bare <!DOCTYPE html> is known to leave quirks mode; any other may keep
            // a <p> open around a table, which is the deeper reading.
            std::size_t i = at + 9;
            while (i < end && isSpace(m_s[i]))
                ++i;
            bool standard = equalsNoCase(m_s, i, "html");
            i += 4;
            while (standard && i < end && isSpace(m_s[i]))
                ++i;
            standard = standard && i < n && m_s[i] == '>';
            charge(kPerByte * static_cast<double>(end - start), ShareSize);
            Token t;
            t.kind = Token::Doctype;
            t.quirks = !standard;
            m_tokenStart = start;
            emit(t);
            return end;
        }
        if (m_s.compare(at + 2, 7, "[CDATA[") == 0 && !m_stack.empty() &&
            current().ns != GUMBO_NAMESPACE_HTML) {
            const std::size_t close = m_s.find("]]>", at + 9);
            const std::size_t end = close == std::string_view::npos ? n : close + 3;
            text(at, end);
            return end;
        }
        return bogus(at + 2);
    }
    if (c == '/') {
        if (at + 2 >= n) {
            text(at, n);
            return n;
        }
        if (isAlpha(m_s[at + 2]))
            return lexTag(at + 2, true, start);
        if (m_s[at + 2] == '>') {
            charge(kPerByte * 3, ShareSize);
            return at + 3;
        }
        return bogus(at + 2);
    }
    if (isAlpha(c))
        return lexTag(at + 1, false, start);
    if (c == '?')
        return bogus(at + 1);
    text(at, at + 1); // a "<" that opens nothing
    return at + 1;
}

// Reads a tag from its name at at to its ">", emits it and gives where it ends. A tag cut by
// the end of the text is dropped, as gumbo drops it.
std::size_t Estimator::lexTag(std::size_t at, bool end, std::size_t tokenStart)
{
    const std::size_t n = m_s.size();
    Token t;
    t.kind = end ? Token::EndTag : Token::StartTag;
    std::uint64_t name = kFnvBasis;
    char buffer[16];
    std::size_t length = 0;
    while (at < n && !isSpace(m_s[at]) && m_s[at] != '/' && m_s[at] != '>') {
        const char c = lower(m_s[at++]);
        name = (name ^ static_cast<unsigned char>(c)) * kFnvPrime;
        if (length < sizeof buffer)
            buffer[length] = c;
        ++length;
    }
    t.name = name;
    t.tag = length <= sizeof buffer ? gumbo_tagn_enum(buffer, static_cast<unsigned>(length))
                                    : GUMBO_TAG_UNKNOWN;
    auto skipSpace = [&] {
        while (at < n && isSpace(m_s[at]))
            ++at;
    };
    for (;;) {
        skipSpace();
        if (at >= n) {
            charge(kPerByte * static_cast<double>(n - tokenStart), ShareSize);
            return n;
        }
        if (m_s[at] == '>') {
            ++at;
            break;
        }
        if (m_s[at] == '/') {
            ++at;
            if (at < n && m_s[at] == '>') {
                t.selfClosing = true;
                ++at;
                break;
            }
            continue;
        }
        const std::size_t nameStart = at++;
        while (at < n && !isSpace(m_s[at]) && m_s[at] != '/' && m_s[at] != '>' && m_s[at] != '=')
            ++at;
        const std::size_t nameEnd = at;
        std::size_t valueStart = at;
        std::size_t valueEnd = at;
        skipSpace();
        if (at < n && m_s[at] == '=') {
            ++at;
            skipSpace();
            if (at < n && (m_s[at] == '"' || m_s[at] == '\'')) {
                const std::size_t close = m_s.find(m_s[at], at + 1);
                if (close == std::string_view::npos) {
                    charge(kPerByte * static_cast<double>(n - tokenStart), ShareSize);
                    return n;
                }
                valueStart = at + 1;
                valueEnd = close;
                at = close + 1;
            } else {
                valueStart = at;
                while (at < n && !isSpace(m_s[at]) && m_s[at] != '>')
                    ++at;
                valueEnd = at;
            }
        }
        ++t.attrs;
        std::uint64_t attrName = kFnvBasis;
        for (std::size_t i = nameStart; i < nameEnd; ++i)
            attrName = (attrName ^ static_cast<unsigned char>(lower(m_s[i]))) * kFnvPrime;
        std::uint64_t value = kFnvBasis;
        for (std::size_t i = valueStart; i < valueEnd; ++i)
            value = (value ^ static_cast<unsigned char>(m_s[i])) * kFnvPrime;
        t.key += mix(attrName * 31 + value);
        const std::string_view attr = m_s.substr(nameStart, nameEnd - nameStart);
        const std::string_view val = m_s.substr(valueStart, valueEnd - valueStart);
        auto named = [&](std::string_view word) {
            return attr.size() == word.size() && equalsNoCase(attr, 0, word);
        };
        auto valued = [&](std::string_view word) {
            return val.size() == word.size() && equalsNoCase(val, 0, word);
        };
        if (named("color") || named("face") || named("size"))
            t.fontBreakout = true;
        else if (named("encoding"))
            t.htmlEncoding = valued("text/html") || valued("application/xhtml+xml");
        else if (named("type"))
            t.hidden = valued("hidden");
    }
    const double attrs = t.attrs;
    charge(kPerByte * static_cast<double>(at - tokenStart) + kPerTag + kPerAttribute * attrs,
           ShareSize);
    // gumbo checks every attribute against the ones before it for a duplicate.
    charge(kAttributePair * attrs * (attrs - 1) / 2, ShareAttributes);
    m_tokenStart = tokenStart;
    emit(t);
    return at;
}

void Estimator::startRaw(const Token &t, Raw raw)
{
    insertFrom(t);
    m_raw = raw;
    m_rawName = t.name;
    m_rawNameText = gumbo_normalized_tagname(t.tag);
    m_rawNameLength = std::strlen(m_rawNameText);
    m_original = m_mode;
    m_mode = Text;
}

// The "<" of the end tag that closes raw text starting at at; npos when none does.
std::size_t Estimator::appropriateEnd(std::size_t at) const
{
    const std::string_view name(m_rawNameText, m_rawNameLength);
    for (std::size_t lt = m_s.find("</", at); lt != std::string_view::npos;
         lt = m_s.find("</", lt + 1)) {
        const std::size_t after = lt + 2 + name.size();
        if (after < m_s.size() && equalsNoCase(m_s, lt + 2, name) &&
            (isSpace(m_s[after]) || m_s[after] == '/' || m_s[after] == '>'))
            return lt;
    }
    return std::string_view::npos;
}

// Script data with its escapes: "<!--" starts escaped text, in which "<script" starts
// double-escaped text that a "</script" only takes back to escaped; "-->" ends both.
std::size_t Estimator::scriptEnd(std::size_t at) const
{
    enum
    {
        Data,
        Escaped,
        DoubleEscaped
    } state = Data;
    const std::size_t n = m_s.size();
    auto scriptWord = [&](std::size_t i) {
        return i + 6 < n && equalsNoCase(m_s, i, "script") &&
               (isSpace(m_s[i + 6]) || m_s[i + 6] == '/' || m_s[i + 6] == '>');
    };
    std::size_t i = at;
    while (i < n) {
        const char c = m_s[i];
        if (state != Data && c == '-' && i + 1 < n && m_s[i + 1] == '-') {
            while (i < n && m_s[i] == '-')
                ++i;
            if (i < n && m_s[i] == '>') {
                state = Data;
                ++i;
            }
            continue;
        }
        if (c != '<') {
            ++i;
            continue;
        }
        if (state == Data) {
            if (i + 1 < n && m_s[i + 1] == '/' && scriptWord(i + 2))
                return i;
            if (m_s.compare(i + 1, 3, "!--") == 0) {
                state = Escaped;
                i += 2; // "--" next: the escaped dash-dash state
                continue;
            }
        } else if (state == Escaped) {
            if (i + 1 < n && m_s[i + 1] == '/' && scriptWord(i + 2))
                return i;
            if (scriptWord(i + 1)) {
                state = DoubleEscaped;
                i += 7;
                continue;
            }
        } else if (i + 1 < n && m_s[i + 1] == '/' && scriptWord(i + 2)) {
            state = Escaped;
            i += 8;
            continue;
        }
        ++i;
    }
    return std::string_view::npos;
}

std::size_t Estimator::rawText(std::size_t at)
{
    const std::size_t n = m_s.size();
    std::size_t end = n;
    if (m_raw == Raw::Script)
        end = scriptEnd(at);
    else if (m_raw != Raw::PlainText)
        end = appropriateEnd(at);
    if (end == std::string_view::npos)
        end = n;
    if (end > at)
        text(at, end);
    if (end >= n || m_affordable != std::string_view::npos)
        return n;
    m_raw = Raw::None;
    return lexTag(end + 2, true, end);
}

// --- tree construction -------------------------------------------------------------------

// Marks this far apart keep a prefix's cost within a few KiB of parsing.
constexpr std::size_t kMarkSpacing = 4096;

void Estimator::emit(Token &t)
{
    if (m_affordable != std::string_view::npos)
        return;
    if (m_tokenStart >= m_nextMark) {
        m_marks.emplace_back(m_tokenStart, m_settled + m_ending);
        m_nextMark = m_tokenStart + kMarkSpacing;
    }
    if (t.kind == Token::Chars) {
        chars(t);
    } else {
        if (m_mode == InTableText)
            flushTableText();
        // A token goes round the modes a few times at most (a cell, its row, its table).
        // The end of the file comes round once for every template left open.
        for (int round = 0; (round < 16 || t.kind == Token::Eof) && !over(); ++round) {
            m_reprocess = false;
            dispatch(t);
            if (!m_reprocess)
                break;
        }
    }
    const bool eof = t.kind == Token::Eof;
    if (!m_aborts && (eof ? !over() : m_cost + endOfFile() <= m_budget)) {
        m_settled = m_cost;
        m_ending = endOfFile();
        return;
    }
    // Over the budget (or past what gumbo survives): the longest prefix known to fit is the
    // one before this token, or, when its own end of file does not fit either, or this is the
    // end of the text itself, the last marked one before it that does.
    if (!m_aborts)
        m_shares[ShareDepth] += endOfFile();
    if (!eof && m_settled + m_ending <= m_budget) {
        m_affordable = m_tokenStart;
        m_marks.emplace_back(m_tokenStart, m_settled + m_ending);
        return;
    }
    while (!m_marks.empty() &&
           (m_marks.back().second > m_budget || m_marks.back().first >= m_tokenStart))
        m_marks.pop_back();
    m_affordable = m_marks.empty() ? 0 : m_marks.back().first;
}

// What ending the text here costs: every open element looked at once, and once more for
// every template left open, each closed in a round of its own.
double Estimator::endOfFile() const
{
    return tagStep() * static_cast<double>(m_stack.size()) *
           static_cast<double>(1 + m_templateModes.size());
}

bool Estimator::htmlRules(const Token &t) const
{
    if (m_stack.empty() || t.kind == Token::Eof)
        return true;
    const Open &node = current();
    if (node.ns == GUMBO_NAMESPACE_HTML)
        return true;
    const bool start = t.kind == Token::StartTag;
    if (mathText(node) && (t.kind == Token::Chars ||
                           (start && t.tag != GUMBO_TAG_MGLYPH && t.tag != GUMBO_TAG_MALIGNMARK)))
        return true;
    if (node.ns == GUMBO_NAMESPACE_MATHML && node.tag == GUMBO_TAG_ANNOTATION_XML && start &&
        t.tag == GUMBO_TAG_SVG)
        return true;
    return node.htmlPoint && (start || t.kind == Token::Chars);
}

void Estimator::dispatch(Token &t)
{
    if (htmlRules(t))
        inHtmlMode(t);
    else
        foreign(t);
}

void Estimator::inHtmlMode(Token &t)
{
    switch (m_mode) {
    case Initial:
        initial(t);
        break;
    case BeforeHtml:
        beforeHtml(t);
        break;
    case BeforeHead:
        beforeHead(t);
        break;
    case InHead:
        inHead(t);
        break;
    case InHeadNoscript:
        inHeadNoscript(t);
        break;
    case AfterHead:
        afterHead(t);
        break;
    case InBody:
        inBody(t);
        break;
    case Text:
        textMode(t);
        break;
    case InTable:
    case InTableText:
        inTable(t);
        break;
    case InCaption:
        inCaption(t);
        break;
    case InColumnGroup:
        inColumnGroup(t);
        break;
    case InTableBody:
        inTableBody(t);
        break;
    case InRow:
        inRow(t);
        break;
    case InCell:
        inCell(t);
        break;
    case InSelect:
        inSelect(t);
        break;
    case InSelectInTable:
        inSelectInTable(t);
        break;
    case InTemplate:
        inTemplate(t);
        break;
    case AfterBody:
    case AfterAfterBody:
        afterBody(t);
        break;
    case InFrameset:
    case AfterFrameset:
    case AfterAfterFrameset:
        inFrameset(t);
        break;
    case NoMode:
        inBody(t);
        break;
    }
}

void Estimator::chars(Token t)
{
    // Character tokens, one run at a time: leading white space is what several modes treat
    // apart; once a mode has taken the rest, it is ordinary text.
    for (int round = 0; t.count > 0 && round < 16 && !over(); ++round) {
        if (!htmlRules(t))
            return; // foreign content: appended as it comes
        auto dropSpace = [&t] {
            t.count -= std::min(t.count, t.leadingSpace);
            t.leadingSpace = 0;
            return t.count == 0;
        };
        switch (m_mode) {
        case Initial:
            if (dropSpace())
                return;
            m_quirks = true;
            m_mode = BeforeHtml;
            break;
        case BeforeHtml:
            if (dropSpace())
                return;
            insert(GUMBO_TAG_HTML);
            m_mode = BeforeHead;
            break;
        case BeforeHead:
            if (dropSpace())
                return;
            insert(GUMBO_TAG_HEAD);
            m_head = true;
            m_mode = InHead;
            break;
        case InHead:
            if (dropSpace())
                return;
            pop();
            m_mode = AfterHead;
            break;
        case InHeadNoscript:
            if (dropSpace())
                return;
            pop();
            m_mode = InHead;
            break;
        case AfterHead:
            if (dropSpace())
                return;
            insert(GUMBO_TAG_BODY);
            m_mode = InBody;
            break;
        case InBody:
        case InCaption:
        case InCell:
        case InTemplate:
        case NoMode:
            bodyText(t.count);
            return;
        case InTable:
        case InTableBody:
        case InRow:
            m_tableOriginal = m_mode;
            m_mode = InTableText;
            [[fallthrough]];
        case InTableText:
            m_pendingNonSpace = m_pendingNonSpace || t.leadingSpace < t.count;
            return;
        case InColumnGroup:
            if (dropSpace())
                return;
            if (!currentIs(GUMBO_TAG_COLGROUP))
                return; // every character ignored
            pop();
            m_mode = InTable;
            break;
        case AfterBody:
        case AfterAfterBody:
            if (t.leadingSpace > 0)
                bodyText(t.leadingSpace);
            if (dropSpace())
                return;
            m_mode = InBody;
            break;
        case Text:
        case InSelect:
        case InSelectInTable:
        case InFrameset:
        case AfterFrameset:
        case AfterAfterFrameset:
            return;
        }
    }
}

void Estimator::bodyText(std::size_t count)
{
    reconstruct();
    // Every character asks whether the last active formatting element is open, a search of
    // the stack from its bottom.
    if (count > 1 && !m_afe.empty() && m_afe.back().id != 0)
        charge(openScan(m_afe.back()) * static_cast<double>(count - 1), ShareDepth);
}

void Estimator::flushTableText()
{
    if (m_pendingNonSpace) {
        m_foster = true;
        reconstruct();
        if (currentIn(kFosterTarget))
            charge(walkStep() * static_cast<double>(m_stack.size()), ShareDepth);
        m_foster = false;
    }
    m_pendingNonSpace = false;
    m_mode = m_tableOriginal;
}

void Estimator::foreign(Token &t)
{
    if (t.kind == Token::StartTag) {
        if (kBreakout[t.tag] || (t.tag == GUMBO_TAG_FONT && t.fontBreakout)) {
            do {
                pop();
            } while (!m_stack.empty() && !mathText(current()) && !current().htmlPoint &&
                     current().ns != GUMBO_NAMESPACE_HTML);
            m_reprocess = true;
            return;
        }
        insertForeign(t, current().ns);
        if (t.selfClosing)
            pop();
        return;
    }
    if (t.kind != Token::EndTag)
        return;
    // Up the stack comparing names, to a match or the first HTML element.
    const long html = std::max<long>(current().below[BoundHtml], 0);
    const auto named = m_lastForeign.find(t.name);
    const long match = named == m_lastForeign.end() ? -1 : named->second;
    if (match > html && match >= 1) {
        charge(foreignStep() * static_cast<double>(top() - match + 1), ShareDepth);
        popUntil(static_cast<std::size_t>(match));
        return;
    }
    charge(foreignStep() * static_cast<double>(std::max<long>(top() - html, 1)), ShareDepth);
    inHtmlMode(t);
}

void Estimator::initial(Token &t)
{
    if (t.kind == Token::Comment)
        return;
    if (t.kind == Token::Doctype) {
        m_quirks = t.quirks;
        m_mode = BeforeHtml;
        return;
    }
    m_quirks = true;
    m_mode = BeforeHtml;
    m_reprocess = true;
}

void Estimator::beforeHtml(Token &t)
{
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (t.kind == Token::StartTag && t.tag == GUMBO_TAG_HTML) {
        insertFrom(t);
        m_htmlAttrs = t.attrs;
        m_mode = BeforeHead;
        return;
    }
    if (t.kind == Token::EndTag && t.tag != GUMBO_TAG_HEAD && t.tag != GUMBO_TAG_BODY &&
        t.tag != GUMBO_TAG_HTML && t.tag != GUMBO_TAG_BR)
        return;
    insert(GUMBO_TAG_HTML);
    m_mode = BeforeHead;
    m_reprocess = true;
}

void Estimator::beforeHead(Token &t)
{
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (t.kind == Token::StartTag && t.tag == GUMBO_TAG_HTML) {
        inBody(t);
        return;
    }
    if (t.kind == Token::StartTag && t.tag == GUMBO_TAG_HEAD) {
        insertFrom(t);
        m_head = true;
        m_mode = InHead;
        return;
    }
    if (t.kind == Token::EndTag && t.tag != GUMBO_TAG_HEAD && t.tag != GUMBO_TAG_BODY &&
        t.tag != GUMBO_TAG_HTML && t.tag != GUMBO_TAG_BR)
        return;
    insert(GUMBO_TAG_HEAD);
    m_head = true;
    m_mode = InHead;
    m_reprocess = true;
}

void Estimator::inHead(Token &t)
{
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (start) {
        switch (t.tag) {
        case GUMBO_TAG_HTML:
            inBody(t);
            return;
        case GUMBO_TAG_BASE:
        case GUMBO_TAG_BASEFONT:
        case GUMBO_TAG_BGSOUND:
        case GUMBO_TAG_MENUITEM:
        case GUMBO_TAG_LINK:
        case GUMBO_TAG_META:
            insertFrom(t);
            pop();
            return;
        case GUMBO_TAG_TITLE:
            startRaw(t, Raw::RcData);
            return;
        case GUMBO_TAG_NOFRAMES:
        case GUMBO_TAG_STYLE:
            startRaw(t, Raw::RawText);
            return;
        case GUMBO_TAG_NOSCRIPT:
            insertFrom(t);
            m_mode = InHeadNoscript;
            return;
        case GUMBO_TAG_SCRIPT:
            startRaw(t, Raw::Script);
            return;
        case GUMBO_TAG_TEMPLATE:
            insertFrom(t);
            pushMarker();
            m_mode = InTemplate;
            m_templateModes.push_back(InTemplate);
            return;
        case GUMBO_TAG_HEAD:
            return;
        default:
            break;
        }
    }
    if (end) {
        if (t.tag == GUMBO_TAG_HEAD) {
            pop();
            m_mode = AfterHead;
            return;
        }
        if (t.tag == GUMBO_TAG_TEMPLATE) {
            if (!hasTemplate())
                return;
            while (currentIn(kImpliedEndThoroughly))
                pop();
            popThrough(GUMBO_TAG_TEMPLATE);
            clearToMarker();
            if (!m_templateModes.empty())
                m_templateModes.pop_back();
            resetMode();
            return;
        }
        if (t.tag != GUMBO_TAG_BODY && t.tag != GUMBO_TAG_HTML && t.tag != GUMBO_TAG_BR)
            return;
    }
    pop();
    m_mode = AfterHead;
    m_reprocess = true;
}

void Estimator::inHeadNoscript(Token &t)
{
    if (t.kind == Token::Doctype)
        return;
    if (t.kind == Token::StartTag && t.tag == GUMBO_TAG_HTML) {
        inBody(t);
        return;
    }
    if (t.kind == Token::EndTag && t.tag == GUMBO_TAG_NOSCRIPT) {
        pop();
        m_mode = InHead;
        return;
    }
    if (t.kind == Token::Comment ||
        (t.kind == Token::StartTag &&
         (t.tag == GUMBO_TAG_BASEFONT || t.tag == GUMBO_TAG_BGSOUND || t.tag == GUMBO_TAG_LINK ||
          t.tag == GUMBO_TAG_META || t.tag == GUMBO_TAG_NOFRAMES || t.tag == GUMBO_TAG_STYLE))) {
        inHead(t);
        return;
    }
    if ((t.kind == Token::StartTag && (t.tag == GUMBO_TAG_HEAD || t.tag == GUMBO_TAG_NOSCRIPT)) ||
        (t.kind == Token::EndTag && t.tag != GUMBO_TAG_BR))
        return;
    pop();
    m_mode = InHead;
    m_reprocess = true;
}

void Estimator::afterHead(Token &t)
{
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (t.kind == Token::StartTag) {
        switch (t.tag) {
        case GUMBO_TAG_HTML:
            inBody(t);
            return;
        case GUMBO_TAG_BODY:
            insertFrom(t);
            m_bodyAttrs = t.attrs;
            m_mode = InBody;
            return;
        case GUMBO_TAG_FRAMESET:
            insertFrom(t);
            m_mode = InFrameset;
            return;
        case GUMBO_TAG_BASE:
        case GUMBO_TAG_BASEFONT:
        case GUMBO_TAG_BGSOUND:
        case GUMBO_TAG_LINK:
        case GUMBO_TAG_META:
        case GUMBO_TAG_NOFRAMES:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_TEMPLATE:
        case GUMBO_TAG_TITLE: {
            // gumbo puts the head back on the stack for the tag and takes it out again.
            const std::size_t head = m_stack.size();
            insert(GUMBO_TAG_HEAD);
            inHead(t);
            if (head < m_stack.size())
                eraseAt(head);
            return;
        }
        case GUMBO_TAG_HEAD:
            return;
        default:
            break;
        }
    }
    if (t.kind == Token::EndTag) {
        if (t.tag == GUMBO_TAG_TEMPLATE) {
            inHead(t);
            return;
        }
        if (t.tag != GUMBO_TAG_BODY && t.tag != GUMBO_TAG_HTML && t.tag != GUMBO_TAG_BR)
            return;
    }
    insert(GUMBO_TAG_BODY);
    m_mode = InBody;
    m_reprocess = true;
}

void Estimator::inBody(Token &t)
{
    switch (t.kind) {
    case Token::StartTag:
        bodyStart(t);
        break;
    case Token::EndTag:
        bodyEnd(t);
        break;
    case Token::Eof:
        bodyEof();
        break;
    default:
        break;
    }
}

void Estimator::bodyEof()
{
    charge(tagStep() * static_cast<double>(m_stack.size()), ShareDepth);
    if (!m_templateModes.empty()) {
        Token eof;
        eof.kind = Token::Eof;
        inTemplate(eof);
    }
}

void Estimator::bodyStart(Token &t)
{
    const GumboTag tag = t.tag;
    if (kFromHead[tag]) {
        inHead(t);
        return;
    }
    if (kBlockStart[tag]) {
        closeP();
        insertFrom(t);
        return;
    }
    if (kHeadings[tag]) {
        closeP();
        if (currentIn(kHeadings))
            pop();
        insertFrom(t);
        return;
    }
    if (kFormatting[tag]) {
        reconstruct();
        insertFrom(t);
        addFormatting(t);
        return;
    }
    if (kVoidInBody[tag]) {
        reconstruct();
        insertFrom(t);
        pop();
        return;
    }
    if (kTablePart[tag] || tag == GUMBO_TAG_FRAME || tag == GUMBO_TAG_HEAD)
        return;
    switch (tag) {
    case GUMBO_TAG_HTML:
        if (hasTemplate())
            return;
        charge(kAttributePair * static_cast<double>(t.attrs * m_htmlAttrs), ShareAttributes);
        m_htmlAttrs += t.attrs;
        return;
    case GUMBO_TAG_BODY:
        if (m_stack.size() < 2 || !is(m_stack[1], GUMBO_TAG_BODY) || hasTemplate())
            return;
        charge(kAttributePair * static_cast<double>(t.attrs * m_bodyAttrs), ShareAttributes);
        m_bodyAttrs += t.attrs;
        return;
    case GUMBO_TAG_FRAMESET:
        // gumbo replaces the body with it while nothing has been shown yet. Staying in the
        // body keeps every walk at least as long; the framesets gumbo may then nest are
        // paid for here, as deep ones.
        charge(kPerElement + kPerDeepElement, ShareSize);
        return;
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
        closeP();
        insertFrom(t);
        return;
    case GUMBO_TAG_FORM: {
        if (m_form != 0 && !hasTemplate())
            return;
        closeP();
        insertFrom(t);
        if (!hasTemplate())
            m_form = current().id;
        return;
    }
    case GUMBO_TAG_LI:
        closeListItem(true);
        closeP();
        insertFrom(t);
        return;
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
        closeListItem(false);
        closeP();
        insertFrom(t);
        return;
    case GUMBO_TAG_PLAINTEXT:
        closeP();
        insertFrom(t);
        m_raw = Raw::PlainText;
        return;
    case GUMBO_TAG_BUTTON:
        if (inScope(GUMBO_TAG_BUTTON, Scope::Default) >= 0) {
            closeElement(GUMBO_TAG_BUTTON);
            m_reprocess = true;
            return;
        }
        reconstruct();
        insertFrom(t);
        return;
    case GUMBO_TAG_A: {
        auto lastAnchor = [this]() -> long {
            for (long i = static_cast<long>(m_afe.size()) - 1; i >= 0; --i) {
                charge(walkStep(), ShareFormatting);
                const Active &a = m_afe[static_cast<std::size_t>(i)];
                if (a.id == 0)
                    return -1;
                if (a.tag == GUMBO_TAG_A)
                    return i;
            }
            return -1;
        };
        if (lastAnchor() >= 0) {
            adoptionAgency(GUMBO_TAG_A);
            if (const long left = lastAnchor(); left >= 0) {
                const Active a = m_afe[static_cast<std::size_t>(left)];
                eraseActive(static_cast<std::size_t>(left));
                charge(openScan(a), ShareDepth);
                if (isOpen(a))
                    eraseAt(a.pos);
            }
        }
        reconstruct();
        insertFrom(t);
        addFormatting(t);
        return;
    }
    case GUMBO_TAG_NOBR:
        reconstruct();
        if (inScope(GUMBO_TAG_NOBR, Scope::Default) >= 0) {
            adoptionAgency(GUMBO_TAG_NOBR);
            reconstruct();
        }
        insertFrom(t);
        addFormatting(t);
        return;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        reconstruct();
        insertFrom(t);
        pushMarker();
        return;
    case GUMBO_TAG_TABLE:
        if (!m_quirks)
            closeP();
        insertFrom(t);
        m_mode = InTable;
        return;
    case GUMBO_TAG_INPUT:
        reconstruct();
        insertFrom(t);
        pop();
        return;
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
        insertFrom(t);
        pop();
        return;
    case GUMBO_TAG_HR:
        closeP();
        insertFrom(t);
        pop();
        return;
    case GUMBO_TAG_TEXTAREA:
        startRaw(t, Raw::RcData);
        return;
    case GUMBO_TAG_XMP:
        closeP();
        reconstruct();
        startRaw(t, Raw::RawText);
        return;
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
        startRaw(t, Raw::RawText);
        return;
    case GUMBO_TAG_SELECT:
        reconstruct();
        insertFrom(t);
        m_mode = (m_mode == InTable || m_mode == InCaption || m_mode == InTableBody ||
                  m_mode == InRow || m_mode == InCell)
                     ? InSelectInTable
                     : InSelect;
        return;
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_OPTGROUP:
        if (currentIs(GUMBO_TAG_OPTION))
            pop();
        reconstruct();
        insertFrom(t);
        return;
    case GUMBO_TAG_RB:
    case GUMBO_TAG_RTC:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_RT:
        if (inScope(GUMBO_TAG_RUBY, Scope::Default) >= 0)
            generateImpliedEndTags(tag == GUMBO_TAG_RP || tag == GUMBO_TAG_RT ? GUMBO_TAG_RTC
                                                                              : GUMBO_TAG_LAST);
        insertFrom(t);
        return;
    case GUMBO_TAG_MATH:
        reconstruct();
        insertForeign(t, GUMBO_NAMESPACE_MATHML);
        if (t.selfClosing)
            pop();
        return;
    case GUMBO_TAG_SVG:
        reconstruct();
        insertForeign(t, GUMBO_NAMESPACE_SVG);
        if (t.selfClosing)
            pop();
        return;
    default:
        reconstruct();
        insertFrom(t);
        return;
    }
}

void Estimator::bodyEnd(Token &t)
{
    const GumboTag tag = t.tag;
    if (kBlockEnd[tag]) {
        if (inScope(tag, Scope::Default) >= 0)
            closeElement(tag);
        return;
    }
    if (kFormattingEnd[tag]) {
        adoptionAgency(tag);
        return;
    }
    if (kHeadings[tag]) {
        if (inScope(kHeadings) < 0)
            return;
        generateImpliedEndTags();
        while (!m_stack.empty()) {
            const bool heading = currentIn(kHeadings);
            pop();
            if (heading)
                break;
        }
        return;
    }
    switch (tag) {
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HTML: {
        if (inScope(GUMBO_TAG_BODY, Scope::Default) < 0)
            return;
        // Up from the bottom, to the first element an end of body should not leave open.
        charge(tagStep() * static_cast<double>(std::min(m_stack.size(), m_listedRun + 1)),
               ShareDepth);
        m_mode = AfterBody;
        if (tag == GUMBO_TAG_HTML)
            m_reprocess = true;
        return;
    }
    case GUMBO_TAG_FORM: {
        if (hasTemplate()) {
            if (inScope(GUMBO_TAG_FORM, Scope::Default) < 0)
                return;
            generateImpliedEndTags();
            if (currentIs(GUMBO_TAG_FORM))
                popThrough(GUMBO_TAG_FORM);
            return;
        }
        const std::uint32_t form = m_form;
        m_form = 0;
        if (form == 0)
            return;
        // Is that form in scope? Up the stack to it or a boundary.
        long at = lastOpen(GUMBO_TAG_FORM);
        while (at >= 0 && m_stack[static_cast<std::size_t>(at)].id != form)
            at = m_stack[static_cast<std::size_t>(at)].prev;
        if (walk(at, BoundDefault, 1) < 0)
            return;
        generateImpliedEndTags();
        charge(kScanStep * static_cast<double>(at + 1), ShareDepth);
        if (static_cast<std::size_t>(at) < m_stack.size() &&
            m_stack[static_cast<std::size_t>(at)].id == form)
            eraseAt(static_cast<std::size_t>(at));
        return;
    }
    case GUMBO_TAG_P:
        if (inScope(GUMBO_TAG_P, Scope::Button) < 0) {
            insert(GUMBO_TAG_P);
            m_reprocess = true;
            return;
        }
        closeElement(GUMBO_TAG_P);
        return;
    case GUMBO_TAG_LI:
        if (inScope(GUMBO_TAG_LI, Scope::ListItem) >= 0)
            closeElement(GUMBO_TAG_LI);
        return;
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
        if (inScope(tag, Scope::Default) >= 0)
            closeElement(tag);
        return;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        if (inScope(tag, Scope::Table) < 0)
            return;
        closeElement(tag);
        clearToMarker();
        return;
    case GUMBO_TAG_BR:
        reconstruct();
        insert(GUMBO_TAG_BR);
        pop();
        return;
    case GUMBO_TAG_TEMPLATE:
        inHead(t);
        return;
    default:
        break;
    }
    // Any other end tag: up the stack to an element of that name, unless a special one
    // comes first.
    const long found = walk(lastOpen(tag), BoundSpecial, 1);
    if (found >= 0) {
        generateImpliedEndTags(tag);
        popUntil(static_cast<std::size_t>(found));
    }
}

void Estimator::textMode(Token &t)
{
    if (t.kind == Token::Eof) {
        pop();
        m_mode = m_original;
        m_reprocess = true;
        return;
    }
    if (t.kind == Token::EndTag) {
        pop();
        m_mode = m_original;
    }
}

void Estimator::inTable(Token &t)
{
    const GumboTag tag = t.tag;
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (t.kind == Token::Eof) {
        bodyEof();
        return;
    }
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (start && tag == GUMBO_TAG_CAPTION) {
        clearStackBackTo(kTableContext);
        pushMarker();
        insertFrom(t);
        m_mode = InCaption;
        return;
    }
    if (start && tag == GUMBO_TAG_COLGROUP) {
        clearStackBackTo(kTableContext);
        insertFrom(t);
        m_mode = InColumnGroup;
        return;
    }
    if (start && tag == GUMBO_TAG_COL) {
        clearStackBackTo(kTableContext);
        insert(GUMBO_TAG_COLGROUP);
        m_mode = InColumnGroup;
        m_reprocess = true;
        return;
    }
    if (start && (tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_THEAD ||
                  tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH || tag == GUMBO_TAG_TR)) {
        clearStackBackTo(kTableContext);
        m_mode = InTableBody;
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH || tag == GUMBO_TAG_TR) {
            insert(GUMBO_TAG_TBODY);
            m_reprocess = true;
        } else {
            insertFrom(t);
        }
        return;
    }
    if (start && tag == GUMBO_TAG_TABLE) {
        if (closeTable())
            m_reprocess = true;
        return;
    }
    if (end && tag == GUMBO_TAG_TABLE) {
        closeTable();
        return;
    }
    if (end && (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_HTML || kTablePart[tag]))
        return;
    if ((start &&
         (tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_TEMPLATE)) ||
        (end && tag == GUMBO_TAG_TEMPLATE)) {
        inHead(t);
        return;
    }
    if (start && tag == GUMBO_TAG_INPUT && t.hidden) {
        insertFrom(t);
        pop();
        return;
    }
    if (start && tag == GUMBO_TAG_FORM) {
        if (m_form != 0 || hasTemplate())
            return;
        insertFrom(t);
        m_form = current().id;
        pop();
        return;
    }
    m_foster = true;
    inBody(t);
    m_foster = false;
}

void Estimator::inCaption(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (end && tag == GUMBO_TAG_CAPTION) {
        if (inScope(GUMBO_TAG_CAPTION, Scope::Table) < 0)
            return;
        generateImpliedEndTags();
        popThrough(GUMBO_TAG_CAPTION);
        clearToMarker();
        m_mode = InTable;
        return;
    }
    if ((start && kTablePart[tag]) || (end && tag == GUMBO_TAG_TABLE)) {
        if (inScope(GUMBO_TAG_CAPTION, Scope::Table) < 0)
            return;
        popThrough(GUMBO_TAG_CAPTION);
        clearToMarker();
        m_mode = InTable;
        m_reprocess = true;
        return;
    }
    if (end && (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_HTML || kTablePart[tag]))
        return;
    inBody(t);
}

void Estimator::inColumnGroup(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (start && tag == GUMBO_TAG_HTML) {
        inBody(t);
        return;
    }
    if (start && tag == GUMBO_TAG_COL) {
        insertFrom(t);
        pop();
        return;
    }
    if (end && tag == GUMBO_TAG_COLGROUP) {
        if (currentIs(GUMBO_TAG_COLGROUP)) {
            pop();
            m_mode = InTable;
        }
        return;
    }
    if (end && tag == GUMBO_TAG_COL)
        return;
    if (tag == GUMBO_TAG_TEMPLATE && (start || end)) {
        inHead(t);
        return;
    }
    if (t.kind == Token::Eof) {
        bodyEof();
        return;
    }
    if (!currentIs(GUMBO_TAG_COLGROUP))
        return;
    pop();
    m_mode = InTable;
    m_reprocess = true;
}

void Estimator::inTableBody(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (start && tag == GUMBO_TAG_TR) {
        clearStackBackTo(kTableBodyContext);
        insertFrom(t);
        m_mode = InRow;
        return;
    }
    if (start && (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) {
        clearStackBackTo(kTableBodyContext);
        insert(GUMBO_TAG_TR);
        m_mode = InRow;
        m_reprocess = true;
        return;
    }
    if (end && (tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_THEAD)) {
        if (inScope(tag, Scope::Table) < 0)
            return;
        clearStackBackTo(kTableBodyContext);
        pop();
        m_mode = InTable;
        return;
    }
    if ((start && (tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL || tag == GUMBO_TAG_COLGROUP ||
                   tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_THEAD)) ||
        (end && tag == GUMBO_TAG_TABLE)) {
        if (inScope(GUMBO_TAG_TBODY, Scope::Table) < 0 &&
            inScope(GUMBO_TAG_THEAD, Scope::Table) < 0 &&
            inScope(GUMBO_TAG_TFOOT, Scope::Table) < 0)
            return;
        clearStackBackTo(kTableBodyContext);
        pop();
        m_mode = InTable;
        m_reprocess = true;
        return;
    }
    if (end && (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL ||
                tag == GUMBO_TAG_TR || tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_HTML ||
                tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH))
        return;
    inTable(t);
}

void Estimator::inRow(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (start && (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) {
        clearStackBackTo(kTableRowContext);
        insertFrom(t);
        m_mode = InCell;
        pushMarker();
        return;
    }
    if (end && tag == GUMBO_TAG_TR) {
        if (inScope(GUMBO_TAG_TR, Scope::Table) < 0)
            return;
        clearStackBackTo(kTableRowContext);
        pop();
        m_mode = InTableBody;
        return;
    }
    if ((start && (tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL || tag == GUMBO_TAG_COLGROUP ||
                   tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_THEAD ||
                   tag == GUMBO_TAG_TR)) ||
        (end && tag == GUMBO_TAG_TABLE)) {
        if (inScope(GUMBO_TAG_TR, Scope::Table) < 0)
            return;
        clearStackBackTo(kTableRowContext);
        pop();
        m_mode = InTableBody;
        m_reprocess = true;
        return;
    }
    if (end && (tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_THEAD)) {
        if (inScope(tag, Scope::Table) < 0 || inScope(GUMBO_TAG_TR, Scope::Table) < 0)
            return;
        clearStackBackTo(kTableRowContext);
        pop();
        m_mode = InTableBody;
        m_reprocess = true;
        return;
    }
    if (end && (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL ||
                tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_HTML || tag == GUMBO_TAG_TD ||
                tag == GUMBO_TAG_TH))
        return;
    inTable(t);
}

void Estimator::inCell(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (end && (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH)) {
        if (inScope(tag, Scope::Table) >= 0)
            closeCell(tag);
        return;
    }
    const bool closesCell =
        (start && kTablePart[tag]) ||
        (end && (tag == GUMBO_TAG_TABLE || tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT ||
                 tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TR));
    if (closesCell) {
        if (start) {
            if (inScope(GUMBO_TAG_TH, Scope::Table) < 0 && inScope(GUMBO_TAG_TD, Scope::Table) < 0)
                return;
        } else if (inScope(tag, Scope::Table) < 0) {
            return;
        }
        m_reprocess = true;
        // gumbo asserts that exactly one of the two is open; a foreign cell can have put it
        // in this mode without either.
        const bool td = inScope(GUMBO_TAG_TD, Scope::Table) >= 0;
        if (td == (inScope(GUMBO_TAG_TH, Scope::Table) >= 0)) {
            m_aborts = true;
            return;
        }
        closeCell(td ? GUMBO_TAG_TD : GUMBO_TAG_TH);
        return;
    }
    if (end && (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL ||
                tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_HTML))
        return;
    inBody(t);
}

void Estimator::inSelect(Token &t)
{
    const GumboTag tag = t.tag;
    const bool start = t.kind == Token::StartTag;
    const bool end = t.kind == Token::EndTag;
    if (t.kind == Token::Eof) {
        bodyEof();
        return;
    }
    if (!start && !end)
        return;
    if (start && tag == GUMBO_TAG_HTML) {
        inBody(t);
        return;
    }
    if (start && tag == GUMBO_TAG_OPTION) {
        if (currentIs(GUMBO_TAG_OPTION))
            pop();
        insertFrom(t);
        return;
    }
    if (start && tag == GUMBO_TAG_OPTGROUP) {
        if (currentIs(GUMBO_TAG_OPTION))
            pop();
        if (currentIs(GUMBO_TAG_OPTGROUP))
            pop();
        insertFrom(t);
        return;
    }
    if (end && tag == GUMBO_TAG_OPTGROUP) {
        if (currentIs(GUMBO_TAG_OPTION) && m_stack.size() >= 2 &&
            is(m_stack[m_stack.size() - 2], GUMBO_TAG_OPTGROUP))
            pop();
        if (currentIs(GUMBO_TAG_OPTGROUP))
            pop();
        return;
    }
    if (end && tag == GUMBO_TAG_OPTION) {
        if (currentIs(GUMBO_TAG_OPTION))
            pop();
        return;
    }
    if (end && tag == GUMBO_TAG_SELECT) {
        if (inScope(GUMBO_TAG_SELECT, Scope::Select) >= 0)
            closeSelect();
        return;
    }
    if (start && tag == GUMBO_TAG_SELECT) {
        if (inScope(GUMBO_TAG_SELECT, Scope::Select) >= 0)
            closeSelect();
        return;
    }
    if (start && (tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_KEYGEN || tag == GUMBO_TAG_TEXTAREA)) {
        if (inScope(GUMBO_TAG_SELECT, Scope::Select) < 0)
            return;
        closeSelect();
        m_reprocess = true;
        return;
    }
    if ((start && (tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_TEMPLATE)) ||
        (end && tag == GUMBO_TAG_TEMPLATE))
        inHead(t);
}

void Estimator::inSelectInTable(Token &t)
{
    const GumboTag tag = t.tag;
    const bool tablePart = tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_TABLE ||
                           tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT ||
                           tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TR || tag == GUMBO_TAG_TD ||
                           tag == GUMBO_TAG_TH;
    if (t.kind == Token::StartTag && tablePart) {
        closeSelect();
        m_reprocess = true;
        return;
    }
    if (t.kind == Token::EndTag && tablePart) {
        if (inScope(tag, Scope::Table) < 0)
            return;
        closeSelect();
        m_reprocess = true;
        return;
    }
    inSelect(t);
}

void Estimator::inTemplate(Token &t)
{
    const GumboTag tag = t.tag;
    if (t.kind == Token::Comment || t.kind == Token::Doctype)
        return;
    if (t.kind == Token::StartTag) {
        Mode next = InBody;
        switch (tag) {
        case GUMBO_TAG_BASE:
        case GUMBO_TAG_BASEFONT:
        case GUMBO_TAG_BGSOUND:
        case GUMBO_TAG_LINK:
        case GUMBO_TAG_META:
        case GUMBO_TAG_NOFRAMES:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_TEMPLATE:
        case GUMBO_TAG_TITLE:
            inHead(t);
            return;
        case GUMBO_TAG_CAPTION:
        case GUMBO_TAG_COLGROUP:
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_TFOOT:
        case GUMBO_TAG_THEAD:
            next = InTable;
            break;
        case GUMBO_TAG_COL:
            next = InColumnGroup;
            break;
        case GUMBO_TAG_TR:
            next = InTableBody;
            break;
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            next = InRow;
            break;
        default:
            break;
        }
        if (!m_templateModes.empty())
            m_templateModes.back() = next;
        m_mode = next;
        m_reprocess = true;
        return;
    }
    if (t.kind == Token::EndTag) {
        if (tag == GUMBO_TAG_TEMPLATE)
            inHead(t);
        return;
    }
    if (t.kind == Token::Eof) {
        if (!hasTemplate())
            return;
        popThrough(GUMBO_TAG_TEMPLATE);
        clearToMarker();
        if (!m_templateModes.empty())
            m_templateModes.pop_back();
        resetMode();
        m_reprocess = true;
    }
}

void Estimator::afterBody(Token &t)
{
    if (t.kind == Token::Comment || t.kind == Token::Doctype || t.kind == Token::Eof)
        return;
    if (t.kind == Token::StartTag && t.tag == GUMBO_TAG_HTML) {
        inBody(t);
        return;
    }
    if (t.kind == Token::EndTag && t.tag == GUMBO_TAG_HTML && m_mode == AfterBody) {
        m_mode = AfterAfterBody;
        return;
    }
    m_mode = InBody;
    m_reprocess = true;
}

void Estimator::inFrameset(Token &t)
{
    const GumboTag tag = t.tag;
    if (t.kind == Token::StartTag) {
        if (tag == GUMBO_TAG_HTML) {
            inBody(t);
        } else if (tag == GUMBO_TAG_NOFRAMES) {
            inHead(t);
        } else if (m_mode == InFrameset && tag == GUMBO_TAG_FRAMESET) {
            insertFrom(t);
        } else if (m_mode == InFrameset && tag == GUMBO_TAG_FRAME) {
            insertFrom(t);
            pop();
        }
        return;
    }
    if (t.kind != Token::EndTag)
        return;
    if (m_mode == InFrameset && tag == GUMBO_TAG_FRAMESET) {
        if (m_stack.size() <= 1)
            return;
        pop();
        if (!currentIs(GUMBO_TAG_FRAMESET))
            m_mode = AfterFrameset;
    } else if (m_mode == AfterFrameset && tag == GUMBO_TAG_HTML) {
        m_mode = AfterAfterFrameset;
    }
}

// --- the stack of open elements --------------------------------------------------------

std::uint16_t Estimator::boundsOf(const Open &o)
{
    const bool scope = defaultBoundary(o);
    const bool isSpecial = special(o);
    std::uint16_t bits = 0;
    auto set = [&bits](Bound b, bool on) {
        if (on)
            bits |= static_cast<std::uint16_t>(1u << b);
    };
    set(BoundDefault, scope);
    set(BoundListItem, scope || is(o, GUMBO_TAG_OL) || is(o, GUMBO_TAG_UL));
    set(BoundButton, scope || is(o, GUMBO_TAG_BUTTON));
    set(BoundTable, is(o, GUMBO_TAG_HTML) || is(o, GUMBO_TAG_TABLE) || is(o, GUMBO_TAG_TEMPLATE));
    set(BoundSelect, !is(o, GUMBO_TAG_OPTGROUP) && !is(o, GUMBO_TAG_OPTION));
    set(BoundRoot, is(o, GUMBO_TAG_HTML));
    set(BoundSpecial, isSpecial);
    set(BoundListWalk,
        isSpecial && !is(o, GUMBO_TAG_ADDRESS) && !is(o, GUMBO_TAG_DIV) && !is(o, GUMBO_TAG_P));
    set(BoundHtml, o.ns == GUMBO_NAMESPACE_HTML);
    // gumbo picks the mode on the tag alone, whatever the namespace.
    switch (o.tag) {
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_HTML:
        set(BoundMode, true);
        break;
    default:
        break;
    }
    return bits;
}

void Estimator::push(Open o)
{
    const auto i = static_cast<std::int32_t>(m_stack.size());
    const std::uint16_t bits = boundsOf(o);
    for (int b = 0; b < BoundCount; ++b)
        o.below[b] = (bits & (1u << b)) ? i : (i > 0 ? m_stack.back().below[b] : -1);
    if (o.ns == GUMBO_NAMESPACE_HTML) {
        o.prev = m_lastHtml[o.tag];
        m_lastHtml[o.tag] = i;
    } else {
        auto [slot, fresh] = m_lastForeign.try_emplace(o.name, i);
        o.prev = fresh ? -1 : slot->second;
        slot->second = i;
    }
    if (m_listedRun == m_stack.size() && in(o, kOpenAtBodyEnd))
        ++m_listedRun;
    m_stack.push_back(o);
    m_deepest = std::max(m_deepest, m_stack.size());
}

long Estimator::walk(long found, Bound bound, int tagSets)
{
    if (m_stack.empty())
        return -1;
    const long stop = current().below[bound];
    const bool hit = found >= 0 && found >= stop;
    const long last = hit ? found : std::max<long>(stop, 0);
    charge(tagStep(tagSets) * static_cast<double>(top() - last + 1), ShareDepth);
    return hit ? found : -1;
}

long Estimator::inScope(GumboTag tag, Scope scope)
{
    switch (scope) {
    case Scope::Default:
        return walk(lastOpen(tag), BoundDefault);
    case Scope::ListItem:
        return walk(lastOpen(tag), BoundListItem);
    case Scope::Button:
        return walk(lastOpen(tag), BoundButton);
    case Scope::Table:
        return walk(lastOpen(tag), BoundTable);
    case Scope::Select:
        return walk(lastOpen(tag), BoundSelect);
    case Scope::Anywhere:
        return walk(lastOpen(tag), BoundRoot);
    }
    return -1;
}

long Estimator::inScope(const TagSet &tags)
{
    long found = -1;
    for (int tag = 0; tag <= GUMBO_TAG_LAST; ++tag)
        if (tags[tag])
            found = std::max<long>(found, m_lastHtml[tag]);
    return walk(found, BoundDefault);
}

void Estimator::insert(GumboTag tag, std::uint8_t ns, std::uint64_t name, bool htmlPoint,
                       Share deep)
{
    charge(kPerElement, ShareSize);
    if (m_stack.size() >= kDepthCap)
        charge(kPerDeepElement, deep);
    // Foster parenting looks for the table from the bottom of the stack.
    if (m_foster && currentIn(kFosterTarget))
        charge(walkStep() * static_cast<double>(m_stack.size()), ShareDepth);
    Open o{};
    o.name = name;
    o.id = ++m_ids;
    o.tag = static_cast<std::uint16_t>(tag);
    o.ns = ns;
    o.htmlPoint = htmlPoint;
    push(o);
}

void Estimator::insertForeign(const Token &t, std::uint8_t ns)
{
    const double attrs = t.attrs;
    charge(kScanStep * kAttributeLookups * attrs, ShareAttributes);
    const bool point = ns == GUMBO_NAMESPACE_SVG
                           ? (t.tag == GUMBO_TAG_FOREIGNOBJECT || t.tag == GUMBO_TAG_DESC ||
                              t.tag == GUMBO_TAG_TITLE)
                           : (t.tag == GUMBO_TAG_ANNOTATION_XML && t.htmlEncoding);
    insert(t.tag, ns, t.name, point);
}

void Estimator::pop()
{
    if (m_stack.empty())
        return;
    const Open &o = m_stack.back();
    if (o.ns == GUMBO_NAMESPACE_HTML) {
        m_lastHtml[o.tag] = o.prev;
    } else if (o.prev < 0) {
        m_lastForeign.erase(o.name);
    } else {
        m_lastForeign[o.name] = o.prev;
    }
    m_stack.pop_back();
    m_listedRun = std::min(m_listedRun, m_stack.size());
}

void Estimator::popUntil(std::size_t size)
{
    while (m_stack.size() > size)
        pop();
}

void Estimator::popThrough(GumboTag tag)
{
    while (!m_stack.empty()) {
        const bool found = is(current(), tag);
        pop();
        if (found)
            return;
    }
}

// gumbo moves the pointers above in one go; we take those elements off and put them back,
// so that what each knows of the elements below stays true.
constexpr double kRestack = 5;

void Estimator::eraseAt(std::size_t i)
{
    charge(kRestack * static_cast<double>(m_stack.size() - i), ShareDepth);
    charge(kScanStep * static_cast<double>(m_afe.size()), ShareFormatting);
    m_moved.clear();
    while (m_stack.size() > i + 1) {
        m_moved.push_back(m_stack.back());
        pop();
    }
    pop();
    for (Active &a : m_afe)
        if (a.id != 0 && a.pos > i)
            --a.pos;
    for (auto it = m_moved.rbegin(); it != m_moved.rend(); ++it)
        push(*it);
}

void Estimator::insertAt(std::size_t i, const Open &o)
{
    charge(kRestack * static_cast<double>(m_stack.size() - i), ShareDepth);
    charge(kScanStep * static_cast<double>(m_afe.size()), ShareFormatting);
    for (Active &a : m_afe)
        if (a.id != 0 && a.pos >= i && isOpen(a))
            ++a.pos;
    m_moved.clear();
    while (m_stack.size() > i) {
        m_moved.push_back(m_stack.back());
        pop();
    }
    push(o);
    for (auto it = m_moved.rbegin(); it != m_moved.rend(); ++it)
        push(*it);
}

void Estimator::generateImpliedEndTags(GumboTag except)
{
    while (currentIn(kImpliedEnd) && !currentIs(except))
        pop();
}

void Estimator::closeElement(GumboTag tag)
{
    generateImpliedEndTags(tag);
    popThrough(tag);
}

void Estimator::closeP()
{
    if (inScope(GUMBO_TAG_P, Scope::Button) >= 0)
        closeElement(GUMBO_TAG_P);
}

void Estimator::closeListItem(bool li)
{
    const long item =
        li ? lastOpen(GUMBO_TAG_LI) : std::max(lastOpen(GUMBO_TAG_DD), lastOpen(GUMBO_TAG_DT));
    const long found = walk(item, BoundListWalk, 2);
    if (found >= 0)
        closeElement(static_cast<GumboTag>(m_stack[static_cast<std::size_t>(found)].tag));
}

void Estimator::clearStackBackTo(const TagSet &stopAt)
{
    while (!m_stack.empty() && !currentIn(stopAt))
        pop();
}

bool Estimator::closeTable()
{
    if (inScope(GUMBO_TAG_TABLE, Scope::Table) < 0)
        return false;
    popThrough(GUMBO_TAG_TABLE);
    resetMode();
    return true;
}

void Estimator::closeCell(GumboTag tag)
{
    generateImpliedEndTags();
    popThrough(tag);
    clearToMarker();
    m_mode = InRow;
}

void Estimator::closeSelect()
{
    // gumbo picks the select modes for a foreign "select" too, and some of their tokens close
    // the select unchecked: with no HTML one open it pops the whole stack and then fails an
    // assertion on the missing current node.
    if (lastOpen(GUMBO_TAG_SELECT) < 0)
        m_aborts = true;
    popThrough(GUMBO_TAG_SELECT);
    resetMode();
}

void Estimator::resetMode()
{
    // Down the stack to the first element that decides the mode.
    for (long i = top(); i >= 0 && !over();) {
        const long at = m_stack[static_cast<std::size_t>(i)].below[BoundMode];
        if (at < 0)
            break;
        charge(walkStep() * static_cast<double>(i - at + 1), ShareDepth);
        const bool last = at == 0;
        const Open &o = m_stack[static_cast<std::size_t>(at)];
        switch (o.tag) {
        case GUMBO_TAG_SELECT: {
            const long table = o.below[BoundTable];
            charge(walkStep() * static_cast<double>(at - std::max<long>(table, 1) + 1), ShareDepth);
            const bool inTable =
                !last && table > 0 && is(m_stack[static_cast<std::size_t>(table)], GUMBO_TAG_TABLE);
            m_mode = inTable ? InSelectInTable : InSelect;
            return;
        }
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            if (!last) {
                m_mode = InCell;
                return;
            }
            break;
        case GUMBO_TAG_TR:
            m_mode = InRow;
            return;
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TFOOT:
            m_mode = InTableBody;
            return;
        case GUMBO_TAG_CAPTION:
            m_mode = InCaption;
            return;
        case GUMBO_TAG_COLGROUP:
            m_mode = InColumnGroup;
            return;
        case GUMBO_TAG_TABLE:
            m_mode = InTable;
            return;
        case GUMBO_TAG_TEMPLATE:
            if (!m_templateModes.empty()) {
                m_mode = m_templateModes.back();
                return;
            }
            break;
        case GUMBO_TAG_HEAD:
            if (!last) {
                m_mode = InHead;
                return;
            }
            break;
        case GUMBO_TAG_BODY:
            m_mode = InBody;
            return;
        case GUMBO_TAG_FRAMESET:
            m_mode = InFrameset;
            return;
        case GUMBO_TAG_HTML:
            m_mode = m_head ? AfterHead : BeforeHead;
            return;
        default:
            break;
        }
        i = at - 1;
    }
    m_mode = InBody;
}

// --- the list of active formatting elements ---------------------------------------------

void Estimator::reconstruct()
{
    if (m_afe.empty() || m_afe.back().id == 0)
        return;
    charge(openScan(m_afe.back()), ShareFormatting);
    if (isOpen(m_afe.back()))
        return;
    std::size_t first = m_afe.size() - 1;
    while (first > 0 && !over()) {
        const Active &before = m_afe[first - 1];
        if (before.id == 0)
            break;
        charge(openScan(before), ShareFormatting);
        if (isOpen(before))
            break;
        --first;
    }
    for (std::size_t i = first; i < m_afe.size() && !over(); ++i) {
        Active &a = m_afe[i];
        charge(kClone + kCloneAttribute * a.attrs, ShareFormatting);
        insert(static_cast<GumboTag>(a.tag), GUMBO_NAMESPACE_HTML, 0, false, ShareFormatting);
        a.id = current().id;
        a.pos = static_cast<std::uint32_t>(m_stack.size() - 1);
    }
}

void Estimator::addFormatting(const Token &t)
{
    // Noah's Ark: a fourth element with the same tag and attributes pushes out the first.
    int same = 0;
    long earliest = -1;
    for (long i = static_cast<long>(m_afe.size()) - 1; i >= 0 && !over(); --i) {
        const Active &a = m_afe[static_cast<std::size_t>(i)];
        if (a.id == 0)
            break;
        charge(walkStep(), ShareFormatting);
        if (a.tag != t.tag)
            continue;
        charge(kAttributePair * static_cast<double>(a.attrs) * t.attrs, ShareFormatting);
        if (a.key == t.key && a.attrs == t.attrs) {
            ++same;
            earliest = i;
        }
    }
    if (same >= 3)
        eraseActive(static_cast<std::size_t>(earliest));
    m_afe.push_back({t.key, current().id, static_cast<std::uint32_t>(m_stack.size() - 1), t.attrs,
                     static_cast<std::uint16_t>(t.tag)});
}

void Estimator::clearToMarker()
{
    while (!m_afe.empty()) {
        const bool marker = m_afe.back().id == 0;
        m_afe.pop_back();
        if (marker)
            return;
    }
}

void Estimator::eraseActive(std::size_t i)
{
    charge(kScanStep * static_cast<double>(m_afe.size()), ShareFormatting);
    m_afe.erase(m_afe.begin() + static_cast<long>(i));
}

long Estimator::activeIndexOf(std::uint32_t id)
{
    charge(kScanStep * static_cast<double>(m_afe.size()), ShareFormatting);
    for (std::size_t i = 0; i < m_afe.size(); ++i)
        if (m_afe[i].id == id)
            return static_cast<long>(i);
    return -1;
}

// gumbo's adoption agency: at most eight rounds, each reparenting the furthest block and
// cloning the formatting elements between; every lookup is a linear search of a list.
void Estimator::adoptionAgency(GumboTag subject)
{
    if (m_stack.empty())
        return;
    if (is(current(), subject) && activeIndexOf(current().id) < 0) {
        pop();
        return;
    }
    for (int round = 0; round < 8 && !over(); ++round) {
        long fi = -1;
        for (long j = static_cast<long>(m_afe.size()) - 1; j >= 0; --j) {
            charge(walkStep(), ShareFormatting);
            const Active &a = m_afe[static_cast<std::size_t>(j)];
            if (a.id == 0)
                return;
            if (a.tag == subject) {
                fi = j;
                break;
            }
        }
        if (fi < 0)
            return;
        const Active formatting = m_afe[static_cast<std::size_t>(fi)];
        charge(openScan(formatting), ShareDepth);
        if (!isOpen(formatting)) {
            eraseActive(static_cast<std::size_t>(fi));
            return;
        }
        if (inScope(subject, Scope::Default) < 0)
            return;
        const std::size_t fpos = formatting.pos;
        std::size_t fb = fpos;
        for (; fb < m_stack.size(); ++fb) {
            charge(tagStep(), ShareDepth);
            if (special(m_stack[fb]))
                break;
        }
        if (fb >= m_stack.size()) {
            popUntil(fpos);
            eraseActive(static_cast<std::size_t>(activeIndexOf(formatting.id)));
            return;
        }
        if (fpos == 0)
            return;
        const Open common = m_stack[fpos - 1];
        charge(kScanStep * static_cast<double>(fpos + 1), ShareDepth);
        long bookmark = activeIndexOf(formatting.id) + 1;
        const std::uint32_t furthest = m_stack[fb].id;
        std::uint32_t last = furthest;
        bool removed = false; // the last node looked at left the stack
        std::size_t idx = fb;
        charge(kScanStep * static_cast<double>(fb + 1), ShareDepth);
        for (int j = 1; !over(); ++j) {
            charge(kScanStep * static_cast<double>(removed ? m_stack.size() : idx + 1), ShareDepth);
            --idx;
            if (idx == fpos)
                break;
            Open &node = m_stack[idx];
            const long ai = activeIndexOf(node.id);
            if (j > 3 && ai >= 0) {
                eraseActive(static_cast<std::size_t>(ai));
                if (ai < bookmark)
                    --bookmark;
                removed = false;
                continue;
            }
            if (ai < 0) {
                eraseAt(idx);
                --fb;
                removed = true;
                continue;
            }
            Active &a = m_afe[static_cast<std::size_t>(ai)];
            charge(kClone + kCloneAttribute * a.attrs + kPerElement, ShareFormatting);
            node.id = ++m_ids;
            a.id = node.id;
            a.pos = static_cast<std::uint32_t>(idx);
            if (last == furthest)
                bookmark = ai + 1;
            last = node.id;
            removed = false;
        }
        if (m_foster && in(common, kFosterTarget))
            charge(walkStep() * static_cast<double>(m_stack.size()), ShareDepth);
        charge(kClone + kCloneAttribute * formatting.attrs + kPerElement, ShareFormatting);
        const std::uint32_t clone = ++m_ids;
        if (const long at = activeIndexOf(formatting.id); at >= 0) {
            if (at < bookmark)
                --bookmark;
            eraseActive(static_cast<std::size_t>(at));
        }
        bookmark = std::clamp<long>(bookmark, 0, static_cast<long>(m_afe.size()));
        // The formatting element leaves the stack; its clone goes just above the furthest
        // block, each found by a search from the bottom.
        charge(kScanStep * static_cast<double>(m_stack.size()), ShareDepth);
        eraseAt(fpos);
        --fb;
        Open copy{};
        copy.id = clone;
        copy.tag = formatting.tag;
        copy.ns = GUMBO_NAMESPACE_HTML;
        insertAt(fb + 1, copy);
        m_afe.insert(m_afe.begin() + bookmark,
                     {formatting.key, clone, static_cast<std::uint32_t>(fb + 1), formatting.attrs,
                      formatting.tag});
    }
}

} // namespace

double Estimate::costOf(std::size_t length) const
{
    const auto after = std::lower_bound(
        marks.begin(), marks.end(), length,
        [](const std::pair<std::size_t, double> &mark, std::size_t at) { return mark.first < at; });
    return after == marks.end() ? cost : after->second;
}

Estimate estimate(std::string_view text, double budget)
{
    return Estimator(text, budget).run();
}

} // namespace parsecost
