#include "mqtttopicfilter.h"

#include <QStringList>

namespace {
constexpr int maxFilterBytes = 65535;
}

MqttTopicFilter::MqttTopicFilter(const QString &filter)
    : m_filter(filter)
{ }

MqttTopicFilter::MqttTopicFilter(const char *filter)
    : m_filter(QString::fromUtf8(filter))
{ }

QString MqttTopicFilter::filter() const
{
    return m_filter;
}

void MqttTopicFilter::setFilter(const QString &filter)
{
    m_filter = filter;
}

bool MqttTopicFilter::isValid() const
{
    if (m_filter.isEmpty() || m_filter.toUtf8().size() > maxFilterBytes
        || m_filter.contains(QChar(0)))
        return false;
    const QStringList levels = m_filter.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    for (qsizetype i = 0; i < levels.size(); ++i) {
        const QString &level = levels.at(i);
        if (level.contains(QLatin1Char('#'))) {
            if (level.size() != 1 || i != levels.size() - 1)
                return false;
        } else if (level.contains(QLatin1Char('+')) && level.size() != 1) {
            return false;
        }
    }
    return true;
}

bool MqttTopicFilter::match(const MqttTopicName &name) const
{
    if (!isValid() || !name.isValid())
        return false;
    const QStringList filterLevels = m_filter.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    const QStringList nameLevels = name.levels();

    const QString &first = filterLevels.constFirst();
    if (name.name().startsWith(QLatin1Char('$'))
        && (first == QLatin1String("+") || first == QLatin1String("#")))
        return false;

    for (qsizetype i = 0; i < filterLevels.size(); ++i) {
        const QString &level = filterLevels.at(i);
        // "#" also matches the parent level itself: "a/#" matches "a".
        if (level == QLatin1String("#"))
            return true;
        if (i >= nameLevels.size())
            return false;
        if (level != QLatin1String("+") && level != nameLevels.at(i))
            return false;
    }
    return filterLevels.size() == nameLevels.size();
}
