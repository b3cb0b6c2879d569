#pragma once

#include "iflow.h"

// Wipes the local data and returns the board to the unpaired state. Synchronous: it blocks until
// a synchronisation under way has finished.
class RemoveDbFlow : public IFlow
{
public:
    RemoveDbFlow(AppEnv *env, AppServices services, QJsonObject args);

    [[nodiscard]] QFuture<QList<QJSValue>> run() override;

private:
    bool localDataIsGone() const;

    AppServices services;
};
