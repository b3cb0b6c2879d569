#pragma once

#include "entities/receipt.h"
#include "entitylistmodel.h"

// The receipts of the current shift, indexed by uuid. Pushed receipts are upserted, deleted or
// not; a deleted one leaves at the next reload. One of another shift than the one reloaded is
// stored, not shown.
class ReceiptModel : public EntityListModel<Receipt>
{
    Q_OBJECT

public:
    enum Roles {
        idRole = Qt::UserRole + 1,
        uuidRole,
        shiftUuidRole = Qt::UserRole + 4,
        orderUuidRole,
        openDateRole = Qt::UserRole + 7,
        closeDateRole,
        deleteAtRole,
        userIdRole,
        isPaidRole,
    };

    explicit ReceiptModel(QObject *parent = nullptr);
    ~ReceiptModel() override;

    // The name of the table and of the topic segment that carries receipts.
    static QString tableName();

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Receipt byUuid(const QString &uuid) const;
    int indexOf(const QString &uuid) const;
    Receipt firstInOrder(QString orderUuid);
    // The row before the first undeleted one with this uuid (the second row for the first one).
    Receipt getPreviosByUuid(QString uuid);
    QList<Receipt> listReceiptByOrder(QString orderUuid);

public Q_SLOTS:
    // Must be called on the model's thread, like insert.
    VoidFuture update(QString shiftUuid) override;
    // A failed write reaches the caller as the future's failure.
    VoidFuture insert(QList<Receipt *> itemlist);
    VoidFuture removeOldEntity(int dayOld) override;
    VoidFuture insert(BaseEntity *entityPtr) override;

protected:
    bool belongs(const Receipt &receipt) const override;
};
