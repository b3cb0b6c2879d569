#pragma once

#include <QSemaphore>
#include <QThreadPool>

#include <utility>

// Keeps the global thread pool down to one thread, and that one busy until release() or
// destruction: pool work asked for meanwhile waits in the queue, so it cannot have ended before
// the test chains on it or takes its owner away. The destructor waits for the pool and gives it
// its threads back.
class HeldPool
{
public:
    HeldPool()
    {
        m_pool->setMaxThreadCount(1);
        m_pool->start([gate = &m_gate] { gate->acquire(); });
    }
    ~HeldPool()
    {
        release();
        m_pool->waitForDone();
        m_pool->setMaxThreadCount(m_threads);
    }
    HeldPool(const HeldPool &) = delete;
    HeldPool &operator=(const HeldPool &) = delete;

    void release()
    {
        if (!std::exchange(m_released, true))
            m_gate.release();
    }

private:
    QThreadPool *const m_pool = QThreadPool::globalInstance();
    const int m_threads = m_pool->maxThreadCount();
    QSemaphore m_gate;
    bool m_released = false;
};
