#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// SQL values of the entity records: the values their statements bind, and the readable text form
// of a row (every text between single quotes with its quotes doubled). Both follow the same NULL
// rules, so a bound row stores what its text form says.
class SqlRow
{
public:
    // A text as it is bound: an absent text is stored as an empty one, never as NULL.
    static QVariant boundText(const QString &text);
    // NULL for an empty text.
    static QVariant boundTextOrNull(const QString &text);
    static QVariant boundNumber(qint64 value);
    // NULL for 0.
    static QVariant boundNumberOrNull(qint64 value);
    static QVariant boundFlag(bool value);
    // A value that is not finite is stored as 0.
    static QVariant boundReal(double value);

    // The text to place between the quotes of a template: each single quote doubled.
    static QString escaped(const QString &text);
    // A complete string literal: the escaped text between single quotes.
    static QString literal(const QString &text);
    // NULL for an empty text, otherwise its literal.
    static QString literalOrNull(const QString &text);
    static QString number(qint64 value);
    // NULL for 0, otherwise the decimal text.
    static QString numberOrNull(qint64 value);
    static QString flag(bool value);
    // General format with six significant digits; a value that is not finite is written as 0,
    // since SQLite cannot read "inf" or "nan".
    static QString real(double value);

    // Places values[n - 1] at each %n of the pattern in one pass, so a value that itself holds
    // "%1" is written unchanged. A placeholder takes two digits when that number has a value.
    static QString fill(const QString &pattern, const QStringList &values);
};
