#include "orwhere.h"

namespace ProxyOrm {

OrWhere::OrWhere(QList<Where> wheres)
    : Where(Equal, QVariant())
    , m_wheres(std::move(wheres))
{ }

OrWhere::OrWhere(const Where &w1, const Where &w2)
    : OrWhere(QList<Where> { w1, w2 })
{ }

OrWhere::OrWhere(const Where &w1, const Where &w2, const Where &w3)
    : OrWhere(QList<Where> { w1, w2, w3 })
{ }

OrWhere::OrWhere(const Where &w1, const Where &w2, const Where &w3, const Where &w4)
    : OrWhere(QList<Where> { w1, w2, w3, w4 })
{ }

OrWhere::OrWhere(
    const Where &w1, const Where &w2, const Where &w3, const Where &w4, const Where &w5)
    : OrWhere(QList<Where> { w1, w2, w3, w4, w5 })
{ }

bool OrWhere::isAccepted(QVariant value) const
{
    for (const Where &where : m_wheres) {
        if (where.isAccepted(value))
            return true;
    }
    return false;
}

} // namespace ProxyOrm
