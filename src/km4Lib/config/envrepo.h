#pragma once

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <utility>

// Reads and writes single settings of table config: a key, a text value and the time of the
// write. Keys and values reach SQL only as bound parameters.
class ENVRepo : public QObject
{
    Q_OBJECT

public:
    explicit ENVRepo(QObject *parent = nullptr);

public Q_SLOTS:
    // Synchronous, on the calling thread's own connection; throw DBException.
    static void insertENV(const QString &name, const QVariant &value);
    // A null string when the key has never been written.
    static QString selectENV(const QString &name);

    // On the global thread pool; a failed statement leaves its DBException in the future.
    [[nodiscard]] static QFuture<void> asyncInsertENV(const QString &name, const QVariant &value);
    // An invalid QVariant when the key has never been written.
    [[nodiscard]] static QFuture<QVariant> asyncSelectENV(const QString &name);

    // Settings (key, text) that tell how far the entity tables are current: written together, by
    // the one writer of the entity tables, after every entity row queued before them, so that they
    // are never stored ahead of those rows. A failed write leaves its DBException in the future.
    [[nodiscard]] static QFuture<void> insertENVInOrder(
        const QList<std::pair<QString, QString>> &settings);
};
