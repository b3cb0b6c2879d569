#pragma once

#include "isource.h"

#include <QAbstractListModel>
#include <QMap>
#include <QPointer>

namespace ProxyOrm {

// Roles read straight from a list model, under role numbers of the source's own choosing.
// Unmapped roles pass through unchanged.
class FromSource : public ISource
{
    Q_OBJECT

public:
    FromSource(const QAbstractListModel *model, QMap<int, int> roleMap);

    QList<int> roles() const override;
    QVariant templateData(int row, int role) const override;
    bool readsOneRow() const override { return true; }

private:
    QPointer<const QAbstractListModel> m_model;
    QMap<int, int> m_roleMap;
};

} // namespace ProxyOrm
