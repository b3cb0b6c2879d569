#pragma once

#include <QJsonArray>
#include <QString>

// Writes the rows of one reference table of a synchronisation answer (config, order_status, ...)
// into the local table of that name, on the calling thread's connection. The local table's own
// columns decide what is stored; a row whose key is stored replaces it. All rows go through one
// single-row INSERT, prepared once, in one transaction.
//
// A row without the columns that identify it in its table (those of the table's UNIQUE
// constraints, else its primary key unless SQLite fills it), or one the database refuses, is
// skipped with a level-3 line that names the table and the row's key; the other rows are stored.
// A table the local database does not have is left alone. Throws DBException when the table
// cannot be written at all.
class ReferenceTableWriter
{
public:
    static void write(const QString &table, const QJsonArray &rows);
};
