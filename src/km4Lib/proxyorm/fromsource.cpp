#include "fromsource.h"

#include "modelchanges.h"

namespace ProxyOrm {

FromSource::FromSource(const QAbstractListModel *model, QMap<int, int> roleMap)
    : m_model(model)
    , m_roleMap(std::move(roleMap))
{
    setCacheEnabled(false);
    if (!model)
        return;
    const auto announce = [this] { Q_EMIT changed(roles()); };
    followModelChanges(model, this, announce);
}

QList<int> FromSource::roles() const
{
    return m_roleMap.keys();
}

QVariant FromSource::templateData(int row, int role) const
{
    const QAbstractListModel *model = m_model.data();
    if (!model)
        return {};
    return model->data(model->index(row, 0), m_roleMap.value(role, role));
}

} // namespace ProxyOrm
