#pragma once

#include "isource.h"
#include "typeaggregate.h"

#include <QAbstractListModel>
#include <QHash>
#include <QMutex>
#include <QPointer>

#include <optional>

namespace ProxyOrm {

// Gives every row the aggregate of the rows of the same model that share its key, as a GROUP BY
// repeated on each row. Each distinct key is aggregated once and remembered; changed, inserted,
// removed and moved rows drop only the aggregates of their own keys, resets and layout changes
// drop them all.
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
    void rowsInserted(const QAbstractItemModel *model, int first, int last) const override;
    void rowsRemoved(const QAbstractItemModel *model, int first, int last) const override;
    void rowsMoved(
        const QAbstractItemModel *model, int first, int last, int destination) const override;

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
    enum class RowChange { Insert, Remove, Move };
    struct PendingChange
    {
        RowChange kind;
        int first;
        int last;
        int destination;
        bool operator==(const PendingChange &other) const
        {
            return kind == other.kind && first == other.first && last == other.last
                && destination == other.destination;
        }
    };
    enum class Telling { Ignore, Follow, DropAll };

    void followModel();
    // Called with the memo locked.
    void seeRows() const;
    void forgetGroupsOf(const QVariant &key) const;
    void moveRow(int row, const QVariant &from, const QVariant &to) const;
    void expect(const PendingChange &change);
    // Whether the seen rows follow a change now told, drop everything, or were told before.
    Telling told(const QAbstractItemModel *model, const PendingChange &change) const;
    bool follows(QMutexLocker<QMutex> &lock, Telling telling) const;
    // Adds `delta` to every seen row from `from` on.
    void shiftSeenRows(int from, int delta) const;
    void forgetSeenRow(int row) const;
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
    // A row change the model has announced and nobody has told yet. Until then the model may
    // already differ from the seen rows, so answers are scanned afresh and not remembered.
    mutable std::optional<PendingChange> m_pending;
    // Counts changes to the memo and seen rows, so that an answer computed meanwhile by another
    // thread is not remembered.
    mutable quint64 m_epoch = 0;
};

} // namespace ProxyOrm
