#pragma once

#include "fakeserver.h"
#include "qmlappcore.h"
#include "testcore.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class QQmlEngine;

// What the screens' tests may ask of the world around the window: a real core over a real
// database file, restarted at will over stored settings, and the loopback server double. The
// core is published to the engine as "appCore", the fixture itself as "fixture".
class ScreensFixture : public QObject
{
    Q_OBJECT

public:
    explicit ScreensFixture(QObject *parent = nullptr);
    ~ScreensFixture() override;

    void setEngine(QQmlEngine *engine);
    void stop();
    QmlAppCore *core() { return &**m_core; }

    // Starts the core anew, as the program starts: over the settings rows given (key to value)
    // when there are any, else over an empty database. The old core goes first.
    Q_INVOKABLE void start(const QVariantMap &stored = {});

    // A last update recent enough for the board to work offline.
    Q_INVOKABLE QString recentUpdate() const;
    Q_INVOKABLE int requests(const QString &path) const;
    // Every later request to the path fails with a server error.
    Q_INVOKABLE void refuse(const QString &path) const;
    // Every later request to the path is answered with success after a delay.
    Q_INVOKABLE void answerLater(const QString &path, int ms) const;
    // The next registration is refused as that of a device already registered.
    Q_INVOKABLE void knowTheDevice() const;
    Q_INVOKABLE QString setting(const QString &key) const;

    // The synchronisation service's news that a cycle has ended, at a moment the test picks.
    Q_INVOKABLE void announceSyncFinished();

    // A paid order in work with the given number and status, the way a push brings it.
    Q_INVOKABLE void addOrder(int number, const QString &status);

private:
    void publish();

    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<FakeServer> m_server;
    std::unique_ptr<BasicTestCore<QmlAppCore>> m_core;
};
