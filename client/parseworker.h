#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One thread that builds documents and frees old ones, a job at a time, so the event loop
// never waits for either and no two trees are alive or being built at once. The thread
// keeps its own share of what it works with, so it can finish a job its owner no longer
// waits for.
class ParseWorker
{
public:
    ParseWorker();
    // Jobs not yet started are dropped. One under way is waited for a moment (an idle thread
    // ends at once and is joined); after that it is left to end on its own.
    ~ParseWorker();
    ParseWorker(const ParseWorker &) = delete;
    ParseWorker &operator=(const ParseWorker &) = delete;

    void submit(std::function<void()> job);

    // Workers left running by owners that went meanwhile. While there are any, the end of
    // the program should not tear down what they may still use (statics, the heap).
    static int orphaned();

private:
    static constexpr std::chrono::milliseconds StopWait{250};

    struct State
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        std::deque<std::function<void()>> jobs;
        bool stopping = false;
        bool done = false;
        bool orphaned = false;
    };
    static void run(State &state);

    std::shared_ptr<State> m_state;
    std::thread m_thread; // last: starts once the rest exists
};
