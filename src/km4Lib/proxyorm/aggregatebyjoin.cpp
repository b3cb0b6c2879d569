#include "aggregatebyjoin.h"

#include "modelchanges.h"

namespace ProxyOrm {

AggregateByJoin::AggregateByJoin(const QAbstractListModel *model, int keyRole,
    const QAbstractListModel *join, int joinKeyRole, int valueRole, TypeAggregate type,
    int outputRole, QMap<int, Where> wheres)
    : AggregateByRow(model, keyRole, valueRole, type, outputRole)
    , m_join(join)
    , m_joinKeyRole(joinKeyRole)
    , m_wheres(std::move(wheres))
{
    followJoin();
}

AggregateByJoin::AggregateByJoin(const AggregateByJoin &other)
    : AggregateByJoin(other.m_model.data(), other.m_keyRole, other.m_join.data(),
        other.m_joinKeyRole, other.m_valueRole, other.m_type, other.m_outputRole, other.m_wheres)
{ }

AggregateByJoin &AggregateByJoin::operator=(const AggregateByJoin &other)
{
    if (this == &other)
        return *this;
    AggregateByRow::operator=(other);
    m_join = other.m_join;
    m_joinKeyRole = other.m_joinKeyRole;
    m_wheres = other.m_wheres;
    followJoin();
    invalidateCache(-1, -1);
    return *this;
}

void AggregateByJoin::followJoin()
{
    for (const auto &connection : std::as_const(m_joinConnections))
        disconnect(connection);
    m_joinConnections.clear();
    const QAbstractListModel *join = m_join.data();
    if (!join)
        return;
    // The join model's rows are the ones aggregated, so its changes reach every group; announce
    // them as a join does.
    const auto follow = [this] {
        invalidateCache(-1, -1);
        Q_EMIT changed(roles());
    };
    m_joinConnections = followModelChanges(join, this, follow);
}

QVariant AggregateByJoin::aggregate(QVariant key) const
{
    const QAbstractListModel *join = m_join.data();
    QVariant accumulator;
    int matches = 0;
    for (int row = 0; join && row < join->rowCount(); ++row) {
        const QModelIndex index = join->index(row, 0);
        bool accepted = true;
        for (auto it = m_wheres.constBegin(); it != m_wheres.constEnd(); ++it)
            accepted = it.value().isAccepted(join->data(index, it.key())) && accepted;
        if (!accepted)
            continue;
        if (join->data(index, m_joinKeyRole) != key)
            continue;
        if (step(join->data(index, m_valueRole), accumulator, matches, false))
            return accumulator;
    }
    return finish(accumulator, matches);
}

} // namespace ProxyOrm
