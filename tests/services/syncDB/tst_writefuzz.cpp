#include "fakeserver.h"
#include "futurewait.h"
#include "mosquittobroker.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include "core/appenv.h"
#include "entities/entitiesrepo.h"
#include "services/syncDB/httpsyncdbservice.h"
#include "services/syncDB/mqttsyncdbservice.h"
#include "shared/kmapi.h"
#include "shared/logger.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

// Sizes come from the environment so the sanitizer script can run the same harness far longer.
int setting(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// The lines of hundreds of thousands of hostile rows would only measure the console.
void quiet(const QString &, const char *, const char *, int, int) { }

// Marks a place of a generated text where the JSON text gets a lone surrogate escape.
const QByteArray loneMark = "LONE~";
const QStringList entityTables { "order", "shift", "receipt", "receipt_item" };

QByteArray withLoneSurrogates(QByteArray json)
{
    return json.replace(loneMark, "\\ud800");
}

class Generator
{
public:
    explicit Generator(quint32 seed)
        : random(seed)
    { }

    int below(int n) { return int(random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    QString piece()
    {
        static const QStringList pieces { "'", "''", "\"", "x'); DROP TABLE shift; --",
            "' OR 1=1 --", "%1 %2 ?", ":0 :1 @a $b ?1", "\\", QString(QChar(0)), "🍕",
            QString(QChar(0x202E)), "без лука", "new", "\n\t", ";" };
        return pieces.at(below(int(pieces.size())));
    }

    // A text that is valid and must be stored exactly.
    QString text()
    {
        QString result;
        for (int parts = below(5); parts > 0; --parts)
            result += piece();
        if (chance(1))
            result += QString(1000 + below(70000), QLatin1Char('w'));
        return result;
    }

    // Anything a broken or hostile server may send in place of a value.
    QJsonValue hostileValue()
    {
        switch (below(9)) {
        case 0:
            return QJsonValue::Null;
        case 1:
            return text() + QString::fromLatin1(loneMark) + text();
        case 2:
            return double(random.generate64()) * (chance(50) ? 1e300 : -1.0);
        case 3:
            return 0.5 + below(1000);
        case 4:
            return chance(50);
        case 5:
            return QJsonArray { text(), 1, QJsonObject { { "a", text() } } };
        case 6:
            return QJsonObject { { "uuid", text() } };
        case 7:
            return chance(10) ? QString(200000 + below(100000), QLatin1Char('h')) : text();
        default:
            return text();
        }
    }

    // A row of valid shape with hostile texts; it must be stored exactly as its record reads it.
    QJsonObject validRow(const QString &table, const QString &uuid)
    {
        QJsonObject row { { "id", (table == "shift") + below(1000000) }, { "uuid", uuid },
            { "created_at", 1700000000 + below(100000000) } };
        const auto add = [&row](std::initializer_list<std::pair<const char *, QJsonValue>> pairs) {
            for (const auto &[key, value] : pairs)
                row.insert(QLatin1String(key), value);
        };
        if (table == "order")
            add({ { "shift_uuid", text() }, { "number", below(1000) }, { "status", text() },
                { "type", text() }, { "comment", text() }, { "client_uuid", text() },
                { "is_paid", chance(50) }, { "created_by", below(50) } });
        else if (table == "shift")
            add({ { "type", text() }, { "number", below(1000) }, { "created_comment", text() },
                { "closed_comment", text() } });
        else if (table == "receipt")
            add({ { "shift_uuid", text() }, { "order_uuid", text() }, { "type", text() } });
        else
            add({ { "receipt_uuid", text() }, { "menu_id", below(100) },
                { "quantity", below(40) / 4.0 }, { "comment", text() }, { "in_work", chance(50) },
                { "status", QStringLiteral("s") + text() } });
        return row;
    }

    // A row of the table with random keys missing or of the wrong type, never a known or valid
    // row's uuid. Few distinct uuids keep the models small over a long run.
    QJsonObject hostileRow(const QString &table)
    {
        QJsonObject row = validRow(table, QStringLiteral("h-%1").arg(below(50)) + piece());
        for (auto it = row.begin(); it != row.end();) {
            if (chance(15)) {
                it = row.erase(it);
                continue;
            }
            if (chance(30) && it.key() != QLatin1String("uuid"))
                it.value() = hostileValue();
            ++it;
        }
        if (chance(20))
            row.insert(QStringLiteral("uuid"), chance(50) ? QJsonValue(below(100)) : QJsonValue());
        return row;
    }

    QRandomGenerator random;
};

QByteArray pushOf(const QJsonObject &body)
{
    return withLoneSurrogates(QJsonDocument(
        QJsonObject { { "from", "server" },
            { "body", body } }).toJson(QJsonDocument::Compact));
}

template <typename Entity> QJsonObject recordOf(const QJsonObject &row)
{
    Entity entity;
    entity.fromJson(row);
    return entity.toJson();
}

// The record a row of the table becomes, as its JSON form.
QJsonObject recordOf(const QString &table, const QJsonObject &row)
{
    if (table == "order")
        return recordOf<Order>(row);
    if (table == "shift")
        return recordOf<Shift>(row);
    return table == "receipt" ? recordOf<Receipt>(row) : recordOf<ReceiptItem>(row);
}

// Every stored row of an entity table by uuid, read back through its record, as JSON.
QHash<QString, QJsonObject> storedRecords(const QString &table)
{
    QHash<QString, QJsonObject> records;
    QSqlQuery query;
    query.exec(QStringLiteral("SELECT * FROM '%1'").arg(table));
    const auto read = [&query](auto entity) {
        entity.fromRow(query);
        return std::make_pair(entity.uuid, entity.toJson());
    };
    while (query.next()) {
        const auto [uuid, json] = table == "order" ? read(Order())
            : table == "shift"                     ? read(Shift())
            : table == "receipt"                   ? read(Receipt())
                                                   : read(ReceiptItem());
        records.insert(uuid, json);
    }
    return records;
}

} // namespace

// Hostile pushes through the real broker and hostile synchronisation answers from the loopback
// server, into a real database: valid rows are stored exactly, known rows never change, the
// board shows no order the database lacks and the file stays sound.
class TestWriteFuzz : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void hostilePushesAndAnswers();

private:
    bool listening();
    void pushes(Generator &generator, int count);
    void answers(Generator &generator, int count);

    MosquittoBroker broker;
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
    QString topic = QStringLiteral("acme/point/7");
    int probes = 0;
    // Per entity table: uuid -> the record a valid row must be stored as.
    QHash<QString, QHash<QString, QJsonObject>> expected;
    QHash<QString, QString> expectedConfig;
    QHash<int, QString> expectedStatusTitles;
};

void TestWriteFuzz::initTestCase()
{
    TestEnvironment::init();
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    database = std::make_unique<TestDatabase>();
    env = std::make_unique<AppEnv>();
    Logger::writeToDb = &quiet;
}

void TestWriteFuzz::cleanupTestCase()
{
    Logger::writeToDb = nullptr;
    env.reset();
    database.reset();
}

// Publishes a probe until the board shows it, so every earlier push has been handled.
bool TestWriteFuzz::listening()
{
    const QString probe = QStringLiteral("probe-%1").arg(++probes);
    const QByteArray payload
        = pushOf(QJsonObject { { "uuid", probe }, { "shift_uuid", "p" }, { "order_uuid", "p" } });
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!broker.publish(topic + QStringLiteral("/receipt"), payload))
            return false;
        // Not QTest::qWaitFor: its pause after every pass would hold each message for 10 ms.
        const QDeadlineTimer deadline(200);
        while (!deadline.hasExpired()) {
            if (env->receiptModel.byUuid(probe).isValid())
                return true;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    }
    return false;
}

void TestWriteFuzz::pushes(Generator &generator, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString table = entityTables.at(generator.below(4));
        QString levels = QStringLiteral("/") + table;
        QByteArray payload;
        const int kind = generator.below(10);
        if (kind < 4) {
            // uuids repeat, so the last push of each must be the one stored.
            const QJsonObject row
                = generator.validRow(table, QStringLiteral("v-p%1").arg(generator.below(300)));
            expected[table].insert(row["uuid"].toString(), recordOf(table, row));
            payload = pushOf(row);
        } else if (kind < 9) {
            payload = pushOf(generator.hostileRow(table));
        } else {
            payload = pushOf(generator.hostileRow(table)).left(generator.below(60));
            if (generator.chance(30))
                levels = QStringLiteral("/x%1").arg(generator.below(3)) + levels;
        }
        QVERIFY2(broker.publish(topic + levels, payload, 0), qPrintable(broker.errorString()));
        // The broker queues a bounded number of messages per client: let the board catch up.
        if (i % 200 == 199)
            QVERIFY(listening());
        // Long runs say how far they got, past the test log's message limit.
        if (i % 50000 == 49999)
            std::fprintf(stderr, "%d pushes\n", i + 1);
    }
    QVERIFY(listening());
}

void TestWriteFuzz::answers(Generator &generator, int count)
{
    FakeServer server;
    KMAPI api;
    api.useHttps(false);
    api.setHost(server.host());
    QVERIFY(waitFor(api.requestToken(server.domain(), QStringLiteral("fuzz"))));
    HttpSyncDBService service(&api, env.get());

    for (int i = 0; i < count; ++i) {
        // A broken answer stores nothing, so only a whole one adds what is expected.
        const bool broken = generator.chance(10);
        QJsonObject tables;
        QJsonArray config;
        QJsonArray statuses;
        for (int r = 0; r < 1 + generator.below(8); ++r) {
            const QString key = QStringLiteral("v-c%1-%2").arg(i).arg(r);
            const int id = 1000 + i * 10 + r;
            const QString value = generator.text();
            const QString title = generator.text();
            config.append(QJsonObject { { "key", key }, { "value", value } });
            statuses.append(QJsonObject {
                { "id", id }, { "name", QStringLiteral("v-%1").arg(id) }, { "title", title } });
            if (!broken) {
                expectedConfig.insert(key, value);
                expectedStatusTitles.insert(id, title);
            }
            config.append(QJsonObject {
                { "key", generator.hostileValue() }, { "value", generator.hostileValue() } });
            // true would be id 1, a known row the server may well replace.
            QJsonValue hostileId = generator.chance(50) ? generator.hostileValue() : QJsonValue();
            statuses.append(QJsonObject { { "id", hostileId.isBool() ? QJsonValue() : hostileId },
                { "name", QStringLiteral("h-") + generator.text() },
                { "title", generator.hostileValue() } });
        }
        tables.insert("config", config);
        tables.insert("order_status", statuses);
        for (const QString &table : entityTables) {
            QJsonArray rows;
            for (int r = 0; r < generator.below(6); ++r) {
                if (generator.chance(50)) {
                    const QJsonObject row
                        = generator.validRow(table, QStringLiteral("v-s%1-%2").arg(i).arg(r));
                    if (!broken)
                        expected[table].insert(row["uuid"].toString(), recordOf(table, row));
                    rows.append(row);
                } else {
                    rows.append(generator.hostileRow(table));
                }
            }
            tables.insert(table, rows);
        }
        FakeServer::Answer answer = FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch());
        answer.body = withLoneSurrogates(answer.body);
        if (broken)
            answer.body = answer.body.left(generator.below(int(answer.body.size())));
        server.enqueue(FakeServer::SyncPath, answer);
        // Every answer is a first synchronisation, so its entity tables are written too.
        service.stop();
        QVERIFY(waitFor(service.manualSync(), 30000));
        if (i % 500 == 499)
            std::fprintf(stderr, "%d answers\n", i + 1);
    }
    service.stop();
}

void TestWriteFuzz::hostilePushesAndAnswers()
{
    const int pushCount = setting("KM4_FUZZ_PUSHES", 5000);
    const int answerCount = setting("KM4_FUZZ_ANSWERS", std::max(1, pushCount / 15));
    const quint32 seed = quint32(setting("KM4_FUZZ_SEED", 14));
    qInfo("seed %u, %d pushes, %d answers", seed, pushCount, answerCount);
    Generator generator(seed);

    // Rows that no push and no answer may change.
    Order known;
    known.uuid = QStringLiteral("known-order");
    known.number = 5;
    known.comment = QStringLiteral("it's known");
    QVERIFY(waitFor(EntitiesRepo::insertOrder({ &known })));
    QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('known-key', 'v')"));
    QVERIFY(TestDatabase::exec(
        "INSERT INTO order_status (id, name, title) VALUES (1, 'known-status', 'Known')"));
    const QString knownRows = QStringLiteral(
        "SELECT uuid || number || comment FROM 'order' WHERE uuid LIKE 'known-%' UNION ALL "
        "SELECT key || value || updated_at FROM config WHERE key = 'known-key' UNION ALL "
        "SELECT id || name || title FROM order_status WHERE id = 1");
    const QStringList before = TestDatabase::textColumn(knownRows);

    env->domain.set(QStringLiteral("acme"));
    PointConfig point;
    point.id = 7;
    env->pointConfig.set(point);
    SyncConfig config;
    config.mqtt_enabled = true;
    config.mqtt_host = broker.host();
    config.mqtt_port = broker.port();
    config.mqtt_login = broker.username();
    config.mqtt_password = broker.password();
    env->syncConfig.set(config);
    MqttSyncDBService mqtt(env.get());
    mqtt.run();
    QVERIFY(listening());

    pushes(generator, pushCount);
    answers(generator, answerCount);
    TestDatabase::drainThreadPool();

    QCOMPARE(expected.size(), entityTables.size());
    QVERIFY(!expectedConfig.isEmpty() && !expectedStatusTitles.isEmpty());
    for (const QString &table : entityTables) {
        const QHash<QString, QJsonObject> stored = storedRecords(table);
        const QHash<QString, QJsonObject> &wanted = expected[table];
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            QVERIFY2(stored.value(it.key()) == it.value(), qPrintable(table + " " + it.key()));
    }
    // Keys and ids of the valid rows are plain, so they may go into the statement text.
    for (auto it = expectedConfig.begin(); it != expectedConfig.end(); ++it)
        QCOMPARE(TestDatabase::textColumn(
                     QStringLiteral("SELECT value FROM config WHERE key = '%1'").arg(it.key())),
            QStringList { it.value() });
    for (auto it = expectedStatusTitles.begin(); it != expectedStatusTitles.end(); ++it)
        QCOMPARE(TestDatabase::textColumn(
                     QStringLiteral("SELECT title FROM order_status WHERE id = %1").arg(it.key())),
            QStringList { it.value() });
    QCOMPARE(TestDatabase::textColumn(knownRows), before);
    QCOMPARE(TestDatabase::textColumn("SELECT COUNT(*) FROM order_status WHERE id IS NULL"),
        QStringList { "0" });
    QCOMPARE(TestDatabase::textColumn("PRAGMA integrity_check"), QStringList { "ok" });

    // The board shows no order the database does not have.
    const QHash<QString, QJsonObject> orders = storedRecords("order");
    for (int row = 0; row < env->orderModel.rowCount(); ++row)
        QVERIFY(orders.contains(env->orderModel.at(row).uuid));
    mqtt.stop();
}

QTEST_GUILESS_MAIN(TestWriteFuzz)
#include "tst_writefuzz.moc"
