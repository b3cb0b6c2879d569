#include "entityrowhandler.h"

#include "core/appenv.h"
#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "entities/shift.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/shiftmodel.h"
#include "shared/appexception.h"
#include "shared/logger.h"

namespace {

// The model has already taken the row; only a failed database write is left to report. The
// failure stays the future's.
VoidFuture warnWhenNotStored(VoidFuture future, const char *text)
{
    return future.then([text](VoidFuture written) {
        try {
            written.waitForFinished();
        } catch (const AppException &) {
            KM4_LOG(2, text);
            throw;
        }
    });
}

} // namespace

EntityRowHandler::EntityRowHandler(AppEnv *env)
    : env(env)
{ }

VoidFuture EntityRowHandler::apply(const QString &table, const QJsonObject &row)
{
    return take(table, row, false);
}

VoidFuture EntityRowHandler::applyCaughtUp(const QString &table, const QJsonObject &row)
{
    return take(table, row, true);
}

VoidFuture EntityRowHandler::take(const QString &table, const QJsonObject &row, bool caughtUp)
{
    const EntityWriter::Replace replace
        = caughtUp ? EntityWriter::Replace::UnlessStoredIsNewer : EntityWriter::Replace::Always;
    if (table == OrderModel::tableName()) {
        Order order;
        order.fromJson(row);
        return warnWhenNotStored(env->orderModel.takeRow(&order, replace), "order not insert");
    }
    if (table == ShiftModel::tableName()) {
        Shift shift;
        shift.fromJson(row);
        // Only a shift the model takes may become the current one.
        const bool taken
            = !shift.uuid.isEmpty() && !(caughtUp && env->shiftModel.showsNewer(shift));
        if (taken)
            applyCurrentShiftRule(shift);
        return warnWhenNotStored(env->shiftModel.takeRow(&shift, replace), "shift not insert");
    }
    if (table == ReceiptModel::tableName()) {
        Receipt receipt;
        receipt.fromJson(row);
        return warnWhenNotStored(
            env->receiptModel.takeRow(&receipt, replace), "receipt not inserted");
    }
    if (table == ReceiptItemModel::tableName()) {
        ReceiptItem item;
        item.fromJson(row);
        return warnWhenNotStored(
            env->receiptItemModel.takeRow(&item, replace), "receipt item not inserted");
    }
    return QtFuture::makeReadyFuture();
}

void EntityRowHandler::applyCurrentShiftRule(const Shift &shift)
{
    const Shift current = env->shiftModel.byUuid(env->shiftUuid.value());
    if (shift.number >= current.number && shift.type == QLatin1String("general")) {
        env->isShiftOpen.set(shift.closed_at == 0);
        env->shiftUuid.set(shift.uuid);
    }
}
