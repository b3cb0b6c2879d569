#include "config/queueconfig.h"
#include "core/appenv.h"
#include "orderspage.h"
#include "services/syncDB/entityrowhandler.h"
#include "testdatabase.h"
#include "testenvironment.h"

#include <QAbstractItemModelTester>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QtQuickTest/quicktest.h>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>

namespace {

const QString shiftUuid = QStringLiteral("S");

// A row as the server sends it: absent times are null.
QJsonValue serverTime(qint64 seconds)
{
    return seconds == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(seconds);
}

// Spins the event loop until the predicate holds, waking for each event rather than in fixed
// steps: a test of thousands of steps waits only as long as the work takes.
template <typename Predicate> [[nodiscard]] bool until(Predicate predicate)
{
    const QDeadlineTimer patience(TestEnvironment::patienceMs);
    QTimer wake; // should nothing else come, the wait below ends all the same
    wake.start(5);
    while (!predicate()) {
        if (patience.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

template <typename T> [[nodiscard]] bool finished(const QFuture<T> &future)
{
    return until([&future] { return future.isFinished(); });
}

[[nodiscard]] bool allWritten(const QList<QFuture<void>> &writes)
{
    return std::all_of(writes.cbegin(), writes.cend(), [](const auto &w) { return finished(w); });
}

// The board as guests see it: the orders page's QML in a window of its own, offscreen, over an
// environment of its own. Rows reach it the way pushes and catch-up answers bring them. Every
// model from the entity models to the two grids is watched, and a fault stops the test at once.
// The window lays its items out at its own frames, or, for tests of many steps, whenever the test
// asks: the same layout a frame runs, without the frame's timer and drawing.
class Board
{
public:
    enum class Frames { Window, OnDemand };

    explicit Board(QQmlEngine &engine, Frames frames = Frames::Window)
        : page(&env)
    {
        if (frames == Frames::OnDemand)
            renderControl = std::make_unique<QQuickRenderControl>();
        window = std::make_unique<QQuickWindow>(renderControl.get());
        core.insert(QStringLiteral("ordersPage"), QVariant::fromValue<QObject *>(&page));
        context = std::make_unique<QQmlContext>(engine.rootContext());
        context->setContextProperty(QStringLiteral("appCore"), &core);
        QQmlComponent component(
            &engine, QUrl(QStringLiteral("qrc:/km4App/KMUI/Pages/OrdersPage.qml")));
        root.reset(qobject_cast<QQuickItem *>(component.create(context.get())));
        if (!root)
            qFatal("the orders page does not load: %s", qPrintable(component.errorString()));
        window->resize(1280, 800);
        root->setParentItem(window->contentItem());
        root->setSize(window->size());
        if (!renderControl)
            window->show();
    }

    ~Board()
    {
        // The delegates go before the models they show.
        root.reset();
    }

    // Each delegate of a column, first to last: its text and its font's pixel size, "13@84".
    QStringList shown(const char *panel) const
    {
        const auto *grid = root->findChild<QQuickItem *>(QLatin1String(panel))
                               ->findChild<QQuickItem *>(QStringLiteral("grid"));
        QStringList cells;
        for (int i = 0; i < grid->property("count").toInt(); ++i) {
            QQuickItem *cell = nullptr;
            QMetaObject::invokeMethod(const_cast<QQuickItem *>(grid), "itemAtIndex",
                Q_RETURN_ARG(QQuickItem *, cell), Q_ARG(int, i));
            cells.append(cell ? cell->property("text").toString() + '@'
                        + QString::number(cell->property("font").value<QFont>().pixelSize())
                              : QStringLiteral("no delegate"));
        }
        return cells;
    }

    // The grids have laid out what the models announced, as at the next frame.
    [[nodiscard]] bool drawn()
    {
        if (!renderControl) {
            return QTest::qWaitForWindowExposed(window.get())
                && until([this] { return !QQuickTest::qIsPolishScheduled(window.get()); });
        }
        renderControl->polishItems();
        return true;
    }

    // Both columns as drawn at the next frame.
    QList<QStringList> columns()
    {
        if (!drawn())
            return { { QStringLiteral("the window was not laid out") } };
        return { shown("preparingPanel"), shown("readyPanel") };
    }

    // The models loaded from point.db, all at once, as a board that starts over the stored data
    // loads them.
    [[nodiscard]] bool reload()
    {
        return allWritten({ env.orderModel.update(shiftUuid), env.receiptModel.update(shiftUuid),
            env.receiptItemModel.update(shiftUuid) });
    }

    void showNonPaidOrders()
    {
        env.queueConfig.set(QueueConfig(QJsonObject { { "show_non_paid_orders", true } }));
    }

    AppEnv env;
    EntityRowHandler rows { &env };

private:
    static constexpr auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;

    OrdersPage page;
    const QAbstractItemModelTester testers[6] { { &env.orderModel, fatal },
        { &env.receiptModel, fatal }, { &env.receiptItemModel, fatal },
        { const_cast<InWorkOrdersModel *>(page.inWorkOrdersModel()), fatal },
        { page.preparingOrdersModel(), fatal }, { page.readyOrdersModel(), fatal } };
    QQmlPropertyMap core;
    std::unique_ptr<QQmlContext> context;
    std::unique_ptr<QQuickRenderControl> renderControl;
    std::unique_ptr<QQuickWindow> window;
    std::unique_ptr<QQuickItem> root;
};

// One order of the server's shift with its receipt and items; `changed` marks the rows that the
// server's next change sends.
struct ServerOrder
{
    struct Item
    {
        int id;
        bool inWork;
        bool changed = true;
    };

    int number = 0;
    QString status = QStringLiteral("cooking");
    bool paid = true;
    qint64 closedAt = 0;
    qint64 deletedAt = 0;
    QList<Item> items;
    bool changed = true;
    bool receiptChanged = true;

    QString uuid() const { return QStringLiteral("o%1").arg(number); }
    QString receiptUuid() const { return QStringLiteral("r%1").arg(number); }
    static QString itemUuid(int id) { return QStringLiteral("i%1").arg(id); }
};

// The rows of one change on the server, all with one updated_at, by table.
struct Change
{
    QList<QJsonObject> orders;
    QList<QJsonObject> receipts;
    QList<QJsonObject> items;
};

// The server's side: a shift of orders, changed one change at a time.
class Server
{
public:
    ServerOrder &open(int number, int items)
    {
        ServerOrder &order = touch(number);
        order.number = number;
        for (int i = 0; i < items; ++i)
            order.items.append({ ++lastItemId, true });
        return order;
    }

    // The order, to be changed: its rows go with the next change, after those of the orders
    // touched before it.
    ServerOrder &touch(int number)
    {
        if (!touched.contains(number))
            touched.append(number);
        return orders[number];
    }

    // Every row changed since the last change, as the server sends them now.
    Change change()
    {
        ++clock;
        Change change;
        for (int number : std::exchange(touched, {})) {
            ServerOrder &o = orders.at(number);
            if (std::exchange(o.changed, false)) {
                change.orders.append({ { "uuid", o.uuid() }, { "number", o.number },
                    { "shift_uuid", shiftUuid }, { "status", o.status }, { "is_paid", o.paid },
                    { "created_at", 1700000000 }, { "closed_at", serverTime(o.closedAt) },
                    { "deleted_at", serverTime(o.deletedAt) }, { "updated_at", clock } });
            }
            if (std::exchange(o.receiptChanged, false)) {
                change.receipts.append({ { "uuid", o.receiptUuid() }, { "shift_uuid", shiftUuid },
                    { "order_uuid", o.uuid() }, { "updated_at", clock } });
            }
            for (ServerOrder::Item &item : o.items) {
                if (!std::exchange(item.changed, false))
                    continue;
                change.items.append({ { "id", item.id }, { "uuid", ServerOrder::itemUuid(item.id) },
                    { "receipt_uuid", o.receiptUuid() }, { "in_work", item.inWork },
                    { "status", item.inWork ? "cooking" : "done" }, { "updated_at", clock } });
            }
        }
        return change;
    }

    std::map<int, ServerOrder> orders;
    QList<int> touched;
    int lastItemId = 0;
    qint64 clock = 1700000000;
};

enum class Delivery { Pushes, CatchUp };

// A change reaches the board in one turn of its event loop: as pushes, one message per row, back
// to back in the order given; or as one catch-up answer, which hands its tables over in the
// order the synchronisation does.
QList<QFuture<void>> deliver(
    Board &board, const Change &change, Delivery delivery, QRandomGenerator *shuffle = nullptr)
{
    QList<std::pair<QString, QJsonObject>> rows;
    for (const QJsonObject &row : change.orders)
        rows.append({ QStringLiteral("order"), row });
    for (const QJsonObject &row : change.receipts)
        rows.append({ QStringLiteral("receipt"), row });
    for (const QJsonObject &row : change.items)
        rows.append({ QStringLiteral("receipt_item"), row });
    if (delivery == Delivery::Pushes && shuffle)
        std::shuffle(rows.begin(), rows.end(), *shuffle);
    QList<QFuture<void>> writes;
    for (const auto &[table, row] : rows) {
        writes.append(delivery == Delivery::Pushes ? board.rows.apply(table, row)
                                                   : board.rows.applyCaughtUp(table, row));
    }
    return writes;
}

// The board starts on the server's shift, and the server's orders reach it as pushes, as they do
// during the day; it draws them.
bool start(Board &board, Server &server)
{
    const QJsonObject shift { { "uuid", shiftUuid }, { "type", "general" }, { "number", 1 },
        { "created_at", 1700000000 } };
    return board.drawn() && finished(board.rows.apply(QStringLiteral("shift"), shift))
        && board.reload() && allWritten(deliver(board, server.change(), Delivery::Pushes))
        && board.drawn();
}

using OrderChange = std::pair<int, QString>;
using Changes = QList<QList<OrderChange>>;

} // namespace

Q_DECLARE_METATYPE(Delivery)

class tst_BoardColumns : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { database = std::make_unique<TestDatabase>(); }
    void cleanup()
    {
        TestDatabase::drainThreadPool();
        database.reset();
    }

    void ordersEnteringAndLeavingTheReadyColumnInOneChange_data();
    void ordersEnteringAndLeavingTheReadyColumnInOneChange();
    void liveBoardMatchesABoardRebuiltFromTheDatabase_data();
    void liveBoardMatchesABoardRebuiltFromTheDatabase();

private:
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<QQmlEngine> engine;
};

void tst_BoardColumns::initTestCase()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    TestEnvironment::init();
    engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
}

void tst_BoardColumns::ordersEnteringAndLeavingTheReadyColumnInOneChange_data()
{
    QTest::addColumn<int>("orders");
    QTest::addColumn<QList<int>>("packaged");
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<QStringList>("ready");
    QTest::addColumn<Delivery>("delivery");

    const Changes undefinedShown { { { 2, "given" }, { 14, "packaged" } }, { { 14, "given" } },
        { { 13, "packaged" }, { 10, "given" } } };
    const struct
    {
        const char *name;
        int orders;
        QList<int> packaged;
        Changes changes;
        QStringList ready;
    } cases[] = {
        // The newest ready order was drawn no larger than the one before it.
        { "one leaves, an earlier one comes", 6, { 3, 5 },
            { { { 5, "given" }, { 1, "packaged" } } }, { "1@60", "3@84" } },
        // The ready column showed "undefined".
        { "a later one comes, the only one leaves", 16, { 2, 10 }, undefinedShown, { "13@84" } },
        // The board crashed.
        { "then the only one leaves, a later one comes", 16, { 2, 10 },
            undefinedShown + Changes { { { 13, "given" }, { 16, "packaged" } } }, { "16@84" } },
    };
    for (const auto &c : cases) {
        QTest::addRow("%s, pushes", c.name)
            << c.orders << c.packaged << c.changes << c.ready << Delivery::Pushes;
        QTest::addRow("%s, catch-up", c.name)
            << c.orders << c.packaged << c.changes << c.ready << Delivery::CatchUp;
    }
}

// Paid orders of the current shift, one change at a time, each change's rows in one turn of the
// event loop; the board draws between changes. After each change both columns show what a board
// started over the same data shows, and the newest ready order is the one drawn large.
void tst_BoardColumns::ordersEnteringAndLeavingTheReadyColumnInOneChange()
{
    QFETCH(int, orders);
    QFETCH(QList<int>, packaged);
    QFETCH(Changes, changes);
    QFETCH(QStringList, ready);
    QFETCH(Delivery, delivery);

    Server server;
    for (int number = 1; number <= orders; ++number)
        server.open(number, 1).status = packaged.contains(number) ? "packaged" : "cooking";
    Board live(*engine);
    Board restarted(*engine);
    QVERIFY(start(live, server));
    QList<QList<QStringList>> liveScreens;
    QList<QList<QStringList>> restartedScreens;

    for (const QList<OrderChange> &change : changes) {
        for (const auto &[number, status] : change) {
            ServerOrder &order = server.touch(number);
            order.status = status;
            order.changed = true;
        }
        QVERIFY(allWritten(deliver(live, server.change(), delivery)));
        QVERIFY(restarted.reload());
        // Compared once all changes are in: a wrong screen must not hide a crash that follows.
        liveScreens.append(live.columns());
        restartedScreens.append(restarted.columns());
    }
    QCOMPARE(liveScreens, restartedScreens);
    QStringList preparing;
    for (const auto &[number, order] : server.orders) {
        if (order.status != QLatin1String("packaged") && order.status != QLatin1String("given"))
            preparing.append(QString::number(number) + "@48");
    }
    QCOMPARE(live.columns(), QList<QStringList>({ preparing, ready }));
}

void tst_BoardColumns::liveBoardMatchesABoardRebuiltFromTheDatabase_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");
    QTest::addColumn<bool>("nonPaidShown");
    // A long run: KM4_BOARD_STEPS=100000 KM4_BOARD_SEED=n, in shifts of 2,000 steps (a day's
    // shift of a busy café; a shift much longer makes each rebuild read more than a café ever has).
    const int longRun = qEnvironmentVariableIntValue("KM4_BOARD_STEPS");
    if (longRun > 0) {
        const auto first = quint32(qEnvironmentVariableIntValue("KM4_BOARD_SEED"));
        constexpr int shift = 2000;
        for (int steps = 0; steps < longRun; steps += shift) {
            const quint32 seed = first + quint32(steps / shift);
            QTest::addRow("seed %u", seed) << seed << std::min(shift, longRun - steps)
                                           << (seed % 2 == 1);
        }
        return;
    }
    for (quint32 seed = 1; seed <= 4; ++seed)
        QTest::addRow("seed %u", seed) << seed << 600 << (seed % 2 == 0);
}

// A busy shift on the server: each step changes one to three orders together (status forward and
// back across the columns, given, closed, new, deleted, paid or not, items going in and out of
// work), and the change reaches the board as pushes or as one catch-up answer. After every step
// the grids show what a board rebuilt from point.db shows, cell for cell, and those are the orders
// the server has in work.
void tst_BoardColumns::liveBoardMatchesABoardRebuiltFromTheDatabase()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    QFETCH(bool, nonPaidShown);
    QRandomGenerator random(seed);
    Server server;
    Board live(*engine, Board::Frames::OnDemand);
    Board rebuilt(*engine, Board::Frames::OnDemand);
    if (nonPaidShown) {
        live.showNonPaidOrders();
        rebuilt.showNonPaidOrders();
    }
    const QStringList statuses { "new", "cooking", "packaged", "given" };
    int lastNumber = 0;
    const auto openOrder = [&] {
        ServerOrder &order = server.open(++lastNumber, random.bounded(1, 4));
        order.status = statuses.at(random.bounded(3));
        order.paid = random.bounded(4) != 0;
    };
    // The board starts in the middle of the shift.
    for (int i = 0; i < 8; ++i)
        openOrder();
    QVERIFY(start(live, server));

    int readyAndPreparing = 0;
    for (int step = 0; step < steps; ++step) {
        QList<int> open;
        for (const auto &[number, order] : server.orders) {
            if (order.closedAt == 0 && order.deletedAt == 0)
                open.append(number);
        }
        std::shuffle(open.begin(), open.end(), random);
        const int changing = random.bounded(1, 4);
        for (int i = 0; i < changing; ++i) {
            // A quiet board gets new orders more often than a busy one.
            if (open.isEmpty() || random.bounded(open.size() + 4) < 2) {
                openOrder();
                continue;
            }
            ServerOrder &order = server.touch(open.takeFirst());
            order.changed = true;
            switch (random.bounded(10)) {
            case 0:
            case 1:
            case 2:
                order.status = statuses.at(random.bounded(statuses.size()));
                break;
            case 3:
                order.status = QStringLiteral("given");
                break;
            case 4:
                order.closedAt = server.clock;
                break;
            case 5:
                order.deletedAt = server.clock;
                break;
            case 6:
                order.paid = !order.paid;
                break;
            case 7:
                order.changed = false;
                order.items.append({ ++server.lastItemId, random.bounded(2) == 0 });
                break;
            default: {
                order.changed = false;
                ServerOrder::Item &item = order.items[random.bounded(order.items.size())];
                item.inWork = !item.inWork;
                item.changed = true;
            }
            }
        }
        const Delivery delivery = random.bounded(3) == 0 ? Delivery::CatchUp : Delivery::Pushes;
        QVERIFY(allWritten(deliver(live, server.change(), delivery, &random)));
        QVERIFY(rebuilt.reload());

        const QList<QStringList> shown = live.columns();
        QCOMPARE(shown, rebuilt.columns());
        // The same orders as the server's, each once.
        QSet<QString> onBoard;
        for (const QStringList &column : shown) {
            for (const QString &cell : column)
                onBoard.insert(cell.section('@', 0, 0));
        }
        QSet<QString> inWork;
        for (const auto &[number, order] : server.orders) {
            const bool working = std::any_of(order.items.cbegin(), order.items.cend(),
                [](const ServerOrder::Item &item) { return item.inWork; });
            const bool leftTheBoard
                = order.status == QLatin1String("given") && (order.paid || nonPaidShown);
            if (working && order.closedAt == 0 && order.deletedAt == 0 && !leftTheBoard)
                inWork.insert(QString::number(number));
        }
        QCOMPARE(onBoard, inWork);
        QCOMPARE(shown.at(0).size() + shown.at(1).size(), int(inWork.size()));
        readyAndPreparing += !shown.at(0).isEmpty() && shown.at(1).size() > 1;
    }
    // The steps met a busy board, not only an empty one.
    QVERIFY2(readyAndPreparing > steps / 4, qPrintable(QString::number(readyAndPreparing)));
}

QTEST_MAIN(tst_BoardColumns)
#include "tst_boardcolumns.moc"
