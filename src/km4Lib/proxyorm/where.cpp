#include "where.h"

#include <cmath>

namespace ProxyOrm {

namespace {

template <typename T> bool compareAs(Where::TypeComparison type, T tested, T stored)
{
    switch (type) {
    case Where::Equal:
        return tested == stored;
    case Where::NotEqual:
        return tested != stored;
    case Where::Less:
        return tested < stored;
    case Where::LessOrEqual:
        return tested <= stored;
    case Where::Greater:
        return tested > stored;
    case Where::GreaterOrEqual:
        return tested >= stored;
    default:
        return false;
    }
}

} // namespace

Where::Where(TypeComparison type, QVariant value)
    : m_value(std::move(value))
    , m_type(type)
{ }

bool Where::isAccepted(QVariant value) const
{
    if (m_type == IsNull && value.isNull())
        return true;
    if (m_type == Equal && value == m_value)
        return true;
    if (m_type == NotEqual && value != m_value)
        return true;

    if (m_type == Contains || m_type == NotContains) {
        if (value.typeId() != QMetaType::QString && m_value.typeId() != QMetaType::QString)
            return false;
        const bool found = value.toString().contains(m_value.toString(), Qt::CaseSensitive);
        return m_type == Contains ? found : !found;
    }

    switch (value.typeId()) {
    case QMetaType::Double:
        return compareAs(m_type, value.toDouble(), m_value.toDouble());
    case QMetaType::Float:
        return compareAs(m_type, value.toFloat(), m_value.toFloat());
    case QMetaType::Int:
        return compareAs(m_type, value.toInt(), m_value.toInt());
    default:
        return false;
    }
}

} // namespace ProxyOrm
