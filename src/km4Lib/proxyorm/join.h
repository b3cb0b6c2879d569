#pragma once

#include "isource.h"

#include <QAbstractListModel>
#include <QMap>
#include <QPointer>

namespace ProxyOrm {

// Roles of a second (right) model, found for each left row through equal key values. The first
// right row with the key wins. Follows the right model; the owner drops cached left rows.
class Join : public ISource
{
    Q_OBJECT

public:
    Join(const QAbstractListModel *left, int leftKeyRole, const QAbstractListModel *right,
        int rightKeyRole, QMap<int, int> roleMap);

    QList<int> roles() const override;
    QVariant templateData(int row, int role) const override;
    bool readsOneRow() const override { return true; }
    virtual void invalidate();

private:
    QPointer<const QAbstractListModel> m_left;
    int m_leftKeyRole;
    QPointer<const QAbstractListModel> m_right;
    int m_rightKeyRole;
    QMap<int, int> m_roleMap;
};

} // namespace ProxyOrm
