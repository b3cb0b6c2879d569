#pragma once

#include <QObject>
#include <QString>

class AppEnv;

// QML's copy of the pairing state: follows the domain, the online flag and the last update time
// of the environment. A write from QML stays here; the environment is never written.
class QmlAppEnv : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString domain READ domain WRITE setDomain NOTIFY domainChanged FINAL)
    Q_PROPERTY(bool isOnline READ isOnline WRITE setIsOnline NOTIFY isOnlineChanged FINAL)
    Q_PROPERTY(qlonglong lastUpdate READ lastUpdate WRITE setLastUpdate NOTIFY lastUpdateChanged
            FINAL)
    // The stored settings have been read once since the start; the screens act on the stored
    // pairing only after that.
    Q_PROPERTY(bool settingsLoaded READ settingsLoaded NOTIFY settingsLoadedChanged FINAL)

public:
    explicit QmlAppEnv(AppEnv *env, QObject *parent = nullptr);
    ~QmlAppEnv() override;

    QString domain() const { return m_domain; }
    bool isOnline() const { return m_isOnline; }
    qlonglong lastUpdate() const { return m_lastUpdate; }
    bool settingsLoaded() const { return m_settingsLoaded; }

    void setDomain(const QString &domain);
    void setIsOnline(bool isOnline);
    void setLastUpdate(qlonglong lastUpdate);
    // Called on every load of the settings; only the first one is news.
    void markSettingsLoaded();

Q_SIGNALS:
    void domainChanged();
    void isOnlineChanged();
    void lastUpdateChanged();
    void settingsLoadedChanged();

private:
    QString m_domain;
    bool m_isOnline = true;
    qlonglong m_lastUpdate = 0;
    bool m_settingsLoaded = false;
};
