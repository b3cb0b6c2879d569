#pragma once

#include "core/appservices.h"

#include <QFuture>
#include <QJSValue>
#include <QJsonObject>
#include <QList>

class AppEnv;

// One piece of work that QML starts by name. The result list becomes the arguments of the QML
// callback: false alone for success, otherwise texts, the first being what the screen shows.
class IFlow
{
public:
    IFlow(AppEnv *env, AppServices services, QJsonObject args);
    virtual ~IFlow();

    IFlow(const IFlow &) = delete;
    IFlow &operator=(const IFlow &) = delete;

    [[nodiscard]] virtual QFuture<QList<QJSValue>> run() = 0;

protected:
    // An already finished future holding `result`. (QtFuture::makeReadyFuture would take a list
    // for a list of results.)
    [[nodiscard]] static QFuture<QList<QJSValue>> ready(const QList<QJSValue> &result);

    AppEnv *env;
};
