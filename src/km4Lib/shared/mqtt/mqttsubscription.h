#pragma once

#include "mqttmessage.h"
#include "mqtttopicfilter.h"

#include <QObject>

class MqttClient;

// One subscription of an MqttClient. It is owned by the client and lives only as long as the
// connection it was made on: the session is clean, so when the client becomes Disconnected the
// broker forgets every subscription, and so does the client: each subscription turns
// Unsubscribed and is deleted later (deleteLater()). After reconnecting, subscribe again and
// connect to the new object. Hold it through a QPointer if you keep it around.
class MqttSubscription : public QObject
{
    Q_OBJECT
public:
    enum SubscriptionState {
        Unsubscribed = 0,
        SubscriptionPending = 1, // sent, the broker has not acknowledged it yet
        Subscribed = 2, // acknowledged: messages published from now on reach messageReceived
        Error = 3, // the broker refused it
    };
    Q_ENUM(SubscriptionState)

    ~MqttSubscription() override;

    MqttTopicFilter topic() const;
    quint8 qos() const;
    SubscriptionState state() const;

public Q_SLOTS:
    // Ends the subscription at the broker; the object turns Unsubscribed and is deleted later.
    void unsubscribe();

Q_SIGNALS:
    void stateChanged(MqttSubscription::SubscriptionState state);
    void messageReceived(MqttMessage message);

private:
    friend class MqttClient;
    MqttSubscription(const MqttTopicFilter &topic, quint8 qos, MqttClient *client);
    void setState(SubscriptionState state);

    MqttTopicFilter m_topic;
    quint8 m_qos = 0;
    SubscriptionState m_state = Unsubscribed;
    MqttClient *m_client = nullptr;
    int m_messageId = 0;
};
