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
#include <QSqlRecord>
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
const QString loneMark = QStringLiteral("LONE~");

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
        const int parts = below(5);
        for (int i = 0; i < parts; ++i)
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
            return text() + loneMark + text();
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
        const qint64 time = 1700000000 + below(100000000);
        if (table == QLatin1String("order")) {
            return { { "id", below(1000000) }, { "uuid", uuid }, { "shift_uuid", text() },
                { "number", below(1000) }, { "status", text() }, { "type", text() },
                { "comment", text() }, { "client_uuid", text() }, { "is_paid", chance(50) },
                { "created_at", time }, { "created_by", below(50) } };
        }
        if (table == QLatin1String("shift")) {
            return { { "id", 1 + below(1000000) }, { "uuid", uuid }, { "type", text() },
                { "number", below(1000) }, { "created_at", time }, { "created_comment", text() },
                { "closed_comment", text() } };
        }
        if (table == QLatin1String("receipt")) {
            return { { "id", below(1000000) }, { "uuid", uuid }, { "shift_uuid", text() },
                { "order_uuid", text() }, { "type", text() }, { "created_at", time } };
        }
        return { { "id", below(1000000) }, { "uuid", uuid }, { "receipt_uuid", text() },
            { "menu_id", below(100) }, { "quantity", below(40) / 4.0 }, { "comment", text() },
            { "in_work", chance(50) }, { "status", QStringLiteral("s") + text() },
            { "created_at", time } };
    }

    // A row of the table with random keys missing or of the wrong type, never a known or valid
    // row's uuid.
    QJsonObject hostileRow(const QString &table)
    {
        // Few distinct uuids keep the models small over a long run.
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
    QByteArray payload = QJsonDocument(QJsonObject { { "from", "server" }, { "body", body } })
                             .toJson(QJsonDocument::Compact);
    return payload.replace(loneMark.toUtf8(), "\\ud800");
}

// Every stored record of an entity table by uuid, as its JSON form.
template <typename Entity> QHash<QString, QJsonObject> storedRecords()
{
    QHash<QString, QJsonObject> records;
    QSqlQuery query;
    query.exec(QStringLiteral("SELECT * FROM '%1'").arg(Entity().tableName()));
    while (query.next()) {
        Entity entity;
        entity.fromRow(query);
        records.insert(entity.uuid, entity.toJson());
    }
    return records;
}

// The record the row becomes, as its JSON form.
template <typename Entity> QJsonObject recordOf(const QJsonObject &row)
{
    Entity entity;
    entity.fromJson(row);
    return entity.toJson();
}

QStringList rowsOf(const QString &sql)
{
    QStringList rows;
    QSqlQuery query;
    query.exec(sql);
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i)
            values.append(query.value(i).toString());
        rows.append(values.join(QLatin1Char('|')));
    }
    return rows;
}

const QStringList entityTables { "order", "shift", "receipt", "receipt_item" };

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
    void expectValid(const QString &table, const QJsonObject &row);
    void pushes(Generator &generator, int count);
    void answers(Generator &generator, int count);

    MosquittoBroker broker;
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<AppEnv> env;
    QString topic;
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

void TestWriteFuzz::expectValid(const QString &table, const QJsonObject &row)
{
    const QString uuid = row.value(QLatin1String("uuid")).toString();
    if (table == QLatin1String("order"))
        expected[table].insert(uuid, recordOf<Order>(row));
    else if (table == QLatin1String("shift"))
        expected[table].insert(uuid, recordOf<Shift>(row));
    else if (table == QLatin1String("receipt"))
        expected[table].insert(uuid, recordOf<Receipt>(row));
    else
        expected[table].insert(uuid, recordOf<ReceiptItem>(row));
}

void TestWriteFuzz::pushes(Generator &generator, int count)
{
    for (int i = 0; i < count; ++i) {
        const QString table = entityTables.at(generator.below(4));
        QByteArray payload;
        QString levels = QStringLiteral("/") + table;
        const int kind = generator.below(10);
        if (kind < 4) {
            // uuids repeat, so the last push of each must be the one stored.
            const QJsonObject row
                = generator.validRow(table, QStringLiteral("v-p%1").arg(generator.below(300)));
            expectValid(table, row);
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
        QJsonObject tables;
        QJsonArray config;
        QJsonArray statuses;
        for (int r = 0; r < 1 + generator.below(8); ++r) {
            const QString key = QStringLiteral("v-c%1-%2").arg(i).arg(r);
            const QString value = generator.text();
            config.append(QJsonObject { { "key", key }, { "value", value } });
            expectedConfig.insert(key, value);
            const int id = 1000 + i * 10 + r;
            const QString title = generator.text();
            statuses.append(QJsonObject {
                { "id", id }, { "name", QStringLiteral("v-%1").arg(id) }, { "title", title } });
            expectedStatusTitles.insert(id, title);
            config.append(QJsonObject {
                { "key", generator.hostileValue() }, { "value", generator.hostileValue() } });
            // true would be id 1, a known row the server may well replace.
            QJsonValue hostileId = generator.chance(50) ? generator.hostileValue() : QJsonValue();
            if (hostileId.isBool())
                hostileId = QJsonValue();
            statuses.append(QJsonObject { { "id", hostileId },
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
                    expectValid(table, row);
                    rows.append(row);
                } else {
                    rows.append(generator.hostileRow(table));
                }
            }
            tables.insert(table, rows);
        }
        FakeServer::Answer answer = FakeServer::sync(tables, QDateTime::currentSecsSinceEpoch());
        answer.body.replace(loneMark.toUtf8(), "\\ud800");
        if (generator.chance(10)) {
            // A broken answer stores nothing of its own; forget what it would have added.
            answer.body = answer.body.left(generator.below(int(answer.body.size())));
            for (auto &rows : expected) {
                for (auto it = rows.begin(); it != rows.end();)
                    it = it.key().startsWith(QStringLiteral("v-s%1-").arg(i)) ? rows.erase(it)
                                                                              : std::next(it);
            }
            expectedConfig.removeIf([i](const QHash<QString, QString>::iterator it) {
                return it.key().startsWith(QStringLiteral("v-c%1-").arg(i));
            });
            expectedStatusTitles.removeIf(
                [i](const QHash<int, QString>::iterator it) { return it.key() / 10 == 100 + i; });
        }
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
    known.shift_uuid = QStringLiteral("known-shift");
    known.number = 5;
    known.comment = QStringLiteral("it's known");
    QVERIFY(waitFor(EntitiesRepo::insertOrder({ &known })));
    QVERIFY(TestDatabase::exec("INSERT INTO config (key, value) VALUES ('known-key', 'v')"));
    QVERIFY(TestDatabase::exec("INSERT INTO order_status (id, name, title) VALUES (1, "
                               "'known-status', 'Known')"));
    const QString knownRows = QStringLiteral(
        "SELECT * FROM 'order' WHERE uuid LIKE 'known-%' UNION ALL SELECT key, value, "
        "updated_at FROM config WHERE key = 'known-key' UNION ALL SELECT id, name, title FROM "
        "order_status WHERE id = 1");
    const QStringList before = rowsOf(knownRows);

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
    topic = QStringLiteral("acme/point/7");
    MqttSyncDBService mqtt(env.get());
    mqtt.run();
    QVERIFY(listening());

    pushes(generator, pushCount);
    answers(generator, answerCount);
    TestDatabase::drainThreadPool();

    QCOMPARE(expected.size(), entityTables.size());
    QVERIFY(!expectedConfig.isEmpty() && !expectedStatusTitles.isEmpty());
    for (const QString &table : entityTables) {
        QHash<QString, QJsonObject> stored;
        if (table == QLatin1String("order"))
            stored = storedRecords<Order>();
        else if (table == QLatin1String("shift"))
            stored = storedRecords<Shift>();
        else if (table == QLatin1String("receipt"))
            stored = storedRecords<Receipt>();
        else
            stored = storedRecords<ReceiptItem>();
        const QHash<QString, QJsonObject> &wanted = expected.value(table);
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            QVERIFY2(stored.value(it.key()) == it.value(), qPrintable(table + " " + it.key()));
    }
    for (auto it = expectedConfig.begin(); it != expectedConfig.end(); ++it) {
        QSqlQuery query;
        query.prepare(QStringLiteral("SELECT value FROM config WHERE key = ?"));
        query.addBindValue(it.key());
        QVERIFY(query.exec() && query.next());
        QVERIFY2(query.value(0).toString() == it.value(), qPrintable(it.key()));
    }
    for (auto it = expectedStatusTitles.begin(); it != expectedStatusTitles.end(); ++it) {
        QSqlQuery query;
        query.prepare(QStringLiteral("SELECT title FROM order_status WHERE id = ?"));
        query.addBindValue(it.key());
        QVERIFY(query.exec() && query.next());
        QCOMPARE(query.value(0).toString(), it.value());
    }
    QCOMPARE(rowsOf(knownRows), before);
    QVERIFY(
        TestDatabase::column("SELECT COUNT(*) FROM order_status WHERE id IS NULL").value(0).toInt()
        == 0);
    QCOMPARE(TestDatabase::textColumn("PRAGMA integrity_check"), QStringList { "ok" });

    // The board shows no order the database does not have.
    const QHash<QString, QJsonObject> orders = storedRecords<Order>();
    for (int row = 0; row < env->orderModel.rowCount(); ++row)
        QVERIFY(orders.contains(env->orderModel.at(row).uuid));
    mqtt.stop();
}

QTEST_GUILESS_MAIN(TestWriteFuzz)
#include "tst_writefuzz.moc"
