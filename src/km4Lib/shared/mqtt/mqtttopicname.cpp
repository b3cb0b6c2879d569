#include "mqtttopicname.h"

namespace {
constexpr int maxTopicBytes = 65535;
}

MqttTopicName::MqttTopicName(const QString &name)
    : m_name(name)
{ }

MqttTopicName::MqttTopicName(const char *name)
    : m_name(QString::fromUtf8(name))
{ }

QString MqttTopicName::name() const
{
    return m_name;
}

void MqttTopicName::setName(const QString &name)
{
    m_name = name;
}

QStringList MqttTopicName::levels() const
{
    return m_name.split(QLatin1Char('/'), Qt::KeepEmptyParts);
}

bool MqttTopicName::isValid() const
{
    if (m_name.isEmpty() || m_name.toUtf8().size() > maxTopicBytes)
        return false;
    return !m_name.contains(QLatin1Char('+')) && !m_name.contains(QLatin1Char('#'))
        && !m_name.contains(QChar(0));
}
