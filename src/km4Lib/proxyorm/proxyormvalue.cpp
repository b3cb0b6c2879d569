#include "proxyormvalue.h"

#include <QtConcurrent>

#include <limits>

namespace ProxyOrm {

ProxyOrmValue::ProxyOrmValue(
    const QAbstractItemModel *model, TypeAggregate type, int role, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_aggregateType(type)
    , m_role(role)
{
    if (!model)
        return;
    using M = QAbstractItemModel;
    connect(model, &M::modelReset, this, &ProxyOrmValue::invalidate);
    connect(model, &M::rowsInserted, this, &ProxyOrmValue::invalidate);
    connect(model, &M::rowsRemoved, this, &ProxyOrmValue::invalidate);
    connect(model, &M::rowsMoved, this, &ProxyOrmValue::invalidate);
    connect(model, &M::layoutChanged, this, &ProxyOrmValue::invalidate);
    connect(model, &M::dataChanged, this,
        [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (roles.isEmpty() || isAggWhereRole(roles))
                invalidate();
        });
    // A computation in flight reads the model; it must not see a change half-way.
    connect(model, &M::rowsAboutToBeInserted, this, &ProxyOrmValue::cancelRunning);
    connect(model, &M::rowsAboutToBeRemoved, this, &ProxyOrmValue::cancelRunning);
    connect(model, &M::rowsAboutToBeMoved, this, &ProxyOrmValue::cancelRunning);
    connect(model, &M::modelAboutToBeReset, this, &ProxyOrmValue::cancelRunning);
    connect(model, &M::layoutAboutToBeChanged, this, &ProxyOrmValue::cancelRunning);
    connect(model, &QObject::destroyed, this, &ProxyOrmValue::cancelRunning);
}

ProxyOrmValue::~ProxyOrmValue()
{
    cancelRunning();
}

void ProxyOrmValue::where(int role, Where::TypeComparison type, QVariant value)
{
    m_wheres.insert(role, Where(type, std::move(value)));
}

void ProxyOrmValue::enabled(bool on)
{
    m_isEnabled = on;
    if (on && m_invalidatePending)
        invalidate();
}

void ProxyOrmValue::enabledAsync(bool on)
{
    m_isAsync = on;
}

QVariant ProxyOrmValue::value() const
{
    return m_currentValue;
}

bool ProxyOrmValue::isAggWhereRole(const QList<int> &roles) const
{
    if (roles.contains(m_role))
        return true;
    for (auto it = m_wheres.constBegin(); it != m_wheres.constEnd(); ++it) {
        if (roles.contains(it.key()))
            return true;
    }
    return false;
}

QVariant ProxyOrmValue::performInvalidation()
{
    const std::atomic_bool notCancelled(false);
    return finish(compute(plan(), notCancelled));
}

QVariant ProxyOrmValue::finish(const Outcome &outcome)
{
    return m_aggregateType == Custom ? customArggregate(outcome.accepted) : outcome.value;
}

QVariant ProxyOrmValue::customArggregate(const QList<QModelIndex> &)
{
    return {};
}

void ProxyOrmValue::invalidate()
{
    if (!m_isEnabled) {
        m_invalidatePending = true;
        return;
    }
    m_invalidatePending = false;
    cancelRunning();

    if (!m_isAsync) {
        m_currentValue = performInvalidation();
        Q_EMIT changed();
        return;
    }

    auto cancel = std::make_shared<std::atomic_bool>(false);
    m_cancel = cancel;
    const quint64 generation = m_generation;
    m_task = QtConcurrent::run([this, input = plan(), cancel, generation] {
        const Outcome outcome = compute(input, *cancel);
        if (cancel->load())
            return;
        // The destructor waits for this task, so the object is alive here; a posted call still
        // pending when it is destroyed is discarded with it.
        QMetaObject::invokeMethod(
            this, [this, generation, outcome] { publish(generation, outcome); },
            Qt::QueuedConnection);
    });
}

void ProxyOrmValue::publish(quint64 generation, const Outcome &outcome)
{
    if (generation != m_generation)
        return;
    m_cancel.reset();
    m_currentValue = finish(outcome);
    Q_EMIT changed();
}

ProxyOrmValue::Plan ProxyOrmValue::plan() const
{
    Plan input;
    input.model = m_model.data();
    input.wheres = m_wheres;
    input.type = m_aggregateType;
    input.role = m_role;
    return input;
}

ProxyOrmValue::Outcome ProxyOrmValue::compute(const Plan &plan, const std::atomic_bool &cancelled)
{
    const QAbstractItemModel *model = plan.model;
    const int count = model ? model->rowCount() : 0;
    QList<QModelIndex> accepted;
    for (int row = 0; row < count && !cancelled.load(std::memory_order_relaxed); ++row) {
        const QModelIndex index = model->index(row, 0);
        bool passes = true;
        for (auto it = plan.wheres.constBegin(); it != plan.wheres.constEnd(); ++it)
            passes = it.value().isAccepted(model->data(index, it.key())) && passes;
        if (passes)
            accepted.append(index);
    }

    const auto valueAt
        = [&](const QModelIndex &index) { return model->data(index, plan.role).toDouble(); };
    switch (plan.type) {
    case Count:
        return { QVariant(qlonglong(accepted.size())), {} };
    case Sum:
    case Average: {
        double sum = 0.0;
        for (const QModelIndex &index : std::as_const(accepted)) {
            if (cancelled)
                break;
            sum += valueAt(index);
        }
        if (plan.type == Sum)
            return { QVariant(sum), {} };
        return { QVariant(accepted.isEmpty() ? std::numeric_limits<double>::quiet_NaN()
                                             : sum / double(accepted.size())),
            {} };
    }
    case Min:
    case Max: {
        if (accepted.isEmpty())
            return {};
        double extreme = valueAt(accepted.first());
        for (qsizetype i = 1; i < accepted.size() && !cancelled; ++i) {
            const double value = valueAt(accepted.at(i));
            if (plan.type == Min ? value < extreme : value > extreme)
                extreme = value;
        }
        return { QVariant(extreme), {} };
    }
    case Custom:
        return { QVariant(), accepted };
    }
    return {};
}

void ProxyOrmValue::cancelRunning()
{
    // Drops a finished result whose publication is still queued, too.
    ++m_generation;
    if (m_cancel) {
        m_cancel->store(true);
        // The task's own future: waiting for the publishing step would need this thread.
        m_task.waitForFinished();
        m_cancel.reset();
    }
}

} // namespace ProxyOrm
