#include "ipointservice.h"

IPointService::IPointService(QObject *parent)
    : IService(parent)
{ }

IPointService::~IPointService() = default;
