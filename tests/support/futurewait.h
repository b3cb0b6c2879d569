#pragma once

#include <QFuture>
#include <QTest>

// Waits, with the event loop running, until the future has finished. Unlike result() or
// waitForFinished(), this never runs a task that has not started yet on the waiting thread
// (Qt does that to avoid idling), so a pool task stays on its pool thread.
template <typename T> [[nodiscard]] bool waitFor(const QFuture<T> &future, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&future] { return future.isFinished(); }, timeoutMs);
}
