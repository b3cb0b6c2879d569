#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// A TCP relay on 127.0.0.1 in front of a server (a broker, say) that can go dark the way a Wi-Fi
// or router fault does, or a NAT or firewall that forgets a connection: from goDark() on it passes
// no byte in either direction and closes nothing, and a connection it carried then never passes
// again. Once lit, new connections pass. Lives on the thread that drives it, like its sockets.
//
//     DarkRelay relay(broker.host(), broker.port());
//     QVERIFY(relay.listen());     // clients connect to relay.port()
//     relay.goDark();              // everything sent from now on is lost
//     relay.light();               // new connections pass again
class DarkRelay : public QObject
{
    Q_OBJECT

public:
    DarkRelay(const QString &host, quint16 port, QObject *parent = nullptr);
    ~DarkRelay() override;

    [[nodiscard]] bool listen();
    quint16 port() const { return m_server.serverPort(); }

    void goDark();
    void light();
    // Connections accepted so far.
    int connections() const { return m_accepted; }

private:
    struct Pair
    {
        QPointer<QTcpSocket> client;
        std::unique_ptr<QTcpSocket> upstream;
        bool dead = false;
    };

    void accept();
    void pass(Pair *pair, QTcpSocket *from, QTcpSocket *to);
    void closed(Pair *pair);

    QString m_host;
    quint16 m_port;
    QTcpServer m_server;
    QList<std::shared_ptr<Pair>> m_pairs;
    bool m_dark = false;
    int m_accepted = 0;
};
