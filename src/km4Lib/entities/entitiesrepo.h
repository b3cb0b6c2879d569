#pragma once

#include "entitywriter.h"
#include "order.h"
#include "receipt.h"
#include "receiptitem.h"
#include "shared/voidfuture.h"
#include "shift.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QStringList>

// Writes lists of entity records through the one entity writer, one write after another in the
// order they were asked for, each record's values bound to the table's INSERT. The tables replace
// a row whose uuid is already stored, so an insert is the system's upsert. The values are taken
// before an operation returns: the caller's records only have to live until then.
//
// A row the database refuses is skipped and named in a level-3 line; the rest of the list is
// stored. The insert* futures fail (DBException) only when the write could not run at all; the
// store* futures also tell which rows were not stored, by uuid.
class EntitiesRepo : public QObject
{
    Q_OBJECT

public:
    explicit EntitiesRepo(QObject *parent = nullptr);

    [[nodiscard]] static VoidFuture insertOrder(QList<Order *> list);
    [[nodiscard]] static VoidFuture insertShift(QList<Shift *> list);
    [[nodiscard]] static VoidFuture insertReceipt(QList<Receipt *> list);
    [[nodiscard]] static VoidFuture insertReceiptItem(QList<ReceiptItem *> list);

    [[nodiscard]] static QFuture<QStringList> store(
        const QList<Order *> &list, EntityWriter::Replace replace = EntityWriter::Replace::Always);
    [[nodiscard]] static QFuture<QStringList> store(
        const QList<Shift *> &list, EntityWriter::Replace replace = EntityWriter::Replace::Always);
    [[nodiscard]] static QFuture<QStringList> store(const QList<Receipt *> &list,
        EntityWriter::Replace replace = EntityWriter::Replace::Always);
    [[nodiscard]] static QFuture<QStringList> store(const QList<ReceiptItem *> &list,
        EntityWriter::Replace replace = EntityWriter::Replace::Always);
};
