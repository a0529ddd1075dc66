#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Kinds in the program's numbering: comments, trackbacks, guestbook entries.
enum class ItemKind
{
    Comment = 0,
    Trackback = 1,
    Guestbook = 2
};

// "comment"/"trackback"/"guestbook" or "0"/"1"/"2".
std::optional<ItemKind> parseItemKind(const std::string &text);

struct BlogItem
{
    long id = 0;
    std::string text;
    std::string link;
};

struct VisitorCounts
{
    int today = 15;
    int yesterday = 40;
    int total = 1234;
};

// Ways the next dashboard answers can go wrong, for the client's failure paths.
enum class FaultKind
{
    Delay,        // value: milliseconds before the answer
    Status,       // value: HTTP status to answer with
    Close,        // connection closed half-way through the declared body
    Endless,      // a body that never ends; option "chunked": without a length
    Trickle,      // an endless body of one byte every value ms
    Oversize,     // the page padded to value bytes
    RedirectLoop, // redirects that lead back to themselves
    EucKr,        // the page in EUC-KR; option: "header", "meta" or "both"
    Garbage,      // bytes that are not HTML
    Truncated,    // the page cut off half-way (with an honest length)
    NoCounter,    // the page without the "counter" element
    NoNew,        // the page without the "new" element
    GzipBomb,     // a small gzip body that inflates to value MiB (option "deflate")
    HugeHeader,   // one header line of value bytes
    ManyHeaders,  // value Set-Cookie fields (option "redirect": on a 302 back here)
    Deflate,      // the page as raw deflate (option "zlib": wrapped), its first byte sent
                  // alone value ms before the rest
    GzipMembers,  // the page as value gzip members, each write ending one byte into the next
                  // (option "trailer": then bytes that start like a member but are none)
    Nest,         // the page with value nested elements in front of its content
    // The next login posts, not dashboard requests:
    LoginRedirect, // value 307 or 308 to option (default: this port under "localhost")
    LoginStatus,   // value: the HTTP status the post is answered with
};

// Faults that act on the login post rather than on the dashboard.
bool isLoginFault(FaultKind kind);

std::optional<FaultKind> parseFaultKind(const std::string &text);

struct Fault
{
    FaultKind kind = FaultKind::Delay;
    int remaining = 1; // requests still to affect; negative means until cleared
    long value = 0;
    std::string option;
};

struct LoginRecord
{
    std::string target;                                      // request target with its query
    std::string contentType;                                 // as sent
    std::string body;                                        // raw body bytes
    std::vector<std::pair<std::string, std::string>> fields; // decoded form fields
    bool accepted = false;
};

struct HostStats
{
    long dashboardRequests = 0;
    long loginPosts = 0;
    long loginFailures = 0;
    long sessions = 0;
    std::optional<LoginRecord> lastLogin;
};

// Everything the demo host knows, shared by the server's worker threads.
class BlogState
{
public:
    BlogState(std::string user, std::string password);

    BlogItem addItem(ItemKind kind, std::string text, std::string link);
    // Removes the item with the given id; false when there is none.
    bool removeItem(ItemKind kind, long id);
    // Removes every item of the kind and gives how many went.
    size_t removeAll(ItemKind kind);
    std::array<std::vector<BlogItem>, 3> items() const;

    void setCounts(const VisitorCounts &counts);
    VisitorCounts counts() const;
    void addVisitors(int n);

    // Checks the credentials and records the attempt.
    bool login(LoginRecord record);
    std::string newSession();
    bool validSession(const std::string &token) const;
    void expireSessions();
    void setPassword(std::string password);
    std::string user() const;
    std::string password() const;

    void noteDashboardRequest();
    HostStats stats() const;
    void resetStats();

    void addFault(Fault fault);
    void clearFaults();
    // The faults for this request, each use counted off.
    // The faults for the next dashboard request (login faults stay).
    std::vector<Fault> takeFaults();
    // The faults for the next login post.
    std::vector<Fault> takeLoginFaults();
    std::vector<Fault> faults() const;

    // A random lower-case hex text (session cookies, control token).
    static std::string randomToken(size_t bytes);

private:
    std::string generatedText(ItemKind kind);
    std::string generatedLink(ItemKind kind, long id);

    mutable std::mutex m_mutex;
    std::string m_user;
    std::string m_password;
    std::array<std::vector<BlogItem>, 3> m_items;
    VisitorCounts m_counts;
    std::set<std::string> m_sessions;
    HostStats m_stats;
    std::vector<Fault> m_faults;
    long m_nextId = 5001;
    std::mt19937 m_random;
};
