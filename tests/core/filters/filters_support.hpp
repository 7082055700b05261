// Helpers shared by the filter test files.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "support.hpp"

namespace lumenfold::test {

// base + amplitude·sin(frequency·i) + drift·i for i = 0..n-1.
inline std::vector<double> wave(std::size_t n, double base, double amplitude, double frequency, double drift) {
    std::vector<double> xs;
    xs.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        xs.push_back(base + amplitude * std::sin(frequency * t) + drift * t);
    }
    return xs;
}

// `make` must fail as a window too large to allocate.
template <class F>
void expect_capacity_overflow(F make) {
    expect_panic(make, "capacity overflow");
}

}  // namespace lumenfold::test
