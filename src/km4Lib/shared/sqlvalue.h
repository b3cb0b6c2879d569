#pragma once

#include <QSqlQuery>
#include <QVariant>
#include <QVariantList>

// Values on their way into a statement. SQLite reads a bound text as UTF-16 and swallows the unit
// after a lone surrogate, so such a text would be stored cut; it is stored with U+FFFD in place of
// each lone surrogate instead.
class SqlValue
{
public:
    // Replaces every lone surrogate of a text value; true when the value was changed.
    static bool repair(QVariant &value);

    // Binds the values to the positional placeholders of a prepared query, in order. Returns how
    // many texts had to be repaired.
    static int bind(QSqlQuery &query, const QVariantList &values);

    // A table or column name as the statement's text writes it: between double quotes, each
    // double quote in it doubled. Names cannot be bound.
    static QString identifier(const QString &name);
};
