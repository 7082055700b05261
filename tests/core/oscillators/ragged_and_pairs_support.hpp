// A ragged series and a two-input runner, shared by oscillator tests.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "cycles/cycles_support.hpp"

namespace lumenfold::test {

// A trend plus a jagged, non-periodic component (bent from the first bars on).
inline std::vector<double> ragged(std::size_t n, double base = 100.0) {
    std::vector<double> xs;
    xs.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        xs.push_back(base + 0.3 * t + static_cast<double>((i * 7919) % 23) * 0.41 - static_cast<double>(i % 5) * 0.7 +
                     static_cast<double>((i * i) % 7) * 0.5);
    }
    return xs;
}

// `outputs` for two-input indicators, over the pairs (a[k], b[k]).
template <class T>
auto each2(T ind, const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<decltype(ind.next(0.0, 0.0))> out;
    out.reserve(a.size());
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) out.push_back(ind.next(a[k], b[k]));
    return out;
}

}  // namespace lumenfold::test
