#pragma once

#include "isource.h"
#include "typeaggregate.h"

#include <QAbstractListModel>
#include <QHash>
#include <QMutex>
#include <QPointer>

namespace ProxyOrm {

// Gives every row the aggregate of the rows of the same model that share its key, as a GROUP BY
// repeated on each row. Each distinct key is aggregated once and remembered; changed rows drop
// only the aggregates of the keys they left and joined, other changes drop them all.
class AggregateByRow : public ISource
{
    Q_OBJECT

public:
    AggregateByRow(const QAbstractListModel *model, int keyRole, int valueRole, TypeAggregate type,
        int outputRole);
    AggregateByRow(const AggregateByRow &other);
    AggregateByRow &operator=(const AggregateByRow &other);

    QList<int> roles() const override;
    QVariant templateData(int row, int role) const override;
    virtual QVariant aggregate(QVariant key) const;
    void rowsChanged(const QAbstractItemModel *model, int first, int last) const override;

    bool isMoreComprasion(QVariant a, QVariant b) const;

protected:
    void cacheCleared() const override;
    // Applies one matching value to the accumulator; true when the scan may stop.
    bool step(const QVariant &value, QVariant &accumulator, int &matches, bool addsText) const;
    QVariant finish(const QVariant &accumulator, int matches) const;

    QPointer<const QAbstractListModel> m_model;
    int m_keyRole;
    int m_valueRole;
    TypeAggregate m_type;
    int m_outputRole;

private Q_SLOTS:
    void invalidate();

private:
    struct Group
    {
        QVariant key;
        QVariant value;
    };

    void followModel();
    // Called with the memo locked.
    void seeRows() const;
    void forgetGroupsOf(const QVariant &key) const;
    void moveRow(int row, const QVariant &from, const QVariant &to) const;
    // The rows that may hold `key`, when the seen keys tell; false when every row may.
    bool candidateRows(const QVariant &key, QList<int> &rows) const;

    QList<QMetaObject::Connection> m_connections;
    mutable QMutex m_memoMutex;
    // Keyed by type and text, so that the int 1 and the text "1" keep their own aggregates.
    mutable QHash<QString, Group> m_memo;
    // Key and value of every row as the remembered aggregates saw them, kept while the memo is in
    // use, so that a changed row names the groups it left.
    mutable bool m_seen = false;
    mutable QList<QVariant> m_seenKeys;
    mutable QList<QVariant> m_seenValues;
    // The seen rows of each memo key in ascending order, and how many seen keys have each type:
    // while all keys share one type whose values equal only their own kind, a group's rows are
    // those of its own memo key.
    mutable QHash<QString, QList<int>> m_seenRows;
    mutable QHash<int, int> m_seenTypes;
};

} // namespace ProxyOrm
