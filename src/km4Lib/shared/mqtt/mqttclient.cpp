#include "mqttclient.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <cerrno>
#include <utility>

Q_LOGGING_CATEGORY(lcMqtt, "km4.mqtt")

namespace {

// Short enough that a link gone dark is noticed, and its missed pushes caught up, within seconds
// rather than minutes; one ping each way per period is all it costs an idle board.
constexpr int keepAliveSeconds = 10;
// libmosquitto sends the keep-alive pings and notices a silent broker only when asked to.
constexpr int serviceIntervalMs = 1000;

void initLibrary()
{
    // A function-local static is initialised exactly once, even with several threads.
    static const int rc = mosquitto_lib_init();
    Q_UNUSED(rc);
}

QString randomClientId()
{
    // Every MQTT 3.1.1 broker must accept 1 to 23 letters and digits.
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString id = QStringLiteral("km4");
    while (id.size() < 23)
        id += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)]);
    return id;
}

QString describe(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO)
        return qt_error_string(savedErrno);
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
    , m_clientId(randomClientId())
{
    initLibrary();
    m_keepAliveTimer.setInterval(serviceIntervalMs);
    connect(&m_keepAliveTimer, &QTimer::timeout, this, &MqttClient::serviceConnection);
}

MqttClient::~MqttClient()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    releaseSession();
    // Subscriptions are children and die with the client; none may call back into it meanwhile.
    const auto children = findChildren<MqttSubscription *>(Qt::FindDirectChildrenOnly);
    for (MqttSubscription *subscription : children)
        subscription->m_client = nullptr;
}

QString MqttClient::hostname() const
{
    return m_hostname;
}

void MqttClient::setHostname(const QString &hostname)
{
    if (m_state == Disconnected)
        m_hostname = hostname;
}

quint16 MqttClient::port() const
{
    return m_port;
}

void MqttClient::setPort(quint16 port)
{
    if (m_state == Disconnected)
        m_port = port;
}

QString MqttClient::username() const
{
    return m_username;
}

void MqttClient::setUsername(const QString &username)
{
    if (m_state == Disconnected)
        m_username = username;
}

QString MqttClient::password() const
{
    return m_password;
}

void MqttClient::setPassword(const QString &password)
{
    if (m_state == Disconnected)
        m_password = password;
}

QString MqttClient::clientId() const
{
    return m_clientId;
}

MqttClient::ClientState MqttClient::state() const
{
    return m_state;
}

void MqttClient::connectToHost()
{
    if (m_state != Disconnected)
        return;
    const quint64 session = ++m_session;
    m_closeReason.clear();
    qCDebug(lcMqtt).nospace() << "connecting to " << m_hostname << ":" << m_port << " as "
                              << m_username;
    if (m_hostname.isEmpty()) {
        // Reported from the event loop, like every other failure to connect.
        QTimer::singleShot(0, this, [this, session] {
            if (session == m_session)
                closeConnection(QStringLiteral("no host name set"));
        });
    } else {
        m_lookupId = QHostInfo::lookupHost(m_hostname, this,
            [this, session](const QHostInfo &info) { hostResolved(session, info); });
    }
    setState(Connecting);
}

void MqttClient::disconnectFromHost()
{
    if (m_state == Disconnected)
        return;
    qCDebug(lcMqtt).nospace() << "disconnecting from " << m_hostname << ":" << m_port;
    closeConnection(QString());
}

MqttSubscription *MqttClient::subscribe(const MqttTopicFilter &topic, quint8 qos)
{
    if (m_state != Connected || !m_mosq)
        return nullptr;
    if (!topic.isValid() || qos > 2) {
        qCWarning(lcMqtt) << "not subscribing to invalid topic filter" << topic.filter()
                          << "with QoS" << qos;
        return nullptr;
    }
    for (const QPointer<MqttSubscription> &existing : std::as_const(m_subscriptions)) {
        if (existing && existing->topic() == topic)
            return existing;
    }
    int messageId = 0;
    const int rc
        = mosquitto_subscribe(m_mosq, &messageId, topic.filter().toUtf8().constData(), qos);
    if (rc != MOSQ_ERR_SUCCESS) {
        // A broken connection shows on the socket next; the caller subscribes again then.
        qCWarning(lcMqtt) << "cannot subscribe to" << topic.filter() << ":" << describe(rc, errno);
        return nullptr;
    }
    auto *subscription = new MqttSubscription(topic, qos, this);
    subscription->m_messageId = messageId;
    subscription->m_state = MqttSubscription::SubscriptionPending;
    m_subscriptions.append(subscription);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
    return subscription;
}

void MqttClient::onConnectCallback(mosquitto *, void *self, int code)
{
    if (auto *client = static_cast<MqttClient *>(self))
        client->m_events.append({ Event::ConnAck, code, 0, {}, {} });
}

void MqttClient::onDisconnectCallback(mosquitto *, void *self, int code)
{
    if (auto *client = static_cast<MqttClient *>(self))
        client->m_events.append({ Event::Closed, code, 0, {}, {} });
}

void MqttClient::onSubscribeCallback(
    mosquitto *, void *self, int mid, int count, const int *granted)
{
    if (auto *client = static_cast<MqttClient *>(self)) {
        // 0x80 is the broker's refusal; we always send one filter per SUBSCRIBE.
        const int code = count > 0 && granted ? granted[0] : 0x80;
        client->m_events.append({ Event::SubAck, code, mid, {}, {} });
    }
}

void MqttClient::onMessageCallback(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<MqttClient *>(self);
    if (!client || !message || !message->topic)
        return;
    QByteArray payload;
    if (message->payload && message->payloadlen > 0)
        payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    client->m_events.append(
        { Event::Message, 0, message->mid, QByteArray(message->topic), payload });
}

void MqttClient::hostResolved(quint64 session, const QHostInfo &info)
{
    if (session != m_session || m_state != Connecting)
        return;
    m_lookupId = -1;
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        closeConnection(
            QStringLiteral("cannot resolve %1: %2").arg(m_hostname, info.errorString()));
        return;
    }
    // Brokers commonly listen on IPv4 only, while "localhost" may resolve to ::1 first.
    QHostAddress address = addresses.constFirst();
    for (const QHostAddress &candidate : addresses) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address = candidate;
            break;
        }
    }
    startSession(address.toString());
}

void MqttClient::startSession(const QString &address)
{
    m_mosq = mosquitto_new(m_clientId.toUtf8().constData(), true, this);
    if (!m_mosq) {
        closeConnection(QStringLiteral("cannot create a client: %1").arg(qt_error_string(errno)));
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnectCallback);
    mosquitto_subscribe_callback_set(m_mosq, &MqttClient::onSubscribeCallback);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessageCallback);
    if (!m_username.isEmpty()) {
        // MQTT 3.1.1 allows a password only together with a user name.
        const QByteArray user = m_username.toUtf8();
        const QByteArray password = m_password.toUtf8();
        mosquitto_username_pw_set(
            m_mosq, user.constData(), m_password.isEmpty() ? nullptr : password.constData());
    }

    // The address is numeric, so libmosquitto's own lookup returns at once; the socket is
    // non-blocking and the connection completes on the event loop.
    const int rc
        = mosquitto_connect_async(m_mosq, address.toUtf8().constData(), m_port, keepAliveSeconds);
    const int savedErrno = errno;
    const int fd = rc == MOSQ_ERR_SUCCESS ? mosquitto_socket(m_mosq) : -1;
    if (fd < 0) {
        closeConnection(QStringLiteral("cannot connect to %1:%2: %3")
                            .arg(address)
                            .arg(m_port)
                            .arg(describe(rc, savedErrno)));
        return;
    }
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &MqttClient::readSocket);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &MqttClient::writeSocket);
    m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
    m_keepAliveTimer.start();
}

void MqttClient::readSocket()
{
    if (!m_mosq)
        return;
    QPointer<MqttClient> self(this);
    const quint64 session = m_session;
    afterLibraryCall(mosquitto_loop_read(m_mosq, 1));
    if (self && session == m_session && m_state == Connected)
        Q_EMIT heardFromBroker();
}

void MqttClient::writeSocket()
{
    if (m_mosq)
        afterLibraryCall(mosquitto_loop_write(m_mosq, 1));
}

void MqttClient::serviceConnection()
{
    if (m_mosq)
        afterLibraryCall(mosquitto_loop_misc(m_mosq));
}

void MqttClient::afterLibraryCall(int rc)
{
    const int savedErrno = errno;
    const bool closed = rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) < 0;
    if (closed && m_closeReason.isEmpty())
        m_closeReason = describe(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, savedErrno);

    QPointer<MqttClient> self(this);
    const quint64 session = m_session;
    processEvents();
    if (!self || session != m_session)
        return;
    if (closed) {
        closeConnection(m_closeReason);
        return;
    }
    m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttClient::processEvents()
{
    QPointer<MqttClient> self(this);
    const quint64 session = m_session;
    while (!m_events.isEmpty()) {
        const Event event = m_events.takeFirst();
        switch (event.type) {
        case Event::ConnAck:
            if (event.code == 0) {
                qCDebug(lcMqtt).nospace() << "connected to " << m_hostname << ":" << m_port;
                setState(Connected);
            } else {
                m_closeReason = QString::fromUtf8(mosquitto_connack_string(event.code));
            }
            break;
        case Event::SubAck:
            for (const QPointer<MqttSubscription> &subscription : std::as_const(m_subscriptions)) {
                if (subscription && subscription->m_messageId == event.messageId) {
                    if (event.code > 2)
                        qCWarning(lcMqtt)
                            << "broker refused subscription to" << subscription->topic().filter();
                    subscription->setState(
                        event.code > 2 ? MqttSubscription::Error : MqttSubscription::Subscribed);
                    break;
                }
            }
            break;
        case Event::Message:
            deliver(MqttMessage(MqttTopicName(QString::fromUtf8(event.topic)), event.payload));
            break;
        case Event::Closed:
            if (m_closeReason.isEmpty() && event.code != 0)
                m_closeReason = QString::fromUtf8(mosquitto_strerror(event.code));
            break;
        }
        // A receiver may have closed the connection, or destroyed the client.
        if (!self || session != m_session)
            return;
    }
}

void MqttClient::deliver(const MqttMessage &message)
{
    QPointer<MqttClient> self(this);
    const quint64 session = m_session;
    // A copy: receivers may subscribe or unsubscribe while the message is handed out.
    const auto subscriptions = m_subscriptions;
    for (const QPointer<MqttSubscription> &subscription : subscriptions) {
        if (!subscription || subscription->m_client != this
            || !subscription->topic().match(message.topic()))
            continue;
        Q_EMIT subscription->messageReceived(message);
        if (!self || session != m_session)
            return;
    }
}

void MqttClient::unsubscribe(MqttSubscription *subscription)
{
    m_subscriptions.removeAll(subscription);
    if (m_mosq && m_state == Connected) {
        const int rc = mosquitto_unsubscribe(
            m_mosq, nullptr, subscription->topic().filter().toUtf8().constData());
        if (rc != MOSQ_ERR_SUCCESS)
            qCWarning(lcMqtt) << "cannot unsubscribe from" << subscription->topic().filter() << ":"
                              << describe(rc, errno);
        if (m_writeNotifier)
            m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
    }
    subscription->m_client = nullptr;
    subscription->deleteLater();
    subscription->setState(MqttSubscription::Unsubscribed);
}

void MqttClient::closeConnection(const QString &reason)
{
    if (m_state == Disconnected)
        return;
    if (!reason.isEmpty())
        qCWarning(lcMqtt).nospace()
            << "connection to " << m_hostname << ":" << m_port << " ended: " << reason;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    releaseSession();

    // With a clean session the broker has forgotten every subscription; so does the client.
    QPointer<MqttClient> self(this);
    const auto subscriptions = std::exchange(m_subscriptions, {});
    for (const QPointer<MqttSubscription> &subscription : subscriptions) {
        if (!subscription)
            continue;
        subscription->m_client = nullptr;
        subscription->deleteLater();
        subscription->setState(MqttSubscription::Unsubscribed);
        if (!self)
            return;
    }
    setState(Disconnected);
}

void MqttClient::releaseSession()
{
    ++m_session;
    m_keepAliveTimer.stop();
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_events.clear();
    if (!m_mosq)
        return;
    // From here on libmosquitto's callbacks find no client to report to.
    mosquitto_user_data_set(m_mosq, nullptr);
    if (m_state == Connected)
        mosquitto_disconnect(m_mosq); // a polite goodbye; the broker drops the session at once
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

void MqttClient::setState(ClientState state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
