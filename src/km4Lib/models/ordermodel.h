#pragma once

#include "entities/order.h"
#include "entitylistmodel.h"

// The orders of the current shift, indexed by uuid. Reloaded by the environment for its shift;
// orders pushed by the server are upserted, or removed when they arrive deleted or belong to
// another shift than the one reloaded.
class OrderModel : public EntityListModel<Order>
{
    Q_OBJECT

public:
    enum Roles {
        idRole = Qt::UserRole + 1,
        uuidRole,
        numberRole,
        shiftUuidRole = Qt::UserRole + 5,
        openDateRole = Qt::UserRole + 7,
        closeDateRole,
        userIdRole,
        clientIdRole,
        clientUuidRole,
        statusNameRole,
        commentRole,
        tableIdRole,
        guestsRole,
        isPaidRole,
        isClosedRole,
        deleteAtRole = Qt::UserRole + 20,
    };

    explicit OrderModel(QObject *parent = nullptr);
    ~OrderModel() override;

    // The name of the table and of the topic segment that carries orders.
    static QString tableName();

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Order byUuid(const QString &uuid) const;
    int indexOf(const QString &uuid) const;
    Order at(int row) const;
    // The row before the first one with this uuid (the second row for the first one).
    Order getPreviousByUuid(const QString &uuid) const;
    // Drops the uuid from the index and moves the entries behind its row up by one; called
    // before that row leaves the list.
    void updateIndexUuid(const QString &uuid);

public Q_SLOTS:
    // Must be called on the model's thread, like insert.
    VoidFuture update(QString shiftUuid) override;
    VoidFuture removeOldEntity(int day) override;
    VoidFuture insert(BaseEntity *entityPtr) override;

protected:
    bool leavesOnPush(const Order &order) const override;
    bool belongs(const Order &order) const override;
};
