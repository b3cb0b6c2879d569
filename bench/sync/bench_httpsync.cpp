#include "core/appenv.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"

#include "fakeserver.h"
#include "futurewait.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <memory>

namespace {

constexpr int statusRows = 20000;
constexpr int orderRows = 5000;
constexpr int receiptRows = 5000;
constexpr int itemRows = 25000;
constexpr int totalRows = statusRows + orderRows + receiptRows + itemRows;

QJsonObject answerTables()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QJsonArray statuses;
    for (int i = 1; i <= statusRows; ++i)
        statuses.append(QJsonObject { { "id", i }, { "name", QStringLiteral("status-%1").arg(i) },
            { "title", QStringLiteral("Статус %1").arg(i) }, { "color", "#22aa44" },
            { "is_active", true }, { "created_at", now }, { "updated_at", now } });
    QJsonArray orders;
    QJsonArray receipts;
    for (int i = 1; i <= orderRows; ++i) {
        const QString order = QStringLiteral("order-%1").arg(i);
        orders.append(QJsonObject { { "id", i }, { "uuid", order }, { "shift_id", 1 },
            { "shift_uuid", "shift-1" }, { "number", i }, { "status", "cooking" },
            { "type", "hall" }, { "is_paid", true }, { "comment", "без лука" }, { "created_by", 3 },
            { "created_at", now }, { "updated_at", now } });
        receipts.append(QJsonObject { { "id", i }, { "uuid", QStringLiteral("receipt-%1").arg(i) },
            { "shift_id", 1 }, { "shift_uuid", "shift-1" }, { "order_id", i },
            { "order_uuid", order }, { "type", "sale" }, { "is_paid", true }, { "created_by", 3 },
            { "created_at", now } });
    }
    QJsonArray items;
    for (int i = 1; i <= itemRows; ++i)
        items.append(QJsonObject { { "id", i }, { "uuid", QStringLiteral("item-%1").arg(i) },
            { "receipt_id", (i - 1) / 5 + 1 },
            { "receipt_uuid", QStringLiteral("receipt-%1").arg((i - 1) / 5 + 1) },
            { "menu_id", i % 40 }, { "quantity", 1.5 }, { "in_work", true },
            { "created_at", int(now) }, { "status", "cooking" } });
    return { { "order_status", statuses }, { "order", orders }, { "receipt", receipts },
        { "receipt_item", items } };
}

QStringList columnsOf(const QString &table)
{
    QStringList names;
    QSqlQuery query;
    query.exec(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table));
    while (query.next())
        names.append(query.value(0).toString());
    return names;
}

QVariant bindable(const QJsonValue &value)
{
    if (value.isNull() || value.isUndefined())
        return QVariant();
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    return value.toVariant();
}

// The same rows the old-fashioned way: one prepared single-row INSERT per table, executed for
// every row inside one transaction.
bool writeInOneTransaction(const QJsonObject &tables)
{
    QSqlDatabase db = QSqlDatabase::database();
    if (!db.transaction())
        return false;
    for (auto it = tables.begin(); it != tables.end(); ++it) {
        const QStringList columns = columnsOf(it.key());
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i)
            marks.append(QStringLiteral("?"));
        QSqlQuery query;
        if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO `%1` (%2) VALUES (%3)")
                               .arg(it.key(), columns.join(','), marks.join(','))))
            return false;
        for (const QJsonValue &row : it.value().toArray()) {
            const QJsonObject object = row.toObject();
            for (int i = 0; i < columns.size(); ++i)
                query.bindValue(i, bindable(object.value(columns.at(i))));
            if (!query.exec()) {
                qWarning() << query.lastError().text();
                return false;
            }
        }
    }
    return db.commit();
}

int countAll()
{
    int total = 0;
    for (const char *table : { "order_status", "'order'", "receipt", "receipt_item" }) {
        QSqlQuery query;
        query.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)));
        query.next();
        total += query.value(0).toInt();
    }
    return total;
}

} // namespace

// First synchronisation of a large answer from the loopback server, against the same rows
// written by one prepared statement in one transaction.
class BenchHttpSync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstSynchronisation();
    void requestOnly();
    void oneTransactionBaseline();
    void cleanupTestCase();

private:
    QJsonObject tables;
    qint64 syncMs = 0;
    qint64 requestMs = 0;
    QStringList phases;
    qint64 baselineMs = 0;
};

void BenchHttpSync::initTestCase()
{
    TestEnvironment::init();
    tables = answerTables();
}

void BenchHttpSync::firstSynchronisation()
{
    TestDatabase database;
    FakeServer server;
    server.setAnswer(
        FakeServer::SyncPath, FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch()));
    KMAPI api;
    api.useHttps(false);
    api.setHost(server.host());
    QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("bench"))));
    AppEnv env;
    HttpSyncDBService service(&api, &env);
    bool finished = false;
    connect(&service, &HttpSyncDBService::syncFinished, this, [&finished] { finished = true; });
    QElapsedTimer timer;
    // Each table's share, measured on the emitting thread between its two signals.
    QMutex phaseMutex;
    QHash<QString, qint64> began;
    phases.clear();
    connect(
        &service, &HttpSyncDBService::tableSyncing, this,
        [&](const QString &table) {
            const QMutexLocker locker(&phaseMutex);
            began.insert(table, timer.elapsed());
        },
        Qt::DirectConnection);
    connect(
        &service, &HttpSyncDBService::tableSynced, this,
        [&](const QString &table, const QJsonValue &) {
            const QMutexLocker locker(&phaseMutex);
            phases.append(
                QStringLiteral("%1 %2 ms").arg(table).arg(timer.elapsed() - began.value(table)));
        },
        Qt::DirectConnection);

    QBENCHMARK_ONCE
    {
        timer.start();
        service.run();
        QVERIFY(QTest::qWaitFor([&finished] { return finished; }, 120000));
        syncMs = timer.elapsed();
    }
    QCOMPARE(countAll(), totalRows);
    service.stop();
}

// The share of the synchronisation that is transport and JSON: the same answer fetched and
// parsed, nothing written.
void BenchHttpSync::requestOnly()
{
    FakeServer server;
    server.setAnswer(
        FakeServer::SyncPath, FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch()));
    KMAPI api;
    api.useHttps(false);
    api.setHost(server.host());
    QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("bench"))));

    QElapsedTimer timer;
    QBENCHMARK_ONCE
    {
        timer.start();
        const APIFuture answer = api.requestSyncDB(QJsonObject(), 0, { "order_status" });
        QVERIFY(waitFor(answer, 120000));
        QCOMPARE(answer.result().value("tables").toObject().size(), tables.size());
        requestMs = timer.elapsed();
    }
}

void BenchHttpSync::oneTransactionBaseline()
{
    TestDatabase database;
    QElapsedTimer timer;
    QBENCHMARK_ONCE
    {
        timer.start();
        QVERIFY(writeInOneTransaction(tables));
        baselineMs = timer.elapsed();
    }
    QCOMPARE(countAll(), totalRows);
}

void BenchHttpSync::cleanupTestCase()
{
    auto perSecond = [](qint64 ms) { return ms > 0 ? totalRows * 1000.0 / ms : 0.0; };
    qInfo("rows: %d; first synchronisation, request to syncFinished: %lld ms (%.0f rows/s); "
          "of it request and JSON alone: %lld ms; "
          "one prepared statement in one transaction: %lld ms (%.0f rows/s); ratio %.2f",
        totalRows, syncMs, perSecond(syncMs), requestMs, baselineMs, perSecond(baselineMs),
        baselineMs > 0 ? double(syncMs) / double(baselineMs) : 0.0);
    qInfo("per table: %s", qPrintable(phases.join(QStringLiteral(", "))));
}

QTEST_GUILESS_MAIN(BenchHttpSync)
#include "bench_httpsync.moc"
