#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

class QSqlQuery;

// Anything that is one row of a local table. Records are values held through their concrete
// type; the destructor is protected so a record can never be deleted through this base.
class BaseEntity
{
public:
    virtual QString tableName() const = 0;
    // Fills every field from the current record of the query, by column name.
    virtual void fromRow(const QSqlQuery &query) = 0;
    virtual bool isValid() const = 0;
    virtual QStringList columns() const = 0;
    // The record as one parenthesised tuple of SQL values, in the order of columns(), for reading.
    virtual QString toRow() const = 0;
    // The values its statement binds, in the order of columns().
    virtual QVariantList values() const = 0;

protected:
    BaseEntity() = default;
    BaseEntity(const BaseEntity &) = default;
    BaseEntity &operator=(const BaseEntity &) = default;
    ~BaseEntity() = default;
};
