#pragma once

#include "testenvironment.h"

#include <QCoreApplication>
#include <QFuture>
#include <QTest>
#include <QThreadPool>

// Waits, with the event loop running, until the future has finished. Unlike result() or
// waitForFinished(), this never runs a task that has not started yet on the waiting thread
// (Qt does that to avoid idling), so a pool task stays on its pool thread.
template <typename T>
[[nodiscard]] bool waitFor(const QFuture<T> &future, int timeoutMs = TestEnvironment::patienceMs)
{
    return QTest::qWaitFor([&future] { return future.isFinished(); }, timeoutMs);
}

// Lets the work on Qt's global thread pool end and delivers what it posted to this thread, again
// and again until neither is left: what a call set going, through the pool and back, has then
// settled. No timer fires meanwhile.
inline void settle()
{
    struct Counter : QObject
    {
        int delivered = 0;
        bool eventFilter(QObject *, QEvent *) override
        {
            ++delivered;
            return false;
        }
    } counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    // Bounded, should something post itself again and again.
    for (int pass = 0; pass < 1000; ++pass) {
        QThreadPool::globalInstance()->waitForDone();
        counter.delivered = 0;
        QCoreApplication::sendPostedEvents();
        if (counter.delivered == 0)
            break;
    }
    QCoreApplication::instance()->removeEventFilter(&counter);
}
