#include "jsonfield.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace {

// The whole number a JSON value holds, when it holds one within [minimum, maximum].
bool wholeNumber(const QJsonValue &value, qint64 minimum, qint64 maximum, qint64 *result)
{
    if (!value.isDouble())
        return false;
    // Integers that fit 64 bits are kept exactly by the parser; only larger ones or fractions
    // arrive as doubles.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong) {
        const qint64 number = variant.toLongLong();
        if (number < minimum || number > maximum)
            return false;
        *result = number;
        return true;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return false;
    // 2^63 itself is representable as a double but not as qint64.
    if (number < static_cast<double>(minimum) || number >= 9223372036854775808.0
        || number > static_cast<double>(maximum))
        return false;
    const auto whole = static_cast<qint64>(number);
    if (whole < minimum || whole > maximum)
        return false;
    *result = whole;
    return true;
}

} // namespace

int JsonField::integer(const QJsonObject &json, const QString &key)
{
    qint64 result = 0;
    if (!wholeNumber(json.value(key), std::numeric_limits<int>::min(),
            std::numeric_limits<int>::max(), &result))
        return 0;
    return static_cast<int>(result);
}

qint64 JsonField::time(const QJsonObject &json, const QString &key)
{
    qint64 result = 0;
    if (!wholeNumber(json.value(key), std::numeric_limits<qint64>::min(),
            std::numeric_limits<qint64>::max(), &result))
        return 0;
    return result;
}

QString JsonField::text(const QJsonObject &json, const QString &key)
{
    const QJsonValue value = json.value(key);
    return value.isString() ? value.toString() : QString();
}

bool JsonField::flag(const QJsonObject &json, const QString &key)
{
    const QJsonValue value = json.value(key);
    return value.isBool() && value.toBool();
}

double JsonField::real(const QJsonObject &json, const QString &key)
{
    const QJsonValue value = json.value(key);
    return value.isDouble() ? value.toDouble() : 0.0;
}

QJsonValue JsonField::numberOrNull(qint64 value)
{
    return value == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

QJsonValue JsonField::textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}
