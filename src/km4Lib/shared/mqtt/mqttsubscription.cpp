#include "mqttsubscription.h"

#include "mqttclient.h"

MqttSubscription::MqttSubscription(const MqttTopicFilter &topic, quint8 qos, MqttClient *client)
    : QObject(client)
    , m_topic(topic)
    , m_qos(qos)
    , m_client(client)
{ }

MqttSubscription::~MqttSubscription() = default;

MqttTopicFilter MqttSubscription::topic() const
{
    return m_topic;
}

quint8 MqttSubscription::qos() const
{
    return m_qos;
}

MqttSubscription::SubscriptionState MqttSubscription::state() const
{
    return m_state;
}

void MqttSubscription::unsubscribe()
{
    if (m_client)
        m_client->unsubscribe(this);
}

void MqttSubscription::setState(SubscriptionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
