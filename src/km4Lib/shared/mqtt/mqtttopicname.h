#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// The name of a topic a message was published on, e.g. "acme/point/7/order".
// Valid per MQTT 3.1.1: not empty, at most 65535 UTF-8 bytes, no wildcard and no U+0000.
class MqttTopicName
{
public:
    MqttTopicName() = default;
    MqttTopicName(const QString &name); // NOLINT: implicit like a string, as callers expect
    MqttTopicName(const char *name); // NOLINT

    QString name() const;
    void setName(const QString &name);

    // The levels between the "/" separators, empty levels kept ("a//b" gives "a", "", "b").
    QStringList levels() const;

    bool isValid() const;

    friend bool operator==(const MqttTopicName &a, const MqttTopicName &b)
    {
        return a.m_name == b.m_name;
    }
    friend bool operator!=(const MqttTopicName &a, const MqttTopicName &b) { return !(a == b); }

private:
    QString m_name;
};

Q_DECLARE_METATYPE(MqttTopicName)
