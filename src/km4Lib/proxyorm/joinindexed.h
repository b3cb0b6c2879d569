#pragma once

#include "indexedabstractmodel.h"
#include "isource.h"

#include <QAbstractListModel>
#include <QMap>
#include <QPointer>

namespace ProxyOrm {

// A join whose right model looks its keys up itself (see Join).
class JoinIndexed : public ISource
{
    Q_OBJECT

public:
    JoinIndexed(const QAbstractListModel *left, int leftKeyRole, const IndexedAbstractModel *right,
        QMap<int, int> roleMap);

    QList<int> roles() const override;
    QVariant templateData(int row, int role) const override;
    bool readsOneRow() const override { return true; }
    virtual void invalidate();

private:
    QPointer<const QAbstractListModel> m_left;
    int m_leftKeyRole;
    QPointer<const IndexedAbstractModel> m_right;
    QMap<int, int> m_roleMap;
};

} // namespace ProxyOrm
