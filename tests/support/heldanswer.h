#pragma once

#include "fakeserver.h"
#include "testenvironment.h"

#include <QSemaphore>

#include <memory>
#include <utility>

// An answer that the server double gives only once the test lets it go, so that a request is
// caught under way however long the test takes to get there. It answers every request to its
// path. The double's thread waits in it meanwhile and answers no other request; and should the
// test never let go, the wait ends after TestEnvironment::patienceMs, so that the double does not
// hang with the test. Let go at the latest when it is destroyed.
//
//     HeldAnswer held(server, FakeServer::SyncPath, FakeServer::sync({}, now));
//     ... start the request, do what must happen while it is under way ...
//     held.release(); // this and every later request are answered at once
class HeldAnswer
{
public:
    HeldAnswer(FakeServer &server, const QString &path, const FakeServer::Answer &answer)
        : HeldAnswer(server, path, [answer](const RecordedRequest &) { return answer; })
    { }
    // The answer is computed once the test has let it go.
    HeldAnswer(FakeServer &server, const QString &path, FakeServer::Responder responder)
    {
        server.setResponder(path, [gate = m_gate, responder](const RecordedRequest &request) {
            if (gate->tryAcquire(1, TestEnvironment::patienceMs))
                gate->release();
            return responder(request);
        });
    }
    ~HeldAnswer() { release(); }
    HeldAnswer(const HeldAnswer &) = delete;
    HeldAnswer &operator=(const HeldAnswer &) = delete;

    void release()
    {
        if (!std::exchange(m_released, true))
            m_gate->release();
    }

private:
    // Shared with the responder, which the double keeps after this object has gone.
    const std::shared_ptr<QSemaphore> m_gate = std::make_shared<QSemaphore>();
    bool m_released = false;
};
