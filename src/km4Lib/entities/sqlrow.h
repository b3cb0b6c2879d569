#pragma once

#include <QString>
#include <QStringList>

// Text of SQL values as the entity records write them into their row templates. Every text that
// ends up between single quotes has its quotes doubled, so no value can end its literal early.
class SqlRow
{
public:
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
