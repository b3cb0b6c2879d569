#pragma once

namespace ProxyOrm {

// Aggregate kinds of the grouped column sources.
enum class TypeAggregate : int {
    Count = 0,
    Sum = 1,
    Average = 2,
    Min = 3,
    Max = 4,
    First = 5,
    Last = 6,
};

} // namespace ProxyOrm
