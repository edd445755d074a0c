#include "common/SideThread.h"

#include <chrono>

namespace mirsalex {

SideThread::~SideThread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        for (Task& t : m_tasks)
            t.held = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SideThread::post(std::function<void()> task, bool held)
{
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back({std::move(task), held});
        if (!m_thread.joinable())
            m_thread = std::thread([this] { loop(); });
    }
    m_wake.notify_all();
}

void SideThread::release()
{
    {
        const std::lock_guard lock(m_mutex);
        for (Task& t : m_tasks)
            t.held = false;
    }
    m_wake.notify_all();
}

bool SideThread::waitFor(int milliseconds)
{
    release();
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return m_tasks.empty() && !m_busy; });
}

void SideThread::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return (!m_tasks.empty() && !m_tasks.front().held) || m_ending; });
        if (m_tasks.empty())
            return; // ending, nothing left
        if (m_tasks.front().held)
            continue;
        std::function<void()> run = std::move(m_tasks.front().run);
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        run();
        run = nullptr; // what the task held goes with it, here
        lock.lock();
        m_busy = false;
        if (m_tasks.empty())
            m_idle.notify_all();
    }
}

} // namespace mirsalex
