#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// Strict reading of the flat JSON objects the server pushes, and the values the records write
// back. A value of the wrong JSON type never converts: it gives 0, 0.0, false or an empty text.
class JsonField
{
public:
    // A whole number within the 32-bit signed range, otherwise 0.
    static int integer(const QJsonObject &json, const QString &key);
    // A whole number within the 64-bit signed range, otherwise 0.
    static qint64 time(const QJsonObject &json, const QString &key);
    // A JSON string, otherwise an empty text.
    static QString text(const QJsonObject &json, const QString &key);
    // JSON true or false; anything else (the numbers 1 and 0 included) is false.
    static bool flag(const QJsonObject &json, const QString &key);
    // Any JSON number, otherwise 0.0.
    static double real(const QJsonObject &json, const QString &key);

    // null for 0, otherwise the number.
    static QJsonValue numberOrNull(qint64 value);
    // null for an empty text, otherwise the string.
    static QJsonValue textOrNull(const QString &text);
};
