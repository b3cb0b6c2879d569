#pragma once

#include "mqtttopicname.h"

#include <QMetaType>
#include <QString>

// A subscription filter such as "acme/point/7/#" or "+/point/+/order".
// Valid per MQTT 3.1.1: not empty, at most 65535 UTF-8 bytes, no U+0000, "+" only as a whole
// level, "#" only as the whole last level.
class MqttTopicFilter
{
public:
    MqttTopicFilter() = default;
    MqttTopicFilter(const QString &filter); // NOLINT: implicit like a string, as callers expect
    MqttTopicFilter(const char *filter); // NOLINT

    QString filter() const;
    void setFilter(const QString &filter);

    bool isValid() const;

    // True when a message published on name reaches a subscriber of this filter. An invalid
    // filter or name matches nothing; a filter starting with a wildcard does not match names
    // starting with "$" (the broker's own topics).
    bool match(const MqttTopicName &name) const;

    friend bool operator==(const MqttTopicFilter &a, const MqttTopicFilter &b)
    {
        return a.m_filter == b.m_filter;
    }
    friend bool operator!=(const MqttTopicFilter &a, const MqttTopicFilter &b) { return !(a == b); }

private:
    QString m_filter;
};

Q_DECLARE_METATYPE(MqttTopicFilter)
