#pragma once

#include "aggregatebyrow.h"
#include "where.h"

#include <QMap>

namespace ProxyOrm {

// Gives every row the aggregate over the rows of a second (join) model whose join key equals the
// row's key and that pass the filters, as a join followed by a grouped aggregate. Text values are
// not summed. Follows the join model as well as the source model.
class AggregateByJoin : public AggregateByRow
{
    Q_OBJECT

public:
    AggregateByJoin(const QAbstractListModel *model, int keyRole, const QAbstractListModel *join,
        int joinKeyRole, int valueRole, TypeAggregate type, int outputRole,
        QMap<int, Where> wheres);
    AggregateByJoin(const AggregateByJoin &other);
    AggregateByJoin &operator=(const AggregateByJoin &other);

    QVariant aggregate(QVariant key) const override;
    // The aggregates come from the join model alone; a changed row only looks up another key.
    void rowsChanged(const QAbstractItemModel *, int, int) const override { }

private:
    void followJoin();

    QPointer<const QAbstractListModel> m_join;
    int m_joinKeyRole;
    QMap<int, Where> m_wheres;
    QList<QMetaObject::Connection> m_joinConnections;
};

} // namespace ProxyOrm
