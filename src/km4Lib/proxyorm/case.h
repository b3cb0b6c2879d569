#pragma once

#include "isource.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>

#include <utility>

namespace ProxyOrm {

// One output role whose value is looked up, by the text of a source role's value, in a table of
// cases; rows without a case, and rows out of range, give the default value.
class Case : public ISource
{
    Q_OBJECT

public:
    Case(const QAbstractListModel *model, int sourceRole,
        const QList<std::pair<QVariant, QVariant>> &cases, int outputRole, QVariant defaultValue);

    QList<int> roles() const override;
    QVariant templateData(int row, int role) const override;
    bool readsOneRow() const override { return true; }

private Q_SLOTS:
    void invalidate();

private:
    QPointer<const QAbstractListModel> m_model;
    int m_sourceRole;
    int m_outputRole;
    QHash<QString, QVariant> m_cases;
    QVariant m_default;
};

} // namespace ProxyOrm
