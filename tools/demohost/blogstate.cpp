#include "blogstate.h"

#include <algorithm>
#include <cstdio>

std::optional<ItemKind> parseItemKind(const std::string &text)
{
    if (text == "comment" || text == "comments" || text == "0")
        return ItemKind::Comment;
    if (text == "trackback" || text == "trackbacks" || text == "1")
        return ItemKind::Trackback;
    if (text == "guestbook" || text == "2")
        return ItemKind::Guestbook;
    return std::nullopt;
}

std::optional<FaultKind> parseFaultKind(const std::string &text)
{
    static const std::pair<const char *, FaultKind> names[] = {
        {"delay", FaultKind::Delay},
        {"status", FaultKind::Status},
        {"close", FaultKind::Close},
        {"endless", FaultKind::Endless},
        {"trickle", FaultKind::Trickle},
        {"oversize", FaultKind::Oversize},
        {"redirectloop", FaultKind::RedirectLoop},
        {"euckr", FaultKind::EucKr},
        {"garbage", FaultKind::Garbage},
        {"truncated", FaultKind::Truncated},
        {"nocounter", FaultKind::NoCounter},
        {"nonew", FaultKind::NoNew},
        {"gzipbomb", FaultKind::GzipBomb},
        {"hugeheader", FaultKind::HugeHeader},
        {"manyheaders", FaultKind::ManyHeaders},
        {"deflate", FaultKind::Deflate},
        {"gzipmembers", FaultKind::GzipMembers},
        {"nest", FaultKind::Nest},
        {"loginredirect", FaultKind::LoginRedirect},
        {"loginstatus", FaultKind::LoginStatus},
    };
    for (const auto &[name, kind] : names) {
        if (text == name)
            return kind;
    }
    return std::nullopt;
}

static size_t kindIndex(ItemKind kind)
{
    return static_cast<size_t>(kind);
}

BlogState::BlogState(std::string user, std::string password)
    : m_user(std::move(user)), m_password(std::move(password)), m_random(std::random_device{}())
{
    // A blog that has seen some life already, oldest first so the newest ends on top.
    addItem(ItemKind::Comment, "잘 읽고 갑니다. 좋은 글 감사해요!", {});
    addItem(ItemKind::Comment, "사진이 정말 멋지네요. 어디서 찍으셨어요?", {});
    addItem(ItemKind::Comment, "저도 같은 문제로 고생했는데 덕분에 해결했습니다.", {});
    addItem(ItemKind::Trackback, "주말 나들이 후기 - 바람 부는 언덕", {});
    addItem(ItemKind::Trackback, "오늘의 요리: 된장찌개 끓이는 법", {});
    addItem(ItemKind::Guestbook, "안녕하세요, 자주 놀러 올게요.", {});
    addItem(ItemKind::Guestbook, "새해 복 많이 받으세요!", {});
}

std::string BlogState::generatedText(ItemKind kind)
{
    static const char *const comments[] = {
        "좋은 정보 감사합니다.",           "글 잘 보고 갑니다~",
        "이 부분은 조금 다르게 생각해요.", "다음 글도 기대할게요!",
        "오늘도 유익한 포스팅이네요.",     "질문이 하나 있는데요, 답변 부탁드려요.",
    };
    static const char *const trackbacks[] = {
        "가을 산책길에서 만난 풍경",       "초보를 위한 사진 보정 강좌",
        "책 읽는 밤: 이번 달의 추천 도서", "여행 준비물 정리",
        "집에서 만드는 김치볶음밥",
    };
    static const char *const guestbook[] = {
        "방명록 남기고 갑니다.",
        "블로그 구경 잘 했어요!",
        "반갑습니다. 이웃 신청했어요.",
        "오랜만에 들렀어요. 잘 지내시죠?",
    };
    switch (kind) {
    case ItemKind::Comment:
        return comments[m_random() % std::size(comments)];
    case ItemKind::Trackback:
        return trackbacks[m_random() % std::size(trackbacks)];
    case ItemKind::Guestbook:
        return guestbook[m_random() % std::size(guestbook)];
    }
    return {};
}

std::string BlogState::generatedLink(ItemKind kind, long id)
{
    char buf[64];
    const long post = 100 + static_cast<long>(m_random() % 80);
    switch (kind) {
    case ItemKind::Comment:
        std::snprintf(buf, sizeof buf, "/%ld#comment%ld", post, id);
        break;
    case ItemKind::Trackback:
        std::snprintf(buf, sizeof buf, "/%ld#trackback%ld", post, id);
        break;
    case ItemKind::Guestbook:
        std::snprintf(buf, sizeof buf, "/guestbook#guestbook%ld", id);
        break;
    }
    return buf;
}

BlogItem BlogState::addItem(ItemKind kind, std::string text, std::string link)
{
    std::lock_guard lock(m_mutex);
    BlogItem item;
    item.id = m_nextId++;
    item.text = text.empty() ? generatedText(kind) : std::move(text);
    item.link = link.empty() ? generatedLink(kind, item.id) : std::move(link);
    auto &list = m_items[kindIndex(kind)];
    list.insert(list.begin(), item);
    return item;
}

bool BlogState::removeItem(ItemKind kind, long id)
{
    std::lock_guard lock(m_mutex);
    auto &list = m_items[kindIndex(kind)];
    const auto it =
        std::find_if(list.begin(), list.end(), [id](const BlogItem &i) { return i.id == id; });
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

size_t BlogState::removeAll(ItemKind kind)
{
    std::lock_guard lock(m_mutex);
    auto &list = m_items[kindIndex(kind)];
    const size_t n = list.size();
    list.clear();
    return n;
}

std::array<std::vector<BlogItem>, 3> BlogState::items() const
{
    std::lock_guard lock(m_mutex);
    return m_items;
}

void BlogState::setCounts(const VisitorCounts &counts)
{
    std::lock_guard lock(m_mutex);
    m_counts = counts;
}

VisitorCounts BlogState::counts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

void BlogState::addVisitors(int n)
{
    std::lock_guard lock(m_mutex);
    m_counts.today += n;
    m_counts.total += n;
}

bool BlogState::login(LoginRecord record)
{
    std::lock_guard lock(m_mutex);
    std::string id;
    std::string password;
    bool haveId = false;
    bool havePassword = false;
    for (const auto &[key, value] : record.fields) {
        if (key == "loginid" && !haveId) {
            id = value;
            haveId = true;
        } else if (key == "password" && !havePassword) {
            password = value;
            havePassword = true;
        }
    }
    record.accepted = haveId && havePassword && id == m_user && password == m_password;
    ++m_stats.loginPosts;
    if (!record.accepted)
        ++m_stats.loginFailures;
    const bool accepted = record.accepted;
    m_stats.lastLogin = std::move(record);
    return accepted;
}

std::string BlogState::newSession()
{
    std::string token = randomToken(16);
    std::lock_guard lock(m_mutex);
    m_sessions.insert(token);
    ++m_stats.sessions;
    return token;
}

bool BlogState::validSession(const std::string &token) const
{
    std::lock_guard lock(m_mutex);
    return !token.empty() && m_sessions.count(token) > 0;
}

void BlogState::expireSessions()
{
    std::lock_guard lock(m_mutex);
    m_sessions.clear();
}

void BlogState::setPassword(std::string password)
{
    std::lock_guard lock(m_mutex);
    m_password = std::move(password);
}

std::string BlogState::user() const
{
    std::lock_guard lock(m_mutex);
    return m_user;
}

std::string BlogState::password() const
{
    std::lock_guard lock(m_mutex);
    return m_password;
}

void BlogState::noteDashboardRequest()
{
    std::lock_guard lock(m_mutex);
    ++m_stats.dashboardRequests;
}

HostStats BlogState::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

void BlogState::resetStats()
{
    std::lock_guard lock(m_mutex);
    m_stats = HostStats{};
}

void BlogState::addFault(Fault fault)
{
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

void BlogState::clearFaults()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

bool isLoginFault(FaultKind kind)
{
    return kind == FaultKind::LoginRedirect || kind == FaultKind::LoginStatus;
}

static std::vector<Fault> takeWhere(std::vector<Fault> &faults, bool login)
{
    std::vector<Fault> now;
    for (auto &f : faults) {
        if (isLoginFault(f.kind) != login)
            continue;
        now.push_back(f);
        if (f.remaining > 0)
            --f.remaining;
    }
    std::erase_if(faults, [](const Fault &f) { return f.remaining == 0; });
    return now;
}

std::vector<Fault> BlogState::takeFaults()
{
    std::lock_guard lock(m_mutex);
    return takeWhere(m_faults, false);
}

std::vector<Fault> BlogState::takeLoginFaults()
{
    std::lock_guard lock(m_mutex);
    return takeWhere(m_faults, true);
}

std::vector<Fault> BlogState::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults;
}

std::string BlogState::randomToken(size_t bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::random_device device;
    std::string out;
    for (size_t i = 0; i < bytes; ++i) {
        const unsigned v = device() & 0xFF;
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}
