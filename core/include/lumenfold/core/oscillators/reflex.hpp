// Reflex: like Trendflex, but each of the `length` older smoothed values is
// measured against the straight line from the value `length` bars back to the
// newest one, so the linear trend over the window drops out (see
// FlexOscillator). Bars 1 to `length` return 0.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/oscillators/flex.hpp"

namespace lumenfold::core {

struct ReflexSum {
    static double of(const RingBuffer& w, std::uint64_t n) noexcept {
        const double filt = w[0];
        const double slope = (w[n] - filt) / to_f64(n);
        double sum = 0.0;
        for (std::uint64_t i = 1; i <= n; ++i) sum = sum + ((filt + slope * to_f64(i)) - w[i]);
        return sum;
    }
};

class Reflex : public FlexOscillator<ReflexSum> {
public:
    using FlexOscillator::FlexOscillator;
};

}  // namespace lumenfold::core
