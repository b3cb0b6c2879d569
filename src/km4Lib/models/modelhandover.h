#pragma once

#include "shared/voidfuture.h"

#include <QFuture>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QPromise>

#include <exception>
#include <memory>

// Hands the result of pool work (a reload's rows, the outcome of a write) to a model's own
// thread, always through that thread's event loop. A continuation bound to a context object runs
// at once, inside the call that attaches it, when the work has already finished; a model would
// then reset inside update() itself, before its caller has chained anything on the returned
// future. And a model may go before its work ends: the hand-over checks that it is still there.
class ModelHandOver
{
public:
    // Calls apply(finishedWork) on the context's thread from its event loop. The returned future
    // finishes after apply has returned, carries what apply throws, and is cancelled when the
    // context is gone first: before the work ends, or while the hand-over waits in its event
    // queue. What is chained on it runs where it finished, on the context's thread, and is not
    // bound to the context once more: then(context)/onFailed(context) on a context that is gone
    // asserts in a debug build, also for the cancellation that the context's destruction causes.
    // Chain then() rather than onFailed(), which on Qt 6.4 turns that cancellation into success.
    template <typename T, typename Apply>
    [[nodiscard]] static VoidFuture run(QFuture<T> work, QObject *context, Apply apply)
    {
        auto promise = std::make_shared<QPromise<void>>();
        VoidFuture done = promise->future();
        promise->start();
        work.then([promise, receiver = QPointer<QObject>(context), apply](QFuture<T> finished) {
            if (!receiver)
                return; // the promise goes with this lambda and cancels its future
            QMetaObject::invokeMethod(
                receiver.data(),
                [promise, apply, finished]() mutable {
                    try {
                        apply(finished);
                    } catch (...) {
                        promise->setException(std::current_exception());
                    }
                    promise->finish();
                },
                Qt::QueuedConnection);
        });
        return done;
    }
};
