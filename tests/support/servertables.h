#pragma once

#include "fakeserver.h"

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

// The server's tables as a real point-of-sale server keeps them: every row carries the time it
// last changed, and "/sync-db" answers only the rows of the tables asked for ("return_only[]")
// that changed after the request's "updated_after", with the server's own clock as "timestamp".
// The clock is the machine's, moved on by what the test adds.
//
//     ServerTables tables;
//     tables.serve(server);
//     tables.change("order", row); // stamped with the server's clock
//     tables.advanceClock(100);
class ServerTables
{
public:
    ServerTables() = default;
    // Answers nothing more: the server may outlive the tables.
    ~ServerTables();
    ServerTables(const ServerTables &) = delete;
    ServerTables &operator=(const ServerTables &) = delete;

    // Answers "/sync-db" on the server from now on.
    void serve(FakeServer &server);

    // Stores the row under its "uuid" ("key" for config) as changed now: its "updated_at" is the
    // server's clock.
    void change(const QString &table, QJsonObject row);
    void advanceClock(qint64 seconds);
    qint64 now() const;

    // What a synchronisation request asks for.
    static QStringList askedTables(const RecordedRequest &request);
    static qint64 updatedAfter(const RecordedRequest &request);

    FakeServer::Answer answer(const RecordedRequest &request) const;

private:
    FakeServer *server = nullptr;
    mutable QMutex mutex; // the server thread answers
    QMap<QString, QHash<QString, QJsonObject>> rows; // by table, then by uuid or key
    qint64 clockOffset = 0;
};
