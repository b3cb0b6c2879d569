#include "entitymodel.h"

#include "shared/appexception.h"
#include "shared/logger.h"

EntityModel::EntityModel(QObject *parent)
    : QAbstractListModel(parent)
{ }

void EntityModel::logFailure(VoidFuture finished)
{
    try {
        finished.waitForFinished();
    } catch (const AppException &exception) {
        KM4_LOG(3, exception.message(), exception.description());
    }
}
