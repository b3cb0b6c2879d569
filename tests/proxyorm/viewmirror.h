#pragma once

#include <QAbstractItemModel>
#include <QStringList>
#include <QVariant>

// Keeps a copy of one role of a model the way a view would: only from what the model's signals
// say. Also writes the signals down in a compact form ("remove 0-1", "data 0-2", ...), and notes
// every signal that does not match the model's state at that moment.
class ViewMirror : public QObject
{
    Q_OBJECT

public:
    ViewMirror(const QAbstractItemModel *model, int role);

    QVariantList values() const { return m_values; }
    QVariantList actual() const;
    bool matches() const { return m_values == actual() && m_faults.isEmpty(); }
    QStringList faults() const { return m_faults; }
    QStringList takeLog() { return std::exchange(m_log, {}); }

private:
    QVariant read(int row) const;
    void checkCount(const char *after);

    const QAbstractItemModel *m_model;
    int m_role;
    QVariantList m_values;
    QStringList m_log;
    QStringList m_faults;
};
