// Trendflex: the mean distance of the newest super-smoothed price (period
// length/2, rounded down) from each of the `length` smoothed values before it,
// scored against its own exponentially weighted root mean square (see
// FlexOscillator). Bars 1 to `length` return 0.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/oscillators/flex.hpp"

namespace lumenfold::core {

struct TrendflexSum {
    static double of(const RingBuffer& w, std::uint64_t n) noexcept {
        const double filt = w[0];
        double sum = 0.0;
        for (std::uint64_t i = 1; i <= n; ++i) sum = sum + (filt - w[i]);
        return sum;
    }
};

class Trendflex : public FlexOscillator<TrendflexSum> {
public:
    using FlexOscillator::FlexOscillator;
};

}  // namespace lumenfold::core
