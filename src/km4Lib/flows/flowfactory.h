#pragma once

#include "core/appservices.h"

#include <QJsonObject>
#include <QString>

class AppEnv;
class IFlow;

// Picks the flow class by its name.
class FlowFactory
{
public:
    // Never null; the caller owns the flow. An unknown name gives a flow that answers so.
    [[nodiscard]] static IFlow *create(
        const QString &name, AppEnv *env, AppServices services, const QJsonObject &args);
};
