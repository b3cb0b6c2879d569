#include "mosquittobroker.h"

#include "fakeserver.h"
#include "testenvironment.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>

#include <mosquitto.h>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

MosquittoBroker::MosquittoBroker(const QString &username, const QString &password)
    : m_username(username)
    , m_password(password)
{
    mosquitto_lib_init();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test or simulator that crashes or is killed must not leave its broker running.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool MosquittoBroker::start()
{
    const bool pickPort = m_port == 0;
    // A free port may be taken by someone else before the broker binds it: try a few.
    for (int attempt = 0; !isRunning() && attempt < (pickPort ? 5 : 1); ++attempt) {
        m_port = pickPort ? FakeServer::unusedPort() : m_port;
        m_error = launch();
    }
    m_port = isRunning() || !pickPort ? m_port : 0;
    return isRunning();
}

QString MosquittoBroker::launch()
{
    const QString passwords = m_dir.filePath(QStringLiteral("passwd"));
    if (QProcess::execute(QStringLiteral("/usr/bin/mosquitto_passwd"),
            { QStringLiteral("-c"), QStringLiteral("-b"), passwords, m_username, m_password })
        != 0)
        return QStringLiteral("mosquitto_passwd failed in %1").arg(m_dir.path());
    QFile config(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    // Run as root, mosquitto would switch to its own user, which cannot read our folder.
    const QByteArray text = "listener " + QByteArray::number(m_port)
        + " 127.0.0.1\nallow_anonymous false\npassword_file " + passwords.toUtf8()
        + "\npersistence false\nlog_dest stderr\nlog_type error\nlog_type warning\n"
        + (::geteuid() == 0 ? "user root\n" : "") + m_extraConfig;
    if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size())
        return config.errorString();
    config.close();
    m_process.start(
        QStringLiteral("/usr/sbin/mosquitto"), { QStringLiteral("-c"), config.fileName() });
    const QDeadlineTimer deadline(TestEnvironment::patienceMs);
    while (m_process.waitForStarted(TestEnvironment::patienceMs) && !deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(host(), m_port);
        if (probe.waitForConnected(200))
            return {};
        if (m_process.waitForFinished(20)) // refused at once while the broker is still starting
            break;
    }
    stop();
    return QStringLiteral("mosquitto did not come up on port %1: %2")
        .arg(m_port)
        .arg(QString::fromLocal8Bit(m_process.readAll()));
}

void MosquittoBroker::stop()
{
    mosquitto_destroy(m_publisher);
    m_publisher = nullptr;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool MosquittoBroker::publish(const QString &topic, const QByteArray &payload, int qos)
{
    int rc = isRunning() ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NO_CONN;
    if (!m_publisher && rc == MOSQ_ERR_SUCCESS) {
        m_acknowledged = 0;
        m_publisher = mosquitto_new(nullptr, true, &m_acknowledged);
        mosquitto_publish_callback_set(m_publisher, [](mosquitto *, void *acknowledged, int id) {
            *static_cast<int *>(acknowledged) = id;
        });
        mosquitto_username_pw_set(
            m_publisher, m_username.toUtf8().constData(), m_password.toUtf8().constData());
        rc = mosquitto_connect(m_publisher, "127.0.0.1", m_port, 60);
    }
    int id = -1;
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_publish(m_publisher, &id, topic.toUtf8().constData(), int(payload.size()),
            payload.constData(), qos, false);
    // The first loop call finishes the CONNACK exchange as well; QoS 0 has no PUBACK.
    const QDeadlineTimer deadline(TestEnvironment::patienceMs);
    while (rc == MOSQ_ERR_SUCCESS && m_acknowledged != id && !deadline.hasExpired())
        rc = mosquitto_loop(m_publisher, 50, 1);
    if (m_acknowledged == id)
        return true;
    mosquitto_destroy(m_publisher);
    m_publisher = nullptr;
    m_error = QStringLiteral("publishing to %1 failed: %2")
                  .arg(topic, rc ? mosquitto_strerror(rc) : "no acknowledgement");
    return false;
}
