#include "config/envrepo.h"
#include "entities/entitiesrepo.h"
#include "services/db/dbservice.h"
#include "shared/asyncsqlquery.h"
#include "shared/dbexception.h"
#include "shared/threadstorage.h"

#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThreadPool>

#include <limits>

namespace {

QString connectionName()
{
    const QSqlDatabase db = ThreadStorage::instance()->database();
    return db.isOpen() && db.databaseName() == TestDatabase::path() ? db.connectionName()
                                                                    : QString();
}

// The driver's words of the DBException the call throws; empty when it throws none.
template <typename Call> QString failureOf(Call call)
{
    try {
        call();
    } catch (const DBException &e) {
        return e.description();
    }
    return {};
}

// Every stored row of the record's table, read back through its own fromRow, as JSON by uuid order.
template <typename Entity> QJsonArray stored()
{
    QJsonArray result;
    QSqlQuery query;
    query.exec(QStringLiteral("SELECT * FROM '%1' ORDER BY uuid").arg(Entity().tableName()));
    while (query.next()) {
        Entity entity;
        entity.fromRow(query);
        result.append(entity.toJson());
    }
    return result;
}

template <typename Entity> QJsonArray asJson(const QList<Entity> &records)
{
    QJsonArray array;
    for (const Entity &record : records)
        array.append(record.toJson());
    return array;
}

// Waits for the write; true when it ran without a DBException.
bool written(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (const DBException &) {
        return false;
    }
    return true;
}

Order order(const QString &uuid, const QString &text = QString())
{
    Order o;
    o.id = -7;
    o.uuid = uuid;
    o.shift_uuid = QStringLiteral("sh'ift %1");
    o.number_guests = -1;
    o.status = text;
    o.is_paid = true;
    o.comment = text;
    o.client_uuid = text;
    o.created_at = 4102444800;
    o.created_by = -2;
    return o;
}

Shift shift(const QString &uuid, qint64 createdAt)
{
    Shift s;
    s.id = 1;
    s.uuid = uuid;
    s.type = QStringLiteral("general");
    s.created_at = createdAt;
    s.created_comment = QStringLiteral("it's");
    return s;
}

} // namespace

// Writes into a real migrated database: statements on the pool threads' own connections
// (AsyncSQLQuery), the settings rows (ENVRepo) and the entity records (EntitiesRepo).
class TestDatabaseWrites : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup() { database.reset(); }

    void threadsOwnTheirConnections();
    void finishedReadsHoldNoLock_data();
    void finishedReadsHoldNoLock();
    void failures_data();
    void failures();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void settingsFailures();

    void orderFromJson_data();
    void orderFromJson();
    void rowsRoundTrip();
    void hostileTextsAreStoredExactly_data();
    void hostileTextsAreStoredExactly();
    void upsertReplacesTheWholeRow();
    void refusedRowIsSkippedAndNamed();
    void missingTableFailsOnlyItsWrite();
    void rapidWritesLandInCallOrder();

private:
    std::unique_ptr<TestDatabase> database;
};

// Each thread opens its own connection to the file; a pool thread's connection and network
// manager go when the thread ends.
void TestDatabaseWrites::threadsOwnTheirConnections()
{
    QCOMPARE(connectionName(), QLatin1String(QSqlDatabase::defaultConnection));
    QString names[2];
    QPointer<QNetworkAccessManager> manager;
    {
        QThreadPool pool;
        pool.setMaxThreadCount(2);
        // Both tasks wait for each other, so they surely run on two threads at once.
        QSemaphore started;
        auto task = [&](int i) {
            started.release();
            started.acquire(2);
            started.release(2);
            names[i] = connectionName();
            if (i == 0 && ThreadStorage::instance()->qnam() == ThreadStorage::instance()->qnam())
                manager = ThreadStorage::instance()->qnam();
        };
        QFuture<void> first = QtConcurrent::run(&pool, task, 0);
        QFuture<void> second = QtConcurrent::run(&pool, task, 1);
        QVERIFY(waitFor(first) && waitFor(second));
        QVERIFY(!names[0].isEmpty() && !names[1].isEmpty() && names[0] != names[1]);
        QVERIFY(names[0] != connectionName() && QSqlDatabase::contains(names[0]));
        QVERIFY(!manager.isNull());
    }
    QVERIFY(!QSqlDatabase::contains(names[0]) && !QSqlDatabase::contains(names[1]));
    QVERIFY(manager.isNull());

    const QFuture<QString> global = AsyncSQLQuery::read(
        QStringLiteral("SELECT 1"), [](QSqlQuery &) { return connectionName(); });
    QVERIFY(waitFor(global));
    QVERIFY(QSqlDatabase::contains(global.result()));
    TestDatabase::drainThreadPool();
    QVERIFY(!QSqlDatabase::contains(global.result()));
}

void TestDatabaseWrites::finishedReadsHoldNoLock_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("exec of a SELECT") << 0;
    QTest::newRow("select") << 1;
    QTest::newRow("read of the first row only") << 2;
}

// A finished read leaves no statement open: a writer that will not wait would otherwise fail
// with "database is locked". The reader runs in the pool task and hands out plain values.
void TestDatabaseWrites::finishedReadsHoldNoLock()
{
    QFETCH(int, form);
    QVERIFY(TestDatabase::exec(
        QStringLiteral("INSERT INTO 'config' (key, value) VALUES ('1', 'a'), ('2', 'b')")));
    const QString sql = QStringLiteral("SELECT key FROM 'config' ORDER BY key");
    // The future, and any result it holds, stays alive during the write, as a caller's would.
    QFuture<void> held;
    if (form == 0) {
        held = AsyncSQLQuery::exec(sql);
    } else if (form == 1) {
        const QFuture<QList<QSqlRecord>> selected = AsyncSQLQuery::select(sql);
        QVERIFY(waitFor(selected));
        QCOMPARE(selected.result().value(1).value(0).toString(), QStringLiteral("2"));
        held = selected;
    } else {
        QThread *const gui = QThread::currentThread();
        const QFuture<QString> firstRow = AsyncSQLQuery::read(sql, [gui](QSqlQuery &query) {
            return query.next() && QThread::currentThread() != gui ? query.value(0).toString()
                                                                   : QString();
        });
        QVERIFY(waitFor(firstRow));
        QCOMPARE(firstRow.result(), QStringLiteral("1"));
        held = firstRow;
    }
    QVERIFY(waitFor(held));
    {
        QSqlDatabase writer
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(TestDatabase::path());
        writer.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(writer.open());
        QSqlQuery write(writer);
        QVERIFY2(write.exec(QStringLiteral("DELETE FROM 'config'")),
            qPrintable(write.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));
}

void TestDatabaseWrites::failures_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("driverText");
    // A statement that does not compile must say why, not that there was nothing to run.
    QTest::newRow("syntax error") << "SELEC 1"
                                  << "near \"SELEC\": syntax error";
    QTest::newRow("missing table") << "SELECT * FROM nowhere"
                                   << "no such table: nowhere";
    QTest::newRow("constraint") << "INSERT INTO 'config' (key, value) VALUES ('k', NULL)"
                                << "NOT NULL constraint failed: config.value";
}

void TestDatabaseWrites::failures()
{
    QFETCH(QString, sql);
    QFETCH(QString, driverText);
    QFuture<QSqlQuery> future = AsyncSQLQuery::exec(sql);
    QVERIFY(waitFor(future));
    const QString description = failureOf([&] { future.waitForFinished(); });
    QVERIFY2(description.contains(driverText), qPrintable(description));

    // The failure leaves the thread's connection usable.
    const QFuture<QList<QSqlRecord>> after = AsyncSQLQuery::select(QStringLiteral("SELECT 1"));
    QVERIFY(waitFor(after));
    QCOMPARE(after.result().size(), 1);
}

void TestDatabaseWrites::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << "it's"
                            << "O'Brien's ''bar''";
    // Substituted one after the other, markers inside the data would be replaced again.
    QTest::newRow("markers") << "%1%2"
                             << "%2 and %3 and %1";
    QTest::newRow("statement text") << "k'); DROP TABLE 'config'; --"
                                    << "v');--";
    QTest::newRow("cyrillic json") << "point"
                                   << "{\"name\": \"Кафе \\\"У моря\\\"\"}";
}

// Written synchronously or on the pool, a key is stored once with its value as given and a fresh
// updated_at; writing it again replaces the row.
void TestDatabaseWrites::settingsRoundTrip()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    ENVRepo::insertENV(key, QStringLiteral("old"));
    ENVRepo::insertENV(key, value);
    QCOMPARE(ENVRepo::selectENV(key), value);

    const QString otherKey = key + QStringLiteral("'2");
    QFuture<void> asyncWrite = ENVRepo::asyncInsertENV(otherKey, QStringLiteral("old"));
    QVERIFY(waitFor(asyncWrite));
    asyncWrite = ENVRepo::asyncInsertENV(otherKey, value);
    QVERIFY(waitFor(asyncWrite));
    asyncWrite.waitForFinished(); // rethrows a failure
    QFuture<QVariant> asyncRead = ENVRepo::asyncSelectENV(otherKey);
    QVERIFY(waitFor(asyncRead));
    QCOMPARE(asyncRead.result().toString(), value);

    QCOMPARE(TestDatabase::column(QStringLiteral("SELECT COUNT(*) FROM 'config'")).value(0), 2);
    QVERIFY(TestDatabase::column(QStringLiteral("SELECT MIN(updated_at) FROM 'config'"))
                .value(0)
                .toLongLong()
        >= before);
    QVERIFY(ENVRepo::selectENV(QStringLiteral("never")).isNull());
}

void TestDatabaseWrites::settingsFailures()
{
    // A null value breaks the NOT NULL rule of the table.
    QVERIFY_THROWS_EXCEPTION(DBException, ENVRepo::insertENV(QStringLiteral("k"), QVariant()));

    // Without the table every operation fails with the compiler's own words.
    database->service().downAllMigrations();
    const QString noTable = QStringLiteral("no such table: config");
    QVERIFY(failureOf([] { ENVRepo::selectENV(QStringLiteral("domain")); }).contains(noTable));
    QVERIFY(failureOf([] { ENVRepo::insertENV(QStringLiteral("domain"), 1); }).contains(noTable));
    QFuture<void> write = ENVRepo::asyncInsertENV(QStringLiteral("domain"), QStringLiteral("x"));
    QFuture<QVariant> read = ENVRepo::asyncSelectENV(QStringLiteral("domain"));
    QVERIFY(waitFor(write) && waitFor(read));
    QVERIFY(failureOf([&] { write.waitForFinished(); }).contains(noTable));
    QVERIFY(failureOf([&] { read.waitForFinished(); }).contains(noTable));
}

void TestDatabaseWrites::orderFromJson_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("int min") << QByteArray(R"({"id": -2147483648})") << "id"
                             << QVariant(-2147483647 - 1);
    QTest::newRow("int as string") << QByteArray(R"({"id": "5"})") << "id" << QVariant(0);
    QTest::newRow("int fraction") << QByteArray(R"({"id": 1.5})") << "id" << QVariant(0);
    QTest::newRow("int out of range") << QByteArray(R"({"id": 2147483648})") << "id" << QVariant(0);
    QTest::newRow("time beyond 2038") << QByteArray(R"({"created_at": 4102444800})") << "created_at"
                                      << QVariant(qint64(4102444800));
    QTest::newRow("time beyond 64 bits")
        << QByteArray(R"({"created_at": 1e19})") << "created_at" << QVariant(qint64(0));
    QTest::newRow("flag as string")
        << QByteArray(R"({"is_paid": "true"})") << "is_paid" << QVariant(false);
    QTest::newRow("text as number")
        << QByteArray(R"({"comment": 5})") << "comment" << QVariant(QString());
}

void TestDatabaseWrites::orderFromJson()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);
    Order order;
    order.comment = QStringLiteral("missing keys reset the field");
    order.fromJson(QJsonDocument::fromJson(json).object());
    const QHash<QString, QVariant> fields { { "id", order.id }, { "created_at", order.created_at },
        { "is_paid", order.is_paid }, { "comment", order.comment } };
    QCOMPARE(fields.value(field), expected);
}

// Every kind of record is read back as written: times after 2038, quotes and markers in texts; a
// receipt item without status reads as pending and a non-finite quantity is stored as 0.
void TestDatabaseWrites::rowsRoundTrip()
{
    Order orderA = order(QStringLiteral("a'1"), QStringLiteral("it's %1 done"));
    Order orderB = order(QStringLiteral("b"));
    orderB.deleted_at = 5;
    QVERIFY(written(EntitiesRepo::insertOrder({ &orderA, nullptr, &orderB })));
    QCOMPARE(stored<Order>(), asJson<Order>({ orderA, orderB }));

    Shift shiftA = shift(QStringLiteral("s1"), 1700000000);
    shiftA.closed_at = 1700003600;
    shiftA.is_fiscal = true;
    QVERIFY(written(EntitiesRepo::insertShift({ &shiftA })));
    QCOMPARE(stored<Shift>(), asJson<Shift>({ shiftA }));

    Receipt receipt;
    receipt.uuid = QStringLiteral("r");
    receipt.order_uuid = QStringLiteral("o'1");
    receipt.created_by = -1;
    receipt.is_printed = true;
    QVERIFY(written(EntitiesRepo::insertReceipt({ &receipt })));
    QCOMPARE(stored<Receipt>(), asJson<Receipt>({ receipt }));

    ReceiptItem item;
    item.fromJson(QJsonDocument::fromJson(R"({"id": 1, "uuid": "i1", "quantity": 1.5,
        "in_work": true, "status": "cooking", "deleted_at": 4102444801})")
                      .object());
    QCOMPARE(item.deleted_at, qint64(4102444801));
    ReceiptItem bare;
    bare.uuid = QStringLiteral("i2");
    bare.quantity = std::numeric_limits<double>::infinity();
    QVERIFY(written(EntitiesRepo::insertReceiptItem({ &item, &bare })));
    bare.quantity = 0;
    bare.status = QStringLiteral("pending");
    QCOMPARE(stored<ReceiptItem>(), asJson<ReceiptItem>({ item, bare }));
    QVERIFY(EntitiesRepo::insertReceiptItem({ nullptr }).isFinished());
}

void TestDatabaseWrites::hostileTextsAreStoredExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString sql = QStringLiteral("x'), ('y', 1); DROP TABLE shift; --");
    QTest::newRow("sql") << sql << sql;
    const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b'c");
    QTest::newRow("nul") << nul << nul;
    // SQLite would read past a lone surrogate and take the next character with it.
    const QString high = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("'new");
    QTest::newRow("lone high surrogate")
        << high << QString(high).replace(QChar(0xD800), QChar::ReplacementCharacter);
    QTest::newRow("lone low surrogate") << QChar(0xDC00) + QStringLiteral("x")
                                        << QChar(QChar::ReplacementCharacter) + QStringLiteral("x");
    QTest::newRow("pair and markers") << QStringLiteral("🍕 %1 ? :a") << QStringLiteral("🍕 %1 ? :a");
    const QString huge = QString(1 << 20, QLatin1Char('q'));
    QTest::newRow("huge") << huge << huge;
}

void TestDatabaseWrites::hostileTextsAreStoredExactly()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    LogCapture log;
    Shift s = shift(QStringLiteral("s"), 1700000000);
    Order o = order(text, text);
    QVERIFY(written(EntitiesRepo::insertShift({ &s })));
    QVERIFY(written(EntitiesRepo::insertOrder({ &o })));
    const QJsonArray orders = stored<Order>();
    QCOMPARE(orders.size(), 1);
    for (const char *field : { "uuid", "comment", "status", "client_uuid" })
        QCOMPARE(orders[0][field].toString(), expected);
    QCOMPARE(stored<Shift>().size(), 1);
    QVERIFY(log.atLevel(3).isEmpty());
}

// A stored row is replaced whole, and the later of two rows of one uuid in one list wins.
void TestDatabaseWrites::upsertReplacesTheWholeRow()
{
    Order first = order(QStringLiteral("o"), QStringLiteral("first comment"));
    QVERIFY(written(EntitiesRepo::insertOrder({ &first })));
    Order second = order(QStringLiteral("o"));
    second.number = 99;
    Order third = second;
    third.number = 100;
    QVERIFY(written(EntitiesRepo::insertOrder({ &second, &third })));
    QCOMPARE(stored<Order>(), asJson<Order>({ third }));
}

void TestDatabaseWrites::refusedRowIsSkippedAndNamed()
{
    LogCapture log;
    Shift good = shift(QStringLiteral("good"), 1700000000);
    Shift bad = shift(QStringLiteral("bad"), 0); // created_at is NOT NULL in the table
    Shift later = shift(QStringLiteral("later"), 1700000001);
    QFuture<QStringList> write = EntitiesRepo::store(QList<Shift *> { &good, &bad, &later });
    QVERIFY(waitFor(write));
    QCOMPARE(write.result(), QStringList { QStringLiteral("bad") });
    QCOMPARE(stored<Shift>().size(), 2);
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    QVERIFY(critical.first().message.contains(QStringLiteral("\"shift\"")));
    QVERIFY(critical.first().message.contains(QStringLiteral("\"bad\"")));
    // The insert form passes, so a synchronisation goes on with its other rows.
    QVERIFY(written(EntitiesRepo::insertShift({ &bad })));
}

void TestDatabaseWrites::missingTableFailsOnlyItsWrite()
{
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE 'order'")));
    Order o = order(QStringLiteral("x"));
    Shift s = shift(QStringLiteral("s"), 1700000000);
    const VoidFuture failing = EntitiesRepo::insertOrder({ &o });
    const VoidFuture next = EntitiesRepo::insertShift({ &s });
    QVERIFY(!written(failing));
    QVERIFY(written(next));
    QCOMPARE(stored<Shift>().size(), 1);
}

// Pushes of one order each get their own write; the newest must be what stays, none may fail on
// a busy database.
void TestDatabaseWrites::rapidWritesLandInCallOrder()
{
    constexpr int pushes = 300;
    QList<VoidFuture> writes;
    for (int number = 1; number <= pushes; ++number) {
        Order pushed = order(QStringLiteral("same"));
        pushed.number = number;
        writes.append(EntitiesRepo::insertOrder({ &pushed }));
    }
    for (const VoidFuture &write : std::as_const(writes))
        QVERIFY(written(write));
    const QJsonArray orders = stored<Order>();
    QCOMPARE(orders.size(), 1);
    QCOMPARE(orders[0]["number"].toInt(), pushes);
}

QTEST_GUILESS_MAIN(TestDatabaseWrites)
#include "tst_databasewrites.moc"
