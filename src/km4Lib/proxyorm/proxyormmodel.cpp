#include "proxyormmodel.h"

#include <QDebug>
#include <QSet>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace ProxyOrm {

namespace {

// More changed rows than this at once are cheaper to take in one full rebuild.
constexpr int MaxRowsFollowed = 64;

QList<int> identityRows(int count)
{
    QList<int> rows(count);
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

} // namespace

ProxyOrmModel::ProxyOrmModel(
    const QAbstractListModel *sourceModel, QMap<int, int> roleMap, QObject *parent)
    : QAbstractListModel(parent)
    , m_sourceModel(sourceModel)
    , m_ownSource(std::make_unique<FromSource>(sourceModel, roleMap))
    , m_ownRoles(roleMap)
{
    for (auto it = roleMap.constBegin(); it != roleMap.constEnd(); ++it)
        m_sources.insert(it.key(), m_ownSource.get());
    if (sourceModel)
        connectSourceModel(sourceModel);
}

ProxyOrmModel::~ProxyOrmModel()
{
    cancelRunning();
}

void ProxyOrmModel::connectSourceModel(const QAbstractListModel *model)
{
    using M = QAbstractItemModel;
    connect(
        model, &M::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first, int last) {
            sourceAboutToChange(Forwarding::Insert, first, last);
        });
    connect(model, &M::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { sourceStructureChanged(first, last); });
    connect(
        model, &M::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) {
            sourceAboutToChange(Forwarding::Remove, first, last);
        });
    connect(model, &M::rowsRemoved, this,
        [this](const QModelIndex &, int first, int last) { sourceStructureChanged(first, last); });
    connect(model, &M::rowsAboutToBeMoved, this,
        [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
            sourceAboutToChange(Forwarding::Move, first, last, to);
        });
    connect(model, &M::rowsMoved, this,
        [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
            sourceStructureChanged(first, last, to);
        });
    connect(
        model, &M::modelAboutToBeReset, this, [this] { sourceAboutToChange(Forwarding::Reset); });
    connect(model, &M::modelReset, this, [this] { sourceStructureChanged(); });
    connect(model, &M::layoutAboutToBeChanged, this,
        [this] { sourceAboutToChange(Forwarding::Layout); });
    connect(model, &M::layoutChanged, this, [this] { sourceStructureChanged(); });
    connect(model, &M::dataChanged, this, &ProxyOrmModel::sourceDataChanged);
    connect(model, &QObject::destroyed, this, &ProxyOrmModel::forgetSourceModel);
}

int ProxyOrmModel::rowCount(const QModelIndex &parent) const
{
    const QAbstractListModel *model = m_sourceModel.data();
    if (parent.isValid() || !model)
        return 0;
    return m_mapped ? int(m_rows.size()) : model->rowCount();
}

QVariant ProxyOrmModel::data(const QModelIndex &index, int role) const
{
    const QAbstractListModel *model = m_sourceModel.data();
    const int row = index.row();
    if (row < 0 || !model)
        return {};
    int sourceRow = row;
    if (m_mapped) {
        if (row >= m_rows.size())
            return {};
        sourceRow = m_rows.at(row);
        // The source may have lost the row since the last rebuild.
        if (sourceRow < 0 || sourceRow >= model->rowCount())
            return {};
    } else if (row >= model->rowCount()) {
        return {};
    }
    const ISource *source = m_sources.value(role);
    if (!source) {
        qWarning() << "No source found for role:" << role;
        return {};
    }
    return source->data(sourceRow, role);
}

void ProxyOrmModel::sort(int column, Qt::SortOrder order)
{
    m_sortRole = column;
    m_sortOrder = order;
    configChanged();
}

void ProxyOrmModel::addSource(const ISource *source)
{
    if (!source)
        return;
    for (const int role : source->roles())
        m_sources.insert(role, source);
    configChanged();
    connect(source, &ISource::changed, this, &ProxyOrmModel::sourceChanged, Qt::UniqueConnection);
    connect(source, &QObject::destroyed, this, &ProxyOrmModel::forgetSource, Qt::UniqueConnection);
}

void ProxyOrmModel::andWhere(int role, const Where &where)
{
    m_wheres.insert(role, OrWhere(QList<Where> { where }));
    configChanged();
}

void ProxyOrmModel::andWhere(int role, const OrWhere &where)
{
    m_wheres.insert(role, where);
    configChanged();
}

void ProxyOrmModel::clearWhere(int role)
{
    m_wheres.remove(role);
    configChanged();
}

void ProxyOrmModel::clearWhere()
{
    m_wheres.clear();
    configChanged();
}

void ProxyOrmModel::groupBy(int role)
{
    m_groupRole = role;
    configChanged();
}

void ProxyOrmModel::enabled(bool on)
{
    m_isEnabled = on;
    if (on && m_invalidatePending)
        invalidate();
}

void ProxyOrmModel::enabledAsync(bool on)
{
    m_isAsync = on;
}

bool ProxyOrmModel::isSortGroupFilterRole(int role) const
{
    return (m_sortRole != -1 && role == m_sortRole) || (m_groupRole != -1 && role == m_groupRole)
        || m_wheres.contains(role);
}

bool ProxyOrmModel::isSortGroupFilterRole(const QList<int> &roles) const
{
    return std::any_of(
        roles.begin(), roles.end(), [this](int role) { return isSortGroupFilterRole(role); });
}

void ProxyOrmModel::beginSoftResetModel() { }

void ProxyOrmModel::endSoftResetModel()
{
    if (!m_hasNextRows) {
        if (const int count = rowCount())
            Q_EMIT dataChanged(index(0, 0), index(count - 1, 0), {});
        return;
    }
    const QList<int> shown = shownRows();
    QList<int> next = std::exchange(m_nextRows, {});
    m_hasNextRows = false;

    // Row signals keep the rows around them reading as before; the new mapping itself is
    // installed afterwards and announced by the dataChanged over every row.
    const qsizetype delta = next.size() - shown.size();
    if (delta > 0) {
        beginInsertRows(QModelIndex(), 0, int(delta - 1));
        m_rows = next.mid(0, delta) + shown;
        m_mapped = true;
        endInsertRows();
    } else if (delta < 0) {
        beginRemoveRows(QModelIndex(), 0, int(-delta - 1));
        m_rows = shown.mid(-delta);
        m_mapped = true;
        endRemoveRows();
    }
    m_rows = std::move(next);
    m_mapped = true;
    rebuildProxyOf();
    m_current = m_nextVersion == m_version;
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(int(m_rows.size() - 1), 0), {});
}

void ProxyOrmModel::invalidate()
{
    m_current = false;
    if (!m_isEnabled) {
        m_invalidatePending = true;
        return;
    }
    // A source model change is under way; its end rebuilds.
    if (m_forwarding != Forwarding::None)
        return;
    m_invalidatePending = false;
    cancelRunning();

    if (!m_isAsync) {
        beginSoftResetModel();
        performInvalidate();
        endSoftResetModel();
        return;
    }

    auto cancel = std::make_shared<std::atomic_bool>(false);
    m_cancel = cancel;
    const quint64 generation = m_generation;
    m_task = QtConcurrent::run([this, input = plan(), cancel, generation] {
        const QList<int> rows = buildRows(input, *cancel);
        if (cancel->load())
            return;
        // The destructor waits for this task, so the object is alive here; a posted call still
        // pending when it is destroyed is discarded with it.
        QMetaObject::invokeMethod(
            this,
            [this, generation, version = input.version, rows] {
                installRows(generation, version, rows);
            },
            Qt::QueuedConnection);
    });
}

void ProxyOrmModel::installRows(quint64 generation, quint64 version, const QList<int> &rows)
{
    if (generation != m_generation)
        return;
    m_cancel.reset();
    beginSoftResetModel();
    m_nextRows = rows;
    m_hasNextRows = true;
    m_nextVersion = version;
    endSoftResetModel();
}

void ProxyOrmModel::performInvalidate()
{
    const std::atomic_bool notCancelled(false);
    m_nextRows = buildRows(plan(), notCancelled);
    m_hasNextRows = true;
    m_nextVersion = m_version;
}

void ProxyOrmModel::sourceChanged(QList<int> role)
{
    if (!m_isEnabled) {
        m_current = false;
        m_invalidatePending = true;
        return;
    }
    if (isSortGroupFilterRole(role)) {
        invalidate();
        return;
    }
    if (const int count = rowCount())
        Q_EMIT dataChanged(index(0, 0), index(count - 1, 0), role);
}

ProxyOrmModel::Plan ProxyOrmModel::plan() const
{
    Plan input;
    input.model = m_sourceModel.data();
    input.sources = m_sources;
    input.wheres = m_wheres;
    input.groupRole = m_groupRole;
    input.sortRole = m_sortRole;
    input.sortOrder = m_sortOrder;
    input.version = m_version;
    return input;
}

QVariant ProxyOrmModel::read(const ISource *source, int sourceRow, int role)
{
    if (!source) {
        qWarning() << "No source found for role:" << role;
        return {};
    }
    return source->data(sourceRow, role);
}

QList<int> ProxyOrmModel::buildRows(const Plan &plan, const std::atomic_bool &cancelled)
{
    const int count = plan.model ? plan.model->rowCount() : 0;
    QList<int> rows;
    rows.reserve(count);
    struct Filter
    {
        int role;
        const ISource *source;
        const OrWhere *where;
    };
    QList<Filter> filters;
    for (auto it = plan.wheres.constBegin(); it != plan.wheres.constEnd(); ++it)
        filters.append({ it.key(), plan.sources.value(it.key()), &it.value() });
    for (int i = 0; i < count && !cancelled.load(std::memory_order_relaxed); ++i) {
        bool accepted = true;
        for (const Filter &filter : std::as_const(filters))
            accepted = filter.where->isAccepted(read(filter.source, i, filter.role)) && accepted;
        if (accepted)
            rows.append(i);
    }
    if (rows.size() < 2 || cancelled)
        return rows;

    if (plan.groupRole != -1) {
        QSet<QString> seen;
        QList<int> firsts;
        const ISource *source = plan.sources.value(plan.groupRole);
        for (const int row : std::as_const(rows)) {
            const QString key = read(source, row, plan.groupRole).toString();
            if (!seen.contains(key)) {
                seen.insert(key);
                firsts.append(row);
            }
        }
        rows = std::move(firsts);
    }
    if (rows.size() < 2 || cancelled)
        return rows;

    if (plan.sortRole != -1)
        sortRows(plan, rows);
    return rows;
}

void ProxyOrmModel::sortRows(const Plan &plan, QList<int> &rows)
{
    struct Number
    {
        double value;
        int row;
    };
    struct Text
    {
        QString value;
        int row;
    };
    QList<Number> numbers;
    QList<Text> texts;
    QList<int> unordered;
    const ISource *source = plan.sources.value(plan.sortRole);
    for (const int row : std::as_const(rows)) {
        const QVariant value = read(source, row, plan.sortRole);
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::Float:
        case QMetaType::Double: {
            const double number = value.toDouble();
            if (std::isnan(number))
                unordered.append(row);
            else
                numbers.append({ number, row });
            break;
        }
        case QMetaType::QString:
            texts.append({ value.toString(), row });
            break;
        default:
            unordered.append(row);
            break;
        }
    }

    // One total order, numbers before texts; descending reverses it. Ties keep their filtered
    // order, and values without an order follow in filtered order either way.
    const bool ascending = plan.sortOrder == Qt::AscendingOrder;
    if (ascending) {
        std::stable_sort(numbers.begin(), numbers.end(),
            [](const Number &a, const Number &b) { return a.value < b.value; });
        std::stable_sort(texts.begin(), texts.end(),
            [](const Text &a, const Text &b) { return a.value < b.value; });
    } else {
        std::stable_sort(numbers.begin(), numbers.end(),
            [](const Number &a, const Number &b) { return b.value < a.value; });
        std::stable_sort(texts.begin(), texts.end(),
            [](const Text &a, const Text &b) { return b.value < a.value; });
    }
    rows.clear();
    if (ascending) {
        for (const Number &n : std::as_const(numbers))
            rows.append(n.row);
        for (const Text &t : std::as_const(texts))
            rows.append(t.row);
    } else {
        for (const Text &t : std::as_const(texts))
            rows.append(t.row);
        for (const Number &n : std::as_const(numbers))
            rows.append(n.row);
    }
    rows.append(unordered);
}

void ProxyOrmModel::cancelRunning()
{
    // Drops a finished result whose installation is still queued, too.
    ++m_generation;
    if (m_cancel) {
        m_cancel->store(true);
        // The task's own future: waiting for the installing step would need this thread.
        m_task.waitForFinished();
        m_cancel.reset();
        // A model may have changed while the task read it (dataChanged comes only after the
        // change), and the task may have cached what it read after the change's own clearing.
        dropCaches();
    }
}

void ProxyOrmModel::dropCaches()
{
    QSet<const ISource *> done;
    for (const ISource *source : std::as_const(m_sources)) {
        if (!done.contains(source)) {
            done.insert(source);
            source->invalidateCache(-1, -1);
        }
    }
}

void ProxyOrmModel::tellSources(Forwarding kind, int first, int last, int destination)
{
    const QAbstractListModel *model = m_sourceModel.data();
    QSet<const ISource *> done;
    for (const ISource *source : std::as_const(m_sources)) {
        if (!source || done.contains(source))
            continue;
        done.insert(source);
        switch (kind) {
        case Forwarding::Insert:
            source->rowsInserted(model, first, last);
            break;
        case Forwarding::Remove:
            source->rowsRemoved(model, first, last);
            break;
        case Forwarding::Move:
            source->rowsMoved(model, first, last, destination);
            break;
        case Forwarding::Reset:
        case Forwarding::Layout:
        case Forwarding::None:
            source->invalidateCache(-1, -1);
            break;
        }
    }
}

QList<int> ProxyOrmModel::shownRows() const
{
    return m_mapped ? m_rows : identityRows(rowCount());
}

void ProxyOrmModel::sourceAboutToChange(Forwarding kind, int first, int last, int destination)
{
    const bool rowChange
        = kind == Forwarding::Insert || kind == Forwarding::Remove || kind == Forwarding::Move;
    if (rowChange && canFollow(last - first + 1)) {
        m_following = true;
        m_forwarding = kind;
        // Removed rows leave the views while the source can still answer for them.
        if (kind == Forwarding::Remove)
            followRemove(first, last);
        return;
    }

    // A background rebuild reads the source; it must not see the change half-way.
    cancelRunning();
    m_forwarding = kind;
    const QAbstractListModel *model = m_sourceModel.data();

    if (m_mapped) {
        if (kind == Forwarding::Layout && model) {
            m_layoutAnchors.clear();
            m_layoutAnchors.reserve(m_rows.size());
            for (const int row : std::as_const(m_rows))
                m_layoutAnchors.append(QPersistentModelIndex(model->index(row, 0)));
        }
        return;
    }

    // While unmapped the proxy passes the source's rows through, so it passes their changes on.
    switch (kind) {
    case Forwarding::Insert:
        beginInsertRows(QModelIndex(), first, last);
        break;
    case Forwarding::Remove:
        beginRemoveRows(QModelIndex(), first, last);
        break;
    case Forwarding::Move:
        if (!beginMoveRows(QModelIndex(), first, last, QModelIndex(), destination))
            m_forwarding = Forwarding::None;
        break;
    case Forwarding::Reset:
        beginResetModel();
        break;
    case Forwarding::Layout:
        Q_EMIT layoutAboutToBeChanged();
        m_layoutProxyIndexes = persistentIndexList();
        m_layoutAnchors.clear();
        for (const QModelIndex &index : std::as_const(m_layoutProxyIndexes))
            m_layoutAnchors.append(QPersistentModelIndex(model->index(index.row(), 0)));
        break;
    case Forwarding::None:
        break;
    }
}

void ProxyOrmModel::sourceStructureChanged(int first, int last, int destination)
{
    const Forwarding kind = std::exchange(m_forwarding, Forwarding::None);

    if (std::exchange(m_following, false)) {
        if (kind == Forwarding::Insert) {
            followInsert(first, last);
        } else if (kind == Forwarding::Remove) {
            const int count = last - first + 1;
            for (int &row : m_rows) {
                if (row > last)
                    row -= count;
            }
            m_proxyOf.remove(first, count);
            tellSources(kind, first, last, destination);
        } else if (kind == Forwarding::Move) {
            followMove(first, last, destination);
        }
        announceRolesReadingOtherRows();
        // Something asked for a rebuild while the change was under way.
        if (!m_current)
            invalidate();
        return;
    }

    // Before views hear of the change and read again.
    tellSources(kind, first, last, destination);
    if (!m_mapped) {
        switch (kind) {
        case Forwarding::Insert:
            endInsertRows();
            break;
        case Forwarding::Remove:
            endRemoveRows();
            break;
        case Forwarding::Move:
            endMoveRows();
            break;
        case Forwarding::Reset:
            endResetModel();
            break;
        case Forwarding::Layout: {
            QModelIndexList moved;
            for (const QPersistentModelIndex &anchor : std::as_const(m_layoutAnchors))
                moved.append(anchor.isValid() ? index(anchor.row(), 0) : QModelIndex());
            changePersistentIndexList(m_layoutProxyIndexes, moved);
            m_layoutProxyIndexes.clear();
            m_layoutAnchors.clear();
            Q_EMIT layoutChanged();
            break;
        }
        case Forwarding::None:
            break;
        }
    } else {
        // Keep each proxy row on the same source item until the rebuild replaces the mapping.
        const int count = last - first + 1;
        int goneFirst = int(m_rows.size());
        int goneLast = -1;
        for (int i = 0; i < m_rows.size(); ++i) {
            int &row = m_rows[i];
            if (row < 0)
                continue;
            switch (kind) {
            case Forwarding::Insert:
                if (row >= first)
                    row += count;
                break;
            case Forwarding::Remove:
                if (row > last) {
                    row -= count;
                } else if (row >= first) {
                    row = -1;
                    goneFirst = std::min(goneFirst, i);
                    goneLast = std::max(goneLast, i);
                }
                break;
            case Forwarding::Move:
                if (destination > last) {
                    if (row >= first && row <= last)
                        row += destination - last - 1;
                    else if (row > last && row < destination)
                        row -= count;
                } else if (destination < first) {
                    if (row >= first && row <= last)
                        row -= first - destination;
                    else if (row >= destination && row < first)
                        row += count;
                }
                break;
            case Forwarding::Layout: {
                const QPersistentModelIndex &anchor = m_layoutAnchors.at(i);
                row = anchor.isValid() ? anchor.row() : -1;
                break;
            }
            case Forwarding::Reset:
            case Forwarding::None:
                break;
            }
        }
        m_layoutAnchors.clear();
        if (kind == Forwarding::Reset)
            announceIfNoRebuildFollows(0, rowCount() - 1);
        else
            announceIfNoRebuildFollows(goneFirst, goneLast);
    }

    invalidate();
}

void ProxyOrmModel::sourceDataChanged(
    const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    const int first = topLeft.row();
    const int last = bottomRight.row();
    if (m_mapped && m_current && m_isEnabled && !m_cancel && topLeft.isValid()
        && bottomRight.isValid() && first <= last && last < m_proxyOf.size()) {
        const bool placement = changesPlacement(roles);
        if (!placement || canFollow(last - first + 1)) {
            QSet<const ISource *> done;
            for (const ISource *source : std::as_const(m_sources)) {
                if (!source || done.contains(source))
                    continue;
                done.insert(source);
                if (last - first >= MaxRowsFollowed)
                    source->invalidateCache(-1, -1);
                else
                    source->rowsChanged(m_sourceModel.data(), first, last);
            }
            QList<int> changed(last - first + 1);
            std::iota(changed.begin(), changed.end(), first);
            if (placement)
                placeRows(changed);
            QList<int> shown;
            for (const int row : std::as_const(changed)) {
                if (m_proxyOf.at(row) >= 0)
                    shown.append(m_proxyOf.at(row));
            }
            if (roles.isEmpty())
                announceRows(shown, {});
            else if (const QList<int> own = announcedRoles(roles); !own.isEmpty())
                announceRows(shown, own);
            announceRolesReadingOtherRows();
            return;
        }
    }

    announceIfNoRebuildFollows(0, rowCount() - 1);
    dropCaches();
    invalidate();
}

void ProxyOrmModel::announceIfNoRebuildFollows(int first, int last)
{
    if ((m_isEnabled && !m_isAsync) || first > last || first < 0 || last >= rowCount())
        return;
    Q_EMIT dataChanged(index(first, 0), index(last, 0), {});
}

void ProxyOrmModel::forgetSource(QObject *source)
{
    QList<int> roles;
    for (auto it = m_sources.begin(); it != m_sources.end();) {
        if (static_cast<const QObject *>(it.value()) == source) {
            roles.append(it.key());
            it = m_sources.erase(it);
        } else {
            ++it;
        }
    }
    // After the removal, so that dropping caches does not reach the destroyed source.
    cancelRunning();
    configChanged();
    if (!roles.isEmpty())
        sourceChanged(roles);
}

void ProxyOrmModel::forgetSourceModel()
{
    cancelRunning();
    beginResetModel();
    m_rows.clear();
    m_mapped = false;
    m_current = false;
    m_proxyOf.clear();
    m_forwarding = Forwarding::None;
    m_following = false;
    endResetModel();
}

void ProxyOrmModel::configChanged()
{
    ++m_version;
    m_current = false;
}

bool ProxyOrmModel::canFollow(int rowCount) const
{
    if (!m_mapped || !m_current || !m_isEnabled || m_cancel || !m_sourceModel
        || m_groupRole != -1 || rowCount > MaxRowsFollowed)
        return false;
    const auto readsOneRow = [this](int role) {
        const ISource *source = m_sources.value(role);
        return !source || source->readsOneRow();
    };
    if (m_sortRole != -1 && !readsOneRow(m_sortRole))
        return false;
    for (auto it = m_wheres.constBegin(); it != m_wheres.constEnd(); ++it) {
        if (!readsOneRow(it.key()))
            return false;
    }
    return true;
}

bool ProxyOrmModel::changesPlacement(const QList<int> &sourceRoles) const
{
    if (sourceRoles.isEmpty())
        return true;
    for (auto it = m_sources.constBegin(); it != m_sources.constEnd(); ++it) {
        if (!isSortGroupFilterRole(it.key()))
            continue;
        // Other sources may read any role of the row.
        if (it.value() != m_ownSource.get()
            || sourceRoles.contains(m_ownRoles.value(it.key(), it.key())))
            return true;
    }
    return false;
}

QList<int> ProxyOrmModel::announcedRoles(const QList<int> &sourceRoles) const
{
    QList<int> roles;
    for (auto it = m_sources.constBegin(); it != m_sources.constEnd(); ++it) {
        const ISource *source = it.value();
        if (!source)
            continue;
        if (source == m_ownSource.get()) {
            if (sourceRoles.contains(m_ownRoles.value(it.key(), it.key())))
                roles.append(it.key());
        } else if (source->readsOneRow()) {
            roles.append(it.key());
        }
    }
    return roles;
}

QList<int> ProxyOrmModel::rolesReadingOtherRows() const
{
    QList<int> roles;
    for (auto it = m_sources.constBegin(); it != m_sources.constEnd(); ++it) {
        if (it.value() && it.value() != m_ownSource.get() && !it.value()->readsOneRow())
            roles.append(it.key());
    }
    return roles;
}

void ProxyOrmModel::announceRolesReadingOtherRows()
{
    const QList<int> roles = rolesReadingOtherRows();
    if (!roles.isEmpty() && !m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(int(m_rows.size() - 1), 0), roles);
}

void ProxyOrmModel::announceRows(QList<int> proxyRows, const QList<int> &roles)
{
    if (proxyRows.isEmpty())
        return;
    std::sort(proxyRows.begin(), proxyRows.end());
    // Rows scattered by the sort would take a signal each; one span says as much.
    if (proxyRows.size() > MaxRowsFollowed) {
        Q_EMIT dataChanged(index(proxyRows.first(), 0), index(proxyRows.last(), 0), roles);
        return;
    }
    for (qsizetype i = 0; i < proxyRows.size();) {
        qsizetype j = i;
        while (j + 1 < proxyRows.size() && proxyRows.at(j + 1) == proxyRows.at(j) + 1)
            ++j;
        Q_EMIT dataChanged(index(proxyRows.at(i), 0), index(proxyRows.at(j), 0), roles);
        i = j + 1;
    }
}

ProxyOrmModel::SortKey ProxyOrmModel::sortKey(int sourceRow) const
{
    SortKey key;
    if (m_sortRole == -1)
        return key;
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    const QVariant value = read(m_sources.value(m_sortRole), sourceRow, m_sortRole);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Float:
    case QMetaType::Double:
        key.number = value.toDouble();
        if (!std::isnan(key.number))
            key.rank = ascending ? 0 : 1;
        break;
    case QMetaType::QString:
        key.text = value.toString();
        key.rank = ascending ? 1 : 0;
        break;
    default:
        break;
    }
    return key;
}

bool ProxyOrmModel::comesBefore(const SortKey &a, int rowA, const SortKey &b, int rowB) const
{
    if (a.rank != b.rank)
        return a.rank < b.rank;
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    if (a.rank != 2) {
        const bool numbers = (a.rank == 0) == ascending;
        const int order = numbers ? (a.number < b.number ? -1 : b.number < a.number ? 1 : 0)
                                  : a.text.compare(b.text);
        if (order != 0)
            return ascending ? order < 0 : order > 0;
    }
    return rowA < rowB;
}

bool ProxyOrmModel::accepts(int sourceRow) const
{
    bool accepted = true;
    for (auto it = m_wheres.constBegin(); it != m_wheres.constEnd(); ++it)
        accepted = it.value().isAccepted(read(m_sources.value(it.key()), sourceRow, it.key()))
            && accepted;
    return accepted;
}

void ProxyOrmModel::rebuildProxyOf()
{
    const QAbstractListModel *model = m_sourceModel.data();
    // A fresh list: fill() to a larger size can write past a buffer whose free space lies in
    // front, as it does after removals at the front.
    m_proxyOf = QList<int>(model ? model->rowCount() : 0, -1);
    for (int k = 0; k < m_rows.size(); ++k) {
        const int row = m_rows.at(k);
        if (row >= 0 && row < m_proxyOf.size())
            m_proxyOf[row] = k;
    }
}

void ProxyOrmModel::updateProxyOf(int from, int to)
{
    for (int k = from; k <= to; ++k)
        m_proxyOf[m_rows.at(k)] = k;
}

void ProxyOrmModel::placeRows(const QList<int> &sourceRows)
{
    // The shown rows outside the change keep their order; every changed row is placed between
    // them by binary search.
    QList<int> shown;
    for (const int row : sourceRows) {
        if (m_proxyOf.at(row) >= 0)
            shown.append(m_proxyOf.at(row));
    }
    std::sort(shown.begin(), shown.end());
    QList<int> rest;
    if (shown.size() > 1) {
        rest.reserve(m_rows.size() - shown.size());
        for (qsizetype k = 0, s = 0; k < m_rows.size(); ++k) {
            if (s < shown.size() && shown.at(s) == k)
                ++s;
            else
                rest.append(m_rows.at(k));
        }
    }
    const qsizetype restSize = m_rows.size() - shown.size();
    const auto restAt = [&](qsizetype j) {
        if (shown.size() > 1)
            return rest.at(j);
        return m_rows.at(shown.isEmpty() || j < shown.first() ? j : j + 1);
    };

    struct Placement
    {
        qsizetype slot;
        int anchor;
        SortKey key;
        int row;
    };
    QList<Placement> placements;
    QList<int> gone;
    for (const int row : sourceRows) {
        if (!accepts(row)) {
            if (m_proxyOf.at(row) >= 0)
                gone.append(m_proxyOf.at(row));
            continue;
        }
        SortKey key = sortKey(row);
        qsizetype low = 0;
        qsizetype high = restSize;
        while (low < high) {
            const qsizetype middle = low + (high - low) / 2;
            const int other = restAt(middle);
            if (comesBefore(sortKey(other), other, key, row))
                low = middle + 1;
            else
                high = middle;
        }
        placements.append({ low, low < restSize ? restAt(low) : -1, std::move(key), row });
    }
    std::stable_sort(placements.begin(), placements.end(), [this](const auto &a, const auto &b) {
        return a.slot < b.slot || (a.slot == b.slot && comesBefore(a.key, a.row, b.key, b.row));
    });

    removeProxyRows(gone);
    // Each row goes just before the unchanged row that follows it; changed rows still waiting
    // between may sit in the way for now and leave later.
    for (const Placement &placement : std::as_const(placements)) {
        const int to = placement.anchor >= 0 ? m_proxyOf.at(placement.anchor) : int(m_rows.size());
        const int from = m_proxyOf.at(placement.row);
        if (from < 0) {
            beginInsertRows(QModelIndex(), to, to);
            m_rows.insert(to, placement.row);
            updateProxyOf(to, int(m_rows.size() - 1));
            endInsertRows();
        } else if (to != from && to != from + 1) {
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), to);
            const int at = to > from ? to - 1 : to;
            m_rows.move(from, at);
            updateProxyOf(std::min(from, at), std::max(from, at));
            endMoveRows();
        }
    }
}

void ProxyOrmModel::removeProxyRows(QList<int> proxyRows)
{
    if (proxyRows.isEmpty())
        return;
    std::sort(proxyRows.begin(), proxyRows.end());
    for (qsizetype j = proxyRows.size() - 1; j >= 0;) {
        qsizetype i = j;
        while (i > 0 && proxyRows.at(i - 1) == proxyRows.at(i) - 1)
            --i;
        const int first = proxyRows.at(i);
        const int last = proxyRows.at(j);
        beginRemoveRows(QModelIndex(), first, last);
        for (int k = first; k <= last; ++k)
            m_proxyOf[m_rows.at(k)] = -1;
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        j = i - 1;
    }
    updateProxyOf(proxyRows.first(), int(m_rows.size() - 1));
}

void ProxyOrmModel::followInsert(int first, int last)
{
    const int count = last - first + 1;
    for (int &row : m_rows) {
        if (row >= first)
            row += count;
    }
    m_proxyOf.insert(first, count, -1);
    // Cached values are kept by row number, and the rows below have moved.
    tellSources(Forwarding::Insert, first, last, 0);
    QList<int> inserted(count);
    std::iota(inserted.begin(), inserted.end(), first);
    placeRows(inserted);
}

void ProxyOrmModel::followRemove(int first, int last)
{
    QList<int> gone;
    for (int row = first; row <= last; ++row) {
        if (m_proxyOf.at(row) >= 0)
            gone.append(m_proxyOf.at(row));
    }
    removeProxyRows(gone);
}

void ProxyOrmModel::followMove(int first, int last, int destination)
{
    const int count = last - first + 1;
    for (int &row : m_rows) {
        if (destination > last) {
            if (row >= first && row <= last)
                row += destination - last - 1;
            else if (row > last && row < destination)
                row -= count;
        } else if (row >= destination && row < first) {
            row += count;
        } else if (row >= first && row <= last) {
            row -= first - destination;
        }
    }
    rebuildProxyOf();
    tellSources(Forwarding::Move, first, last, destination);
    // Ties are ordered by source row, so the moved rows may now belong elsewhere among them.
    QList<int> moved(count);
    std::iota(moved.begin(), moved.end(), destination > last ? destination - count : destination);
    placeRows(moved);
}

} // namespace ProxyOrm
