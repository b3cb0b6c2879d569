#include "darkrelay.h"

DarkRelay::DarkRelay(const QString &host, quint16 port, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
{
    connect(&m_server, &QTcpServer::newConnection, this, &DarkRelay::accept);
}

DarkRelay::~DarkRelay()
{
    m_server.close();
    for (const auto &pair : std::as_const(m_pairs)) {
        if (pair->client)
            pair->client->abort();
        pair->upstream->abort();
    }
}

bool DarkRelay::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

void DarkRelay::goDark()
{
    m_dark = true;
    for (const auto &pair : std::as_const(m_pairs))
        pair->dead = true;
}

void DarkRelay::light()
{
    m_dark = false;
}

void DarkRelay::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        ++m_accepted;
        auto pair = std::make_shared<Pair>();
        pair->client = client;
        pair->upstream = std::make_unique<QTcpSocket>();
        pair->dead = m_dark;
        Pair *raw = pair.get();
        QTcpSocket *upstream = raw->upstream.get();
        m_pairs.append(pair);
        // Bytes that came before the other side was connected wait in the socket.
        connect(client, &QTcpSocket::readyRead, this, [this, raw, client, upstream] {
            if (upstream->state() == QAbstractSocket::ConnectedState || raw->dead)
                pass(raw, client, upstream);
        });
        connect(upstream, &QTcpSocket::connected, this,
            [this, raw, client, upstream] { pass(raw, client, upstream); });
        connect(upstream, &QTcpSocket::readyRead, this,
            [this, raw, client, upstream] { pass(raw, upstream, client); });
        connect(client, &QTcpSocket::disconnected, this, [this, raw] { closed(raw); });
        connect(upstream, &QTcpSocket::disconnected, this, [this, raw] { closed(raw); });
        upstream->connectToHost(m_host, m_port);
    }
}

void DarkRelay::pass(Pair *pair, QTcpSocket *from, QTcpSocket *to)
{
    const QByteArray bytes = from->readAll();
    if (!pair->dead && to)
        to->write(bytes);
}

void DarkRelay::closed(Pair *pair)
{
    // A dark link carries no goodbye either.
    if (pair->dead)
        return;
    if (pair->client)
        pair->client->disconnectFromHost();
    pair->upstream->disconnectFromHost();
}
