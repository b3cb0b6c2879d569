#include "aggregatebyrow.h"

#include "modelchanges.h"

#include <limits>

namespace ProxyOrm {

namespace {

QString memoKey(const QVariant &key)
{
    return QString::number(key.typeId()) + QLatin1Char(':') + key.toString();
}

// An int sum that leaves the int range continues as qlonglong instead of overflowing.
QVariant addInt(const QVariant &value, const QVariant &accumulator)
{
    const qint64 sum = qint64(value.toInt()) + accumulator.toLongLong();
    if (sum < std::numeric_limits<int>::min() || sum > std::numeric_limits<int>::max())
        return QVariant(qlonglong(sum));
    return QVariant(int(sum));
}

} // namespace

AggregateByRow::AggregateByRow(
    const QAbstractListModel *model, int keyRole, int valueRole, TypeAggregate type, int outputRole)
    : m_model(model)
    , m_keyRole(keyRole)
    , m_valueRole(valueRole)
    , m_type(type)
    , m_outputRole(outputRole)
{
    followModel();
}

AggregateByRow::AggregateByRow(const AggregateByRow &other)
    : AggregateByRow(
        other.m_model.data(), other.m_keyRole, other.m_valueRole, other.m_type, other.m_outputRole)
{ }

AggregateByRow &AggregateByRow::operator=(const AggregateByRow &other)
{
    if (this == &other)
        return *this;
    m_model = other.m_model;
    m_keyRole = other.m_keyRole;
    m_valueRole = other.m_valueRole;
    m_type = other.m_type;
    m_outputRole = other.m_outputRole;
    followModel();
    invalidateCache(-1, -1);
    return *this;
}

void AggregateByRow::followModel()
{
    for (const auto &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    const QAbstractListModel *model = m_model.data();
    if (!model)
        return;
    m_connections = followModelChanges(model, this, &AggregateByRow::invalidate);
}

QList<int> AggregateByRow::roles() const
{
    return { m_outputRole };
}

QVariant AggregateByRow::templateData(int row, int) const
{
    const QAbstractListModel *model = m_model.data();
    if (!model)
        return {};
    const QVariant key = model->data(model->index(row, 0), m_keyRole);
    const QString memo = memoKey(key);
    {
        QMutexLocker lock(&m_memoMutex);
        const auto it = m_memo.constFind(memo);
        if (it != m_memo.constEnd())
            return *it;
    }
    const QVariant result = aggregate(key);
    QMutexLocker lock(&m_memoMutex);
    m_memo.insert(memo, result);
    return result;
}

QVariant AggregateByRow::aggregate(QVariant key) const
{
    const QAbstractListModel *model = m_model.data();
    QVariant accumulator;
    int matches = 0;
    for (int row = 0; model && row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (model->data(index, m_keyRole) != key)
            continue;
        if (step(model->data(index, m_valueRole), accumulator, matches, true))
            return accumulator;
    }
    return finish(accumulator, matches);
}

bool AggregateByRow::step(
    const QVariant &value, QVariant &accumulator, int &matches, bool addsText) const
{
    switch (m_type) {
    case TypeAggregate::Count:
        accumulator = QVariant(accumulator.toInt() + 1);
        break;
    case TypeAggregate::Sum:
    case TypeAggregate::Average:
        ++matches;
        switch (value.typeId()) {
        case QMetaType::QString:
            if (addsText)
                accumulator = QVariant(accumulator.toString() + value.toString());
            break;
        case QMetaType::Float:
            accumulator = QVariant(float(value.toFloat() + accumulator.toFloat()));
            break;
        case QMetaType::Int:
            accumulator = addInt(value, accumulator);
            break;
        case QMetaType::Double:
            accumulator = QVariant(value.toDouble() + accumulator.toDouble());
            break;
        default:
            break;
        }
        break;
    case TypeAggregate::Min:
        if (!accumulator.isValid())
            accumulator = value;
        if (!isMoreComprasion(value, accumulator))
            accumulator = value;
        break;
    case TypeAggregate::Max:
        if (!accumulator.isValid())
            accumulator = value;
        if (isMoreComprasion(value, accumulator))
            accumulator = value;
        break;
    case TypeAggregate::First:
        accumulator = value;
        return true;
    case TypeAggregate::Last:
        accumulator = value;
        break;
    }
    return false;
}

QVariant AggregateByRow::finish(const QVariant &accumulator, int matches) const
{
    if (m_type == TypeAggregate::Average)
        return QVariant(accumulator.toDouble() / matches);
    return accumulator;
}

bool AggregateByRow::isMoreComprasion(QVariant a, QVariant b) const
{
    if (a.metaType() != b.metaType() || !a.isValid())
        return false;
    switch (a.typeId()) {
    case QMetaType::Int:
        return a.toInt() > b.toInt();
    case QMetaType::Double:
        return a.toDouble() > b.toDouble();
    case QMetaType::Float:
        return a.toFloat() > b.toFloat();
    case QMetaType::QString:
        return a.toString() > b.toString();
    default:
        return false;
    }
}

void AggregateByRow::cacheCleared() const
{
    QMutexLocker lock(&m_memoMutex);
    m_memo.clear();
}

void AggregateByRow::invalidate()
{
    invalidateCache(-1, -1);
}

} // namespace ProxyOrm
