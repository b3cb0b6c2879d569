#pragma once

#include "iflow.h"

// The answer to a flow name nobody knows.
class UnknownFlow : public IFlow
{
public:
    UnknownFlow(AppEnv *env, AppServices services, QJsonObject args);

    [[nodiscard]] QFuture<QList<QJSValue>> run() override;
};
