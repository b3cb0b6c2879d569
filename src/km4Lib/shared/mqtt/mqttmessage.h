#pragma once

#include "mqtttopicname.h"

#include <QByteArray>
#include <QMetaType>

// One message received on a subscription: the topic it was published on and its payload.
class MqttMessage
{
public:
    MqttMessage() = default;
    MqttMessage(const MqttTopicName &topic, const QByteArray &payload);

    MqttTopicName topic() const;
    QByteArray payload() const;

private:
    MqttTopicName m_topic;
    QByteArray m_payload;
};

Q_DECLARE_METATYPE(MqttMessage)
