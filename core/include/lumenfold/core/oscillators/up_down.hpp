// Weighted up and down moves over a newest-first window, shared by the
// normalised RSI forms: change i (1-based) is entry i - 1 minus entry i, the
// newest change first. Zero and NaN changes add nothing.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// v when `keep`, else +0, through a bit mask: compilers keep a select of this
// form free of branches, which an unpredictable comparison needs.
inline double kept_or_zero(bool keep, double v) noexcept {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(keep);
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) & mask);
}

struct UpDown {
    double up = 0.0;
    double down = 0.0;
};

// `weight.times(d, i)` weights the size d of change i = 1..changes. The sums
// start at +0 and only grow, so adding +0 for the side a change does not
// take leaves them unchanged.
template <class Weight>
UpDown up_down_moves(const RingBuffer& window, std::uint64_t changes, Weight weight) noexcept {
    UpDown m;
    for (std::uint64_t i = 1; i <= changes; ++i) {
        const double d = window[i - 1] - window[i];
        const double size = weight.times(std::fabs(d), i);
        m.up = m.up + kept_or_zero(d > 0.0, size);
        m.down = m.down + kept_or_zero(d < 0.0, size);
    }
    return m;
}

// Every change counts once.
struct UnitWeight {
    double times(double d, std::uint64_t) const noexcept { return d; }
};

}  // namespace lumenfold::core
