#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <set>

// Which receipt items are in work, grouped by receipt and by order, and which is each order's
// first item in work. Items rank by the server's item id, then by uuid: what the items are, not
// the order in which they reached the board, so a board that follows pushes and one that loads the
// same rows from the database (where a rewritten row moves to the end) rank them alike. Every
// change answers the orders whose first item may have moved, so a push costs the work of the
// orders it concerns, whatever the size of the shift.
class InWorkItems
{
public:
    struct Rank
    {
        qint64 id = 0;
        QString uuid;

        friend bool operator<(const Rank &left, const Rank &right)
        {
            return left.id != right.id ? left.id < right.id : left.uuid < right.uuid;
        }
        friend bool operator==(const Rank &left, const Rank &right)
        {
            return left.id == right.id && left.uuid == right.uuid;
        }
    };

    void clear();

    // An item new to the board, or changed.
    QStringList setItem(const QString &uuid, qint64 id, const QString &receiptUuid, bool inWork);
    QStringList removeItem(const QString &uuid);

    // A receipt is known (or changed) with the order it belongs to.
    QStringList setReceipt(const QString &receiptUuid, const QString &orderUuid);
    QStringList removeReceipt(const QString &receiptUuid);

    // The rank of the order's first item in work on a known receipt of it, if any.
    std::optional<Rank> firstItem(const QString &orderUuid) const;

    // The orders that have at least one known receipt.
    QStringList ordersWithReceipts() const;

private:
    struct Item
    {
        qint64 id;
        QString receiptUuid;
        bool inWork;
    };

    void place(const QString &receiptUuid, const Rank &rank, QStringList *touched);
    void unplace(const QString &receiptUuid, const Rank &rank, QStringList *touched);
    void touchOrderOf(const QString &receiptUuid, QStringList *touched) const;

    QHash<QString, Item> items;
    // Per receipt uuid, the ranks of its items in work.
    QHash<QString, std::set<Rank>> inWorkRanks;
    QHash<QString, QString> orderOfReceipt;
    QHash<QString, QStringList> receiptsOfOrder;
};
