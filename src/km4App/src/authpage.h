#pragma once

#include "ipage.h"

#include <QJsonArray>
#include <QMap>
#include <QString>

class AppEnv;
class HttpSyncDBService;
class MqttSyncDBService;

// What the login, loading and support screens show: the loading step of the first
// synchronisation, the account and partner details, the network addresses and the version.
class AuthPage : public IPage
{
    Q_OBJECT
    Q_PROPERTY(QString loadingStatus READ loadingStatus NOTIFY loadingStatusChanged FINAL)
    Q_PROPERTY(int clientId READ clientId NOTIFY infoChanged FINAL)
    Q_PROPERTY(int queueId READ queueId NOTIFY infoChanged FINAL)
    Q_PROPERTY(QString domain READ domain NOTIFY infoChanged FINAL)
    Q_PROPERTY(QString partner READ partner NOTIFY infoChanged FINAL)
    Q_PROPERTY(QString email READ email NOTIFY infoChanged FINAL)
    Q_PROPERTY(QString supportPhone READ supportPhone NOTIFY infoChanged FINAL)
    Q_PROPERTY(QJsonArray networkInfo READ networkInfo NOTIFY networkInfoChanged FINAL)
    Q_PROPERTY(QString shortVersionString READ shortVersionString NOTIFY
            shortVersionStringChanged FINAL)
    Q_PROPERTY(QString longVersionString READ longVersionString NOTIFY longVersionStringChanged
            FINAL)
    Q_PROPERTY(int lvlPushLog READ lvlPushLog NOTIFY infoChanged FINAL)
    Q_PROPERTY(bool useHttps READ useHttps NOTIFY infoChanged FINAL)
    Q_PROPERTY(bool ignoreSslErrors READ ignoreSslErrors NOTIFY infoChanged FINAL)
    Q_PROPERTY(QString logo READ logo NOTIFY infoChanged FINAL)

public:
    AuthPage(const AppEnv *env, const HttpSyncDBService *syncDBService,
        const MqttSyncDBService *mqttSyncDBService, QObject *parent = nullptr);
    ~AuthPage() override;

    QString loadingStatus() const { return m_loadingStatus; }
    int clientId() const;
    int queueId() const;
    QString domain() const;
    QString partner() const;
    QString email() const;
    QString supportPhone() const;
    QJsonArray networkInfo() const { return m_networkInfo; }
    QString shortVersionString() const { return m_shortVersionString; }
    QString longVersionString() const { return m_longVersionString; }
    int lvlPushLog() const;
    bool useHttps() const;
    bool ignoreSslErrors() const;
    QString logo() const;

Q_SIGNALS:
    void loadingStatusChanged();
    void networkInfoChanged();
    void shortVersionStringChanged();
    void longVersionStringChanged();
    void infoChanged();

public Q_SLOTS:
    void enabled() override;
    void disabled() override;

private:
    void showTableSyncing(const QString &table);

    const AppEnv *env;
    QString m_loadingStatus;
    QJsonArray m_networkInfo;
    QString m_shortVersionString;
    QString m_longVersionString;
    QMap<QString, QString> loadingTexts;
};
