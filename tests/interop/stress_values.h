#pragma once
// The values the sample writers store: each sequence starts with the values readers get
// wrong (extremes, signed zero, infinities, NaN, denormals), then pseudo-random bit patterns.
#include <bit>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <type_traits>

// Element `i` of the sequence for type T.
template <class T>
T stress_value(uint64_t i)
{
    using L = std::numeric_limits<T>;
    if constexpr (std::is_same_v<T, bool>) {
        return (i * 7 + i / 3) % 2 == 1;
    } else if constexpr (std::is_integral_v<T>) {
        const T special[] = {L::min(), L::max(), T(0), T(-1), T(L::min() + 1), T(L::max() - 1)};
        if (i < std::size(special)) return special[i];
        return static_cast<T>(std::mt19937_64(i)());
    } else {
        const T special[] = {-T(0), L::infinity(), -L::infinity(), L::quiet_NaN(), L::denorm_min(), -L::min(),
                             L::max(), L::lowest(), T(0.1), T(1) / T(3)};
        if (i < std::size(special)) return special[i];
        using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        const T x = std::bit_cast<T>(static_cast<U>(std::mt19937_64(i)()));
        return x == x ? x : T(i);
    }
}
