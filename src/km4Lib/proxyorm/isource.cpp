#include "isource.h"

namespace ProxyOrm {

ISource::ISource() = default;

QVariant ISource::data(int row, int role) const
{
    if (!m_cacheEnabled)
        return templateData(row, role);

    {
        QMutexLocker lock(&m_cacheMutex);
        const auto rowIt = m_cache.constFind(row);
        if (rowIt != m_cache.constEnd()) {
            const auto it = rowIt->constFind(role);
            if (it != rowIt->constEnd() && !it->isNull())
                return *it;
        }
    }

    // Computed outside the lock: a kind may read other sources or slow models meanwhile.
    QVariant value = templateData(row, role);
    QMutexLocker lock(&m_cacheMutex);
    m_cache[row].insert(role, value);
    return value;
}

void ISource::rowsChanged(const QAbstractItemModel *, int first, int last) const
{
    if (!readsOneRow()) {
        invalidateCache(-1, -1);
        return;
    }
    for (int row = first; row <= last; ++row)
        invalidateCache(row, -1);
}

void ISource::rowsInserted(const QAbstractItemModel *, int, int) const
{
    invalidateCache(-1, -1);
}

void ISource::rowsRemoved(const QAbstractItemModel *, int, int) const
{
    invalidateCache(-1, -1);
}

void ISource::rowsMoved(const QAbstractItemModel *, int, int, int) const
{
    invalidateCache(-1, -1);
}

void ISource::invalidateCache(int row, int role) const
{
    {
        QMutexLocker lock(&m_cacheMutex);
        if (row == -1 && role == -1) {
            m_cache.clear();
        } else if (role == -1) {
            m_cache.remove(row);
        } else if (row == -1) {
            for (auto &cells : m_cache)
                cells.remove(role);
        } else {
            const auto it = m_cache.find(row);
            if (it != m_cache.end())
                it->remove(role);
        }
    }
    if (row == -1 && role == -1)
        cacheCleared();
}

} // namespace ProxyOrm
