#pragma once

#include "entities/receipt.h"
#include "entitymodel.h"
#include "reloadtracker.h"

#include <QHash>
#include <QList>

// The receipts of the current shift, indexed by uuid. Pushed receipts are upserted, deleted or
// not; a deleted one leaves at the next reload.
class ReceiptModel : public EntityModel
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

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
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

private:
    void upsert(const Receipt &receipt);
    // `before`: the rows shown for the pushed uuids before the push.
    [[nodiscard]] VoidFuture write(const QList<Receipt *> &list, const QList<Receipt> &before);

    QList<Receipt> rows;
    QHash<QString, int> indexUuid;
    ReloadTracker<Receipt> reloads;
};
