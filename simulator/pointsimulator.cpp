#include "pointsimulator.h"

#include "mosquittobroker.h"
#include "servertables.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>

namespace {

const QString pushSender = QStringLiteral("pos-simulator");

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool isReady(const Order &order)
{
    return order.status == QLatin1String("packaged");
}

} // namespace

PointSimulator::PointSimulator(
    FakeServer *server, MosquittoBroker *broker, int timersMs, QObject *parent)
    : QObject(parent)
    , server(server)
    , broker(broker)
    , timersMs(timersMs)
{
    shift.uuid = newUuid();
    shift.type = QStringLiteral("general");
    // Later runs open later shifts, so a board that kept an earlier run's shift moves on.
    shift.number = int(now());
    shift.created_at = now() - 3600;
    shift.updated_at = shift.created_at;

    // The simulated account knows every device: registration answers "already registered",
    // which a board takes as leave to sign in.
    server->setAnswer(FakeServer::RegistrationPath,
        FakeServer::error(403, 1003, QStringLiteral("the device is registered")));
    server->setResponder(FakeServer::SyncPath,
        [this](const RecordedRequest &request) { return answerSync(request); });
    connect(&stepTimer, &QTimer::timeout, this, &PointSimulator::step);
}

PointSimulator::~PointSimulator()
{
    // The server may outlive us; it must not call into a destroyed simulator.
    server->resetAnswers();
}

void PointSimulator::seedHistory(int orders)
{
    QMutexLocker lock(&mutex);
    closedKept = std::max(closedKept, orders);
    const qint64 start = shift.created_at;
    for (int i = 0; i < orders; ++i) {
        Ticket ticket = makeTicket(++lastNumber, start + i % 3000, 1);
        ticket.order.status = QStringLiteral("given");
        ticket.order.is_paid = true;
        ticket.order.is_closed = true;
        ticket.order.closed_at = ticket.order.created_at + 600;
        ticket.order.updated_at = ticket.order.closed_at;
        ticket.items.first().in_work = false;
        ticket.items.first().status = QStringLiteral("done");
        closed.append(ticket);
    }
}

void PointSimulator::start(int stepMs)
{
    stepTimer.start(stepMs);
}

void PointSimulator::stop()
{
    stepTimer.stop();
}

bool PointSimulator::step()
{
    QList<Push> pushes;
    {
        QMutexLocker lock(&mutex);
        ++steps;
        pickUp(pushes);
        finishItem(pushes);
        const bool nothingCooking = std::none_of(open.cbegin(), open.cend(),
            [](const Ticket &ticket) { return !isReady(ticket.order); });
        if (steps % 2 == 1 || nothingCooking)
            openOrder(pushes);
    }
    bool delivered = true;
    for (const Push &push : pushes) {
        QJsonObject message;
        message.insert(QStringLiteral("from"), pushSender);
        message.insert(QStringLiteral("body"), push.body);
        const QByteArray payload = QJsonDocument(message).toJson(QJsonDocument::Compact);
        if (!broker->publish(topic() + QLatin1Char('/') + push.table, payload)) {
            qWarning("push not delivered: %s", qPrintable(broker->errorString()));
            delivered = false;
        }
    }
    return delivered;
}

QString PointSimulator::domain() const
{
    return server->domain();
}

QString PointSimulator::topic() const
{
    return domain() + QStringLiteral("/point/") + QString::number(pointId);
}

QList<int> PointSimulator::preparingNumbers() const
{
    QMutexLocker lock(&mutex);
    QList<int> numbers;
    for (const Ticket &ticket : open) {
        if (!isReady(ticket.order))
            numbers.append(ticket.order.number);
    }
    return numbers;
}

QList<int> PointSimulator::readyNumbers() const
{
    QMutexLocker lock(&mutex);
    QList<int> numbers;
    for (const Ticket &ticket : open) {
        if (isReady(ticket.order))
            numbers.append(ticket.order.number);
    }
    return numbers;
}

PointSimulator::Ticket PointSimulator::makeTicket(int number, qint64 createdAt, int items) const
{
    Ticket ticket;
    Order &order = ticket.order;
    order.uuid = newUuid();
    order.id = number;
    order.number = number;
    order.shift_uuid = shift.uuid;
    order.status = QStringLiteral("new");
    order.type = QStringLiteral("takeaway");
    order.number_guests = 1;
    order.created_by = 1;
    order.created_at = createdAt;
    order.updated_at = createdAt;

    Receipt &receipt = ticket.receipt;
    receipt.uuid = newUuid();
    receipt.id = number;
    receipt.shift_uuid = shift.uuid;
    receipt.order_uuid = order.uuid;
    receipt.order_id = order.id;
    receipt.type = QStringLiteral("sale");
    receipt.is_paid = true;
    receipt.created_by = 1;
    receipt.created_at = createdAt;
    receipt.updated_at = createdAt;

    for (int i = 0; i < items; ++i) {
        ReceiptItem item;
        item.uuid = newUuid();
        item.id = number * 10 + i;
        item.receipt_uuid = receipt.uuid;
        item.receipt_id = receipt.id;
        item.menu_id = 1 + (number + i) % 7;
        item.quantity = 1;
        item.in_work = true;
        item.status = QStringLiteral("cooking");
        item.created_by = 1;
        item.created_at = createdAt;
        item.updated_at = createdAt;
        ticket.items.append(item);
    }
    return ticket;
}

void PointSimulator::openOrder(QList<Push> &pushes)
{
    ++lastNumber;
    const Ticket ticket = makeTicket(lastNumber, now(), 1 + lastNumber % 2);
    open.append(ticket);
    pushes.append({ Order().tableName(), ticket.order.toJson() });
    pushes.append({ Receipt().tableName(), ticket.receipt.toJson() });
    for (const ReceiptItem &item : ticket.items)
        pushes.append({ ReceiptItem().tableName(), item.toJson() });
}

void PointSimulator::finishItem(QList<Push> &pushes)
{
    const auto cooking = std::find_if(
        open.begin(), open.end(), [](const Ticket &ticket) { return !isReady(ticket.order); });
    if (cooking == open.end())
        return;
    QList<ReceiptItem> &items = cooking->items;
    const auto next = std::find_if(items.begin(), items.end(),
        [](const ReceiptItem &item) { return item.status != QLatin1String("done"); });
    if (next != items.end()) {
        next->status = QStringLiteral("done");
        next->updated_at = now();
        pushes.append({ next->tableName(), next->toJson() });
        if (next + 1 != items.end())
            return;
    }
    Order &order = cooking->order;
    order.status = QStringLiteral("packaged");
    order.is_paid = true;
    order.updated_at = now();
    cooking->readySince = steps;
    pushes.append({ order.tableName(), order.toJson() });
}

void PointSimulator::pickUp(QList<Push> &pushes)
{
    const auto due = std::find_if(open.begin(), open.end(), [this](const Ticket &ticket) {
        return isReady(ticket.order) && steps - ticket.readySince >= readySteps;
    });
    if (due == open.end())
        return;
    Ticket ticket = *due;
    open.erase(due);
    Order &order = ticket.order;
    order.status = QStringLiteral("given");
    order.is_closed = true;
    order.is_shipped = true;
    order.closed_at = now();
    order.updated_at = order.closed_at;
    pushes.append({ order.tableName(), order.toJson() });
    keepClosed(ticket);
}

void PointSimulator::keepClosed(const Ticket &ticket)
{
    closed.append(ticket);
    if (closed.size() > closedKept)
        closed.removeFirst();
}

// Runs on the server thread. As a real server does, it answers only the rows changed after the
// request's "updated_after".
FakeServer::Answer PointSimulator::answerSync(const RecordedRequest &request) const
{
    QJsonObject tables { { QStringLiteral("config"), configRows() } };
    if (!ServerTables::askedTables(request).contains(QLatin1String("order")))
        return FakeServer::sync(tables, now());
    const qint64 after = ServerTables::updatedAfter(request);
    QMutexLocker lock(&mutex);
    QJsonArray orders;
    QJsonArray receipts;
    QJsonArray items;
    const auto add = [after](QJsonArray &rows, const auto &row) {
        if (row.updated_at > after)
            rows.append(row.toJson());
    };
    for (const QList<Ticket> *tickets : { &closed, &open }) {
        for (const Ticket &ticket : *tickets) {
            add(orders, ticket.order);
            add(receipts, ticket.receipt);
            for (const ReceiptItem &item : ticket.items)
                add(items, item);
        }
    }
    QJsonArray shifts;
    add(shifts, shift);
    tables.insert(QStringLiteral("shift"), shifts);
    tables.insert(QStringLiteral("order"), orders);
    tables.insert(QStringLiteral("receipt"), receipts);
    tables.insert(QStringLiteral("receipt_item"), items);
    return FakeServer::sync(tables, now());
}

QJsonArray PointSimulator::configRows() const
{
    auto row = [](const char *key, const QJsonObject &value) {
        return QJsonObject { { QStringLiteral("key"), QLatin1String(key) },
            { QStringLiteral("value"), value } };
    };
    return {
        // The board checks its clock against the point's zone: this machine's own.
        row("point",
            { { QStringLiteral("id"), pointId },
                { QStringLiteral("name"), QStringLiteral("Loopback café") },
                { QStringLiteral("address"), QStringLiteral("127.0.0.1") },
                { QStringLiteral("timezone"), QString::fromUtf8(QTimeZone::systemTimeZoneId()) } }),
        row("sync-config",
            { { QStringLiteral("mqtt_enabled"), true },
                { QStringLiteral("mqtt_host"), broker->host() },
                { QStringLiteral("mqtt_port"), broker->port() },
                { QStringLiteral("mqtt_login"), broker->username() },
                { QStringLiteral("mqtt_password"), broker->password() },
                { QStringLiteral("http_sync_ms"), timersMs },
                { QStringLiteral("mqtt_offline_check_timeout"), timersMs } }),
        row("terminal",
            { { QStringLiteral("user_id"), queueId },
                { QStringLiteral("check_online_timeout"), timersMs } }),
        row("common",
            { { QStringLiteral("client_id"), clientId },
                { QStringLiteral("partner_name"), QStringLiteral("Loopback café") },
                { QStringLiteral("partner_email"), QStringLiteral("pos@127.0.0.1") },
                // Days the board may keep working while the server is away.
                { QStringLiteral("disable_period"), QStringLiteral("3") } }),
    };
}
