#pragma once

#include "entities/receiptitem.h"
#include "entitylistmodel.h"

// The receipt items of the current shift, indexed by uuid. The order board follows the items in
// work through this model's row changes. A pushed item that arrives deleted removes its row.
class ReceiptItemModel : public EntityListModel<ReceiptItem>
{
    Q_OBJECT

public:
    enum Roles {
        idRole = Qt::UserRole + 1,
        uuidRole,
        menuIdRole,
        receiptUuidRole,
        quantityRole,
        commentRole,
        inWorkRole,
        createdAtRole,
        updatedAtRole,
        deletedAtRole,
        statusRole,
    };

    explicit ReceiptItemModel(QObject *parent = nullptr);
    ~ReceiptItemModel() override;

    // The name of the table and of the topic segment that carries receipt items.
    static QString tableName();

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    ReceiptItem byUuid(QString uuid) const;
    // Drops the uuid from the index and moves the entries behind its row up by one; called
    // before that row leaves the list.
    void updateIndexUuid(const QString &uuid);
    QList<ReceiptItem> listItemsByReceiptUuid(QString receiptUuid) const;

public Q_SLOTS:
    // Must be called on the model's thread, like insert.
    VoidFuture update(QString shiftUuid) override;
    // Here a held row that is itself deleted leaves the list, and the incoming item is not kept.
    VoidFuture insert(QList<ReceiptItem *> list);
    VoidFuture removeOldEntity(int dayOld) override;
    VoidFuture insert(BaseEntity *entityPtr) override;

protected:
    bool leavesOnPush(const ReceiptItem &item) const override;
};
