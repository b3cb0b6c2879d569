#pragma once

#include "entities/order.h"
#include "entities/receipt.h"
#include "entities/receiptitem.h"
#include "entities/shift.h"
#include "fakeserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

class MosquittoBroker;

// The point-of-sale server of one point of one account, played on loopback: the server double
// answers the board's API for it (any device is taken as registered, the synchronisation gives
// the point, the broker and an open shift with its orders) and a real broker carries the point's
// pushes as a kitchen makes them: new orders with their receipts and items, items finished one
// at a time, finished orders ready to be picked up, picked-up orders closed.
//
// Steps run on the owner's thread; the server thread reads the same state for its answers.
class PointSimulator : public QObject
{
    Q_OBJECT

public:
    static constexpr int pointId = 1;
    // The account's and the board's identifiers, as the support panel shows them.
    static constexpr int clientId = 101;
    static constexpr int queueId = 7;
    // Steps an order stays ready before it is picked up.
    static constexpr int readySteps = 5;

    // `timersMs` is what the board is told for its synchronisation period and its reconnect and
    // online checks.
    PointSimulator(
        FakeServer *server, MosquittoBroker *broker, int timersMs, QObject *parent = nullptr);
    ~PointSimulator() override;

    // Closed orders of the current shift, each with a receipt and an item, that the first
    // synchronisation hands over: a busy day's history.
    void seedHistory(int orders);

    // Steps every `stepMs` until stop().
    void start(int stepMs);
    void stop();
    // One step of the kitchen. False when a push did not reach the broker (the state moves on).
    bool step();

    QString domain() const; // what the board's user types
    QString topic() const; // the point's topic, below which every push goes
    // Numbers of the open orders as the board should show them: oldest first, which is also the
    // order in which they became ready.
    QList<int> preparingNumbers() const;
    QList<int> readyNumbers() const;

private:
    struct Ticket
    {
        Order order;
        Receipt receipt;
        QList<ReceiptItem> items;
        int readySince = -1; // the step it became ready at
    };
    struct Push
    {
        QString table;
        QJsonObject body;
    };

    Ticket makeTicket(int number, qint64 createdAt, int items) const;
    void openOrder(QList<Push> &pushes);
    void finishItem(QList<Push> &pushes);
    void pickUp(QList<Push> &pushes);
    void keepClosed(const Ticket &ticket);
    FakeServer::Answer answerSync(const RecordedRequest &request) const;
    QJsonArray configRows() const;

    FakeServer *server;
    MosquittoBroker *broker;
    const int timersMs;
    QTimer stepTimer;

    mutable QMutex mutex; // guards everything below; the server thread reads it
    Shift shift;
    QList<Ticket> open; // oldest first
    QList<Ticket> closed;
    int closedKept = 200;
    int lastNumber = 0;
    int steps = 0;
};
