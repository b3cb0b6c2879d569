#include "mqttmessage.h"

MqttMessage::MqttMessage(const MqttTopicName &topic, const QByteArray &payload)
    : m_topic(topic)
    , m_payload(payload)
{ }

MqttTopicName MqttMessage::topic() const
{
    return m_topic;
}

QByteArray MqttMessage::payload() const
{
    return m_payload;
}
