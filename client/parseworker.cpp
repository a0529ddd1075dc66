#include "parseworker.h"

#include <atomic>

namespace {

// Workers whose owner went while they still had a job (see ~ParseWorker).
std::atomic<int> g_orphanedWorkers{0};

} // namespace

ParseWorker::ParseWorker()
    : m_state(std::make_shared<State>()), m_thread([state = m_state] { run(*state); })
{
}

ParseWorker::~ParseWorker()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_one();
    if (m_state->ended.wait_for(lock, StopWait, [this] { return m_state->done; })) {
        lock.unlock();
        m_thread.join();
        return;
    }
    m_state->orphaned = true;
    ++g_orphanedWorkers;
    lock.unlock();
    m_thread.detach();
}

void ParseWorker::submit(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->jobs.push_back(std::move(job));
    }
    m_state->wake.notify_one();
}

int ParseWorker::orphaned()
{
    return g_orphanedWorkers;
}

void ParseWorker::run(State &state)
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(state.mutex);
            state.wake.wait(lock, [&state] { return state.stopping || !state.jobs.empty(); });
            if (state.stopping)
                break;
            job = std::move(state.jobs.front());
            state.jobs.pop_front();
        }
        job();
    }
    // What the dropped jobs hold (pages, old trees) is freed here, not by the owner.
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(state.mutex);
        dropped.swap(state.jobs);
    }
    dropped.clear();
    const std::lock_guard lock(state.mutex);
    state.done = true;
    if (state.orphaned)
        --g_orphanedWorkers;
    state.ended.notify_all();
}
