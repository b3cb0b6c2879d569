#pragma once

#include <QAbstractListModel>

namespace ProxyOrm {

// A list model that finds the row holding a key itself, so that a join need not scan it.
class IndexedAbstractModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit IndexedAbstractModel(QObject *parent = nullptr);

    virtual QModelIndex indexOfKey(QVariant key) const = 0;
};

} // namespace ProxyOrm
