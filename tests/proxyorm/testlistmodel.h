#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QVariant>

#include <atomic>

// A plain list model for the tests: each row maps roles to values. It counts its reads and can be
// made slow, so that work on pool threads can be caught in the middle.
class TestListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using Row = QHash<int, QVariant>;

    explicit TestListModel(QObject *parent = nullptr);
    // One row per value, under the given role.
    TestListModel(int role, const QVariantList &values, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void resetRows(const QList<Row> &rows);
    void insertRowAt(int at, const Row &row) { insertRowsAt(at, { row }); }
    void insertRowsAt(int at, const QList<Row> &rows);
    void removeRowsAt(int at, int count);
    // Moves `count` rows from `from` so that the first of them ends at row `to`.
    void moveRowTo(int from, int to, int count = 1);
    void setValue(int row, int role, const QVariant &value, bool announceRole = true)
    {
        setValues(row, role, { value }, announceRole);
    }
    // One value per row from `first` on, announced as one dataChanged.
    void setValues(int first, int role, const QVariantList &values, bool announceRole = true);
    // Reorders the rows by one role (int values), announced as a layout change.
    void sortByRole(int role, bool descending);

    QVariant value(int row, int role) const { return m_rows.at(row).value(role); }
    const QList<Row> &rows() const { return m_rows; }

    int reads() const { return m_reads.load(); }
    void resetReads() { m_reads = 0; }
    void setReadDelayMicroseconds(int us) { m_delayUs = us; }

private:
    QList<Row> m_rows;
    mutable std::atomic<int> m_reads { 0 };
    std::atomic<int> m_delayUs { 0 };
};
