#pragma once

#include "where.h"

#include <QAbstractItemModel>
#include <QFuture>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QVariant>

#include <atomic>
#include <memory>

namespace ProxyOrm {

// One aggregate (count, sum, average, minimum, maximum or a derived class's own) of one role
// over the rows of a model that pass a filter per role, published as the property value and
// recomputed when the model changes. The computation may run on the global thread pool; its
// result is published on the object's own thread.
class ProxyOrmValue : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant value READ value NOTIFY changed FINAL)

public:
    enum TypeAggregate : int { Count = 0, Sum = 1, Average = 2, Min = 3, Max = 4, Custom = 5 };

    ProxyOrmValue(
        const QAbstractItemModel *model, TypeAggregate type, int role, QObject *parent = nullptr);
    ~ProxyOrmValue() override;

    void where(int role, Where::TypeComparison type, QVariant value);
    void enabled(bool on);
    void enabledAsync(bool on);
    QVariant value() const;
    bool isAggWhereRole(const QList<int> &roles) const;
    QVariant performInvalidation();

    // The aggregate of kind Custom. Always called on the object's own thread, also in background
    // mode, so that derived classes need no locking and may be destroyed at any time.
    virtual QVariant customArggregate(const QList<QModelIndex> &indexes);

Q_SIGNALS:
    void changed();

protected Q_SLOTS:
    void invalidate();

private:
    struct Plan
    {
        const QAbstractItemModel *model = nullptr;
        QMap<int, Where> wheres;
        TypeAggregate type = Count;
        int role = 0;
    };

    struct Outcome
    {
        QVariant value;
        QList<QModelIndex> accepted; // for Custom, aggregated on the owner's thread
    };

    Plan plan() const;
    static Outcome compute(const Plan &plan, const std::atomic_bool &cancelled);
    QVariant finish(const Outcome &outcome);
    void publish(quint64 generation, const Outcome &outcome);
    void cancelRunning();

    QPointer<const QAbstractItemModel> m_model;
    QVariant m_currentValue;
    QMap<int, Where> m_wheres;
    TypeAggregate m_aggregateType;
    int m_role;
    bool m_isEnabled = true;
    bool m_invalidatePending = false;
    bool m_isAsync = false;

    QFuture<void> m_task;
    std::shared_ptr<std::atomic_bool> m_cancel;
    quint64 m_generation = 0;
};

} // namespace ProxyOrm
