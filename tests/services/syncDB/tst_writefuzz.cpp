#include "fakeserver.h"
#include "futurewait.h"
#include "pushedpoint.h"
#include "testenvironment.h"

#include "services/syncDB/httpsyncdbservice.h"
#include "shared/kmapi.h"
#include "shared/logger.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlQuery>
#include <QTest>

#include <cstdio>

namespace {

// Sizes come from the environment, so that bench/fuzz/sanitized-pushes.sh runs this far longer.
int setting(const char *name, int fallback)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : fallback;
}

// The lines of hundreds of thousands of hostile rows would only measure the console.
void quiet(const QString &, const char *, const char *, int, int) { }

// Calls f with an empty record of the table's entity.
template <typename F> void withRecord(const QString &table, F f)
{
    if (table == "order" || table == "shift")
        table == "order" ? f(Order()) : f(Shift());
    else
        table == "receipt" ? f(Receipt()) : f(ReceiptItem());
}

} // namespace

// Hostile pushes through the real broker and hostile synchronisation answers from the loopback
// server, into a real database: valid rows are stored exactly (pushes by the last level of their
// topic, never the board's own or those below another table's level), known rows never change
// and the file stays sound.
class TestWriteFuzz : public QObject
{
    Q_OBJECT

    const QStringList tables { "order", "shift", "receipt", "receipt_item" };
    QRandomGenerator random;
    // Per entity table: uuid -> the record a valid row must be stored as, as JSON.
    QHash<QString, QMap<QString, QJsonObject>> expected;
    int below(int n) { return int(random.bounded(n)); }
    bool chance(int percent) { return below(100) < percent; }

    // A text that is valid and must be stored exactly; "LONE~" marks where the JSON text gets a
    // lone surrogate escape, which only a hostile value may hold.
    QString text(bool lone = false)
    {
        static const QStringList pieces { "'", "''", "\"", "x'); DROP TABLE shift; --",
            "' OR 1=1 --", "%1 %2 ?", ":0 :1 @a $b ?1", "\\", QString(QChar(0)), "🍕",
            QString(QChar(0x202E)), "без лука", "new", "\n\t", ";" };
        QString result = chance(1) ? QString(1000 + below(70000), 'w') : QString();
        for (int parts = below(5); parts > 0; --parts)
            result += pieces.at(below(int(pieces.size()))) + (lone && chance(20) ? "LONE~" : "");
        return result;
    }

    // Anything a broken or hostile server may send in place of a value.
    QJsonValue hostileValue()
    {
        const QJsonValue values[] { QJsonValue::Null, text(true),
            double(random.generate64()) * (chance(50) ? 1e300 : -1.0), 0.5 + below(1000),
            chance(50), QJsonArray { text(), 1 }, QJsonObject { { "uuid", text() } },
            QString(chance(3) ? 200000 + below(100000) : 3, 'h'), text() };
        return values[below(9)];
    }

    // A row of valid shape for every entity table (each takes the columns it has), or with keys
    // missing or of the wrong type and never a valid row's uuid; few distinct hostile uuids keep
    // the models small over a long run.
    QJsonObject row(const QString &uuid, bool hostile)
    {
        QJsonObject row { { "id", 1 + below(1000000) },
            { "uuid", hostile ? QStringLiteral("h-%1").arg(below(50)) + text() : uuid },
            { "created_at", 1700000000 + below(100000000) }, { "number", below(1000) },
            { "menu_id", below(100) }, { "quantity", below(40) / 4.0 }, { "is_paid", chance(50) },
            { "in_work", chance(50) }, { "created_by", below(50) } };
        for (const char *column : { "shift_uuid", "order_uuid", "receipt_uuid", "status", "type",
                 "comment", "client_uuid", "created_comment", "closed_comment" })
            row.insert(QLatin1String(column), "v" + text());
        for (const QString &key : row.keys()) {
            if (hostile && chance(15))
                row.remove(key);
            else if (hostile && chance(30) && key != "uuid")
                row.insert(key, hostileValue());
        }
        return row;
    }

    void expect(const QString &table, const QJsonObject &row)
    {
        withRecord(table, [&](auto record) {
            record.fromJson(row);
            expected[table].insert(record.uuid, record.toJson());
        });
    }

    static QByteArray json(const QJsonObject &object)
    {
        return QJsonDocument(object).toJson(QJsonDocument::Compact).replace("LONE~", "\\ud800");
    }

private Q_SLOTS:
    void hostilePushesAndAnswers()
    {
        TestEnvironment::init();
        random.seed(quint32(setting("KM4_FUZZ_SEED", 14)));
        Logger::writeToDb = &quiet;
        PushedPoint point;
        QVERIFY2(point.broker.start(), qPrintable(point.broker.errorString()));
        // Rows that no push and no answer may change; "true" as an id would be status 1.
        for (const char *known : { "INSERT INTO 'order' (uuid, shift_uuid) VALUES ('known', 'k')",
                 "INSERT INTO config (key, value) VALUES ('known', 'v')",
                 "INSERT INTO order_status (id, name, title) VALUES (5, 'known', 't')" })
            QVERIFY(TestDatabase::exec(known));
        point.env.uuid.set("fuzz");
        point.pair("acme", 7, point.config());
        point.service.run();
        QVERIFY(point.listening());

        const int pushes = setting("KM4_FUZZ_PUSHES", 3000);
        for (int i = 0; i < pushes; ++i) {
            const QString table = tables.at(below(4));
            const int kind = below(10);
            // uuids repeat: the last push of each that counts must be the one stored.
            const QJsonObject body = row(QStringLiteral("v-p%1").arg(below(300)), kind > 4);
            QString levels = (chance(20) ? QStringLiteral("/x%1").arg(below(3)) : "") + "/" + table;
            QString from = "server";
            if (kind < 4)
                expect(table, body);
            else if (kind == 4 && chance(50))
                from = "qu-fuzz"; // the board's own
            else if (kind == 4)
                levels = QStringList { "/" + table + "/x", "/menu", "" }.at(below(3));
            const QByteArray payload = json({ { "from", from }, { "body", body } });
            QVERIFY(point.broker.publish(
                point.topic() + levels, kind == 9 ? payload.left(below(60)) : payload, 0));
            // The broker queues a bounded number of messages per client: let the board catch up.
            if (i % 200 == 199)
                QVERIFY(point.listening());
            // Long runs say how far they got, past the test log's message limit.
            if (i % 50000 == 49999)
                std::fprintf(stderr, "%d pushes\n", i + 1);
        }
        QVERIFY(point.listening());

        FakeServer server;
        KMAPI api;
        api.useHttps(false);
        api.setHost(server.host());
        QVERIFY(waitFor(api.requestToken(server.domain(), "fuzz")));
        HttpSyncDBService sync(&api, &point.env);
        const int answers = setting("KM4_FUZZ_ANSWERS", std::max(1, pushes / 15));
        for (int i = 0; i < answers; ++i) {
            // A broken answer stores nothing, so only a whole one adds what is expected.
            const bool broken = chance(10);
            // Reference rows without their key, of the wrong type or with hostile texts.
            QJsonObject answer;
            for (const char *table : { "config", "order_status" })
                answer[table] = QJsonArray { QJsonObject { { "key", hostileValue() },
                    { "value", hostileValue() }, { "name", "h-" + text() },
                    { "title", hostileValue() }, { "id", hostileValue() } } };
            for (const QString &table : tables) {
                QJsonArray rows;
                for (int r = below(6); r > 0; --r) {
                    rows.append(row(QStringLiteral("v-s%1-%2").arg(i).arg(r), chance(50)));
                    if (!broken && rows.last()["uuid"].toString().startsWith("v-"))
                        expect(table, rows.last().toObject());
                }
                answer.insert(table, rows);
            }
            const QByteArray body = json(
                { { "timestamp", QDateTime::currentSecsSinceEpoch() }, { "tables", answer } });
            server.enqueue(FakeServer::SyncPath,
                FakeServer::raw(broken ? body.left(below(int(body.size()))) : body));
            // Every answer is a first synchronisation, so its entity tables are written too.
            sync.stop();
            QVERIFY(waitFor(sync.manualSync(), 30000));
            if (i % 500 == 499)
                std::fprintf(stderr, "%d answers\n", i + 1);
        }
        TestDatabase::drainThreadPool();

        QCOMPARE(expected.size(), 4);
        for (const QString &table : tables) {
            QMap<QString, QJsonObject> stored;
            QSqlQuery query(QStringLiteral("SELECT * FROM '%1' WHERE uuid LIKE 'v-%'").arg(table));
            while (query.next())
                withRecord(table, [&](auto record) {
                    record.fromRow(query);
                    stored.insert(record.uuid, record.toJson());
                });
            QVERIFY2(stored == expected[table], qPrintable(table));
        }
        // The board shows only what the database holds, and neither holds a row without a uuid.
        QStringList strays;
        const auto noteStrays = [&strays](const auto &model, const QString &table) {
            const QStringList uuids
                = TestDatabase::textColumn(QStringLiteral("SELECT uuid FROM '%1'").arg(table));
            const QSet<QString> stored(uuids.cbegin(), uuids.cend());
            if (stored.contains(QString("")))
                strays.append(table + ": stored without a uuid");
            for (int row = 0; row < model.rowCount(); ++row) {
                const QString &uuid = model.entityAt(row)->uuid;
                if (uuid.isEmpty() || !stored.contains(uuid))
                    strays.append(table + ": shown, not stored: '" + uuid + "'");
            }
        };
        noteStrays(point.env.orderModel, "order");
        noteStrays(point.env.shiftModel, "shift");
        noteStrays(point.env.receiptModel, "receipt");
        noteStrays(point.env.receiptItemModel, "receipt_item");
        QCOMPARE(strays, QStringList());
        QCOMPARE(TestDatabase::textColumn(
                     "SELECT shift_uuid FROM 'order' WHERE uuid = 'known' UNION ALL SELECT value "
                     "FROM config WHERE key = 'known' UNION ALL SELECT title FROM order_status "
                     "WHERE name = 'known' UNION ALL SELECT COUNT(*) FROM order_status WHERE id "
                     "IS NULL UNION ALL SELECT * FROM pragma_integrity_check"),
            QStringList({ "k", "v", "t", "0", "ok" }));
    }
};

QTEST_GUILESS_MAIN(TestWriteFuzz)
#include "tst_writefuzz.moc"
