#include "servertables.h"

#include <QDateTime>
#include <QJsonArray>
#include <QMutexLocker>

ServerTables::~ServerTables()
{
    if (server)
        server->resetAnswers();
}

void ServerTables::serve(FakeServer &server)
{
    this->server = &server;
    server.setResponder(
        FakeServer::SyncPath, [this](const RecordedRequest &request) { return answer(request); });
}

void ServerTables::change(const QString &table, QJsonObject row)
{
    const QMutexLocker locker(&mutex);
    row.insert(QStringLiteral("updated_at"), QDateTime::currentSecsSinceEpoch() + clockOffset);
    const QString id = table == QLatin1String("config")
        ? row.value(QStringLiteral("key")).toString()
        : row.value(QStringLiteral("uuid")).toString();
    rows[table].insert(id, row);
}

void ServerTables::advanceClock(qint64 seconds)
{
    const QMutexLocker locker(&mutex);
    clockOffset += seconds;
}

qint64 ServerTables::now() const
{
    const QMutexLocker locker(&mutex);
    return QDateTime::currentSecsSinceEpoch() + clockOffset;
}

QStringList ServerTables::askedTables(const RecordedRequest &request)
{
    QStringList tables;
    for (const auto &[name, value] : request.queryItems()) {
        if (name == QLatin1String("return_only[]"))
            tables.append(value);
    }
    return tables;
}

qint64 ServerTables::updatedAfter(const RecordedRequest &request)
{
    for (const auto &[name, value] : request.queryItems()) {
        if (name == QLatin1String("updated_after"))
            return value.toLongLong();
    }
    return 0;
}

FakeServer::Answer ServerTables::answer(const RecordedRequest &request) const
{
    const qint64 after = updatedAfter(request);
    QJsonObject tables;
    const QMutexLocker locker(&mutex);
    for (const QString &table : askedTables(request)) {
        QJsonArray changed;
        for (const QJsonObject &row : rows.value(table)) {
            if (row.value(QStringLiteral("updated_at")).toInteger() > after)
                changed.append(row);
        }
        tables.insert(table, changed);
    }
    return FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch() + clockOffset);
}
