#include "pushedpoint.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>

PushedPoint::~PushedPoint()
{
    // Writes still running on the pool finish before their database goes.
    TestDatabase::drainThreadPool();
}

SyncConfig PushedPoint::config(int offlineCheckMs, const MosquittoBroker *at) const
{
    if (!at)
        at = &broker;
    SyncConfig config;
    config.mqtt_enabled = true;
    config.mqtt_host = at->host();
    config.mqtt_port = at->port();
    config.mqtt_login = at->username();
    config.mqtt_password = at->password();
    config.mqtt_offline_check_timeout = offlineCheckMs;
    return config;
}

void PushedPoint::pair(const QString &domain, int pointId, const SyncConfig &config)
{
    env.domain.set(domain);
    PointConfig point;
    point.id = pointId;
    env.pointConfig.set(point);
    env.syncConfig.set(config);
}

QString PushedPoint::topic() const
{
    return env.domain.value() + QStringLiteral("/point/")
        + QString::number(env.pointConfig.value().id);
}

bool PushedPoint::listening(const QString &topic, MosquittoBroker *at)
{
    const QString probe = QStringLiteral("probe-%1").arg(probes + 1);
    const QByteArray payload
        = push(QJsonObject { { "uuid", probe }, { "shift_uuid", "p" }, { "order_uuid", "p" } });
    const QString name = (topic.isEmpty() ? this->topic() : topic) + QStringLiteral("/receipt");
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!(at ? at : &broker)->publish(name, payload))
            return false;
        // Not QTest::qWaitFor: its pause after every pass would hold each message for 10 ms.
        const QDeadlineTimer deadline(200);
        while (!deadline.hasExpired()) {
            if (env.receiptModel.byUuid(probe).isValid()) {
                ++probes;
                return true;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    }
    return false;
}

QByteArray PushedPoint::push(const QJsonObject &body, const QJsonValue &from)
{
    QJsonObject payload { { QStringLiteral("body"), body } };
    if (!from.isUndefined())
        payload.insert(QStringLiteral("from"), from);
    return QJsonDocument(payload).toJson(QJsonDocument::Compact);
}
