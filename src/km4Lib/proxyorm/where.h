#pragma once

#include <QVariant>

namespace ProxyOrm {

// One comparison of a cell value against a stored value. Only int, float and double tested values
// are ordered; text is matched with Contains and NotContains.
class Where
{
public:
    enum TypeComparison : int {
        Equal = 0,
        NotEqual = 1,
        Less = 2,
        LessOrEqual = 3,
        Greater = 4,
        GreaterOrEqual = 5,
        IsNull = 6,
        Contains = 7,
        NotContains = 8,
    };

    Where(TypeComparison type, QVariant value);
    Where(const Where &other) = default;
    Where &operator=(const Where &other) = default;

    virtual bool isAccepted(QVariant value) const;

    TypeComparison type() const { return m_type; }
    QVariant value() const { return m_value; }

protected:
    QVariant m_value;
    TypeComparison m_type;
};

} // namespace ProxyOrm
