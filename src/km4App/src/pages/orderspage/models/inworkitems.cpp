#include "inworkitems.h"

void InWorkItems::clear()
{
    items.clear();
    inWorkRanks.clear();
    orderOfReceipt.clear();
    receiptsOfOrder.clear();
}

QStringList InWorkItems::setItem(
    const QString &uuid, qint64 id, const QString &receiptUuid, bool inWork)
{
    QStringList touched;
    const auto found = items.find(uuid);
    if (found != items.end()) {
        Item &item = found.value();
        if (item.id == id && item.receiptUuid == receiptUuid && item.inWork == inWork)
            return touched;
        if (item.inWork)
            unplace(item.receiptUuid, { item.id, uuid }, &touched);
        item = { id, receiptUuid, inWork };
    } else {
        items.insert(uuid, { id, receiptUuid, inWork });
    }
    if (inWork)
        place(receiptUuid, { id, uuid }, &touched);
    return touched;
}

QStringList InWorkItems::removeItem(const QString &uuid)
{
    const auto found = items.constFind(uuid);
    if (found == items.cend())
        return {};
    QStringList touched;
    if (found->inWork)
        unplace(found->receiptUuid, { found->id, uuid }, &touched);
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

void InWorkItems::place(const QString &receiptUuid, const Rank &rank, QStringList *touched)
{
    inWorkRanks[receiptUuid].insert(rank);
    touchOrderOf(receiptUuid, touched);
}

void InWorkItems::unplace(const QString &receiptUuid, const Rank &rank, QStringList *touched)
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
