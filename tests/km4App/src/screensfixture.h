#pragma once

#include "config/envrepo.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "fakeserver.h"
#include "futurewait.h"
#include "heldanswer.h"
#include "qmlappcore.h"
#include "testcore.h"
#include "testdatabase.h"

#include <QDateTime>
#include <QQmlContext>
#include <QQmlEngine>

#include <memory>

// An entity as the server sends it, pushed into its model.
template <typename Entity> QFuture<void> push(EntityModel &model, const QJsonObject &json)
{
    Entity entity;
    entity.fromJson(json);
    return model.insert(&entity);
}

// What the screens' tests may ask of the world around the window: a real core over a real
// database file, restarted at will over stored settings, and the loopback server double. The
// core is published to the engine as "appCore", the fixture itself as "fixture".
class ScreensFixture : public QObject
{
    Q_OBJECT

public:
    // Each engine gets a core of its own.
    void setEngine(QQmlEngine *engine)
    {
        m_engine = engine;
        start();
    }

    // Starts the core anew for the engine, as the program starts: over the settings rows given
    // (key to value) when there are any, else over an empty database. The old core goes first.
    Q_INVOKABLE void start(const QVariantMap &stored = {})
    {
        release();
        m_engine->rootContext()->setContextProperty(QStringLiteral("appCore"), nullptr);
        m_core.reset();
        if (!m_server)
            m_server = std::make_unique<FakeServer>();
        m_server->resetAnswers();
        m_server->clearRequests();
        if (!stored.isEmpty()) {
            TestDatabase database;
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                ENVRepo::insertENV(it.key(), it.value());
        }
        m_core = std::make_unique<Core>(
            *m_server, stored.isEmpty() ? Core::Start::Fresh : Core::Start::OverStoredData);
        // There is no broker here, and nothing may leave the loopback.
        SyncConfig sync = m_core->env()->syncConfig.value();
        sync.mqtt_enabled = false;
        m_core->env()->syncConfig.set(sync);
        m_engine->rootContext()->setContextProperty(QStringLiteral("appCore"), &**m_core);
        m_engine->rootContext()->setContextProperty(QStringLiteral("fixture"), this);
    }

    Q_INVOKABLE int requests(const QString &path) const { return m_server->count(path); }
    Q_INVOKABLE QString setting(const QString &key) const { return TestCore::setting(key); }

    // Every later request to the path is answered with this status: success, or an error.
    Q_INVOKABLE void answer(const QString &path, int status) const
    {
        m_server->setAnswer(path,
            status == 200 ? success(path)
                          : FakeServer::error(status, status, QStringLiteral("down")));
    }

    // Every later request to the path is answered with success only after release(); meanwhile
    // the server double answers nothing else either.
    Q_INVOKABLE void hold(const QString &path)
    {
        m_held = std::make_unique<HeldAnswer>(*m_server, path, success(path));
    }
    Q_INVOKABLE void release() { m_held.reset(); }

    // Lets the pool work the core has set going end and hand its results over (no timer fires).
    Q_INVOKABLE void settle() const { ::settle(); }

    // The synchronisation service's news that a cycle has ended, at a moment the test picks.
    Q_INVOKABLE void announceSyncFinished() { Q_EMIT(*m_core)->httpSyncDBService()->syncFinished(); }

    // A paid order in work with the given number and status, the way a push brings it. The
    // writes behind run on the pool; the core waits for them before it goes.
    Q_INVOKABLE void addOrder(int number, const QString &status)
    {
        AppEnv *env = m_core->env();
        const QString n = QString::number(number);
        push<Order>(env->orderModel, { { "uuid", "o" + n }, { "number", number }, { "status", status },
            { "is_paid", true }, { "created_at", QDateTime::currentSecsSinceEpoch() } });
        push<Receipt>(env->receiptModel, { { "uuid", "r" + n }, { "order_uuid", "o" + n } });
        push<ReceiptItem>(env->receiptItemModel,
            { { "id", number }, { "uuid", "i" + n }, { "receipt_uuid", "r" + n }, { "in_work", true } });
    }

private:
    using Core = BasicTestCore<QmlAppCore>;

    static FakeServer::Answer success(const QString &path)
    {
        return path == FakeServer::TokenPath
            ? FakeServer::token(QStringLiteral("access"), QStringLiteral("refresh"))
            : FakeServer::json({ { "message", "ok" } });
    }

    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<FakeServer> m_server;
    std::unique_ptr<Core> m_core;
    std::unique_ptr<HeldAnswer> m_held; // goes first: the core waits for its exchanges
};
