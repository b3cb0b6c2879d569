#include "entities/entitiesrepo.h"
#include "models/modelhandover.h"
#include "models/ordermodel.h"
#include "models/receiptitemmodel.h"
#include "models/receiptmodel.h"
#include "models/reloadtracker.h"
#include "models/shiftmodel.h"
#include "shared/asyncsqlquery.h"
#include "shared/dbexception.h"
#include "shared/threadstorage.h"

#include "futurewait.h"
#include "logcapture.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent>

#include <functional>
#include <limits>
#include <memory>
#include <utility>

namespace {

// Waits for the future and tells whether it finished without an exception.
bool finishedCleanly(const VoidFuture &future)
{
    if (!waitFor(future))
        return false;
    try {
        VoidFuture(future).waitForFinished();
    } catch (...) {
        return false;
    }
    return !future.isCanceled();
}

// Quotes and a marker in the shift uuid: values reach SQL only as bound parameters.
const QString shiftOf = QStringLiteral("it's %1");

// A record of any of the four kinds in the shift; `mark` is what a push changes. A retired record
// is deleted (a shift: closed) after 2038, given as JSON: a time read as 32 bits would be lost
// and the record would not count as deleted.
QJsonObject record(const QString &uuid, int mark, bool retired = false)
{
    const QJsonValue gone = retired ? QJsonValue(qint64(4102444800)) : QJsonValue();
    return { { "uuid", uuid }, { "shift_uuid", shiftOf }, { "receipt_uuid", shiftOf },
        { "order_uuid", "o" }, { "type", "general" }, { "number", mark }, { "created_by", mark },
        { "created_at", 1700000000 + mark }, { "deleted_at", gone }, { "closed_at", gone } };
}

template <typename Entity> Entity entity(const QJsonObject &json)
{
    Entity made;
    made.fromJson(json);
    return made;
}

// A fresh migrated database and one of the four models over it, with its resets counted and the
// rows its pushes announced written down ("changed 0, inserted 2, removed 1").
struct Fixture
{
    explicit Fixture(const QString &kind)
    {
        if (kind == "order")
            use<OrderModel, Order>();
        else if (kind == "shift")
            use<ShiftModel, Shift>();
        else if (kind == "receipt")
            use<ReceiptModel, Receipt>();
        else
            use<ReceiptItemModel, ReceiptItem>();
        // The order and receipt models answer Qt's own roles with an empty string, which the
        // tester rejects for the size hint.
        if (kind == "shift" || kind == "receipt item") {
            tester = std::make_unique<QAbstractItemModelTester>(
                model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        }
        const auto note = [this](const char *what, int first, int last) {
            for (int row = first; row <= last; ++row)
                changes.append(what + QString::number(row));
        };
        QObject::connect(model.get(), &QAbstractItemModel::dataChanged,
            [note](QModelIndex from, QModelIndex to) { note("changed ", from.row(), to.row()); });
        QObject::connect(model.get(), &QAbstractItemModel::rowsInserted,
            [note](const QModelIndex &, int first, int last) { note("inserted ", first, last); });
        QObject::connect(model.get(), &QAbstractItemModel::rowsRemoved,
            [note](const QModelIndex &, int first, int last) { note("removed ", first, last); });
        QObject::connect(model.get(), &QAbstractItemModel::modelReset, [this] { ++resets; });
        if (kind == "receipt item") { // items reach their shift through their receipt
            TestDatabase::exec("INSERT INTO shift (uuid, type, number, created_at) VALUES "
                               "('it''s %1', 'general', 1, 1)");
            TestDatabase::exec("INSERT INTO receipt (uuid, shift_uuid, order_uuid) VALUES "
                               "('it''s %1', 'it''s %1', 'o')");
        }
    }

    template <typename Model, typename Entity> void use()
    {
        auto *typed = new Model;
        model.reset(typed);
        table = Entity().tableName();
        push = [typed](const QJsonObject &json) {
            Entity pushed = entity<Entity>(json);
            return typed->insert(&pushed);
        };
        // "uuid=mark" of every row, by uuid.
        rows = [typed] {
            QStringList shown;
            for (int row = 0; row < typed->rowCount(); ++row)
                shown.append(typed->entityAt(row)->uuid + u'='
                    + QString::number(typed->entityAt(row)->created_by));
            shown.sort();
            return shown.join(u' ');
        };
        // The uuids in row order, each marked "!" where the uuid index does not lead to its row.
        sequence = [typed] {
            QString uuids;
            for (int row = 0; row < typed->rowCount(); ++row) {
                const QString &uuid = typed->entityAt(row)->uuid;
                uuids += uuid + (typed->find(uuid) == typed->entityAt(row) ? " " : "! ");
            }
            return uuids;
        };
    }

    bool reload() { return finishedCleanly(model->update(shiftOf)); }
    bool seed()
    {
        return finishedCleanly(push(record("a0", 0))) && finishedCleanly(push(record("a1", 1)))
            && reload();
    }
    QString takeChanges() { return std::exchange(changes, {}).join(QLatin1String(", ")); }
    QString stored() const
    {
        return TestDatabase::textColumn(
            QStringLiteral("SELECT uuid || '=' || created_by FROM '%1' ORDER BY uuid").arg(table))
            .join(u' ');
    }

    TestDatabase database;
    std::unique_ptr<EntityModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QString table;
    std::function<VoidFuture(const QJsonObject &)> push;
    std::function<QString()> rows;
    std::function<QString()> sequence;
    int resets = 0;
    QStringList changes;
};

} // namespace

// The entity records and their four models over a real migrated database: values bound and
// stored exactly, writes in request order, refused rows skipped and taken back, pushes announced
// row by row, pushes a reload may miss, overlapping reloads and the hand-over of rows to the
// model's thread.
class TestDatabaseWrites : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestEnvironment::init(); }

    void hostileTextsAreStoredExactly_data();
    void hostileTextsAreStoredExactly();
    void refusedRowIsSkippedAndNamed();
    void missingTableFailsOnlyItsWrite();
    void receiptItemsRoundTrip();
    void finishedReadsHoldNoLock();
    void poolThreadsOwnTheirConnections();

    void pushAnnouncesRows_data();
    void pushAnnouncesRows();
    void pushesDuringReloadAreKept_data();
    void pushesDuringReloadAreKept();
    void failedReadAndWriteKeepRows_data() { models(); }
    void failedReadAndWriteKeepRows();
    void otherEntityIsRefused_data() { models(); }
    void otherEntityIsRefused();
    void refusedRowOfAListIsTakenBack();
    void staleReloadDoesNotOverwriteNewer();
    void rowsChangeOnTheModelsThread();
    void modelGoneBeforeItsWorkEnds_data();
    void modelGoneBeforeItsWorkEnds();

private:
    static void models(const QStringList &expected = {});
};

void TestDatabaseWrites::hostileTextsAreStoredExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    // No expected text: stored as given.
    QTest::newRow("sql") << QStringLiteral("x'), ('y', 1); DROP TABLE shift; --") << QString();
    QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("b'c") << QString();
    // SQLite would read past a lone surrogate and take the next character with it.
    QTest::newRow("lone high surrogate")
        << QString::fromUtf16(u"a\xD800'new") << QString::fromUtf16(u"a\xFFFD'new");
    QTest::newRow("lone low surrogate")
        << QString::fromUtf16(u"\xDC00x") << QString::fromUtf16(u"\xFFFDx");
    QTest::newRow("pair and markers") << QStringLiteral("🍕 %1 ? ?2 :a @b $c") << QString();
    QTest::newRow("1 MB") << QString(1 << 20, QLatin1Char('q')) << QString();
}

void TestDatabaseWrites::hostileTextsAreStoredExactly()
{
    TestDatabase database;
    QFETCH(QString, text);
    QFETCH(QString, expected);
    LogCapture log;
    Order o = entity<Order>(record(text, 0));
    o.status = o.comment = o.client_uuid = text;
    QVERIFY(finishedCleanly(EntitiesRepo::insertOrder({ &o })));
    for (const char *column : { "uuid", "comment", "status", "client_uuid" }) {
        QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT %1 FROM 'order'").arg(column)),
            QStringList { expected.isNull() ? text : expected });
    }
    QVERIFY(log.atLevel(3).isEmpty());
}

// The rest of the list is stored; the refused row is named by table, uuid and id in one line.
void TestDatabaseWrites::refusedRowIsSkippedAndNamed()
{
    TestDatabase database;
    LogCapture log;
    Shift good = entity<Shift>(record("good", 1));
    Shift bad = entity<Shift>(record("bad", 2));
    bad.id = 4242;
    bad.created_at = 0; // the table requires it
    Shift later = entity<Shift>(record("later", 3));
    const QFuture<QStringList> write = EntitiesRepo::store(QList<Shift *> { &good, &bad, &later });
    QVERIFY(waitFor(write));
    QCOMPARE(write.result(), QStringList { QStringLiteral("bad") });
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT uuid FROM shift ORDER BY uuid")),
        (QStringList { QStringLiteral("good"), QStringLiteral("later") }));
    const QList<LogCapture::Entry> critical = log.atLevel(3);
    QCOMPARE(critical.size(), 1);
    for (const char *named : { "\"shift\"", "\"bad\"", "4242" })
        QVERIFY2(critical.first().message.contains(named), qPrintable(critical.first().message));
    // The insert form passes, so a synchronisation goes on with its other rows.
    QVERIFY(finishedCleanly(EntitiesRepo::insertShift({ &bad })));
}

// Writes run one after the other in the order they were asked for: of 300 quick pushes of one
// order the newest stays, and a write whose table is gone fails alone, holding up none after it.
void TestDatabaseWrites::missingTableFailsOnlyItsWrite()
{
    TestDatabase database;
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE receipt")));
    Receipt receipt = entity<Receipt>(record("r", 1));
    VoidFuture failing;
    QList<VoidFuture> writes;
    for (int number = 1; number <= 300; ++number) {
        Order pushed = entity<Order>(record("same", number));
        writes.append(EntitiesRepo::insertOrder({ &pushed }));
        if (number == 150)
            failing = EntitiesRepo::insertReceipt({ &receipt });
    }
    QVERIFY(!finishedCleanly(failing));
    for (const VoidFuture &write : std::as_const(writes))
        QVERIFY(finishedCleanly(write));
    QCOMPARE(TestDatabase::textColumn(QStringLiteral("SELECT number FROM 'order'")),
        QStringList { QStringLiteral("300") });
}

// Times after 2038 survive JSON and the table; a quantity that is not a finite number is stored
// as 0.
void TestDatabaseWrites::receiptItemsRoundTrip()
{
    TestDatabase database;
    ReceiptItem item;
    item.fromJson(QJsonDocument::fromJson(R"({"uuid": "i1", "quantity": 1.5, "in_work": true,
        "status": "cooking", "created_at": 4102444800, "deleted_at": 4102444801})")
                      .object());
    QCOMPARE(item.deleted_at, qint64(4102444801));
    ReceiptItem bare = item;
    bare.uuid = QStringLiteral("i2");
    bare.quantity = std::numeric_limits<double>::infinity();
    QVERIFY(finishedCleanly(EntitiesRepo::insertReceiptItem({ &item, &bare })));
    bare.quantity = 0;
    QJsonArray stored;
    QSqlQuery query(QStringLiteral("SELECT * FROM receipt_item ORDER BY uuid"));
    while (query.next()) {
        ReceiptItem row;
        row.fromRow(query);
        stored.append(row.toJson());
    }
    QCOMPARE(stored, (QJsonArray { item.toJson(), bare.toJson() }));
}

// A finished read holds no statement open, or a writer that will not wait would fail with
// "database is locked"; the futures, and what they hold, stay alive as a caller's would.
void TestDatabaseWrites::finishedReadsHoldNoLock()
{
    TestDatabase database;
    QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('1', 'a'), ('2', 'b')"));
    const QString sql = QStringLiteral("SELECT key FROM config WHERE key > ? ORDER BY key");
    const QFuture<QSqlQuery> executed = AsyncSQLQuery::exec(sql, { "'" });
    const QFuture<QString> firstRow = AsyncSQLQuery::read(sql, { "1" },
        [](QSqlQuery &query) { return query.next() ? query.value(0).toString() : QString(); });
    QVERIFY(waitFor(executed) && waitFor(firstRow));
    QCOMPARE(firstRow.result(), QStringLiteral("2"));
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setDatabaseName(TestDatabase::path());
        writer.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        QSqlQuery write(writer);
        QVERIFY(writer.open());
        QVERIFY2(write.exec("DELETE FROM config"), qPrintable(write.lastError().text()));
    }
    QSqlDatabase::removeDatabase("writer");
}

// Each pool thread has a connection and a network manager of its own, released with the thread;
// a statement that fails says why and leaves the thread's connection usable.
void TestDatabaseWrites::poolThreadsOwnTheirConnections()
{
    TestDatabase database;
    const auto name = [] { return ThreadStorage::instance()->database().connectionName(); };
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
            names[i] = name();
            if (i == 0)
                manager = ThreadStorage::instance()->qnam();
        };
        QFuture<void> first = QtConcurrent::run(&pool, task, 0);
        QFuture<void> second = QtConcurrent::run(&pool, task, 1);
        QVERIFY(waitFor(first) && waitFor(second));
        QVERIFY(names[0] != names[1] && names[0] != name() && QSqlDatabase::contains(names[0]));
        QVERIFY(manager);
    }
    QVERIFY(!QSqlDatabase::contains(names[0]) && !QSqlDatabase::contains(names[1]) && !manager);

    const QStringList failing { "SELEC 1", "near \"SELEC\": syntax error", "SELECT * FROM nowhere",
        "no such table: nowhere" };
    for (qsizetype i = 0; i < failing.size(); i += 2) {
        QFuture<QSqlQuery> failed = AsyncSQLQuery::exec(failing[i]);
        QVERIFY(waitFor(failed));
        QString why;
        try {
            failed.waitForFinished();
        } catch (const DBException &e) {
            why = e.description();
        }
        QVERIFY2(why.contains(failing[i + 1]), qPrintable(why));
        const QFuture<int> after = AsyncSQLQuery::read(QStringLiteral("SELECT ?"), { 1 },
            [](QSqlQuery &query) { return query.next() ? query.value(0).toInt() : 0; });
        QVERIFY(waitFor(after));
        QCOMPARE(after.result(), 1);
    }
}

// One row per model; `expected` gives each its own expectation, in the order of the names.
void TestDatabaseWrites::models(const QStringList &expected)
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("expected");
    int i = 0;
    for (const char *name : { "order", "shift", "receipt", "receipt item" })
        QTest::newRow(name) << QString(name) << expected.value(i++);
}

void TestDatabaseWrites::pushAnnouncesRows_data()
{
    // Shifts are listed by number from the newest; a deleted order or item leaves at once, a
    // closed shift stays, a deleted receipt stays until the next reload.
    models({ "changed 0, inserted 2, removed 1|a0=77 n=50",
        "changed 1, inserted 2, changed 0|a0=77 a1=1 n=50",
        "changed 0, inserted 2, changed 1|a0=77 n=50",
        "changed 0, inserted 2, removed 1|a0=77 n=50" });
}

// A push changes, appends or removes only the rows it concerns, and what it shows is stored.
void TestDatabaseWrites::pushAnnouncesRows()
{
    QFETCH(QString, model);
    QFETCH(QString, expected);
    Fixture fx(model);
    QVERIFY(fx.seed());
    fx.takeChanges();
    for (const QJsonObject &json : { record("a0", 77), record("n", 50), record("a1", 1, true) })
        QVERIFY(finishedCleanly(fx.push(json)));
    QCOMPARE(fx.takeChanges(), expected.section(u'|', 0, 0));
    QCOMPARE(fx.resets, 1);
    QVERIFY(fx.reload());
    QCOMPARE(fx.rows(), expected.section(u'|', 1));
}

void TestDatabaseWrites::pushesDuringReloadAreKept_data()
{
    models({ "a0=77 n=2", "a0=77 a1=1 n=2", "a0=77 a1=1 n=2", "a0=77 n=2" });
}

// Pushes written after a reload's SELECT has run are replayed onto its rows; with one pool thread
// the SELECT surely runs first.
void TestDatabaseWrites::pushesDuringReloadAreKept()
{
    QFETCH(QString, model);
    QFETCH(QString, expected);
    Fixture fx(model);
    QVERIFY(fx.seed());
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->waitForDone();
    const auto restore = qScopeGuard(
        [pool, threads = pool->maxThreadCount()] { pool->setMaxThreadCount(threads); });
    pool->setMaxThreadCount(1);
    const VoidFuture reload = fx.model->update(shiftOf);
    const VoidFuture writes[]
        = { fx.push(record("a0", 77)), fx.push(record("a1", 1, true)), fx.push(record("n", 2)) };
    QVERIFY(finishedCleanly(reload));
    for (const VoidFuture &write : writes)
        QVERIFY(finishedCleanly(write));
    QCOMPARE(fx.rows(), expected);
}

// A failed reload keeps the rows; pushed rows the database does not take are logged and go back
// to what was shown before, in their places (an update or a deletion), or leave (an addition).
void TestDatabaseWrites::failedReadAndWriteKeepRows()
{
    QFETCH(QString, model);
    Fixture fx(model);
    QVERIFY(fx.seed());
    const QString shown = fx.rows();
    const QString sequence = fx.sequence();
    QVERIFY(TestDatabase::exec(QStringLiteral("DROP TABLE '%1'").arg(fx.table)));
    LogCapture log;
    QVERIFY(waitFor(fx.model->update(shiftOf)));
    const QString first = fx.sequence().section(u' ', 0, 0);
    QVERIFY(waitFor(fx.push(record(first, 77, true))));
    QVERIFY(waitFor(fx.push(record("a0", 77))));
    QVERIFY(waitFor(fx.push(record("n", 1))));
    QCOMPARE(fx.rows(), shown);
    QCOMPARE(fx.sequence(), sequence);
    QCOMPARE(fx.resets, 1);
    QCOMPARE(log.atLevel(3).size(), 4);
}

// A record of another kind, or none, or one without a uuid (which nothing could ever find or
// replace), is logged and changes nothing.
void TestDatabaseWrites::otherEntityIsRefused()
{
    QFETCH(QString, model);
    Fixture fx(model);
    LogCapture log;
    Shift shift = entity<Shift>(record("s", 1));
    Order order = entity<Order>(record("o", 1));
    QVERIFY(finishedCleanly(
        fx.model->insert(model == "shift" ? static_cast<BaseEntity *>(&order) : &shift)));
    QVERIFY(finishedCleanly(fx.model->insert(nullptr)));
    QJsonObject withoutUuid = record("x", 1);
    withoutUuid.remove("uuid");
    QVERIFY(finishedCleanly(fx.push(withoutUuid)));
    withoutUuid.insert("uuid", "");
    QVERIFY(finishedCleanly(fx.push(withoutUuid)));
    QCOMPARE(fx.rows() + fx.takeChanges() + fx.stored(), QString());
    QCOMPARE(log.atLevel(3).size(), 4);
}

// The rows of a list the database refuses are not kept; the rest of the list is. A refused
// update shows the row as it was, in its place.
void TestDatabaseWrites::refusedRowOfAListIsTakenBack()
{
    Fixture fx("shift");
    auto &shifts = static_cast<ShiftModel &>(*fx.model);
    Shift a = entity<Shift>(record("a", 1));
    Shift b = entity<Shift>(record("b", 2));
    Shift aAgain = entity<Shift>(record("a", 3));
    QVERIFY(finishedCleanly(shifts.insert(QList<Shift *> { &a, &b, &aAgain })));
    QCOMPARE(fx.takeChanges(), QStringLiteral("inserted 0, inserted 1, changed 0"));
    LogCapture log;
    Shift invalid = entity<Shift>(record("c", 4));
    invalid.created_at = 0; // the table requires it
    Shift invalidA = entity<Shift>(record("a", 6));
    invalidA.created_at = 0;
    Shift valid = entity<Shift>(record("d", 5));
    QVERIFY(finishedCleanly(shifts.insert(QList<Shift *> { &invalid, &invalidA, &valid })));
    QCOMPARE(fx.rows(), QStringLiteral("a=3 b=2 d=5"));
    QCOMPARE(fx.stored(), fx.rows());
    QCOMPARE(log.atLevel(3).size(), 2);
    QCOMPARE(shifts.entityAt(0)->uuid + shifts.entityAt(1)->uuid + shifts.entityAt(2)->uuid,
        QStringLiteral("abd"));
}

// Of overlapping reloads every future finishes and the one started last stays, although the rows
// of the larger, older one usually arrive after its own; which arrives first does not matter.
void TestDatabaseWrites::staleReloadDoesNotOverwriteNewer()
{
    Fixture fx("order");
    QVERIFY(TestDatabase::exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) INSERT "
        "INTO 'order' (uuid, shift_uuid) SELECT 'a' || i, 'A' FROM n UNION ALL SELECT 'b', 'B'"));
    const VoidFuture older = fx.model->update("A");
    const VoidFuture newer = fx.model->update("B");
    QVERIFY(finishedCleanly(newer) && finishedCleanly(older));
    QCOMPARE(fx.rows(), QStringLiteral("b=0"));

    ReloadTracker<Order> tracker;
    QList<Order> missed;
    const quint64 first = tracker.start();
    const quint64 second = tracker.start();
    QVERIFY(tracker.finish(second, true, &missed));
    QVERIFY(!tracker.finish(first, true, &missed));
    // A settled push is forgotten once no reload that may have missed it is pending, so a flood
    // of pushes holds no memory.
    const quint64 failing = tracker.start();
    tracker.settle(tracker.recordPush({ Order() }));
    QCOMPARE(tracker.rememberedPushes(), 1);
    QVERIFY(!tracker.finish(failing, false, &missed));
    QCOMPARE(tracker.rememberedPushes(), 0);
}

// Rows change on the model's thread from its event loop, never inside the call that asked for
// them, even when the work had finished before; a model gone first cancels.
void TestDatabaseWrites::rowsChangeOnTheModelsThread()
{
    QList<QThread *> applied;
    const auto note
        = [&applied](const QFuture<int> &) { applied.append(QThread::currentThread()); };
    auto context = std::make_unique<QObject>();
    const VoidFuture ready = ModelHandOver::run(QtFuture::makeReadyFuture(1), context.get(), note);
    QVERIFY(applied.isEmpty() && !ready.isFinished());
    const VoidFuture pooled
        = ModelHandOver::run(QtConcurrent::run([] { return 2; }), context.get(), note);
    QVERIFY(finishedCleanly(ready) && finishedCleanly(pooled));
    QCOMPARE(applied, QList<QThread *>(2, QThread::currentThread()));
    const VoidFuture gone = ModelHandOver::run(QtFuture::makeReadyFuture(4), context.get(), note);
    context.reset();
    QVERIFY(waitFor(gone) && gone.isCanceled());
    QCOMPARE(applied.size(), 2);
}

void TestDatabaseWrites::modelGoneBeforeItsWorkEnds_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("reload");
    QTest::addColumn<bool>("handedOver");
    for (const char *name : { "order", "shift", "receipt", "receipt item" }) {
        for (const bool reload : { false, true }) {
            const QByteArray work = QByteArray(name) + (reload ? " reload" : " write");
            QTest::newRow(work + " under way") << QString(name) << reload << false;
            QTest::newRow(work + " handed over") << QString(name) << reload << true;
        }
    }
}

// A model destroyed while its write or reload is under way, or while the result waits in its
// event queue: the work ends all the same (a pushed row is stored), nothing reaches the model
// that is gone, and the future is cancelled.
void TestDatabaseWrites::modelGoneBeforeItsWorkEnds()
{
    QFETCH(QString, model);
    QFETCH(bool, reload);
    QFETCH(bool, handedOver);
    Fixture fx(model);
    // Holding the database keeps the work from ending before the model is gone.
    QVERIFY(handedOver || TestDatabase::exec(QStringLiteral("BEGIN EXCLUSIVE")));
    const VoidFuture work = reload ? fx.model->update(shiftOf) : fx.push(record("w", 1));
    if (handedOver)
        TestDatabase::drainThreadPool();
    fx.tester.reset();
    fx.model.reset();
    QVERIFY(handedOver || TestDatabase::exec(QStringLiteral("COMMIT")));
    QVERIFY(waitFor(work));
    QVERIFY(work.isCanceled());
    QCOMPARE(fx.stored(), reload ? QString() : QStringLiteral("w=1"));
}

QTEST_GUILESS_MAIN(TestDatabaseWrites)
#include "tst_databasewrites.moc"
