#pragma once

#include "entities/baseentity.h"
#include "shared/voidfuture.h"

#include <QAbstractListModel>
#include <QString>

// Base of the list models over the local entity tables. A model reloads the rows of one shift
// from the database (update), takes one record pushed by the server into its rows and into the
// database (insert), and deletes old rows from the database (removeOldEntity). Rows change only
// through whole model resets, on the model's own thread.
class EntityModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit EntityModel(QObject *parent = nullptr);

public Q_SLOTS:
    virtual VoidFuture update(QString shiftUuid = QString()) = 0;
    virtual VoidFuture insert(BaseEntity *entityPtr) = 0;
    virtual VoidFuture removeOldEntity(int day) = 0;
};
