#include "urlresolver.h"

#include "document/textencoding.h"
#include "document/urlhost.h"

#include <algorithm>

// The URL Standard's basic URL parser. QUrl resolves by RFC 3986, which differs from what
// browsers report for backslashes, tabs and newlines, query encoding in the page's
// encoding and "%2e" dot segments; hosts are parsed in urlhost.cpp.

namespace {

using textencoding::appendUtf8;

bool isAsciiAlpha(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}
char32_t asciiLower(char32_t c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

enum class EncodeSet
{
    C0Control,
    Fragment,
    Query,
    SpecialQuery,
    Path,
    Userinfo
};

bool inEncodeSet(char32_t c, EncodeSet set)
{
    if (c < 0x20 || c > 0x7E)
        return true;
    if (set == EncodeSet::C0Control)
        return false;
    if (set == EncodeSet::Fragment)
        return c == ' ' || c == '"' || c == '<' || c == '>' || c == '`';
    const bool query = c == ' ' || c == '"' || c == '#' || c == '<' || c == '>';
    if (set == EncodeSet::Query)
        return query;
    if (set == EncodeSet::SpecialQuery)
        return query || c == '\'';
    const bool path = query || c == '?' || c == '^' || c == '`' || c == '{' || c == '}';
    if (set == EncodeSet::Path)
        return path;
    return path || c == '/' || c == ':' || c == ';' || c == '=' || c == '@' ||
           (c >= '[' && c <= ']') || c == '|';
}

void appendPercentByte(std::string &out, unsigned char b)
{
    static const char hex[] = "0123456789ABCDEF";
    out += '%';
    out += hex[b >> 4];
    out += hex[b & 15];
}

void appendEncoded(std::string &out, char32_t c, EncodeSet set)
{
    if (!inEncodeSet(c, set)) {
        out += static_cast<char>(c);
        return;
    }
    std::string utf8;
    appendUtf8(utf8, c);
    for (unsigned char b : utf8)
        appendPercentByte(out, b);
}

int defaultPort(std::string_view scheme)
{
    if (scheme == "http" || scheme == "ws")
        return 80;
    if (scheme == "https" || scheme == "wss")
        return 443;
    if (scheme == "ftp")
        return 21;
    return -1;
}

bool isSpecialScheme(std::string_view s)
{
    return s == "http" || s == "https" || s == "ws" || s == "wss" || s == "ftp" || s == "file";
}

bool isWindowsDriveLetter(std::u32string_view s, bool normalizedOnly = false)
{
    return s.size() == 2 && isAsciiAlpha(s[0]) && (s[1] == ':' || (!normalizedOnly && s[1] == '|'));
}

bool startsWithWindowsDriveLetter(std::u32string_view s, std::size_t at)
{
    if (s.size() - at < 2 || !isWindowsDriveLetter(s.substr(at, 2)))
        return false;
    if (s.size() - at == 2)
        return true;
    const char32_t c = s[at + 2];
    return c == '/' || c == '\\' || c == '?' || c == '#';
}

bool isSingleDot(std::string_view s)
{
    return s == "." || s == "%2e" || s == "%2E";
}
bool isDoubleDot(std::string_view s)
{
    if (s.size() < 2 || s.size() > 6)
        return false;
    std::string lower;
    for (char c : s)
        lower += static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return lower == ".." || lower == ".%2e" || lower == "%2e." || lower == "%2e%2e";
}

void shortenPath(UrlRecord &url)
{
    if (url.scheme == "file" && url.path.size() == 1) {
        const std::string &p = url.path[0];
        if (p.size() == 2 && isAsciiAlpha(static_cast<unsigned char>(p[0])) && p[1] == ':')
            return;
    }
    if (!url.path.empty())
        url.path.pop_back();
}

void appendQueryText(std::string &out, std::u32string_view text, std::string_view encoding,
                     bool special)
{
    const std::string bytes = textencoding::encodeForUrl(text, encoding);
    const EncodeSet set = special ? EncodeSet::SpecialQuery : EncodeSet::Query;
    for (unsigned char b : bytes) {
        if (inEncodeSet(b, set))
            appendPercentByte(out, b);
        else
            out += static_cast<char>(b);
    }
}

enum class State
{
    SchemeStart,
    Scheme,
    NoScheme,
    SpecialRelativeOrAuthority,
    PathOrAuthority,
    Relative,
    RelativeSlash,
    SpecialAuthoritySlashes,
    SpecialAuthorityIgnoreSlashes,
    Authority,
    Host,
    Port,
    File,
    FileSlash,
    FileHost,
    PathStart,
    Path,
    OpaquePath,
    Query,
    Fragment,
    Failure // the standard's "return failure"
};

// The parts of the base URL that a relative address takes over, as the standard names them.
enum BasePart : unsigned
{
    BaseUserinfo = 1, // username and password
    BaseHost = 2,
    BasePort = 4,
    BasePath = 8,
    BaseQuery = 16,
    BaseAuthority = BaseUserinfo | BaseHost | BasePort
};

class Parser
{
public:
    Parser(std::u32string input, const UrlRecord *base, std::string_view encoding)
        : m_in(std::move(input)), m_base(base), m_encoding(textencoding::outputEncoding(encoding))
    {
    }

    std::optional<UrlRecord> run();

private:
    char32_t at(std::ptrdiff_t i) const
    {
        return i >= 0 && i < size() ? m_in[static_cast<std::size_t>(i)] : char32_t(-1);
    }
    std::ptrdiff_t size() const { return static_cast<std::ptrdiff_t>(m_in.size()); }
    bool eof() const { return m_p >= size(); }
    char32_t c() const { return at(m_p); }
    bool special() const { return isSpecialScheme(m_url.scheme); }
    // The characters that end an authority, a host or a port.
    bool endsHost(char32_t ch, bool end) const
    {
        return end || ch == '/' || ch == '?' || ch == '#' || (special() && ch == '\\');
    }

    void copyBase(unsigned parts);
    // "Set url's query to the empty string and state to query state", and the same for the
    // fragment.
    State beginQuery();
    State beginFragment();
    // Parses the buffer as the host; false on failure.
    bool takeHost(bool opaque);

    State relativeState(char32_t ch, bool end);
    State authorityState(char32_t ch, bool end);
    State hostState(char32_t ch, bool end);
    State portState(char32_t ch, bool end);
    State fileState(char32_t ch, bool end);
    State fileSlashState(char32_t ch);
    State fileHostState(char32_t ch, bool end);
    State pathState(char32_t ch, bool end);

    std::u32string m_in;
    const UrlRecord *m_base;
    std::string_view m_encoding;
    UrlRecord m_url;
    std::ptrdiff_t m_p = 0;
    std::u32string m_buffer;
    bool m_atSignSeen = false;
    bool m_insideBrackets = false;
    bool m_passwordTokenSeen = false;
};

void Parser::copyBase(unsigned parts)
{
    if (parts & BaseUserinfo) {
        m_url.username = m_base->username;
        m_url.password = m_base->password;
    }
    if (parts & BaseHost)
        m_url.host = m_base->host;
    if (parts & BasePort)
        m_url.port = m_base->port;
    if (parts & BasePath) {
        m_url.path = m_base->path;
        m_url.opaquePath = m_base->opaquePath;
        m_url.opaquePathText = m_base->opaquePathText;
    }
    if (parts & BaseQuery)
        m_url.query = m_base->query;
}

State Parser::beginQuery()
{
    m_url.query = std::string();
    return State::Query;
}

State Parser::beginFragment()
{
    m_url.fragment = std::string();
    return State::Fragment;
}

bool Parser::takeHost(bool opaque)
{
    auto host = urlhost::parseHost(m_buffer, opaque);
    if (!host)
        return false;
    m_url.host = *host;
    m_buffer.clear();
    return true;
}

State Parser::relativeState(char32_t ch, bool end)
{
    m_url.scheme = m_base->scheme;
    if (ch == '/' || (special() && ch == '\\'))
        return State::RelativeSlash;
    copyBase(BaseAuthority | BasePath | BaseQuery);
    if (!end && ch == '?')
        return beginQuery();
    if (!end && ch == '#')
        return beginFragment();
    if (!end) {
        m_url.query.reset();
        shortenPath(m_url);
        --m_p;
        return State::Path;
    }
    return State::Relative;
}

State Parser::authorityState(char32_t ch, bool end)
{
    if (!end && ch == '@') {
        if (m_atSignSeen)
            m_buffer.insert(0, U"%40");
        m_atSignSeen = true;
        for (char32_t b : m_buffer) {
            if (b == ':' && !m_passwordTokenSeen) {
                m_passwordTokenSeen = true;
                continue;
            }
            appendEncoded(m_passwordTokenSeen ? m_url.password : m_url.username, b,
                          EncodeSet::Userinfo);
        }
        m_buffer.clear();
    } else if (endsHost(ch, end)) {
        if (m_atSignSeen && m_buffer.empty())
            return State::Failure;
        m_p -= static_cast<std::ptrdiff_t>(m_buffer.size()) + 1;
        m_buffer.clear();
        return State::Host;
    } else {
        m_buffer += ch;
    }
    return State::Authority;
}

State Parser::hostState(char32_t ch, bool end)
{
    if (!end && ch == ':' && !m_insideBrackets) {
        if (m_buffer.empty() || !takeHost(!special()))
            return State::Failure;
        return State::Port;
    }
    if (endsHost(ch, end)) {
        --m_p;
        if ((special() && m_buffer.empty()) || !takeHost(!special()))
            return State::Failure;
        return State::PathStart;
    }
    if (ch == '[')
        m_insideBrackets = true;
    if (ch == ']')
        m_insideBrackets = false;
    m_buffer += ch;
    return State::Host;
}

State Parser::portState(char32_t ch, bool end)
{
    if (!end && isAsciiDigit(ch)) {
        m_buffer += ch;
        return State::Port;
    }
    if (!endsHost(ch, end))
        return State::Failure;
    if (!m_buffer.empty()) {
        long port = 0;
        for (char32_t d : m_buffer) {
            port = port * 10 + static_cast<long>(d - '0');
            if (port > 65535)
                return State::Failure;
        }
        if (port == defaultPort(m_url.scheme))
            m_url.port.reset();
        else
            m_url.port = static_cast<int>(port);
        m_buffer.clear();
    }
    --m_p;
    return State::PathStart;
}

State Parser::fileState(char32_t ch, bool end)
{
    m_url.scheme = "file";
    m_url.host = std::string();
    if (ch == '/' || ch == '\\')
        return State::FileSlash;
    if (!m_base || m_base->scheme != "file") {
        --m_p;
        return State::Path;
    }
    copyBase(BaseHost | BasePath | BaseQuery);
    if (!end && ch == '?')
        return beginQuery();
    if (!end && ch == '#')
        return beginFragment();
    if (!end) {
        m_url.query.reset();
        if (!startsWithWindowsDriveLetter(m_in, static_cast<std::size_t>(m_p)))
            shortenPath(m_url);
        else
            m_url.path.clear();
        --m_p;
        return State::Path;
    }
    return State::File;
}

State Parser::fileSlashState(char32_t ch)
{
    if (ch == '/' || ch == '\\')
        return State::FileHost;
    if (m_base && m_base->scheme == "file") {
        copyBase(BaseHost);
        if (!startsWithWindowsDriveLetter(m_in, static_cast<std::size_t>(m_p)) &&
            !m_base->path.empty()) {
            const std::string &first = m_base->path[0];
            if (first.size() == 2 && isAsciiAlpha(static_cast<unsigned char>(first[0])) &&
                first[1] == ':')
                m_url.path.push_back(first);
        }
    }
    --m_p;
    return State::Path;
}

State Parser::fileHostState(char32_t ch, bool end)
{
    if (!end && ch != '/' && ch != '\\' && ch != '?' && ch != '#') {
        m_buffer += ch;
        return State::FileHost;
    }
    --m_p;
    if (isWindowsDriveLetter(m_buffer))
        return State::Path;
    if (m_buffer.empty()) {
        m_url.host = std::string();
        return State::PathStart;
    }
    if (!takeHost(false))
        return State::Failure;
    if (*m_url.host == "localhost")
        m_url.host = std::string();
    return State::PathStart;
}

State Parser::pathState(char32_t ch, bool end)
{
    if (!end && ch != '/' && !(special() && ch == '\\') && ch != '?' && ch != '#') {
        std::string encoded;
        appendEncoded(encoded, ch, EncodeSet::Path);
        for (char b : encoded)
            m_buffer += static_cast<unsigned char>(b);
        return State::Path;
    }
    std::string segment;
    for (char32_t b : m_buffer)
        segment += static_cast<char>(b); // already percent-encoded ASCII
    const bool slash = ch == '/' || (special() && ch == '\\');
    if (isDoubleDot(segment)) {
        shortenPath(m_url);
        if (!slash || end)
            m_url.path.emplace_back();
    } else if (isSingleDot(segment) && (!slash || end)) {
        m_url.path.emplace_back();
    } else if (!isSingleDot(segment)) {
        if (m_url.scheme == "file" && m_url.path.empty() && isWindowsDriveLetter(m_buffer))
            segment[1] = ':';
        m_url.path.push_back(segment);
    }
    m_buffer.clear();
    if (!end && ch == '?')
        return beginQuery();
    if (!end && ch == '#')
        return beginFragment();
    return State::Path;
}

std::optional<UrlRecord> Parser::run()
{
    State state = State::SchemeStart;
    for (;; ++m_p) {
        const char32_t ch = c();
        const bool end = eof();
        switch (state) {
        case State::SchemeStart:
            if (!end && isAsciiAlpha(ch)) {
                m_buffer += asciiLower(ch);
                state = State::Scheme;
            } else {
                state = State::NoScheme;
                --m_p;
            }
            break;
        case State::Scheme:
            if (!end &&
                (isAsciiAlpha(ch) || isAsciiDigit(ch) || ch == '+' || ch == '-' || ch == '.')) {
                m_buffer += asciiLower(ch);
            } else if (!end && ch == ':') {
                m_url.scheme.clear();
                for (char32_t b : m_buffer)
                    m_url.scheme += static_cast<char>(b);
                m_buffer.clear();
                if (m_url.scheme == "file") {
                    state = State::File;
                } else if (special() && m_base && m_base->scheme == m_url.scheme) {
                    state = State::SpecialRelativeOrAuthority;
                } else if (special()) {
                    state = State::SpecialAuthoritySlashes;
                } else if (at(m_p + 1) == '/') {
                    state = State::PathOrAuthority;
                    ++m_p;
                } else {
                    m_url.opaquePath = true;
                    state = State::OpaquePath;
                }
            } else {
                m_buffer.clear();
                state = State::NoScheme;
                m_p = -1; // start over from the first code point
            }
            break;
        case State::NoScheme:
            if (!m_base || (m_base->opaquePath && ch != '#'))
                return std::nullopt;
            if (m_base->opaquePath && ch == '#') {
                m_url.scheme = m_base->scheme;
                copyBase(BasePath | BaseQuery);
                state = beginFragment();
            } else if (m_base->scheme != "file") {
                state = State::Relative;
                --m_p;
            } else {
                state = State::File;
                --m_p;
            }
            break;
        case State::SpecialRelativeOrAuthority:
            if (ch == '/' && at(m_p + 1) == '/') {
                state = State::SpecialAuthorityIgnoreSlashes;
                ++m_p;
            } else {
                state = State::Relative;
                --m_p;
            }
            break;
        case State::PathOrAuthority:
            if (ch == '/') {
                state = State::Authority;
            } else {
                state = State::Path;
                --m_p;
            }
            break;
        case State::Relative:
            state = relativeState(ch, end);
            break;
        case State::RelativeSlash:
            if (special() && (ch == '/' || ch == '\\')) {
                state = State::SpecialAuthorityIgnoreSlashes;
            } else if (ch == '/') {
                state = State::Authority;
            } else {
                copyBase(BaseAuthority);
                state = State::Path;
                --m_p;
            }
            break;
        case State::SpecialAuthoritySlashes:
            state = State::SpecialAuthorityIgnoreSlashes;
            if (ch == '/' && at(m_p + 1) == '/')
                ++m_p;
            else
                --m_p;
            break;
        case State::SpecialAuthorityIgnoreSlashes:
            if (ch != '/' && ch != '\\') {
                state = State::Authority;
                --m_p;
            }
            break;
        case State::Authority:
            state = authorityState(ch, end);
            break;
        case State::Host:
            state = hostState(ch, end);
            break;
        case State::Port:
            state = portState(ch, end);
            break;
        case State::File:
            state = fileState(ch, end);
            break;
        case State::FileSlash:
            state = fileSlashState(ch);
            break;
        case State::FileHost:
            state = fileHostState(ch, end);
            break;
        case State::PathStart:
            if (special()) {
                state = State::Path;
                if (ch != '/' && ch != '\\')
                    --m_p;
            } else if (!end && ch == '?') {
                state = beginQuery();
            } else if (!end && ch == '#') {
                state = beginFragment();
            } else if (!end) {
                state = State::Path;
                if (ch != '/')
                    --m_p;
            }
            break;
        case State::Path:
            state = pathState(ch, end);
            break;
        case State::OpaquePath:
            if (!end && ch == '?')
                state = beginQuery();
            else if (!end && ch == '#')
                state = beginFragment();
            else if (!end)
                appendEncoded(m_url.opaquePathText, ch, EncodeSet::C0Control);
            break;
        case State::Query:
            if (end || ch == '#') {
                // Only http(s), ftp and file queries follow the page's encoding.
                const bool pageEncoding =
                    special() && m_url.scheme != "ws" && m_url.scheme != "wss";
                appendQueryText(*m_url.query, m_buffer, pageEncoding ? m_encoding : "UTF-8",
                                special());
                m_buffer.clear();
                if (!end)
                    state = beginFragment();
            } else {
                m_buffer += ch;
            }
            break;
        case State::Fragment:
            if (!end)
                appendEncoded(*m_url.fragment, ch, EncodeSet::Fragment);
            break;
        case State::Failure:
            break;
        }
        if (state == State::Failure)
            return std::nullopt;
        if (m_p >= size())
            break;
    }
    return m_url;
}

} // namespace

bool UrlRecord::isSpecial() const
{
    return isSpecialScheme(scheme);
}

std::string UrlRecord::serialize(bool excludeFragment) const
{
    std::string out = scheme + ':';
    if (host) {
        out += "//";
        if (!username.empty() || !password.empty()) {
            out += username;
            if (!password.empty())
                out += ':' + password;
            out += '@';
        }
        out += *host;
        if (port)
            out += ':' + std::to_string(*port);
    }
    if (opaquePath) {
        out += opaquePathText;
    } else {
        if (!host && path.size() > 1 && path[0].empty())
            out += "/.";
        for (const std::string &segment : path)
            out += '/' + segment;
    }
    if (query)
        out += '?' + *query;
    if (!excludeFragment && fragment)
        out += '#' + *fragment;
    return out;
}

std::optional<UrlRecord> parseUrl(std::string_view input, const UrlRecord *base,
                                  std::string_view queryEncoding)
{
    std::u32string text = textencoding::utf8ToUtf32(input);
    // Leading and trailing C0 controls and spaces go; tabs and newlines go everywhere.
    std::size_t first = 0, last = text.size();
    while (first < last && text[first] <= 0x20)
        ++first;
    while (last > first && text[last - 1] <= 0x20)
        --last;
    std::u32string cleaned;
    cleaned.reserve(last - first);
    for (std::size_t i = first; i < last; ++i)
        if (text[i] != '\t' && text[i] != '\n' && text[i] != '\r')
            cleaned += text[i];
    return Parser(std::move(cleaned), base, queryEncoding).run();
}

std::optional<std::string> resolveUrl(std::string_view input, std::string_view base,
                                      std::string_view queryEncoding)
{
    const auto baseRecord = parseUrl(base);
    if (!baseRecord)
        return std::nullopt;
    const auto url = parseUrl(input, &*baseRecord, queryEncoding);
    if (!url)
        return std::nullopt;
    return url->serialize();
}
