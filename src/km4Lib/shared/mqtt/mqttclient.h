#pragma once

#include "mqttsubscription.h"
#include "mqtttopicfilter.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QHostInfo;
class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

// A small MQTT 3.1.1 client over libmosquitto, driven entirely by the owner thread's event loop:
// the host is resolved with QHostInfo, the socket is connected without blocking and watched with
// QSocketNotifier, and a timer keeps the connection alive. Every signal is emitted on the thread
// the client lives on, never from inside libmosquitto.
//
// Behaviour callers rely on:
// - the settings take effect only while Disconnected;
// - connectToHost() does nothing unless Disconnected; it reports Connecting at once, and
//   Connected only later from the event loop;
// - a failed lookup, a refused connection or login, a silent broker (after the keep-alive) and a
//   lost connection all end in Disconnected; the client never reconnects by itself;
// - stateChanged is emitted only on a real change;
// - clean session, a random client id, keep-alive 10 s, plain TCP. A link that dies without a word
//   (a router or NAT that forgets the connection) is noticed within two keep-alive periods.
// The password is never logged.
class MqttClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ClientState state READ state NOTIFY stateChanged)
public:
    enum ClientState { Disconnected = 0, Connecting = 1, Connected = 2 };
    Q_ENUM(ClientState)

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    QString hostname() const;
    void setHostname(const QString &hostname);
    quint16 port() const;
    void setPort(quint16 port);
    QString username() const;
    void setUsername(const QString &username);
    QString password() const;
    void setPassword(const QString &password);
    QString clientId() const;

    ClientState state() const;

    // Subscribes while Connected; null when not connected or the filter is invalid. Asking again
    // for a filter that is already subscribed returns the same object.
    MqttSubscription *subscribe(const MqttTopicFilter &topic, quint8 qos = 0);

public Q_SLOTS:
    void connectToHost();
    void disconnectFromHost();

Q_SIGNALS:
    void stateChanged(MqttClient::ClientState state);
    // Bytes came from the broker over the connection (a message, an acknowledgement, the answer
    // to a keep-alive ping): the link was alive at this moment.
    void heardFromBroker();

private:
    friend class MqttSubscription;

    // What libmosquitto reported from inside one of its calls; handled once the call returned.
    struct Event
    {
        enum Type { ConnAck, SubAck, Message, Closed };
        Type type;
        int code = 0;
        int messageId = 0;
        QByteArray topic;
        QByteArray payload;
    };

    static void onConnectCallback(mosquitto *, void *self, int code);
    static void onDisconnectCallback(mosquitto *, void *self, int code);
    static void onSubscribeCallback(
        mosquitto *, void *self, int mid, int count, const int *granted);
    static void onMessageCallback(mosquitto *, void *self, const mosquitto_message *message);

    void hostResolved(quint64 session, const QHostInfo &info);
    void startSession(const QString &address);
    void readSocket();
    void writeSocket();
    void serviceConnection();
    void afterLibraryCall(int rc);
    void processEvents();
    void deliver(const MqttMessage &message);
    void unsubscribe(MqttSubscription *subscription);
    void closeConnection(const QString &reason);
    void releaseSession();
    void setState(ClientState state);

    QString m_hostname;
    quint16 m_port = 1883;
    QString m_username;
    QString m_password;
    QString m_clientId;
    ClientState m_state = Disconnected;

    // Bumped on every connect and close, so work of an earlier attempt is never applied later.
    quint64 m_session = 0;
    QString m_closeReason;
    int m_lookupId = -1;
    mosquitto *m_mosq = nullptr;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_keepAliveTimer;
    QList<Event> m_events;
    QList<QPointer<MqttSubscription>> m_subscriptions;
};
