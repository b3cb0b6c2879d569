#pragma once

#include <QHostAddress>
#include <QJsonArray>
#include <QString>

// The machine's usable IPv4 addresses, for the support panel, and a few dotted-address helpers.
class NetworkUtils
{
public:
    // One {"name", "ip", "mask"} object per IPv4 address of every interface that is up, not the
    // loopback, and Ethernet or Wi-Fi; empty when there is none.
    static QJsonArray selectNetworkParams();

    // "a.b.c.d" from four bytes.
    static QString bytesToString(const unsigned char *bytes);
    // The first four dot-separated parts of the text into four bytes (the lowest 8 bits of each
    // part's unsigned value; a part that is not a number, or is missing, gives 0).
    static void stringToBytes(const QString &text, unsigned char *bytes);
    // Byte by byte AND of address and mask.
    static QString getNetworkAddress(const QString &address, const QString &mask);
    // Each byte of the first where it is not 0, else the byte of the second.
    static QString getBroadcastAddress(const QString &first, const QString &second);
    // The next IPv4 address; a null address after 255.255.255.255 or for a non-IPv4 address.
    static QHostAddress incrementIPv4(QHostAddress address);
};
