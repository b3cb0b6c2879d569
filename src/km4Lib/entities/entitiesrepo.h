#pragma once

#include "order.h"
#include "receipt.h"
#include "receiptitem.h"
#include "shared/voidfuture.h"
#include "shift.h"

#include <QList>
#include <QObject>

// Writes lists of entity records with one multi-row INSERT on a pool thread, one write after
// another in the order they were asked for. The tables replace a
// row whose uuid is already stored, so an insert is the system's upsert. The statement is built
// before an operation returns: the caller's records only have to live until then. A failed
// statement stores none of the rows and reaches the caller as the future's DBException.
class EntitiesRepo : public QObject
{
    Q_OBJECT

public:
    explicit EntitiesRepo(QObject *parent = nullptr);

    [[nodiscard]] static VoidFuture insertOrder(QList<Order *> list);
    [[nodiscard]] static VoidFuture insertShift(QList<Shift *> list);
    [[nodiscard]] static VoidFuture insertReceipt(QList<Receipt *> list);
    [[nodiscard]] static VoidFuture insertReceiptItem(QList<ReceiptItem *> list);
};
