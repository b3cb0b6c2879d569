#include "case.h"

#include "modelchanges.h"

namespace ProxyOrm {

Case::Case(const QAbstractListModel *model, int sourceRole,
    const QList<std::pair<QVariant, QVariant>> &cases, int outputRole, QVariant defaultValue)
    : m_model(model)
    , m_sourceRole(sourceRole)
    , m_outputRole(outputRole)
    , m_default(std::move(defaultValue))
{
    for (const auto &[match, result] : cases)
        m_cases.insert(match.toString(), result);

    if (!model)
        return;
    followModelChanges(model, this, &Case::invalidate);
}

QList<int> Case::roles() const
{
    return { m_outputRole };
}

QVariant Case::templateData(int row, int) const
{
    const QAbstractListModel *model = m_model.data();
    if (!model || row < 0 || row >= model->rowCount())
        return m_default;
    const QString key = model->data(model->index(row, 0), m_sourceRole).toString();
    return m_cases.value(key, m_default);
}

void Case::invalidate()
{
    invalidateCache(-1, -1);
}

} // namespace ProxyOrm
