#pragma once

#include "where.h"

#include <QList>

namespace ProxyOrm {

// A disjunction of comparisons: accepts what any of its alternatives accepts, asking them in order.
class OrWhere : public Where
{
public:
    explicit OrWhere(QList<Where> wheres = {});
    OrWhere(const Where &w1, const Where &w2);
    OrWhere(const Where &w1, const Where &w2, const Where &w3);
    OrWhere(const Where &w1, const Where &w2, const Where &w3, const Where &w4);
    OrWhere(const Where &w1, const Where &w2, const Where &w3, const Where &w4, const Where &w5);
    OrWhere(const OrWhere &other) = default;
    OrWhere &operator=(const OrWhere &other) = default;

    bool isAccepted(QVariant value) const override;

    QList<Where> wheres() const { return m_wheres; }

private:
    QList<Where> m_wheres;
};

} // namespace ProxyOrm
