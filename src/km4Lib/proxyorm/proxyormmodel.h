#pragma once

#include "fromsource.h"
#include "isource.h"
#include "orwhere.h"
#include "where.h"

#include <QAbstractListModel>
#include <QFuture>
#include <QMap>
#include <QPersistentModelIndex>
#include <QPointer>

#include <atomic>
#include <memory>

namespace ProxyOrm {

// A list model over one source list model whose cells are read through column sources
// registered per role. It keeps a row mapping, rebuilt on request by filtering (AND across roles,
// OR within one role), grouping (first row of each distinct value) and a stable sort, and tells
// its views about a rebuild with row insertions or removals at the top plus one dataChanged over
// all rows instead of a model reset. A rebuild can run on the global thread pool; its result is
// installed on the model's own thread. Between rebuilds, inserted, removed, moved and changed
// source rows are followed row by row with exact row signals, so that a change costs in
// proportion to the rows it touches; resets, layout changes and changes the mapping cannot
// follow (grouping, sources that read other rows) take the full rebuild.
class ProxyOrmModel : public QAbstractListModel
{
    Q_OBJECT

public:
    ProxyOrmModel(
        const QAbstractListModel *sourceModel, QMap<int, int> roleMap, QObject *parent = nullptr);
    ~ProxyOrmModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    // The column is taken as the sort role; -1 switches sorting off.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void addSource(const ISource *source);
    void andWhere(int role, const Where &where);
    void andWhere(int role, const OrWhere &where);
    void clearWhere(int role);
    void clearWhere();
    void groupBy(int role);
    void enabled(bool on);
    void enabledAsync(bool on);
    bool isSortGroupFilterRole(int role) const;
    bool isSortGroupFilterRole(const QList<int> &roles) const;

    // The base of an announcement is always the row count the views were last told, which the
    // model reports at every moment; beginSoftResetModel therefore has nothing to record.
    void beginSoftResetModel();
    void endSoftResetModel();

private Q_SLOTS:
    void sourceChanged(QList<int> role);
    void performInvalidate();

public Q_SLOTS:
    void invalidate();

private:
    struct Plan
    {
        const QAbstractListModel *model = nullptr;
        QMap<int, const ISource *> sources;
        QMap<int, OrWhere> wheres;
        int groupRole = -1;
        int sortRole = -1;
        Qt::SortOrder sortOrder = Qt::AscendingOrder;
        quint64 version = 0;
    };
    enum class Forwarding { None, Insert, Remove, Move, Reset, Layout };

    Plan plan() const;
    static QList<int> buildRows(const Plan &plan, const std::atomic_bool &cancelled);
    static QVariant read(const ISource *source, int sourceRow, int role);
    static void sortRows(const Plan &plan, QList<int> &rows);

    // The place of a row in the sorted mapping: rank (numbers, texts, then values without an
    // order, as the direction wants them), the value, and the source row for ties.
    struct SortKey
    {
        int rank = 2;
        double number = 0;
        QString text;
    };
    SortKey sortKey(int sourceRow) const;
    bool comesBefore(const SortKey &a, int rowA, const SortKey &b, int rowB) const;
    bool accepts(int sourceRow) const;
    bool canFollow(int rowCount) const;
    bool changesPlacement(const QList<int> &sourceRoles) const;
    QList<int> announcedRoles(const QList<int> &sourceRoles) const;
    QList<int> rolesReadingOtherRows() const;
    void placeRows(const QList<int> &sourceRows);
    void removeProxyRows(QList<int> proxyRows);
    void announceRows(QList<int> proxyRows, const QList<int> &roles);
    void announceRolesReadingOtherRows();
    void rebuildProxyOf();
    void updateProxyOf(int from, int to);
    void followInsert(int first, int last);
    void followRemove(int first, int last);
    void followMove(int first, int last, int destination);
    void configChanged();

    void connectSourceModel(const QAbstractListModel *model);
    void installRows(quint64 generation, quint64 version, const QList<int> &rows);
    void cancelRunning();
    void dropCaches();
    // Tells every source once of a change of the source model's rows, as far as it can follow it.
    void tellSources(Forwarding kind, int first, int last, int destination);
    void sourceAboutToChange(Forwarding kind, int first = 0, int last = -1, int destination = 0);
    void sourceStructureChanged(int first = 0, int last = -1, int destination = 0);
    void sourceDataChanged(
        const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);
    void forgetSource(QObject *source);
    void forgetSourceModel();
    // Changes views may not learn of from a rebuild at once (disabled or background mode).
    void announceIfNoRebuildFollows(int first, int last);
    QList<int> shownRows() const;

    QPointer<const QAbstractListModel> m_sourceModel;
    std::unique_ptr<FromSource> m_ownSource;
    // Own role to the source model's role, as the own source reads them.
    QMap<int, int> m_ownRoles;
    QMap<int, const ISource *> m_sources;
    QMap<int, OrWhere> m_wheres;
    int m_sortRole = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_mapped = false;
    // Source row of each proxy row; -1 where that source row has gone since the last rebuild.
    QList<int> m_rows;
    int m_groupRole = -1;
    bool m_isEnabled = true;
    bool m_invalidatePending = false;
    bool m_isAsync = false;

    QList<int> m_nextRows;
    bool m_hasNextRows = false;
    quint64 m_nextVersion = 0;

    // Proxy row of each source row, -1 for rows not shown; kept while m_current.
    QList<int> m_proxyOf;
    // The mapping is the result of the present filters, grouping and sorting over the source as
    // it is now, so changes can be followed row by row.
    bool m_current = false;
    quint64 m_version = 0;
    bool m_following = false;

    QFuture<void> m_task;
    std::shared_ptr<std::atomic_bool> m_cancel;
    quint64 m_generation = 0;

    Forwarding m_forwarding = Forwarding::None;
    QModelIndexList m_layoutProxyIndexes;
    QList<QPersistentModelIndex> m_layoutAnchors;
};

} // namespace ProxyOrm
