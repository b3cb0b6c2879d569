#include "viewmirror.h"

ViewMirror::ViewMirror(const QAbstractItemModel *model, int role)
    : m_model(model)
    , m_role(role)
    , m_values(actual())
{
    using M = QAbstractItemModel;
    connect(model, &M::rowsAboutToBeInserted, this,
        [this](const QModelIndex &, int, int) { checkCount("before insert"); });
    connect(model, &M::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            m_values.insert(row, read(row));
        m_log << QStringLiteral("insert %1-%2").arg(first).arg(last);
        checkCount("insert");
    });
    connect(model, &M::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int, int) { checkCount("before remove"); });
    connect(model, &M::rowsRemoved, this, [this](const QModelIndex &, int first, int last) {
        m_values.remove(first, last - first + 1);
        m_log << QStringLiteral("remove %1-%2").arg(first).arg(last);
        checkCount("remove");
    });
    connect(model, &M::rowsMoved, this,
        [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
            const QVariantList block = m_values.mid(first, last - first + 1);
            m_values.remove(first, block.size());
            const int at = to > first ? to - int(block.size()) : to;
            for (int i = 0; i < block.size(); ++i)
                m_values.insert(at + i, block.at(i));
            m_log << QStringLiteral("move %1-%2 to %3").arg(first).arg(last).arg(to);
            checkCount("move");
        });
    connect(model, &M::dataChanged, this,
        [this](
            const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles) {
            if (!topLeft.isValid() || !bottomRight.isValid()) {
                m_faults << QStringLiteral("dataChanged with an invalid index");
                return;
            }
            if (roles.isEmpty() || roles.contains(m_role)) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                    m_values[row] = read(row);
            }
            QString entry = QStringLiteral("data %1-%2").arg(topLeft.row()).arg(bottomRight.row());
            if (!roles.isEmpty()) {
                QStringList names;
                for (int role : roles)
                    names << QString::number(role);
                entry += QStringLiteral(" [%1]").arg(names.join(QLatin1Char(',')));
            }
            m_log << entry;
            checkCount("dataChanged");
        });
    connect(model, &M::modelReset, this, [this] {
        m_values = actual();
        m_log << QStringLiteral("reset");
    });
    connect(model, &M::layoutChanged, this, [this] {
        m_values = actual();
        m_log << QStringLiteral("layout");
    });
}

QVariantList ViewMirror::actual() const
{
    QVariantList values;
    for (int row = 0; row < m_model->rowCount(); ++row)
        values << read(row);
    return values;
}

QVariant ViewMirror::read(int row) const
{
    return m_model->data(m_model->index(row, 0), m_role);
}

void ViewMirror::checkCount(const char *after)
{
    if (m_values.size() != m_model->rowCount()) {
        m_faults << QStringLiteral("%1: the view holds %2 rows, the model reports %3")
                        .arg(QLatin1String(after))
                        .arg(m_values.size())
                        .arg(m_model->rowCount());
    }
}
