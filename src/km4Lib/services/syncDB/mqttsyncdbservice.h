#pragma once

#include "services/iservice.h"
#include "services/syncDB/entityrowhandler.h"
#include "shared/mqtt/mqttclient.h"
#include "shared/mqtt/mqttmessage.h"
#include "shared/mqtt/mqtttopicfilter.h"

#include <QPointer>
#include <QString>
#include <QTimer>

class AppEnv;
class MqttSubscription;

// Keeps the board's orders, shifts, receipts and receipt items current between HTTP
// synchronisations: it listens to every topic below the paired point's topic at the server's
// broker and hands each pushed row to the model of its table, which shows and stores it. A lost
// broker is retried after one second, then after twice as long each time, up to the configured
// interval. The session is clean, so the broker keeps nothing while the board is away: the gap is
// announced, for the HTTP synchronisation to catch up; so is a pushed row whose write failed.
class MqttSyncDBService : public IService
{
    Q_OBJECT

public:
    explicit MqttSyncDBService(AppEnv *env, QObject *parent = nullptr);
    ~MqttSyncDBService() override;

    bool isConnected() const;

Q_SIGNALS:
    void connectChanged();
    // The subscription of a running service was lost. Pushes may be missing since the broker was
    // last heard from, which can be long before the loss was noticed (a link that died without a
    // word): `since` is the last synchronisation's time stamp at that moment.
    void pushesInterrupted(qint64 since);
    // Pushes reach the database again: subscribed for the first time in a run(), which follows a
    // first synchronisation, or again after pushesInterrupted(); and, after pushNotStored(), a
    // push received under the current subscription has been stored. What was pushed in between
    // never arrives.
    void pushesResumed();
    // The write of a pushed row failed (a full disk, a locked or read-only database): the rows
    // changed since `since`, the last synchronisation's time stamp when the push came, are to be
    // caught up on.
    void pushNotStored(qint64 since);

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
    void subscriptionStateChanged();
    void scheduleReconnect();
    void pushWritten(VoidFuture written, qint64 since, quint64 subscribedIn);

    AppEnv *env;
    EntityRowHandler rows;
    MqttClient client;
    MqttTopicFilter topicFilter;
    QString topic;
    int qosLevel = 1;
    // Single shot; its interval grows from attempt to attempt until a connection is made.
    QTimer reconnectTimer;
    int nextReconnectMs = 0;
    QString senderPrefix = QStringLiteral("qu-");
    // Between run() and stop(): only then do settings changes and lost connections reconnect.
    bool running = false;
    QPointer<MqttSubscription> subscription;
    // Pushes arrive (the subscription is acknowledged) / may have been missed since run() or since
    // they last arrived / the last write of a pushed row failed.
    bool listening = false;
    bool missedPushes = false;
    bool writesFailing = false;
    // Counts the subscriptions acknowledged: a push stored says that pushes arrive only while the
    // subscription it came under is the current one.
    quint64 subscriptions = 0;
    // The last synchronisation's time stamp when the broker was last heard from.
    qint64 heardSince = 0;
};
