#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace mirsalex {

// Tasks run one after the other, in the order given, on one thread beside
// the caller's. A task given as held waits, and every task after it, until
// release(). The thread begins with the first task and ends when the
// object does, after the last task: whatever is still queued then is
// released and run, so that no task outlives what it was given.
class SideThread
{
public:
    SideThread() = default;
    ~SideThread();
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    void post(std::function<void()> task, bool held);
    // Lets every task given so far run.
    void release();
    // Releases every task and waits up to `milliseconds` for all to end:
    // true once none is left.
    bool waitFor(int milliseconds);

private:
    struct Task
    {
        std::function<void()> run;
        bool held = false;
    };
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Task> m_tasks;
    bool m_busy = false;
    bool m_ending = false;
    std::thread m_thread;
};

} // namespace mirsalex
