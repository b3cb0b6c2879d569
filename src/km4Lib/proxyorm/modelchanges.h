#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QMetaObject>
#include <QObject>

namespace ProxyOrm {

// Calls `react` (bound to `context`) after every kind of change a model can make to its rows:
// reset, inserts, removals, moves, layout changes and changed data. Returns the connections, for
// users that follow another model later.
template <typename Receiver, typename React>
QList<QMetaObject::Connection> followModelChanges(
    const QAbstractItemModel *model, const Receiver *context, React react)
{
    return {
        QObject::connect(model, &QAbstractItemModel::modelReset, context, react),
        QObject::connect(model, &QAbstractItemModel::rowsInserted, context, react),
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, context, react),
        QObject::connect(model, &QAbstractItemModel::rowsMoved, context, react),
        QObject::connect(model, &QAbstractItemModel::layoutChanged, context, react),
        QObject::connect(model, &QAbstractItemModel::dataChanged, context, react),
    };
}

} // namespace ProxyOrm
