// The demo blog host: plays the blog service for the demo and for every test, on loopback only.
#include "tools/demohost/blogstate.h"
#include "tools/demohost/demoserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct Options
{
    int port = 0;
    std::string user = "owner";
    std::string password = "demo";
    std::string token;
    size_t pageSize = 0;
    long nestDepth = 0;
    bool demo = false;
    long demoEveryMs = 20000; // arrivals come every one to two of these
    std::string blogPath;     // the blog's login and dashboard also under this path

    bool exitOnStdinEof = false;
};

void usage(FILE *to)
{
    std::fputs(
        "usage: ormix-demohost [--port N] [--user ID] [--password P] [--token T]\n"
        "                      [--page-size BYTES] [--nest N] [--demo] [--demo-every-ms MS]\n"
        "                      [--blog-path /PATH] [--exit-on-stdin-eof]\n"
        "Serves a blog host's login and owner dashboard on 127.0.0.1.\n"
        "Prints \"PORT <n>\" and \"TOKEN <t>\" once listening; the token guards /control/.\n",
        to);
}

bool parseNumber(const char *text, long min, long max, long &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseOptions(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long n = 0;
        if (arg == "--port" && hasValue && parseNumber(argv[i + 1], 0, 65535, n)) {
            o.port = static_cast<int>(n);
            ++i;
        } else if (arg == "--user" && hasValue) {
            o.user = argv[++i];
        } else if (arg == "--password" && hasValue) {
            o.password = argv[++i];
        } else if (arg == "--token" && hasValue && argv[i + 1][0] != '\0') {
            o.token = argv[++i];
        } else if (arg == "--page-size" && hasValue &&
                   parseNumber(argv[i + 1], 0, 512L * 1024 * 1024, n)) {
            o.pageSize = static_cast<size_t>(n);
            ++i;
        } else if (arg == "--nest" && hasValue && parseNumber(argv[i + 1], 0, 1000000, n)) {
            o.nestDepth = n;
            ++i;
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--demo-every-ms" && hasValue &&
                   parseNumber(argv[i + 1], 10, 24L * 3600 * 1000, n)) {
            o.demoEveryMs = n;
            ++i;
        } else if (arg == "--blog-path" && hasValue && argv[i + 1][0] == '/' &&
                   argv[i + 1][1] != '\0') {
            o.blogPath = argv[++i];
        } else if (arg == "--exit-on-stdin-eof") {
            o.exitOnStdinEof = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "ormix-demohost: bad argument: %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

// New comments, trackbacks and guestbook entries turn up every 20 to 40 seconds
// (every one to two everyMs). Now and then a visitor posts the same text again, and now
// and then the owner deletes the newest item, as happens on any blog.
void runDemo(BlogState &state, DemoServer &server, long everyMs)
{
    std::mt19937 random(std::random_device{}());
    const auto pause = [&] {
        return std::chrono::milliseconds(everyMs + static_cast<long>(random() % (everyMs + 1)));
    };
    while (server.waitFor(pause())) {
        const auto kind = static_cast<ItemKind>(random() % 3);
        const std::vector<BlogItem> current = state.items()[static_cast<std::size_t>(kind)];
        const unsigned roll = random() % 8;
        if (roll == 0 && current.size() > 1) {
            state.removeItem(kind, current.front().id);
            std::printf("DELETED %d %ld\n", static_cast<int>(kind), current.front().id);
        } else {
            const std::string text = roll == 1 && !current.empty() ? current.front().text : "";
            const BlogItem item = state.addItem(kind, text, {});
            state.addVisitors(static_cast<int>(1 + random() % 5));
            std::printf("NEW %d %ld %s\n", static_cast<int>(kind), item.id, item.text.c_str());
        }
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(stderr);
        return 2;
    }

    // Signals are taken by one thread with sigwait, so the stop runs outside a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGUSR1); // wakes the signal thread when the stop came from elsewhere
    // An inherited "ignore" would discard SIGTERM even while sigwait waits for it.
    std::signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    BlogState state(options.user, options.password);
    const std::string token = options.token.empty() ? BlogState::randomToken(16) : options.token;
    DemoServer server(state, token);
    server.setPageSize(options.pageSize);
    server.setNestDepth(options.nestDepth);
    if (!options.blogPath.empty())
        server.addBlogPath(options.blogPath);

    const int port = server.bind(options.port);
    if (port <= 0) {
        std::fprintf(stderr, "ormix-demohost: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }
    std::printf("PORT %d\nTOKEN %s\nUSER %s\nPASSWORD %s\n", port, token.c_str(),
                options.user.c_str(), options.password.c_str());
    std::fflush(stdout);

    std::thread signalThread([&server, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.stop();
    });
    if (options.exitOnStdinEof) {
        // Detached: a blocking read cannot be interrupted, and the process exit ends it.
        std::thread([&server] {
            char buf[256];
            while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
            }
            server.stop();
        }).detach();
    }
    std::thread demoThread;
    if (options.demo)
        demoThread = std::thread(
            [&state, &server, every = options.demoEveryMs] { runDemo(state, server, every); });

    const bool served = server.serve();
    server.stop();
    pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    if (demoThread.joinable())
        demoThread.join();
    return served ? 0 : 1;
}
