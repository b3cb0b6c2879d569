#pragma once

class DBService;
class ENVService;
class HttpSyncDBService;
class IPointService;

// The services a flow may use, as non-owning pointers into the core. The MQTT, log and rotation
// services are deliberately absent: no flow reaches them.
struct AppServices
{
    DBService *dbService = nullptr;
    ENVService *envService = nullptr;
    HttpSyncDBService *syncDBService = nullptr;
    IPointService *pointService = nullptr;
};
