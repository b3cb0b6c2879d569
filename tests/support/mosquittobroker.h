#pragma once

#include <QProcess>
#include <QTemporaryDir>

struct mosquitto;

// A real mosquitto broker for tests, private to one test process.
//
// It listens on 127.0.0.1 at a free port picked at the first start(), refuses anonymous
// clients and checks user name and password against a password file made with
// mosquitto_passwd, so a wrong password really is refused. Everything lives in a temporary
// folder; the broker is killed when the object is destroyed, and ends by itself when the process
// that started it dies without cleaning up.
//
//     MosquittoBroker broker;
//     QVERIFY2(broker.start(), qPrintable(broker.errorString()));
//     client.setPort(broker.port()); ... broker.username(), broker.password()
//     QVERIFY(broker.publish("acme/point/7/order", payload)); // QoS 1, returns after PUBACK
//     broker.stop();   // clients see the connection drop
//     broker.start();  // the same port again
class MosquittoBroker
{
public:
    explicit MosquittoBroker(const QString &username = QStringLiteral("km4-board"),
        const QString &password = QStringLiteral("s3cret'\"pass"));
    ~MosquittoBroker() { stop(); }

    // Returns once the broker accepts connections (false, with errorString(), when it does not
    // within TestEnvironment::patienceMs). A restart keeps the port of the first start.
    bool start();
    // Kills the broker and waits for it to end; connected clients lose their connection.
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // The port of the next start (0: a free one), for a broker to be found where its clients knew
    // it.
    void setPort(quint16 port) { m_port = port; }
    qint64 processId() const { return m_process.processId(); } // 0 while not running
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; } // 0 before the first start()
    QString username() const { return m_username; }
    QString password() const { return m_password; }
    QString errorString() const { return m_error; }
    // Lines added to the broker's configuration from the next start() on, e.g. its queue limits.
    void setExtraConfig(const QByteArray &lines) { m_extraConfig = lines; }

    // Publishes one message as a separate client with the right credentials and waits until
    // the broker has acknowledged it (QoS 1 or 2) or it was sent (QoS 0). False on failure.
    bool publish(const QString &topic, const QByteArray &payload, int qos = 1);

private:
    QString launch(); // the error, empty once the broker accepts connections

    QString m_username;
    QString m_password;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_extraConfig;
    mosquitto *m_publisher = nullptr;
    int m_acknowledged = 0; // the id of the publisher's last message the broker took
};
