// Weighted up and down moves over a newest-first window, shared by the
// normalised RSI forms: change i (1-based) is entry i - 1 minus entry i, the
// newest change first. Zero and NaN changes add nothing.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

struct UpDown {
    double up = 0.0;
    double down = 0.0;
};

// `weight(i)` gives the weight of change i = 1..changes.
template <class Weight>
UpDown up_down_moves(const RingBuffer& window, std::uint64_t changes, Weight weight) noexcept {
    UpDown m;
    for (std::uint64_t i = 1; i <= changes; ++i) {
        const double d = window[i - 1] - window[i];
        if (d > 0.0) {
            m.up = m.up + weight.times(d, i);
        } else if (d < 0.0) {
            m.down = m.down + weight.times(std::fabs(d), i);
        }
    }
    return m;
}

// Every change counts once.
struct UnitWeight {
    double times(double d, std::uint64_t) const noexcept { return d; }
};

}  // namespace lumenfold::core
