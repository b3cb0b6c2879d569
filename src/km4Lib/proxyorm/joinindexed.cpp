#include "joinindexed.h"

#include "modelchanges.h"

namespace ProxyOrm {

JoinIndexed::JoinIndexed(const QAbstractListModel *left, int leftKeyRole,
    const IndexedAbstractModel *right, QMap<int, int> roleMap)
    : m_left(left)
    , m_leftKeyRole(leftKeyRole)
    , m_right(right)
    , m_roleMap(std::move(roleMap))
{
    if (!right)
        return;
    const auto follow = [this] { invalidate(); };
    followModelChanges(right, this, follow);
}

QList<int> JoinIndexed::roles() const
{
    return m_roleMap.keys();
}

QVariant JoinIndexed::templateData(int row, int role) const
{
    const QAbstractListModel *left = m_left.data();
    const IndexedAbstractModel *right = m_right.data();
    if (!left || !right || row < 0 || row >= left->rowCount() || !m_roleMap.contains(role))
        return {};

    const QVariant key = left->data(left->index(row, 0), m_leftKeyRole);
    return right->data(right->indexOfKey(key), m_roleMap.value(role));
}

void JoinIndexed::invalidate()
{
    invalidateCache(-1, -1);
    Q_EMIT changed(roles());
}

} // namespace ProxyOrm
