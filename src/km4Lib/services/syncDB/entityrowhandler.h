#pragma once

#include "shared/voidfuture.h"

#include <QJsonObject>
#include <QString>

class AppEnv;
class Shift;

// Hands one row of an entity table (order, shift, receipt, receipt_item), pushed by the broker or
// caught up over HTTP after a gap, to the model of its table, which shows it and stores it. A
// pushed shift may also become the application's current shift. GUI thread only.
class EntityRowHandler
{
public:
    explicit EntityRowHandler(AppEnv *env);

    // The model's write of the row, which has ended when the future finishes: the row is stored,
    // or refused for its values and logged, or the write could not run, which is logged and
    // fails the future. A finished future for any other table.
    [[nodiscard]] VoidFuture apply(const QString &table, const QJsonObject &row);
    // The same for a row caught up after a gap in pushes, which does not replace a newer one.
    [[nodiscard]] VoidFuture applyCaughtUp(const QString &table, const QJsonObject &row);

private:
    [[nodiscard]] VoidFuture take(const QString &table, const QJsonObject &row, bool caughtUp);
    void applyCurrentShiftRule(const Shift &shift);

    AppEnv *env;
};
