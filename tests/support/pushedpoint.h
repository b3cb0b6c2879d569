#pragma once

#include "mosquittobroker.h"
#include "testdatabase.h"

#include "core/appenv.h"
#include "services/syncDB/mqttsyncdbservice.h"

#include <QJsonObject>
#include <QJsonValue>

// A board's push client over a fresh database, and a real broker of its own (start it first).
// TestEnvironment::init() must have run.
//
//     PushedPoint point;
//     QVERIFY2(point.broker.start(), qPrintable(point.broker.errorString()));
//     point.pair(QStringLiteral("acme"), 7, point.config());
//     point.service.run();
//     QVERIFY(point.listening());
//     QVERIFY(point.broker.publish(point.topic() + "/order", PushedPoint::push(row)));
class PushedPoint
{
public:
    ~PushedPoint();

    // Settings that reach the broker (by default the point's own), retried after offlineCheckMs.
    SyncConfig config(int offlineCheckMs = 60000, const MosquittoBroker *at = nullptr) const;
    void pair(const QString &domain, int pointId, const SyncConfig &config);
    QString topic() const;
    // Publishes receipt pushes below the topic (by default the paired point's) until the board
    // shows one: the subscription is in place and every push published before has been handled.
    [[nodiscard]] bool listening(const QString &topic = {}, MosquittoBroker *at = nullptr);
    // A push as the server sends it; an undefined sender leaves "from" out.
    static QByteArray push(const QJsonObject &body, const QJsonValue &from = QStringLiteral("server"));

    MosquittoBroker broker;
    TestDatabase database;
    AppEnv env;
    MqttSyncDBService service { &env };
    // Probe receipts the board has been shown so far.
    int probes = 0;
};
