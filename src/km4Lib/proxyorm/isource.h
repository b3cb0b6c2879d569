#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QVariant>

class QAbstractItemModel;

namespace ProxyOrm {

// A column source: answers the value of a (row, role) cell for the rows of one list model and
// remembers the answers. Reads may come from a background rebuild and from views at the same
// time, so the cache is guarded.
class ISource : public QObject
{
    Q_OBJECT

public:
    ISource();

    QVariant data(int row, int role) const;
    // Row -1 with role -1 drops everything, a row with role -1 drops that row, row -1 with a role
    // drops that role of every row. Callable on a borrowed const source: the cache is not part of
    // the source's observable state.
    void invalidateCache(int row, int role) const;

    virtual QList<int> roles() const = 0;
    virtual QVariant templateData(int row, int role) const = 0;
    // True when a row's value follows from that row of the model alone (and from models that
    // announce their own changes through `changed`), so that a change to some rows leaves the
    // values of all other rows as they were. Proxies then follow such changes row by row.
    virtual bool readsOneRow() const { return false; }
    // Rows first..last of `model` have changed data. Called by a proxy that announces the change
    // before the source may have heard of it itself, so that what views read next is current.
    // Kinds that read one row drop those rows, others everything; kinds that know which of their
    // answers the rows feed drop only those.
    virtual void rowsChanged(const QAbstractItemModel *model, int first, int last) const;
    // Rows first..last of `model` were inserted or removed, or moved to before `destination`
    // (counted before the move), as the model's own signals say. Called by a proxy as soon as it
    // hears of the change, like rowsChanged. Kinds that remember answers by row drop everything;
    // kinds that know which answers the rows feed drop only those.
    virtual void rowsInserted(const QAbstractItemModel *model, int first, int last) const;
    virtual void rowsRemoved(const QAbstractItemModel *model, int first, int last) const;
    virtual void rowsMoved(
        const QAbstractItemModel *model, int first, int last, int destination) const;

Q_SIGNALS:
    void changed(QList<int> roles);

protected:
    void setCacheEnabled(bool on) { m_cacheEnabled = on; }
    // Called after the whole cache was dropped, for kinds that keep further memos.
    virtual void cacheCleared() const { }

private:
    bool m_cacheEnabled = true;
    mutable QMutex m_cacheMutex;
    mutable QHash<int, QHash<int, QVariant>> m_cache;
};

} // namespace ProxyOrm
