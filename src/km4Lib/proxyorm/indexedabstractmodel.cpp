#include "indexedabstractmodel.h"

namespace ProxyOrm {

IndexedAbstractModel::IndexedAbstractModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

} // namespace ProxyOrm
