#include "aggregatebyrow.h"

#include <algorithm>
#include <limits>
#include <utility>

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

// Strict: the int 1 and the double 1.0 aggregate differently.
bool same(const QVariant &a, const QVariant &b)
{
    return a.metaType() == b.metaType() && a == b;
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
    // Answers come from the memo by key; a per-row cache would hold every row of a changed group.
    setCacheEnabled(false);
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
    {
        QMutexLocker lock(&m_memoMutex);
        m_pending.reset();
    }
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
    using M = QAbstractItemModel;
    m_connections = {
        connect(model, &M::modelReset, this, &AggregateByRow::invalidate),
        // Row changes are announced first, so that answers read before they are told here are
        // not taken from seen rows the model no longer has.
        connect(model, &M::rowsAboutToBeInserted, this,
            [this](const QModelIndex &, int first, int last) {
                expect({ RowChange::Insert, first, last, 0 });
            }),
        connect(model, &M::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                rowsInserted(m_model.data(), first, last);
            }),
        connect(model, &M::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                expect({ RowChange::Remove, first, last, 0 });
            }),
        connect(model, &M::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                rowsRemoved(m_model.data(), first, last);
            }),
        connect(model, &M::rowsAboutToBeMoved, this,
            [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
                expect({ RowChange::Move, first, last, to });
            }),
        connect(model, &M::rowsMoved, this,
            [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
                rowsMoved(m_model.data(), first, last, to);
            }),
        connect(model, &M::layoutChanged, this, &AggregateByRow::invalidate),
        // A proxy may have passed the same rows on already; seeing them again finds nothing new.
        connect(model, &M::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                rowsChanged(m_model.data(), topLeft.row(), bottomRight.row());
            }),
    };
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
    quint64 epoch = 0;
    {
        QMutexLocker lock(&m_memoMutex);
        if (m_pending) {
            lock.unlock();
            return aggregate(key);
        }
        const auto it = m_memo.constFind(memo);
        if (it != m_memo.constEnd())
            return it->value;
        // Before the aggregate: a change made meanwhile then differs from what was seen.
        if (!m_seen)
            seeRows();
        epoch = m_epoch;
    }
    const QVariant result = aggregate(key);
    QMutexLocker lock(&m_memoMutex);
    // Not remembered when anything was dropped meanwhile: it may hold what was dropped.
    if (m_seen && m_epoch == epoch && !m_pending)
        m_memo.insert(memo, { key, result });
    return result;
}

void AggregateByRow::seeRows() const
{
    const QAbstractListModel *model = m_model.data();
    const int count = model ? model->rowCount() : 0;
    m_seenKeys.resize(count);
    m_seenValues.resize(count);
    m_seenRows.clear();
    m_seenTypes.clear();
    for (int row = 0; row < count; ++row) {
        const QModelIndex index = model->index(row, 0);
        const QVariant key = model->data(index, m_keyRole);
        m_seenRows[memoKey(key)].append(row);
        ++m_seenTypes[key.typeId()];
        m_seenKeys[row] = key;
        m_seenValues[row] = model->data(index, m_valueRole);
    }
    m_seen = true;
    ++m_epoch;
}

void AggregateByRow::moveRow(int row, const QVariant &from, const QVariant &to) const
{
    const QString fromKey = memoKey(from);
    QList<int> &fromRows = m_seenRows[fromKey];
    const auto at = std::lower_bound(fromRows.begin(), fromRows.end(), row);
    if (at != fromRows.end() && *at == row)
        fromRows.erase(at);
    if (fromRows.isEmpty())
        m_seenRows.remove(fromKey);
    if (--m_seenTypes[from.typeId()] == 0)
        m_seenTypes.remove(from.typeId());
    QList<int> &toRows = m_seenRows[memoKey(to)];
    toRows.insert(std::lower_bound(toRows.begin(), toRows.end(), row), row);
    ++m_seenTypes[to.typeId()];
}

bool AggregateByRow::candidateRows(const QVariant &key, QList<int> &rows) const
{
    // Other kinds may equal values of other types (the int 1 equals the text "1") or equal
    // values of another text (0.0 and -0.0).
    const int type = key.typeId();
    if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::QString)
        return false;
    QMutexLocker lock(&m_memoMutex);
    if (!m_seen || m_pending || m_seenTypes.size() != 1 || m_seenTypes.constBegin().key() != type)
        return false;
    rows = m_seenRows.value(memoKey(key));
    return true;
}

void AggregateByRow::rowsChanged(const QAbstractItemModel *model, int first, int last) const
{
    const QAbstractListModel *own = m_model.data();
    if (!own || model != own || first < 0 || first > last) {
        invalidateCache(-1, -1);
        return;
    }
    QMutexLocker lock(&m_memoMutex);
    if (!m_seen)
        return;
    if (last >= m_seenKeys.size() || m_seenKeys.size() != own->rowCount()) {
        lock.unlock();
        invalidateCache(-1, -1);
        return;
    }
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = own->index(row, 0);
        const QVariant key = own->data(index, m_keyRole);
        const QVariant value = own->data(index, m_valueRole);
        QVariant &seenKey = m_seenKeys[row];
        QVariant &seenValue = m_seenValues[row];
        if (same(key, seenKey) && same(value, seenValue))
            continue;
        ++m_epoch;
        forgetGroupsOf(seenKey);
        forgetGroupsOf(key);
        if (!same(key, seenKey))
            moveRow(row, seenKey, key);
        seenKey = key;
        seenValue = value;
    }
}

void AggregateByRow::expect(const PendingChange &change)
{
    QMutexLocker lock(&m_memoMutex);
    if (m_pending) {
        // A change announced while another is still under way: the seen rows cannot tell which
        // the model has made.
        m_memo.clear();
        m_seen = false;
        ++m_epoch;
    }
    m_pending = change;
}

AggregateByRow::Telling AggregateByRow::told(
    const QAbstractItemModel *model, const PendingChange &change) const
{
    const QAbstractListModel *own = m_model.data();
    if (!own || model != own || change.first < 0 || change.first > change.last)
        return Telling::DropAll;
    if (!m_pending) {
        // Told before, or the change was announced before this aggregate followed the model;
        // then only the row count tells whether what was seen is current.
        return !m_seen || m_seenKeys.size() == own->rowCount() ? Telling::Ignore : Telling::DropAll;
    }
    const bool announced = *std::exchange(m_pending, std::nullopt) == change;
    if (!announced)
        return Telling::DropAll;
    return m_seen ? Telling::Follow : Telling::Ignore;
}

void AggregateByRow::shiftSeenRows(int from, int delta) const
{
    for (QList<int> &rows : m_seenRows) {
        for (auto it = std::lower_bound(rows.begin(), rows.end(), from); it != rows.end(); ++it)
            *it += delta;
    }
}

void AggregateByRow::forgetSeenRow(int row) const
{
    const QVariant &key = m_seenKeys.at(row);
    forgetGroupsOf(key);
    const QString memo = memoKey(key);
    QList<int> &rows = m_seenRows[memo];
    const auto at = std::lower_bound(rows.begin(), rows.end(), row);
    if (at != rows.end() && *at == row)
        rows.erase(at);
    if (rows.isEmpty())
        m_seenRows.remove(memo);
    if (--m_seenTypes[key.typeId()] == 0)
        m_seenTypes.remove(key.typeId());
}

// Ends a change told as "drop everything" or "told before"; true when it is to be followed row
// by row, with the memo still locked.
bool AggregateByRow::follows(QMutexLocker<QMutex> &lock, Telling telling) const
{
    if (telling == Telling::DropAll) {
        lock.unlock();
        invalidateCache(-1, -1);
        return false;
    }
    return telling == Telling::Follow;
}

void AggregateByRow::rowsInserted(const QAbstractItemModel *model, int first, int last) const
{
    QMutexLocker lock(&m_memoMutex);
    Telling telling = told(model, { RowChange::Insert, first, last, 0 });
    const QAbstractListModel *own = m_model.data();
    const int count = last - first + 1;
    if (telling == Telling::Follow
        && (m_seenKeys.size() != own->rowCount() - count || first > m_seenKeys.size()))
        telling = Telling::DropAll;
    if (!follows(lock, telling))
        return;
    ++m_epoch;
    // Plain row numbers renumbered on each insert: a pass over ints costs far less than
    // rescanning the groups.
    shiftSeenRows(first, count);
    m_seenKeys.insert(first, count, QVariant());
    m_seenValues.insert(first, count, QVariant());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = own->index(row, 0);
        const QVariant key = own->data(index, m_keyRole);
        m_seenValues[row] = own->data(index, m_valueRole);
        m_seenKeys[row] = key;
        forgetGroupsOf(key);
        QList<int> &rows = m_seenRows[memoKey(key)];
        rows.insert(std::lower_bound(rows.begin(), rows.end(), row), row);
        ++m_seenTypes[key.typeId()];
    }
}

void AggregateByRow::rowsRemoved(const QAbstractItemModel *model, int first, int last) const
{
    QMutexLocker lock(&m_memoMutex);
    Telling telling = told(model, { RowChange::Remove, first, last, 0 });
    const QAbstractListModel *own = m_model.data();
    const int count = last - first + 1;
    if (telling == Telling::Follow
        && (m_seenKeys.size() != own->rowCount() + count || last >= m_seenKeys.size()))
        telling = Telling::DropAll;
    if (!follows(lock, telling))
        return;
    ++m_epoch;
    for (int row = first; row <= last; ++row)
        forgetSeenRow(row);
    m_seenKeys.remove(first, count);
    m_seenValues.remove(first, count);
    shiftSeenRows(last + 1, -count);
}

void AggregateByRow::rowsMoved(
    const QAbstractItemModel *model, int first, int last, int destination) const
{
    QMutexLocker lock(&m_memoMutex);
    Telling telling = told(model, { RowChange::Move, first, last, destination });
    const QAbstractListModel *own = m_model.data();
    if (telling == Telling::Follow
        && (m_seenKeys.size() != own->rowCount() || last >= m_seenKeys.size() || destination < 0
            || destination > m_seenKeys.size()
            || (destination >= first && destination <= last + 1)))
        telling = Telling::DropAll;
    if (!follows(lock, telling))
        return;
    ++m_epoch;
    // Only groups holding a moved row see their rows in another order, which matters to first,
    // last and text sums.
    for (int row = first; row <= last; ++row)
        forgetGroupsOf(m_seenKeys.at(row));
    const int count = last - first + 1;
    const auto moved = [&](int row) {
        if (destination > last) {
            if (row >= first && row <= last)
                return row + destination - last - 1;
            if (row > last && row < destination)
                return row - count;
        } else {
            if (row >= first && row <= last)
                return row - (first - destination);
            if (row >= destination && row < first)
                return row + count;
        }
        return row;
    };
    for (QList<int> &rows : m_seenRows) {
        for (int &row : rows)
            row = moved(row);
        if (!std::is_sorted(rows.cbegin(), rows.cend()))
            std::sort(rows.begin(), rows.end());
    }
    const auto rotate = [&](QList<QVariant> &list) {
        if (destination > last)
            std::rotate(list.begin() + first, list.begin() + last + 1, list.begin() + destination);
        else
            std::rotate(list.begin() + destination, list.begin() + first, list.begin() + last + 1);
    };
    rotate(m_seenKeys);
    rotate(m_seenValues);
}

void AggregateByRow::forgetGroupsOf(const QVariant &key) const
{
    // A group holds the rows whose key equals its own as aggregate() compares them, which may
    // join keys of different types.
    m_memo.removeIf([&key](QHash<QString, Group>::iterator it) { return it->key == key; });
}

QVariant AggregateByRow::aggregate(QVariant key) const
{
    const QAbstractListModel *model = m_model.data();
    QVariant accumulator;
    int matches = 0;
    // True when the scan may stop.
    const auto visit = [&](int row) {
        const QModelIndex index = model->index(row, 0);
        if (model->data(index, m_keyRole) != key)
            return false;
        return step(model->data(index, m_valueRole), accumulator, matches, true);
    };
    QList<int> rows;
    if (model && candidateRows(key, rows)) {
        // Seen rows may be fewer than the model's rows while a change is on its way to us.
        const int count = model->rowCount();
        for (const int row : std::as_const(rows)) {
            if (row < count && visit(row))
                return accumulator;
        }
        return finish(accumulator, matches);
    }
    for (int row = 0; model && row < model->rowCount(); ++row) {
        if (visit(row))
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
    m_seen = false;
    m_seenKeys.clear();
    m_seenValues.clear();
    m_seenRows.clear();
    m_seenTypes.clear();
    ++m_epoch;
}

void AggregateByRow::invalidate()
{
    invalidateCache(-1, -1);
}

} // namespace ProxyOrm
