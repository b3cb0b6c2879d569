#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <set>

// Which receipt items are in work, grouped by receipt and by order, and where each order's first
// item in work stands among all receipt items. Items are ranked in the order of the receipt item
// model's rows; a removed row leaves the others in the same order, so ranks never need
// renumbering. Every change answers the orders whose first item may have moved, so a push costs
// the work of the orders it concerns, whatever the size of the shift.
class InWorkItems
{
public:
    using Rank = quint64;

    void clear();

    // An item behind all others (a row appended to the receipt item model).
    QStringList appendItem(const QString &uuid, const QString &receiptUuid, bool inWork);
    // An item changed in place; an unknown one is appended.
    QStringList changeItem(const QString &uuid, const QString &receiptUuid, bool inWork);
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
        Rank rank;
        QString receiptUuid;
        bool inWork;
    };

    void place(const QString &receiptUuid, Rank rank, QStringList *touched);
    void unplace(const QString &receiptUuid, Rank rank, QStringList *touched);
    void touchOrderOf(const QString &receiptUuid, QStringList *touched) const;

    QHash<QString, Item> items;
    // Per receipt uuid, the ranks of its items in work.
    QHash<QString, std::set<Rank>> inWorkRanks;
    QHash<QString, QString> orderOfReceipt;
    QHash<QString, QStringList> receiptsOfOrder;
    Rank nextRank = 0;
};
