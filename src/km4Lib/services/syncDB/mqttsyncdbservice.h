#pragma once

#include "services/iservice.h"
#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqtttopicfilter.h"

#include <QPointer>
#include <QString>
#include <QTimer>

class AppEnv;
class MqttSubscription;
class Shift;

// Keeps the board's orders, shifts, receipts and receipt items current between HTTP
// synchronisations: it listens to every topic below the paired point's topic at the server's
// broker and hands each pushed row to the model of its table, which shows and stores it. A lost
// broker is retried on a timer.
class MqttSyncDBService : public IService
{
    Q_OBJECT

public:
    explicit MqttSyncDBService(AppEnv *env, QObject *parent = nullptr);
    ~MqttSyncDBService() override;

    bool isConnected() const;

Q_SIGNALS:
    void connectChanged();

public Q_SLOTS:
    void run() override;
    void stop() override;

private Q_SLOTS:
    void messageReceived(MqttMessage message);
    void tryConnectMqtt();
    void mqttStateChanged();

private:
    void applySettings();
    // Points topic and filter at the current domain and point; true when the filter changed.
    bool updateTopic();
    void subscribe();
    void applyCurrentShiftRule(const Shift &shift);

    AppEnv *env;
    MqttClient client;
    MqttTopicFilter topicFilter;
    QString topic;
    int qosLevel = 1;
    QTimer reconnectTimer;
    QString senderPrefix = QStringLiteral("qu-");
    // Between run() and stop(): only then do settings changes and lost connections reconnect.
    bool running = false;
    QPointer<MqttSubscription> subscription;
};
