#pragma once

#include "mosquittobroker.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include "core/appenv.h"
#include "services/syncDB/mqttsyncdbservice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

// A board's push client over a fresh database, and a real broker of its own (start it before
// pairing). TestEnvironment::init() must have run.
//
//     PushedPoint point;
//     QVERIFY2(point.broker.start(), qPrintable(point.broker.errorString()));
//     point.pair(QStringLiteral("acme"), 7, point.config());
//     point.service.run();
//     QVERIFY(point.listening());
//     QVERIFY(point.broker.publish(point.topic() + "/order", PushedPoint::push(row)));
struct PushedPoint
{
    // Writes still running on the pool finish before their database goes.
    ~PushedPoint() { TestDatabase::drainThreadPool(); }

    // Settings that reach the broker (by default the point's own), retried after offlineCheckMs.
    SyncConfig config(int offlineCheckMs = 60000, const MosquittoBroker *at = nullptr) const
    {
        at = at ? at : &broker;
        SyncConfig config;
        config.mqtt_enabled = true;
        config.mqtt_host = at->host();
        config.mqtt_port = at->port();
        config.mqtt_login = at->username();
        config.mqtt_password = at->password();
        config.mqtt_offline_check_timeout = offlineCheckMs;
        return config;
    }

    void pair(const QString &domain, int pointId, const SyncConfig &config)
    {
        env.domain.set(domain);
        PointConfig point;
        point.id = pointId;
        env.pointConfig.set(point);
        env.syncConfig.set(config);
    }

    QString topic() const
    {
        return env.domain.value() + "/point/" + QString::number(env.pointConfig.value().id);
    }

    // A push as the server sends it.
    static QByteArray push(const QJsonObject &body)
    {
        const QJsonObject payload { { "from", "server" }, { "body", body } };
        return QJsonDocument(payload).toJson(QJsonDocument::Compact);
    }

    // Publishes receipt pushes below the topic (by default the paired point's) until the board
    // shows one: the subscription is in place and every push published before has been handled.
    [[nodiscard]] bool listening(QString topic = {}, MosquittoBroker *at = nullptr)
    {
        const QString probe = QUuid::createUuid().toString();
        const QByteArray payload
            = push({ { "uuid", probe }, { "shift_uuid", "p" }, { "order_uuid", "p" } });
        topic = (topic.isEmpty() ? this->topic() : topic) + "/receipt";
        for (const QDeadlineTimer patience(TestEnvironment::patienceMs); !patience.hasExpired();) {
            if (!(at ? at : &broker)->publish(topic, payload))
                return false;
            // Not QTest::qWaitFor: its pause after every pass would hold each message for 10 ms.
            const QDeadlineTimer deadline(200);
            while (!deadline.hasExpired()) {
                if (env.receiptModel.byUuid(probe).isValid())
                    return true;
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            }
        }
        return false;
    }

    MosquittoBroker broker;
    TestDatabase database;
    AppEnv env;
    MqttSyncDBService service { &env };
};
