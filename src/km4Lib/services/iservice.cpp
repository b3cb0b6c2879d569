#include "iservice.h"

IService::IService(QObject *parent)
    : QObject(parent)
{
    // Services emit push() from pool threads; queued delivery needs the type by name.
    qRegisterMetaType<PushType>("PushType");
}

IService::~IService() = default;
