#pragma once

#include "testlistmodel.h"

#include <QMap>

namespace ProxyTest {

enum Roles { Id = Qt::UserRole + 1, Key, Value, Extra = Qt::UserRole + 50 };

// Id is also the display role, so that the model tester's reads compare real row identities; the
// other roles the tester asks for read the (empty) source roles of the same numbers.
inline QMap<int, int> roleMap()
{
    QMap<int, int> map { { Qt::DisplayRole, Id }, { Id, Id }, { Key, Key }, { Value, Value } };
    map.insert(-1, -1);
    for (int role = Qt::DecorationRole; role <= Qt::SizeHintRole; ++role)
        map.insert(role, role);
    return map;
}

inline TestListModel::Row row(int id, const QVariant &key = {}, const QVariant &value = {})
{
    return { { Id, id }, { Key, key }, { Value, value } };
}

// One role of every row of a model, from the top.
inline QVariantList column(const QAbstractItemModel &model, int role)
{
    QVariantList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), role);
    return values;
}

// Rows with ids 0, 1, ... and the given values under Key.
inline QList<TestListModel::Row> keyed(const QVariantList &keys)
{
    QList<TestListModel::Row> rows;
    for (int i = 0; i < keys.size(); ++i)
        rows.append(row(i, keys.at(i)));
    return rows;
}

} // namespace ProxyTest
