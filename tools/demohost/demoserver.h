#pragma once

#include "tools/demohost/blogstate.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The demo blog host's HTTP side: login, dashboard, blog pages and the control channel.
class DemoServer
{
public:
    DemoServer(BlogState &state, std::string controlToken);
    ~DemoServer();
    DemoServer(const DemoServer &) = delete;
    DemoServer &operator=(const DemoServer &) = delete;

    // Binds to 127.0.0.1 (port 0 picks a free one); gives the port or -1.
    int bind(int port);
    // Serves until stop(); false when the server could not run.
    bool serve();
    // Ends serve(), wakes delayed answers and ends endless bodies. Safe from any thread.
    void stop();
    bool stopping() const { return m_stopping; }
    // Pads every normal dashboard page to about this many bytes (0: no padding).
    void setPageSize(size_t bytes) { m_pageSize = bytes; }
    // Opens the dashboard's body with this many nested elements (benchmarks).
    void setNestDepth(long depth) { m_nestDepth = depth; }
    // Serves the login and the dashboard under path too ("/MyBlog": a blog that is not at
    // the host's root), matched case for case as such hosts do. Before serve().
    void addBlogPath(const std::string &path);

    // Sleeps up to the duration; returns early (false) when the server stops.
    bool waitFor(std::chrono::milliseconds duration);

private:
    void installRoutes();
    // blogPath: "" for the host's root, or the path added.
    void dashboard(const httplib::Request &req, httplib::Response &res,
                   const std::string &blogPath);
    void loginPost(const httplib::Request &req, httplib::Response &res,
                   const std::string &blogPath);
    bool controlAllowed(const httplib::Request &req) const;
    void control(const httplib::Request &req, httplib::Response &res);
    // Sends body as an HTML answer in pieces that end at the cuts, a pause between them.
    void sendInPieces(httplib::Response &res, const std::shared_ptr<const std::string> &body,
                      std::vector<size_t> cuts, long pauseMs);

    BlogState &m_state;
    std::string m_token;
    std::unique_ptr<httplib::Server> m_server;
    std::atomic<bool> m_stopping{false};
    size_t m_pageSize = 0;
    long m_nestDepth = 0;
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
};
