#include "sqlrow.h"

#include <cmath>

QVariant SqlRow::boundText(const QString &text)
{
    // Qt binds a null text as NULL.
    return text.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(text);
}

QVariant SqlRow::boundTextOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant SqlRow::boundNumber(qint64 value)
{
    return QVariant(value);
}

QVariant SqlRow::boundNumberOrNull(qint64 value)
{
    return value == 0 ? QVariant() : QVariant(value);
}

QVariant SqlRow::boundFlag(bool value)
{
    return QVariant(value ? 1 : 0);
}

QVariant SqlRow::boundReal(double value)
{
    return QVariant(std::isfinite(value) ? value : 0.0);
}

QString SqlRow::escaped(const QString &text)
{
    QString result = text;
    return result.replace(QLatin1Char('\''), QLatin1String("''"));
}

QString SqlRow::literal(const QString &text)
{
    return QLatin1Char('\'') + escaped(text) + QLatin1Char('\'');
}

QString SqlRow::literalOrNull(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("NULL") : literal(text);
}

QString SqlRow::number(qint64 value)
{
    return QString::number(value);
}

QString SqlRow::numberOrNull(qint64 value)
{
    return value == 0 ? QStringLiteral("NULL") : QString::number(value);
}

QString SqlRow::flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QString SqlRow::real(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    return QString::number(value, 'g', 6);
}

QString SqlRow::fill(const QString &pattern, const QStringList &values)
{
    QString result;
    result.reserve(pattern.size() + 16 * values.size());
    const qsizetype size = pattern.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = pattern.at(i);
        if (c != QLatin1Char('%') || i + 1 >= size || !pattern.at(i + 1).isDigit()) {
            result.append(c);
            ++i;
            continue;
        }
        int number = pattern.at(i + 1).digitValue();
        qsizetype length = 2;
        if (i + 2 < size && pattern.at(i + 2).isDigit()) {
            const int twoDigits = number * 10 + pattern.at(i + 2).digitValue();
            if (twoDigits >= 1 && twoDigits <= values.size()) {
                number = twoDigits;
                length = 3;
            }
        }
        if (number >= 1 && number <= values.size())
            result.append(values.at(number - 1));
        else
            result.append(QStringView(pattern).mid(i, length));
        i += length;
    }
    return result;
}
