#include "inworkitems.h"

void InWorkItems::clear()
{
    items.clear();
    inWorkRanks.clear();
    orderOfReceipt.clear();
    receiptsOfOrder.clear();
    nextRank = 0;
}

QStringList InWorkItems::appendItem(const QString &uuid, const QString &receiptUuid, bool inWork)
{
    QStringList touched;
    const Rank rank = nextRank++;
    items.insert(uuid, { rank, receiptUuid, inWork });
    if (inWork)
        place(receiptUuid, rank, &touched);
    return touched;
}

QStringList InWorkItems::changeItem(const QString &uuid, const QString &receiptUuid, bool inWork)
{
    const auto found = items.find(uuid);
    if (found == items.end())
        return appendItem(uuid, receiptUuid, inWork);
    Item &item = found.value();
    if (item.receiptUuid == receiptUuid && item.inWork == inWork)
        return {};
    QStringList touched;
    if (item.inWork)
        unplace(item.receiptUuid, item.rank, &touched);
    item.receiptUuid = receiptUuid;
    item.inWork = inWork;
    if (inWork)
        place(receiptUuid, item.rank, &touched);
    return touched;
}

QStringList InWorkItems::removeItem(const QString &uuid)
{
    const auto found = items.constFind(uuid);
    if (found == items.cend())
        return {};
    QStringList touched;
    if (found->inWork)
        unplace(found->receiptUuid, found->rank, &touched);
    items.erase(found);
    return touched;
}

QStringList InWorkItems::setReceipt(const QString &receiptUuid, const QString &orderUuid)
{
    // A receipt without uuid is no receipt: no item finds its order through it.
    if (receiptUuid.isEmpty())
        return {};
    QStringList touched = removeReceipt(receiptUuid);
    orderOfReceipt.insert(receiptUuid, orderUuid);
    receiptsOfOrder[orderUuid].append(receiptUuid);
    touchOrderOf(receiptUuid, &touched);
    return touched;
}

QStringList InWorkItems::removeReceipt(const QString &receiptUuid)
{
    const auto found = orderOfReceipt.constFind(receiptUuid);
    if (found == orderOfReceipt.cend())
        return {};
    QStringList touched;
    touchOrderOf(receiptUuid, &touched);
    const auto receipts = receiptsOfOrder.find(found.value());
    receipts->removeOne(receiptUuid);
    if (receipts->isEmpty())
        receiptsOfOrder.erase(receipts);
    orderOfReceipt.erase(found);
    return touched;
}

std::optional<InWorkItems::Rank> InWorkItems::firstItem(const QString &orderUuid) const
{
    std::optional<Rank> first;
    for (const QString &receiptUuid : receiptsOfOrder.value(orderUuid)) {
        const auto ranks = inWorkRanks.constFind(receiptUuid);
        if (ranks != inWorkRanks.cend() && (!first || *ranks->begin() < *first))
            first = *ranks->begin();
    }
    return first;
}

QStringList InWorkItems::ordersWithReceipts() const
{
    return receiptsOfOrder.keys();
}

void InWorkItems::place(const QString &receiptUuid, Rank rank, QStringList *touched)
{
    inWorkRanks[receiptUuid].insert(rank);
    touchOrderOf(receiptUuid, touched);
}

void InWorkItems::unplace(const QString &receiptUuid, Rank rank, QStringList *touched)
{
    const auto ranks = inWorkRanks.find(receiptUuid);
    if (ranks == inWorkRanks.end())
        return;
    ranks->erase(rank);
    if (ranks->empty())
        inWorkRanks.erase(ranks);
    touchOrderOf(receiptUuid, touched);
}

void InWorkItems::touchOrderOf(const QString &receiptUuid, QStringList *touched) const
{
    const auto order = orderOfReceipt.constFind(receiptUuid);
    if (order != orderOfReceipt.cend() && !touched->contains(order.value()))
        touched->append(order.value());
}
