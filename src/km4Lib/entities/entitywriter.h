#pragma once

#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The one writer of the entity tables. Requests are written strictly in the order they were
// queued, by a single task on the global thread pool that drains the queue, so no two entity
// writes ever run side by side and an older row never overtakes a newer one. Whatever is queued
// while a write runs goes into the next transaction together; each table's single-row INSERT is
// prepared once per transaction and run for every row.
//
// A row the database refuses for its values (a constraint, a value too big) is skipped with a
// level-3 line that names the table and the row: the other rows are stored. A request that meets
// any other error (no connection, no table, a failed commit) fails with a DBException and stores
// none of its rows; the other requests of its transaction are not affected.
class EntityWriter
{
public:
    // How a row replaces the stored row of its uuid: always, as a push does, or only when the
    // stored row is not newer by updated_at. A row caught up after a gap in pushes may be older
    // than a push that overtook it on the way.
    enum class Replace { Always, UnlessStoredIsNewer };

    struct Rows
    {
        QString table;
        QStringList columns;
        // One list of bound values per row, in the order of columns.
        QList<QVariantList> values;
        // Each row's uuid and id, for naming it when it is refused.
        QStringList uuids;
        QList<qint64> ids;
        Replace replace = Replace::Always;
    };

    // The future holds the uuids of the rows not stored: those the database refused, and those
    // a newer stored row kept out (which is no error and writes no line).
    [[nodiscard]] static QFuture<QStringList> write(Rows rows);

    // The account's data is being removed: every request queued so far, and any not yet begun,
    // fails with a DBException and stores nothing, so none of it lands in the tables made for the
    // next account. A transaction already under way ends first and goes with the old tables.
    static void dropQueued();
};
