#pragma once

#include "entities/shift.h"
#include "entitylistmodel.h"

// Every shift of the local database, highest number first. The environment takes its current
// shift from here; pushed shifts are upserted and never removed.
class ShiftModel : public EntityListModel<Shift>
{
    Q_OBJECT

public:
    enum Roles {
        idRole = Qt::UserRole + 1,
        uuidRole,
        parentUuidRole,
        typeRole,
        createdCommentRole,
        closedCommentRole,
        numberRole,
        isFiscalRole,
        userIdRole,
        createdByRole,
        createdAtRole,
        updatedAtRole,
        closedAtRole,
    };

    explicit ShiftModel(QObject *parent = nullptr);
    ~ShiftModel() override;

    // The name of the table and of the topic segment that carries shifts.
    static QString tableName();

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Shift byUuid(QString uuid);
    // The first shift of type "general": after a reload, the one with the highest number.
    Shift lastGeneralShift() const;

public Q_SLOTS:
    // Loads every shift; the argument is not used. Must be called on the model's thread.
    VoidFuture update(QString shiftUuid = QString()) override;
    VoidFuture removeOldEntity(int dayOld) override;
    VoidFuture insert(BaseEntity *entityPtr) override;
    VoidFuture insert(QList<Shift *> shiftList);
};
