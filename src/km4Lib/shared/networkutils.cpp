#include "networkutils.h"

#include <QJsonObject>
#include <QNetworkInterface>
#include <QStringList>

#include <array>

QJsonArray NetworkUtils::selectNetworkParams()
{
    QJsonArray params;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (interface.type() != QNetworkInterface::Ethernet
            && interface.type() != QNetworkInterface::Wifi)
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            params.append(QJsonObject {
                { QStringLiteral("name"), interface.name() },
                { QStringLiteral("ip"), entry.ip().toString() },
                { QStringLiteral("mask"), entry.netmask().toString() },
            });
        }
    }
    return params;
}

QString NetworkUtils::bytesToString(const unsigned char *bytes)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(uint(bytes[0]))
        .arg(uint(bytes[1]))
        .arg(uint(bytes[2]))
        .arg(uint(bytes[3]));
}

void NetworkUtils::stringToBytes(const QString &text, unsigned char *bytes)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        // Missing parts count as 0 rather than being read past the end.
        const uint value = i < parts.size() ? parts.at(i).toUInt(nullptr, 10) : 0;
        bytes[i] = static_cast<unsigned char>(value & 0xFF);
    }
}

QString NetworkUtils::getNetworkAddress(const QString &address, const QString &mask)
{
    std::array<unsigned char, 4> a {};
    std::array<unsigned char, 4> m {};
    stringToBytes(address, a.data());
    stringToBytes(mask, m.data());
    std::array<unsigned char, 4> result {};
    for (int i = 0; i < 4; ++i)
        result[i] = a[i] & m[i];
    return bytesToString(result.data());
}

QString NetworkUtils::getBroadcastAddress(const QString &first, const QString &second)
{
    std::array<unsigned char, 4> f {};
    std::array<unsigned char, 4> s {};
    stringToBytes(first, f.data());
    stringToBytes(second, s.data());
    std::array<unsigned char, 4> result {};
    for (int i = 0; i < 4; ++i)
        result[i] = f[i] != 0 ? f[i] : s[i];
    return bytesToString(result.data());
}

QHostAddress NetworkUtils::incrementIPv4(QHostAddress address)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return QHostAddress();
    const QStringList parts = address.toString().split(QLatin1Char('.'));
    std::array<int, 4> p {};
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        p[i] = parts.at(i).toInt();

    if (p[3] < 255) {
        ++p[3];
    } else if (p[2] < 255) {
        p[3] = 0;
        ++p[2];
    } else if (p[1] < 255) {
        p[3] = p[2] = 0;
        ++p[1];
    } else if (p[0] < 255) {
        p[3] = p[2] = p[1] = 0;
        ++p[0];
    } else {
        return QHostAddress();
    }
    return QHostAddress(QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]));
}
