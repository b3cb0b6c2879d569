#pragma once

#include "core/appcore.h"
#include "fakeserver.h"
#include "services/kmapi/timezoneapi.h"
#include "shared/threadstorage.h"
#include "testdatabase.h"

#include <QFile>
#include <QSqlQuery>
#include <QThreadPool>

#include <memory>

// A whole core (AppCore or a class derived from it) over a fresh database file, pointed at the
// loopback server double before anything can reach the network: the device identifier, the
// server host and plain HTTP are decided once per environment, so these settings win over
// whatever the command line would say. With Start::OverStoredData the database file that is
// there is kept, as after a restart. TestEnvironment::init() must have run.
template <typename Core> class BasicTestCore
{
public:
    enum class Start { Fresh, OverStoredData };

    explicit BasicTestCore(FakeServer &server, Start start = Start::Fresh)
    {
        QThreadPool::globalInstance()->waitForDone();
        if (start == Start::Fresh)
            QFile::remove(TestDatabase::path());
        TimezoneApi::setServiceHost(server.timeZoneHost());
        core = std::make_unique<Core>();
        env()->uuid.set(QStringLiteral("board-device-1"));
        env()->host.set(server.host());
        env()->useHttps.set(false);
        // The compiled broker is the production host: a core under test that is not given a
        // broker of its own looks for one on loopback, where nobody listens.
        SyncConfig sync = env()->syncConfig.value();
        sync.mqtt_host = QStringLiteral("127.0.0.1");
        sync.mqtt_port = FakeServer::unusedPort();
        env()->syncConfig.set(sync);
    }

    ~BasicTestCore()
    {
        core.reset();
        QSqlDatabase::database(QSqlDatabase::defaultConnection, false).close();
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    }

    Core *operator->() { return core.get(); }
    Core &operator*() { return *core; }
    AppEnv *env() { return core->appEnv(); }
    KMApiService *kmApiService() { return core->kmApiService(); }
    HttpSyncDBService *httpSyncDBService() { return core->httpSyncDBService(); }
    MqttSyncDBService *mqttSyncDBService() { return core->mqttSyncDBService(); }

    // One value of the GUI thread's connection; an invalid variant when the statement fails.
    static QVariant scalar(const QString &sql)
    {
        QSqlQuery query(ThreadStorage::instance()->database());
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }
    static int count(const QString &table)
    {
        const QVariant value = scalar(QStringLiteral("SELECT COUNT(*) FROM '%1'").arg(table));
        return value.isValid() ? value.toInt() : -1; // -1: no such table
    }
    // The stored value of a settings key; a null string when there is none.
    static QString setting(const QString &key)
    {
        return scalar(QStringLiteral("SELECT value FROM config WHERE key = '%1'").arg(key))
            .toString();
    }

private:
    std::unique_ptr<Core> core;
};

using TestCore = BasicTestCore<AppCore>;
