#include "mosquittobroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <mosquitto.h>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString brokerProgram = QStringLiteral("/usr/sbin/mosquitto");
const QString passwdProgram = QStringLiteral("/usr/bin/mosquitto_passwd");
constexpr int startTimeoutMs = 10000;
constexpr int publishTimeoutMs = 5000;

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

struct PublishWait
{
    int messageId = -1;
    bool acknowledged = false;
};

void onPublished(mosquitto *, void *userdata, int mid)
{
    auto *wait = static_cast<PublishWait *>(userdata);
    if (wait && wait->messageId == mid)
        wait->acknowledged = true;
}

} // namespace

MosquittoBroker::MosquittoBroker(const QString &username, const QString &password)
    : m_username(username)
    , m_password(password)
{
    mosquitto_lib_init();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test or simulator that crashes or is killed must not leave its broker running.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    if (isRunning())
        return true;
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: %1").arg(m_dir.errorString());
        return false;
    }
    if (m_port != 0)
        return writeFiles() && launch();
    // A free port may be taken by someone else before the broker binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (m_port != 0 && writeFiles() && launch())
            return true;
    }
    m_port = 0;
    return false;
}

void MosquittoBroker::stop()
{
    dropPublisher();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool MosquittoBroker::writeFiles()
{
    const QString passwordFile = m_dir.filePath(QStringLiteral("passwd"));
    QFile::remove(passwordFile);
    QProcess passwd;
    passwd.setProcessChannelMode(QProcess::MergedChannels);
    passwd.start(passwdProgram,
        { QStringLiteral("-c"), QStringLiteral("-b"), passwordFile, m_username, m_password });
    if (!passwd.waitForFinished(10000) || passwd.exitStatus() != QProcess::NormalExit
        || passwd.exitCode() != 0) {
        m_error = QStringLiteral("mosquitto_passwd failed: %1 %2")
                      .arg(passwd.errorString(), QString::fromLocal8Bit(passwd.readAll()));
        return false;
    }

    QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = config.errorString();
        return false;
    }
    QByteArray text;
    text += "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
    text += "allow_anonymous false\n";
    text += "password_file " + passwordFile.toUtf8() + "\n";
    text += "persistence false\n";
    text += "log_dest stderr\n";
    text += "log_type error\nlog_type warning\n";
    // Run as root, mosquitto would switch to its own user, which cannot read our folder.
    if (::geteuid() == 0)
        text += "user root\n";
    text += m_extraConfig;
    config.write(text);
    return true;
}

bool MosquittoBroker::launch()
{
    m_process.start(
        brokerProgram, { QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf")) });
    if (!m_process.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(brokerProgram, m_process.errorString());
        return false;
    }
    if (waitUntilAccepting())
        return true;
    stop();
    m_error += QString::fromLocal8Bit(m_process.readAll());
    return false;
}

bool MosquittoBroker::waitUntilAccepting()
{
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("mosquitto ended at start: ");
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(host(), m_port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        // Refused at once while the broker is still starting: give it a moment.
        QThread::msleep(20);
    }
    m_error = QStringLiteral("mosquitto did not accept connections on port %1: ").arg(m_port);
    return false;
}

bool MosquittoBroker::connectPublisher()
{
    if (m_publisher)
        return true;
    m_publisher = mosquitto_new(nullptr, true, nullptr);
    if (!m_publisher)
        return false;
    mosquitto_publish_callback_set(m_publisher, onPublished);
    mosquitto_username_pw_set(
        m_publisher, m_username.toUtf8().constData(), m_password.toUtf8().constData());
    const int rc = mosquitto_connect(m_publisher, host().toUtf8().constData(), m_port, 60);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_error = QStringLiteral("publisher cannot connect: %1")
                      .arg(QString::fromUtf8(mosquitto_strerror(rc)));
        dropPublisher();
        return false;
    }
    return true;
}

void MosquittoBroker::dropPublisher()
{
    if (!m_publisher)
        return;
    mosquitto_disconnect(m_publisher);
    mosquitto_destroy(m_publisher);
    m_publisher = nullptr;
}

bool MosquittoBroker::publish(const QString &topic, const QByteArray &payload, int qos)
{
    if (!isRunning()) {
        m_error = QStringLiteral("the broker is not running");
        return false;
    }
    if (!connectPublisher())
        return false;

    PublishWait wait;
    mosquitto_user_data_set(m_publisher, &wait);
    int rc = mosquitto_publish(m_publisher, &wait.messageId, topic.toUtf8().constData(),
        int(payload.size()), payload.constData(), qos, false);
    const QDeadlineTimer deadline(publishTimeoutMs);
    // The first loop call finishes the CONNACK exchange as well; QoS 0 has no PUBACK.
    while (rc == MOSQ_ERR_SUCCESS && !wait.acknowledged && !deadline.hasExpired())
        rc = mosquitto_loop(m_publisher, 50, 1);
    mosquitto_user_data_set(m_publisher, nullptr);
    if (!wait.acknowledged) {
        m_error = rc == MOSQ_ERR_SUCCESS ? QStringLiteral("no acknowledgement for %1").arg(topic)
                                         : QStringLiteral("publishing failed: %1")
                                               .arg(QString::fromUtf8(mosquitto_strerror(rc)));
        dropPublisher();
        return false;
    }
    return true;
}
