#include "mqttsyncdbservice.h"

#include "config/timerinterval.h"
#include "core/appenv.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "entities/shift.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"
#include "shared/logger.h"
#include "shared/mqtt/mqttsubscription.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QFuture>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace {

constexpr int defaultOfflineCheckTimeoutMs = 300000;

// The model has already taken the row; only a failed database write is left to report.
void warnWhenNotStored(QFuture<void> future, const char *text)
{
    future.then([] { }).onFailed([text] { KM4_LOG(2, text); });
}

} // namespace

MqttSyncDBService::MqttSyncDBService(AppEnv *env, QObject *parent)
    : IService(parent)
    , env(env)
{
    connect(&client, &MqttClient::stateChanged, this, &MqttSyncDBService::mqttStateChanged);
    connect(&reconnectTimer, &QTimer::timeout, this, &MqttSyncDBService::tryConnectMqtt);
    // A freshly paired board learns its point and broker from the first synchronisation, which
    // lands in the environment only after run(); the pushes must follow without a restart.
    connect(&env->domain, &PrivateEnvVariable::changed, this, &MqttSyncDBService::applySettings);
    connect(&env->pointConfig, &PrivateEnvVariable::changed, this,
        &MqttSyncDBService::applySettings);
    connect(&env->syncConfig, &PrivateEnvVariable::changed, this,
        &MqttSyncDBService::applySettings);
}

MqttSyncDBService::~MqttSyncDBService() = default;

bool MqttSyncDBService::isConnected() const
{
    return client.state() == MqttClient::Connected;
}

void MqttSyncDBService::run()
{
    KM4_LOG_SCOPE();
    running = true;
    applySettings();
}

void MqttSyncDBService::stop()
{
    KM4_LOG_SCOPE();
    running = false;
    reconnectTimer.stop();
    client.disconnectFromHost();
}

void MqttSyncDBService::applySettings()
{
    if (!running)
        return;
    const SyncConfig config = env->syncConfig.value();
    if (!config.mqtt_enabled)
        return;

    const bool topicChanged = updateTopic();

    quint16 port = 0;
    if (config.mqtt_port > 0 && config.mqtt_port <= std::numeric_limits<quint16>::max())
        port = quint16(config.mqtt_port);
    else
        KM4_LOG(2, "mqtt port out of range:", config.mqtt_port);

    const bool sameBroker = client.hostname() == config.mqtt_host && client.port() == port
        && client.username() == config.mqtt_login && client.password() == config.mqtt_password;
    if (!sameBroker && client.state() != MqttClient::Disconnected) {
        KM4_LOG(0, "mqtt broker settings changed, reconnecting to", config.mqtt_host, port);
        client.disconnectFromHost();
    }
    client.setHostname(config.mqtt_host);
    client.setPort(port);
    client.setUsername(config.mqtt_login);
    client.setPassword(config.mqtt_password);
    client.connectToHost();

    // Still connected to the same broker: move the subscription to the new point at once.
    if (topicChanged && client.state() == MqttClient::Connected)
        subscribe();
}

bool MqttSyncDBService::updateTopic()
{
    const MqttTopicFilter previous = topicFilter;
    topic = env->domain.value() + QStringLiteral("/point/")
        + QString::number(env->pointConfig.value().id);
    topicFilter = MqttTopicFilter(topic + QStringLiteral("/#"));
    return topicFilter != previous;
}

void MqttSyncDBService::subscribe()
{
    // Pushes for an earlier pairing must not reach this point's database.
    if (subscription && subscription->topic() != topicFilter) {
        subscription->unsubscribe();
        subscription = nullptr;
    }
    // A wiped board has no account: nothing of the old one may reach the fresh database.
    if (env->domain.value().isEmpty()) {
        KM4_LOG(0, "no domain, nothing subscribed");
        return;
    }
    // A wildcard in the domain would still make a valid filter, one that reaches into every
    // account's points: the point's own topic must be a plain topic name.
    if (!MqttTopicName(topic).isValid() || !topicFilter.isValid()) {
        KM4_LOG(2, "mqtt topic filter is not valid, nothing subscribed:", topicFilter.filter());
        return;
    }
    subscription = client.subscribe(topicFilter, quint8(qosLevel));
    if (!subscription) {
        KM4_LOG(2, "mqtt subscription failed:", topicFilter.filter());
        return;
    }
    // The client hands back the subscription it already has for the same filter; a unique
    // connection keeps every message handled once.
    connect(subscription, &MqttSubscription::messageReceived, this,
        &MqttSyncDBService::messageReceived, Qt::UniqueConnection);
}

void MqttSyncDBService::tryConnectMqtt()
{
    KM4_LOG_SCOPE();
    if (running && env->syncConfig.value().mqtt_enabled)
        client.connectToHost();
    else
        reconnectTimer.stop();
}

void MqttSyncDBService::mqttStateChanged()
{
    KM4_LOG_SCOPE();
    const MqttClient::ClientState state = client.state();
    KM4_LOG(0, "mqtt state changed: ", state);
    if (state == MqttClient::Connected) {
        reconnectTimer.stop();
        subscribe();
    } else if (state == MqttClient::Disconnected) {
        client.disconnectFromHost();
        const SyncConfig &config = env->syncConfig.value();
        if (running && config.mqtt_enabled && !reconnectTimer.isActive()) {
            reconnectTimer.start(TimerInterval::orDefault(
                config.mqtt_offline_check_timeout, defaultOfflineCheckTimeoutMs));
        }
    }
    Q_EMIT connectChanged();
}

void MqttSyncDBService::messageReceived(MqttMessage message)
{
    KM4_LOG_SCOPE();
    if (!topicFilter.match(message.topic())) {
        KM4_LOG(2, "mqtt push outside the point's topic ignored:", message.topic().name());
        return;
    }
    const QString table = message.topic().levels().constLast();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message.payload(), &parseError);
    if (!document.isObject())
        KM4_LOG(2, "mqtt push without a JSON object on", message.topic().name());
    const QJsonObject payload = document.object();

    if (payload.value(QLatin1String("from")).toString() == senderPrefix + env->uuid.value())
        return;
    const QJsonObject body = payload.value(QLatin1String("body")).toObject();

    if (table == OrderModel::tableName()) {
        Order order;
        order.fromJson(body);
        warnWhenNotStored(env->orderModel.insert(&order), "order not insert");
    } else if (table == ShiftModel::tableName()) {
        Shift shift;
        shift.fromJson(body);
        applyCurrentShiftRule(shift);
        warnWhenNotStored(env->shiftModel.insert(&shift), "shift not insert");
    } else if (table == ReceiptModel::tableName()) {
        Receipt receipt;
        receipt.fromJson(body);
        warnWhenNotStored(env->receiptModel.insert(&receipt), "receipt not inserted");
    } else if (table == ReceiptItemModel::tableName()) {
        ReceiptItem item;
        item.fromJson(body);
        warnWhenNotStored(env->receiptItemModel.insert(&item), "receipt item not inserted");
    }
}

void MqttSyncDBService::applyCurrentShiftRule(const Shift &shift)
{
    const Shift current = env->shiftModel.byUuid(env->shiftUuid.value());
    if (shift.number >= current.number && shift.type == QLatin1String("general")) {
        env->isShiftOpen.set(shift.closed_at == 0);
        env->shiftUuid.set(shift.uuid);
    }
}
