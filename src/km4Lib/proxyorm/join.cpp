#include "join.h"

#include "modelchanges.h"

namespace ProxyOrm {

Join::Join(const QAbstractListModel *left, int leftKeyRole, const QAbstractListModel *right,
    int rightKeyRole, QMap<int, int> roleMap)
    : m_left(left)
    , m_leftKeyRole(leftKeyRole)
    , m_right(right)
    , m_rightKeyRole(rightKeyRole)
    , m_roleMap(std::move(roleMap))
{
    if (!right)
        return;
    const auto follow = [this] { invalidate(); };
    followModelChanges(right, this, follow);
}

QList<int> Join::roles() const
{
    return m_roleMap.keys();
}

QVariant Join::templateData(int row, int role) const
{
    const QAbstractListModel *left = m_left.data();
    const QAbstractListModel *right = m_right.data();
    if (!left || !right || row < 0 || row >= left->rowCount() || !m_roleMap.contains(role))
        return {};

    const QVariant key = left->data(left->index(row, 0), m_leftKeyRole);
    for (int r = 0; r < right->rowCount(); ++r) {
        const QModelIndex index = right->index(r, 0);
        if (right->data(index, m_rightKeyRole) == key)
            return right->data(index, m_roleMap.value(role));
    }
    return {};
}

void Join::invalidate()
{
    invalidateCache(-1, -1);
    Q_EMIT changed(roles());
}

} // namespace ProxyOrm
