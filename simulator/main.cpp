// A point-of-sale server for the board on this machine: the server API on 127.0.0.1, a private
// mosquitto broker, and a kitchen that keeps pushing orders until Ctrl-C or SIGTERM.

#include "fakeserver.h"
#include "mosquittobroker.h"
#include "pointsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here: the event loop reads the byte and quits.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so that the broker and the server are stopped properly.
bool quitOnSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
        app->quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0
        && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

quint16 portOption(const QCommandLineParser &parser, const QString &name, bool *ok)
{
    if (!parser.isSet(name))
        return 0;
    const uint port = parser.value(name).toUInt(ok);
    *ok = *ok && port > 0 && port <= 65535;
    return quint16(port);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("km4Simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the point-of-sale server and its MQTT broker for one board on 127.0.0.1."));
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("port"), QStringLiteral("HTTP port (default: a free one)."),
            QStringLiteral("port") },
        { QStringLiteral("broker-port"), QStringLiteral("MQTT port (default: a free one)."),
            QStringLiteral("port") },
        { QStringLiteral("broker-password"), QStringLiteral("MQTT password (default: a new one)."),
            QStringLiteral("password") },
        { QStringLiteral("orders"),
            QStringLiteral("Closed orders of the shift handed over at the first synchronisation."),
            QStringLiteral("count"), QStringLiteral("0") },
        { QStringLiteral("step-ms"), QStringLiteral("Milliseconds between two kitchen steps."),
            QStringLiteral("ms"), QStringLiteral("3000") },
        { QStringLiteral("fast"),
            QStringLiteral("Test pace: a step every 250 ms, board timers of 1 s.") },
    });
    parser.process(app);

    bool portOk = true;
    bool brokerPortOk = true;
    const quint16 port = portOption(parser, QStringLiteral("port"), &portOk);
    const quint16 brokerPort = portOption(parser, QStringLiteral("broker-port"), &brokerPortOk);
    bool ordersOk = false;
    const int orders = parser.value(QStringLiteral("orders")).toInt(&ordersOk);
    bool stepOk = false;
    const bool fast = parser.isSet(QStringLiteral("fast"));
    const int stepMs = fast ? 250 : parser.value(QStringLiteral("step-ms")).toInt(&stepOk);
    if (!portOk || !brokerPortOk || !ordersOk || orders < 0
        || (!fast && (!stepOk || stepMs < 10))) {
        std::fprintf(stderr, "km4Simulator: bad option value; see --help\n");
        return 2;
    }
    if (!quitOnSignals(&app)) {
        std::fprintf(stderr, "km4Simulator: cannot handle signals\n");
        return 1;
    }

    const QString password = parser.isSet(QStringLiteral("broker-password"))
        ? parser.value(QStringLiteral("broker-password"))
        : QUuid::createUuid().toString(QUuid::Id128);
    MosquittoBroker broker(QStringLiteral("board"), password);
    broker.setPort(brokerPort);
    if (!broker.start()) {
        std::fprintf(stderr, "km4Simulator: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    FakeServer server(port);
    if (!server.isListening()) {
        std::fprintf(stderr, "km4Simulator: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    PointSimulator simulator(&server, &broker, fast ? 1000 : 10000);
    simulator.seedHistory(orders);
    simulator.start(stepMs);
    // Nobody reads what the server recorded; a simulator left running must not grow with it.
    QTimer forget;
    QObject::connect(&forget, &QTimer::timeout, &server, &FakeServer::clearRequests);
    forget.start(60000);

    // The board is given the broker on its command line as well, so that it never tries its
    // compiled-in one before the first synchronisation has told it this one.
    std::printf("Point-of-sale simulator\n"
                "  server:  %s\n"
                "  domain:  %s   (type it on the board's sign-in page)\n"
                "  broker:  %s:%u (mosquitto pid %lld)\n"
                "  board:   KM4_TIMEZONE_HOST=%s km4App --use-http --host %s --mqtt %s %u %s %s\n"
                "Stop with Ctrl-C.\n",
        qPrintable(server.baseUrl().toString()), qPrintable(server.domain()),
        qPrintable(broker.host()), unsigned(broker.port()), broker.processId(),
        qPrintable(server.timeZoneHost()), qPrintable(server.host()), qPrintable(broker.host()),
        unsigned(broker.port()), qPrintable(broker.username()), qPrintable(broker.password()));
    std::fflush(stdout);

    const int code = QCoreApplication::exec();
    simulator.stop();
    std::printf("Simulator stopped.\n");
    return code;
}
