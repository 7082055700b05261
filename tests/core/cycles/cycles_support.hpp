// Series and a record-collecting run shared by the cycle tests.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::test {

// Trend plus a jagged, non-periodic component.
inline std::vector<double> jagged(int n) {
    std::vector<double> xs;
    for (int i = 0; i < n; ++i) xs.push_back(100 + 0.3 * i + ((i * 7919) % 23) * 0.41 - (i % 5) * 0.7);
    return xs;
}

// 100 plus a sine wave of `period` bars, starting at its zero crossing.
inline std::vector<double> sine(int n, double period, double amplitude = 10.0) {
    std::vector<double> xs;
    for (int i = 0; i < n; ++i) xs.push_back(100.0 + amplitude * std::sin((i * core::kTwoPi) / period));
    return xs;
}

// Feeds every value to a fresh copy of `ind` and collects its outputs.
template <class T>
auto outputs(T ind, const std::vector<double>& xs) {
    std::vector<decltype(ind.next(0.0))> out;
    out.reserve(xs.size());
    for (double x : xs) out.push_back(ind.next(x));
    return out;
}

}  // namespace lumenfold::test
