#include "mqttsyncdbservice.h"

#include "config/timerinterval.h"
#include "core/appenv.h"
#include "shared/appexception.h"
#include "shared/logger.h"
#include "shared/mqtt/mqttsubscription.h"
#include "shared/mqtt/mqtttopicname.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int defaultOfflineCheckTimeoutMs = 300000;
constexpr int firstReconnectMs = 1000;

} // namespace

MqttSyncDBService::MqttSyncDBService(AppEnv *env, QObject *parent)
    : IService(parent)
    , env(env)
    , rows(env)
    , nextReconnectMs(firstReconnectMs)
{
    reconnectTimer.setSingleShot(true);
    connect(&client, &MqttClient::stateChanged, this, &MqttSyncDBService::mqttStateChanged);
    connect(&client, &MqttClient::heardFromBroker, this,
        [this] { heardSince = this->env->lastUpdate.value(); });
    connect(&reconnectTimer, &QTimer::timeout, this, &MqttSyncDBService::tryConnectMqtt);
    // A freshly paired board learns its point and broker from the first synchronisation, which
    // lands in the environment only after run(); the pushes must follow without a restart.
    connect(&env->domain, &PrivateEnvVariable::changed, this, &MqttSyncDBService::applySettings);
    connect(
        &env->pointConfig, &PrivateEnvVariable::changed, this, &MqttSyncDBService::applySettings);
    connect(
        &env->syncConfig, &PrivateEnvVariable::changed, this, &MqttSyncDBService::applySettings);
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
    // Each run follows a first synchronisation, after which pushes went unheard until now: they
    // are caught up once subscribed, or at once when the subscription is already in place.
    missedPushes = true;
    applySettings();
    subscriptionStateChanged();
}

void MqttSyncDBService::stop()
{
    KM4_LOG_SCOPE();
    running = false;
    listening = false;
    missedPushes = false;
    writesFailing = false;
    heardSince = 0;
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
    // The client hands back the subscription it already has for the same filter; unique
    // connections keep every message handled once.
    connect(subscription, &MqttSubscription::messageReceived, this,
        &MqttSyncDBService::messageReceived, Qt::UniqueConnection);
    connect(subscription, &MqttSubscription::stateChanged, this,
        &MqttSyncDBService::subscriptionStateChanged, Qt::UniqueConnection);
    subscriptionStateChanged();
}

void MqttSyncDBService::subscriptionStateChanged()
{
    if (!running || !subscription || subscription->state() != MqttSubscription::Subscribed)
        return;
    if (!std::exchange(listening, true))
        ++subscriptions;
    // While writes fail, pushes arrive again only once one of this subscription is stored.
    if (missedPushes && !writesFailing) {
        missedPushes = false;
        Q_EMIT pushesResumed();
    }
}

void MqttSyncDBService::scheduleReconnect()
{
    const int limit = TimerInterval::orDefault(
        env->syncConfig.value().mqtt_offline_check_timeout, defaultOfflineCheckTimeoutMs);
    const int delay = std::min(nextReconnectMs, limit);
    reconnectTimer.start(delay);
    nextReconnectMs = delay > limit / 2 ? limit : delay * 2;
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
        nextReconnectMs = firstReconnectMs;
        subscribe();
    } else if (state == MqttClient::Disconnected) {
        client.disconnectFromHost();
        if (running && env->syncConfig.value().mqtt_enabled && !reconnectTimer.isActive())
            scheduleReconnect();
    }
    Q_EMIT connectChanged();
    if (state == MqttClient::Disconnected && listening) {
        listening = false;
        missedPushes = true;
        Q_EMIT pushesInterrupted(heardSince > 0 ? heardSince : env->lastUpdate.value());
    }
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
    // The write ends on this thread; a service gone by then has nothing left to tell.
    const qint64 since = env->lastUpdate.value();
    const quint64 subscribedIn = listening ? subscriptions : 0;
    rows.apply(table, payload.value(QLatin1String("body")).toObject())
        .then(
            [service = QPointer<MqttSyncDBService>(this), since, subscribedIn](VoidFuture written) {
                if (service)
                    service->pushWritten(written, since, subscribedIn);
            });
}

void MqttSyncDBService::pushWritten(VoidFuture written, qint64 since, quint64 subscribedIn)
{
    try {
        written.waitForFinished();
    } catch (const AppException &) {
        writesFailing = true;
        Q_EMIT pushNotStored(since);
        return;
    }
    // A push stored after its subscription was lost says nothing of the pushes that come now.
    if (!writesFailing || !running || !listening || subscribedIn != subscriptions)
        return;
    writesFailing = false;
    missedPushes = false;
    Q_EMIT pushesResumed();
}
