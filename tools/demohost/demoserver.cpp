#include "demoserver.h"

#include "tools/demohost/formcodec.h"
#include "tools/demohost/pages.h"

#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <string_view>
#include <thread>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The library compresses every "text/..." answer with brotli at its slowest setting, which
// throttles endless bodies and skews benchmarks. Media types are case-insensitive, and the
// library only looks for the lower-case prefix, so this one goes out as it is.
const char *const htmlUtf8 = "Text/html; charset=UTF-8";
const char *const jsonType = "application/json";
const char *const sessionCookie = "OSID";
const size_t endlessLength = size_t(1) << 40;

// Zeros that inflate to `mib` MiB, gzip-wrapped or (deflate) zlib-wrapped. Made once per
// shape: compressing a gigabyte takes a moment.
std::shared_ptr<const std::string> compressedZeros(long mib, bool zlibWrapped)
{
    static std::mutex mutex;
    static std::map<std::pair<long, bool>, std::shared_ptr<const std::string>> made;
    std::lock_guard lock(mutex);
    auto &slot = made[{mib, zlibWrapped}];
    if (slot)
        return slot;
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, zlibWrapped ? 15 : 31, 9, Z_DEFAULT_STRATEGY);
    const std::string block(size_t(1) << 20, '\0');
    auto out = std::make_shared<std::string>();
    char chunk[65536];
    for (long i = 0; i < mib; ++i) {
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.data()));
        zs.avail_in = static_cast<uInt>(block.size());
        const int flush = i + 1 == mib ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = reinterpret_cast<Bytef *>(chunk);
            zs.avail_out = sizeof chunk;
            deflate(&zs, flush);
            out->append(chunk, sizeof chunk - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    slot = std::move(out);
    return slot;
}
const size_t trickleLength = 100000;

// data compressed in one go: zlib-wrapped (15), gzip (31) or raw deflate (-15).
std::string compressed(std::string_view data, int windowBits)
{
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Pairs queryPairs(const httplib::Request &req)
{
    const size_t q = req.target.find('?');
    if (q == std::string::npos)
        return {};
    return formcodec::parsePairs(std::string_view(req.target).substr(q + 1));
}

// Query and form body together, query first.
Pairs allParams(const httplib::Request &req)
{
    Pairs pairs = queryPairs(req);
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
        Pairs body = formcodec::parsePairs(req.body);
        pairs.insert(pairs.end(), body.begin(), body.end());
    }
    return pairs;
}

std::string cookieValue(const httplib::Request &req, const std::string &name)
{
    const std::string header = req.get_header_value("Cookie");
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string part = header.substr(pos, end - pos);
        const size_t first = part.find_first_not_of(' ');
        part = first == std::string::npos ? std::string() : part.substr(first);
        if (part.rfind(name + "=", 0) == 0)
            return part.substr(name.size() + 1);
        pos = end + 1;
    }
    return {};
}

std::string hostOf(const httplib::Request &req)
{
    std::string host = req.get_header_value("Host");
    if (host.empty())
        host = "127.0.0.1";
    return host;
}

std::string dashboardAddress(const httplib::Request &req, const std::string &blogPath)
{
    return "http://" + hostOf(req) + blogPath + "/owner/center/dashboard";
}

// Only addresses on this host are followed after a login, never elsewhere.
std::string safeReturnAddress(const httplib::Request &req, const std::string &wanted,
                              const std::string &blogPath)
{
    const std::string own = "http://" + hostOf(req) + "/";
    if (wanted.rfind(own, 0) == 0)
        return wanted;
    if (!wanted.empty() && wanted[0] == '/' && (wanted.size() < 2 || wanted[1] != '/'))
        return wanted;
    return dashboardAddress(req, blogPath);
}

// A path as a route pattern that matches only itself.
std::string literalPattern(const std::string &path)
{
    std::string pattern;
    for (const char c : path) {
        if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

void jsonReply(httplib::Response &res, int status, const std::string &json)
{
    res.status = status;
    res.set_content(json + "\n", jsonType);
}

void jsonError(httplib::Response &res, int status, const std::string &message)
{
    jsonReply(res, status, "{\"ok\":false,\"error\":" + formcodec::jsonString(message) + "}");
}

std::string itemJson(const BlogItem &item)
{
    return "{\"id\":" + std::to_string(item.id) + ",\"text\":" + formcodec::jsonString(item.text) +
           ",\"link\":" + formcodec::jsonString(item.link) + "}";
}

std::string pairsJson(const Pairs &pairs, bool asHex)
{
    std::string s = "{";
    bool first = true;
    for (const auto &[key, value] : pairs) {
        if (!first)
            s += ",";
        first = false;
        s += formcodec::jsonString(key) + ":" +
             formcodec::jsonString(asHex ? formcodec::hex(value) : value);
    }
    return s + "}";
}

std::string statsJson(const HostStats &stats, const std::vector<Fault> &faults)
{
    std::string s = "{\"dashboardRequests\":" + std::to_string(stats.dashboardRequests) +
                    ",\"loginPosts\":" + std::to_string(stats.loginPosts) +
                    ",\"loginFailures\":" + std::to_string(stats.loginFailures) +
                    ",\"sessions\":" + std::to_string(stats.sessions) +
                    ",\"activeFaults\":" + std::to_string(faults.size());
    if (stats.lastLogin) {
        const LoginRecord &l = *stats.lastLogin;
        s += ",\"lastLogin\":{\"target\":" + formcodec::jsonString(l.target) +
             ",\"contentType\":" + formcodec::jsonString(l.contentType) +
             ",\"body\":" + formcodec::jsonString(l.body) +
             ",\"accepted\":" + (l.accepted ? "true" : "false") +
             ",\"fields\":" + pairsJson(l.fields, false) +
             ",\"fieldsHex\":" + pairsJson(l.fields, true) + "}";
    } else {
        s += ",\"lastLogin\":null";
    }
    return s + "}";
}

bool parseLong(const std::string &text, long &out)
{
    if (text.empty())
        return false;
    try {
        size_t used = 0;
        out = std::stol(text, &used);
        return used == text.size();
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

DemoServer::DemoServer(BlogState &state, std::string controlToken)
    : m_state(state), m_token(std::move(controlToken)),
      m_server(std::make_unique<httplib::Server>())
{
    // Short keep-alive so a stop does not wait long for idle connections.
    m_server->set_keep_alive_timeout(1);
    installRoutes();
}

DemoServer::~DemoServer() = default;

int DemoServer::bind(int port)
{
    if (port == 0)
        return m_server->bind_to_any_port("127.0.0.1");
    return m_server->bind_to_port("127.0.0.1", port) ? port : -1;
}

bool DemoServer::serve()
{
    // The library ignores a stop that comes before it is listening, so a stop is repeated
    // from here once it is: a signal right after start-up must not be lost.
    std::atomic<bool> done{false};
    std::thread enforcer([this, &done] {
        {
            std::unique_lock lock(m_waitMutex);
            m_wake.wait(lock, [this] { return m_stopping.load(); });
        }
        while (!done && !m_server->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_server->stop();
    });
    const bool served = m_server->listen_after_bind();
    done = true;
    stop();
    enforcer.join();
    return served;
}

void DemoServer::stop()
{
    {
        std::lock_guard lock(m_waitMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_server->stop();
}

bool DemoServer::waitFor(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_waitMutex);
    return !m_wake.wait_for(lock, duration, [this] { return m_stopping.load(); });
}

void DemoServer::installRoutes()
{
    httplib::Server &s = *m_server;

    s.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::blogHome(), htmlUtf8);
    });
    s.Get("/login", [](const httplib::Request &req, httplib::Response &res) {
        const Pairs q = queryPairs(req);
        res.set_content(
            pages::login(formcodec::value(q, "error") == "1", formcodec::value(q, "requestURI")),
            htmlUtf8);
    });
    s.Post("/login", [this](const httplib::Request &req, httplib::Response &res) {
        loginPost(req, res, {});
    });
    s.Get("/logout", [this](const httplib::Request &, httplib::Response &res) {
        // The demo has one owner, so logging out ends every session.
        m_state.expireSessions();
        res.set_redirect("/login");
    });
    s.Get("/owner/center/dashboard",
          [this](const httplib::Request &req, httplib::Response &res) { dashboard(req, res, {}); });
    s.Get("/static/admin.css", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::adminCss(), "text/css");
    });
    s.Get("/static/admin.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::adminJs(), "application/javascript");
    });
    s.Get("/static/logo.gif", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::logoGif(), "image/gif");
    });
    s.Get("/favicon.ico", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::logoGif(), "image/gif");
    });
    s.Get(R"(/(\d+))", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(pages::blogPost(std::stol(req.matches[1].str())), htmlUtf8);
    });
    s.Get("/guestbook", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(pages::guestbook(m_state.items()[2]), htmlUtf8);
    });
    s.Get("/loop/a",
          [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop/b"); });
    s.Get("/loop/b",
          [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop/a"); });

    // /redirect/N answers with N redirects in a row, then goes to "to" or a small page.
    const auto redirectChain = [](const httplib::Request &req, httplib::Response &res) {
        const long n = std::stol(req.matches[1].str());
        const Pairs q = queryPairs(req);
        long code = 302;
        parseLong(formcodec::value(q, "code", "302"), code);
        if (code < 300 || code > 399)
            code = 302;
        const std::string to = formcodec::value(q, "to");
        const size_t qpos = req.target.find('?');
        const std::string query = qpos == std::string::npos ? "" : req.target.substr(qpos);
        if (n > 0) {
            res.set_redirect("/redirect/" + std::to_string(n - 1) + query, static_cast<int>(code));
        } else if (!to.empty() && to[0] == '/') {
            res.set_redirect(to, static_cast<int>(code));
        } else {
            res.set_content("<!DOCTYPE html><html><body><p id=\"arrived\">도착</p></body></html>",
                            htmlUtf8);
        }
    };
    s.Get(R"(/redirect/(\d+))", redirectChain);
    s.Post(R"(/redirect/(\d+))", redirectChain);

    // Shows what arrived, for checks of methods, bodies and cookies after redirects.
    const auto echo = [](const httplib::Request &req, httplib::Response &res) {
        const std::string json =
            "{\"method\":" + formcodec::jsonString(req.method) +
            ",\"contentType\":" + formcodec::jsonString(req.get_header_value("Content-Type")) +
            ",\"body\":" + formcodec::jsonString(req.body) +
            ",\"cookie\":" + formcodec::jsonString(req.get_header_value("Cookie")) +
            ",\"userAgent\":" + formcodec::jsonString(req.get_header_value("User-Agent")) + "}";
        res.set_content("<!DOCTYPE html><html><body><pre id=\"echo\">" +
                            formcodec::htmlEscape(json) + "</pre></body></html>",
                        htmlUtf8);
    };
    s.Get("/echo", echo);
    s.Post("/echo", echo);

    // Sets a cookie on a redirect, the way the login does.
    s.Get("/setcookie", [](const httplib::Request &req, httplib::Response &res) {
        const Pairs q = queryPairs(req);
        res.set_header("Set-Cookie", formcodec::value(q, "name", "probe") + "=" +
                                         formcodec::value(q, "value", "1") + "; Path=/");
        res.set_redirect(formcodec::value(q, "then", "/echo"));
    });

    const auto control = [this](const httplib::Request &req, httplib::Response &res) {
        this->control(req, res);
    };
    s.Get(R"(/control/.*)", control);
    s.Post(R"(/control/.*)", control);
}

void DemoServer::addBlogPath(const std::string &path)
{
    httplib::Server &s = *m_server;
    const std::string pattern = literalPattern(path);
    s.Get(pattern + "/login", [](const httplib::Request &req, httplib::Response &res) {
        const Pairs q = queryPairs(req);
        res.set_content(
            pages::login(formcodec::value(q, "error") == "1", formcodec::value(q, "requestURI")),
            htmlUtf8);
    });
    s.Post(pattern + "/login", [this, path](const httplib::Request &req, httplib::Response &res) {
        loginPost(req, res, path);
    });
    s.Get(pattern + "/owner/center/dashboard",
          [this, path](const httplib::Request &req, httplib::Response &res) {
              dashboard(req, res, path);
          });
}

// The page a host shows with an error status.
static std::string errorPage(long status)
{
    return "<!DOCTYPE html><html><body><h1>" + std::to_string(status) +
           " 오류</h1><p>잠시 후 다시 시도해 주세요.</p></body></html>";
}

void DemoServer::loginPost(const httplib::Request &req, httplib::Response &res,
                           const std::string &blogPath)
{
    for (const Fault &f : m_state.takeLoginFaults()) {
        if (f.kind == FaultKind::LoginStatus) {
            // A host under maintenance: the password was never looked at.
            const long status = f.value >= 400 && f.value <= 599 ? f.value : 503;
            res.status = static_cast<int>(status);
            res.set_content(errorPage(status), htmlUtf8);
            return;
        }
        if (f.kind != FaultKind::LoginRedirect)
            continue;
        // Somewhere else that would happily take the form again: a 307/308 re-sends it.
        const int code = f.value == 308 ? 308 : 307;
        const std::string target =
            f.option.empty() ? "http://localhost:" + std::to_string(req.local_port) + "/echo"
                             : f.option;
        res.set_redirect(target, code);
        return;
    }

    LoginRecord record;
    record.target = req.target;
    record.contentType = req.get_header_value("Content-Type");
    record.body = req.body;
    record.fields = formcodec::parsePairs(req.body);
    std::string wanted = formcodec::value(queryPairs(req), "requestURI");
    if (wanted.empty())
        wanted = formcodec::value(record.fields, "requestURI");

    if (!m_state.login(std::move(record))) {
        res.set_redirect(blogPath + "/login?error=1");
        return;
    }
    const std::string token = m_state.newSession();
    res.set_header("Set-Cookie", std::string(sessionCookie) + "=" + token + "; Path=/; HttpOnly");
    res.set_redirect(safeReturnAddress(req, wanted, blogPath));
}

void DemoServer::dashboard(const httplib::Request &req, httplib::Response &res,
                           const std::string &blogPath)
{
    m_state.noteDashboardRequest();
    const std::vector<Fault> faults = m_state.takeFaults();

    const Fault *shape = nullptr;
    for (const Fault &f : faults) {
        if (f.kind == FaultKind::Delay) {
            if (!waitFor(std::chrono::milliseconds(f.value))) {
                res.status = 503;
                return;
            }
        } else if (!shape) {
            shape = &f;
        }
    }

    pages::DashboardInput input;
    input.counts = m_state.counts();
    input.items = m_state.items();

    if (!shape) {
        if (!m_state.validSession(cookieValue(req, sessionCookie))) {
            res.set_redirect(blogPath + "/login?requestURI=" +
                             formcodec::encodeComponent(dashboardAddress(req, blogPath)));
            return;
        }
        input.padTo = m_pageSize;
        input.nestDepth = m_nestDepth;
        res.set_content(pages::dashboard(input), htmlUtf8);
        return;
    }

    // A fault replaces the normal answer, whatever the session.
    switch (shape->kind) {
    case FaultKind::Delay:
        break;
    case FaultKind::Status:
        res.status = static_cast<int>(shape->value);
        res.set_content(errorPage(shape->value), htmlUtf8);
        break;
    case FaultKind::Nest:
        input.nestDepth = std::clamp(shape->value, 0L, 1000000L);
        res.set_content(pages::dashboard(input), htmlUtf8);
        break;
    case FaultKind::Close: {
        auto page = std::make_shared<std::string>(pages::dashboard(input));
        res.set_content_provider(page->size(), htmlUtf8,
                                 [page](size_t offset, size_t, httplib::DataSink &sink) {
                                     // Half the declared body, then the connection goes down.
                                     if (offset < page->size() / 2)
                                         sink.write(page->data(), page->size() / 2);
                                     return false;
                                 });
        break;
    }
    case FaultKind::Endless: {
        // Sent with a length no client will wait for (a length, not chunks, so nothing
        // compresses it and every byte goes out as it is written).
        auto chunk = std::make_shared<std::string>(pages::dashboard(input));
        if (shape->option == "chunked") {
            // No length at all: only counting what arrives can stop the reader. Fresh random
            // text in every chunk, or the compressor on this path holds the output back.
            auto random = std::make_shared<std::mt19937>(std::random_device{}());
            res.set_chunked_content_provider(
                htmlUtf8, [this, random](size_t offset, httplib::DataSink &sink) {
                    static const char alphabet[] =
                        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
                    std::string block = offset == 0 ? "<!DOCTYPE html><html><body><pre>" : "";
                    for (int i = 0; i < 32768; ++i)
                        block += alphabet[(*random)() % 64];
                    return !m_stopping && sink.write(block.data(), block.size());
                });
            break;
        }
        res.set_content_provider(endlessLength, htmlUtf8,
                                 [this, chunk](size_t, size_t, httplib::DataSink &sink) {
                                     return !m_stopping && sink.write(chunk->data(), chunk->size());
                                 });
        break;
    }
    case FaultKind::Trickle: {
        const long everyMs = shape->value > 0 ? shape->value : 200;
        // An ordinary length, so only the reader's time limit can end it.
        res.set_content_provider(trickleLength, htmlUtf8,
                                 [this, everyMs](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset == 0)
                                         return sink.write("<!DOCTYPE html><html><body>", 27);
                                     return waitFor(std::chrono::milliseconds(everyMs)) &&
                                            sink.write(" ", 1);
                                 });
        break;
    }
    case FaultKind::Oversize: {
        input.padTo = static_cast<size_t>(shape->value);
        auto page = std::make_shared<std::string>(pages::dashboard(input));
        res.set_content_provider(
            page->size(), htmlUtf8, [page](size_t offset, size_t length, httplib::DataSink &sink) {
                return sink.write(page->data() + offset, std::min<size_t>(length, 65536));
            });
        break;
    }
    case FaultKind::RedirectLoop:
        res.set_redirect("/loop/a");
        break;
    case FaultKind::EucKr: {
        const std::string where = shape->option.empty() ? "both" : shape->option;
        input.metaCharset = where == "header" ? "" : "euc-kr";
        res.set_content(pages::toEucKr(pages::dashboard(input)),
                        where == "meta" ? "Text/html" : "Text/html; charset=EUC-KR");
        break;
    }
    case FaultKind::Garbage:
        res.set_content(pages::garbage(), "Text/html");
        break;
    case FaultKind::Truncated: {
        const std::string page = pages::dashboard(input);
        res.set_content(page.substr(0, page.size() / 2), htmlUtf8);
        break;
    }
    case FaultKind::NoCounter:
        input.withCounter = false;
        res.set_content(pages::dashboard(input), htmlUtf8);
        break;
    case FaultKind::NoNew:
        input.withNew = false;
        res.set_content(pages::dashboard(input), htmlUtf8);
        break;
    case FaultKind::GzipBomb: {
        const long mib = shape->value > 0 ? std::min(shape->value, 4096L) : 1024;
        const auto body = compressedZeros(mib, shape->option == "deflate");
        res.set_header("Content-Encoding", shape->option == "deflate" ? "deflate" : "gzip");
        // "Text/html" so the library does not compress it once more.
        res.set_content(*body, "Text/html; charset=UTF-8");
        break;
    }
    case FaultKind::HugeHeader: {
        const long bytes = shape->value > 0 ? std::min(shape->value, 1L << 30) : 50L << 20;
        res.set_header("X-Filler", std::string(static_cast<size_t>(bytes), 'a'));
        res.set_content(pages::dashboard(input), htmlUtf8);
        break;
    }
    case FaultKind::ManyHeaders: {
        // Qt 6.4 drops every header of a reply with more than 100 of them.
        const long fields = shape->value > 0 ? std::min(shape->value, 10000L) : 150;
        for (long i = 0; i < fields; ++i)
            res.set_header("Set-Cookie", "filler" + std::to_string(i) + "=1; Path=/");
        if (shape->option == "redirect")
            res.set_redirect("/owner/center/dashboard");
        else
            res.set_content(pages::dashboard(input), htmlUtf8);
        break;
    }
    case FaultKind::Deflate: {
        input.padTo = m_pageSize;
        input.nestDepth = m_nestDepth;
        const std::string page = pages::dashboard(input);
        auto body =
            std::make_shared<std::string>(compressed(page, shape->option == "zlib" ? 15 : -15));
        res.set_header("Content-Encoding", "deflate");
        sendInPieces(res, body, {1}, shape->value > 0 ? shape->value : 200);
        break;
    }
    case FaultKind::GzipMembers: {
        input.padTo = m_pageSize;
        input.nestDepth = m_nestDepth;
        const std::string page = pages::dashboard(input);
        const size_t members =
            static_cast<size_t>(shape->value > 0 ? std::min(shape->value, 100L) : 3);
        auto body = std::make_shared<std::string>();
        std::vector<size_t> cuts;
        for (size_t i = 0; i < members; ++i) {
            if (i > 0)
                cuts.push_back(body->size() + 1);
            const size_t from = page.size() * i / members;
            const size_t to = page.size() * (i + 1) / members;
            *body += compressed(std::string_view(page).substr(from, to - from), 31);
        }
        if (shape->option == "trailer") {
            cuts.push_back(body->size() + 1);
            *body += "\x1f not another member\n";
        }
        res.set_header("Content-Encoding", "gzip");
        sendInPieces(res, body, cuts, 100);
        break;
    }
    case FaultKind::LoginRedirect:
    case FaultKind::LoginStatus:
        break;
    }
}

void DemoServer::sendInPieces(httplib::Response &res,
                              const std::shared_ptr<const std::string> &body,
                              std::vector<size_t> cuts, long pauseMs)
{
    cuts.push_back(body->size());
    // "Text/html" so the library does not compress it once more.
    res.set_content_provider(
        body->size(), htmlUtf8,
        [this, body, cuts = std::move(cuts), pauseMs](size_t offset, size_t,
                                                      httplib::DataSink &sink) {
            const size_t end = *std::upper_bound(cuts.begin(), cuts.end(), offset);
            // A pause before each piece but the first, so each reaches the reader on its own.
            return (offset == 0 || waitFor(std::chrono::milliseconds(pauseMs))) &&
                   sink.write(body->data() + offset, end - offset);
        });
}

bool DemoServer::controlAllowed(const httplib::Request &req) const
{
    std::string given = req.get_header_value("X-Control-Token");
    if (given.empty())
        given = formcodec::value(queryPairs(req), "token");
    if (given.size() != m_token.size() || m_token.empty())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ m_token[i]);
    return diff == 0;
}

void DemoServer::control(const httplib::Request &req, httplib::Response &res)
{
    if (!controlAllowed(req)) {
        jsonError(res, 403, "control token missing or wrong");
        return;
    }
    const Pairs p = allParams(req);
    const std::string &path = req.path;
    const bool post = req.method == "POST";

    if (path == "/control/stats" && !post) {
        jsonReply(res, 200, statsJson(m_state.stats(), m_state.faults()));
    } else if (path == "/control/stats/reset" && post) {
        m_state.resetStats();
        jsonReply(res, 200, "{\"ok\":true}");
    } else if (path == "/control/items" && !post) {
        const auto items = m_state.items();
        static const char *const names[3] = {"comment", "trackback", "guestbook"};
        std::string s = "{";
        for (size_t k = 0; k < 3; ++k) {
            s += std::string(k ? "," : "") + "\"" + names[k] + "\":[";
            for (size_t i = 0; i < items[k].size(); ++i)
                s += (i ? "," : "") + itemJson(items[k][i]);
            s += "]";
        }
        jsonReply(res, 200, s + "}");
    } else if (path == "/control/items" && post) {
        const auto kind = parseItemKind(formcodec::value(p, "kind"));
        if (!kind)
            return jsonError(res, 400, "kind must be comment, trackback or guestbook");
        const BlogItem item =
            m_state.addItem(*kind, formcodec::value(p, "text"), formcodec::value(p, "link"));
        jsonReply(res, 200, "{\"ok\":true,\"item\":" + itemJson(item) + "}");
    } else if (path == "/control/items/remove" && post) {
        const auto kind = parseItemKind(formcodec::value(p, "kind"));
        if (!kind)
            return jsonError(res, 400, "kind must be comment, trackback or guestbook");
        if (formcodec::value(p, "all") == "1") {
            const size_t n = m_state.removeAll(*kind);
            return jsonReply(res, 200, "{\"ok\":true,\"removed\":" + std::to_string(n) + "}");
        }
        long id = 0;
        if (!parseLong(formcodec::value(p, "id"), id))
            return jsonError(res, 400, "id or all=1 needed");
        if (!m_state.removeItem(*kind, id))
            return jsonError(res, 404, "no such item");
        jsonReply(res, 200, "{\"ok\":true,\"removed\":1}");
    } else if (path == "/control/count" && post) {
        VisitorCounts c = m_state.counts();
        long v = 0;
        const std::pair<const char *, int *> fields[] = {
            {"today", &c.today}, {"yesterday", &c.yesterday}, {"total", &c.total}};
        for (const auto &[name, target] : fields) {
            const std::string text = formcodec::value(p, name);
            if (text.empty())
                continue;
            if (!parseLong(text, v) || v < INT32_MIN || v > INT32_MAX)
                return jsonError(res, 400, std::string(name) + " must be a number");
            *target = static_cast<int>(v);
        }
        m_state.setCounts(c);
        jsonReply(res, 200, "{\"ok\":true}");
    } else if (path == "/control/sessions/expire" && post) {
        m_state.expireSessions();
        jsonReply(res, 200, "{\"ok\":true}");
    } else if (path == "/control/password" && post) {
        bool given = false;
        for (const auto &[key, value] : p)
            given = given || key == "password";
        if (!given)
            return jsonError(res, 400, "password needed");
        m_state.setPassword(formcodec::value(p, "password"));
        jsonReply(res, 200, "{\"ok\":true}");
    } else if (path == "/control/faults" && post) {
        const auto kind = parseFaultKind(formcodec::value(p, "kind"));
        if (!kind)
            return jsonError(res, 400, "unknown fault kind");
        Fault f;
        f.kind = *kind;
        const std::string count = formcodec::value(p, "count", "1");
        long n = 0;
        if (count == "all")
            f.remaining = -1;
        else if (parseLong(count, n) && n > 0 && n <= INT32_MAX)
            f.remaining = static_cast<int>(n);
        else
            return jsonError(res, 400, "count must be a positive number or all");
        const std::string value = formcodec::value(p, "value");
        if (!value.empty() && !parseLong(value, f.value))
            return jsonError(res, 400, "value must be a number");
        if (f.kind == FaultKind::Status && (f.value < 100 || f.value > 599))
            return jsonError(res, 400, "status fault needs a value from 100 to 599");
        if ((f.kind == FaultKind::Delay || f.kind == FaultKind::Oversize) && f.value <= 0)
            return jsonError(res, 400, "this fault needs a positive value");
        f.option = formcodec::value(p, "option");
        m_state.addFault(std::move(f));
        jsonReply(res, 200, "{\"ok\":true}");
    } else if (path == "/control/faults/clear" && post) {
        m_state.clearFaults();
        jsonReply(res, 200, "{\"ok\":true}");
    } else {
        jsonError(res, 404, "unknown control request");
    }
}
