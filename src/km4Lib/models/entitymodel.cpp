#include "entitymodel.h"

#include "shared/appexception.h"
#include "shared/logger.h"

EntityModel::EntityModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

void EntityModel::logFailure(VoidFuture finished)
{
    try {
        logAndHandOnFailure(finished);
    } catch (const AppException &) {
        // logged
    }
}

void EntityModel::logAndHandOnFailure(VoidFuture finished)
{
    try {
        finished.waitForFinished();
    } catch (const AppException &exception) {
        KM4_LOG(3, exception.message(), exception.description());
        throw;
    }
}
