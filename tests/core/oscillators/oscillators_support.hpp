// Helpers shared by the oscillator tests.
#pragma once

#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

#include "classic/classic_support.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace oscillators_support {

// Element by element bitwise equality, every NaN equal to every NaN.
inline void expect_same(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(classic_support::same(a[i], b[i])) << i << ": " << a[i] << " " << b[i];
    }
}

inline std::vector<double> with_nan_at(std::vector<double> xs, std::size_t i) {
    xs[i] = lumenfold::core::kNaN;
    return xs;
}

}  // namespace oscillators_support
