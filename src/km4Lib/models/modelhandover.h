#pragma once

#include "shared/voidfuture.h"

#include <QFuture>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QPromise>

#include <exception>
#include <memory>

// Hands the result of pool work to a model's own thread, always through that thread's event
// loop. A continuation bound to a context object runs at once, inside the call that attaches
// it, when the work has already finished; a model would then reset inside update() itself,
// before its caller has chained anything on the returned future.
class ModelHandOver
{
public:
    // Calls apply(finishedWork) on the context's thread from its event loop. The returned future
    // finishes after apply has returned, carries what apply throws, and is cancelled when the
    // context is gone first.
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
