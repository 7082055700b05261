// Accumulation/distribution oscillator: fast minus slow exponential average of
// the A/D line, both seeded with the simple mean of their first `period` inputs
// and stepped with a fused multiply-add. NaN until both averages are seeded
// (first value at bar max(fast, slow) - 1); a period of 0 gives NaN throughout.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/classic/ad.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/talib.hpp"

namespace lumenfold::core {

class ADOSC {
public:
    // The periods are used in the order given, not sorted.
    ADOSC(std::uint64_t fast, std::uint64_t slow) : fast_ema_(fast), slow_ema_(slow), fast_(fast), slow_(slow) {}

    double next(double high, double low, double close, double volume) noexcept {
        ad_ = ad_step(ad_, high, low, close, volume);
        // Both averages step on every bar, also while the other is warming up.
        const double fast = fast_ema_.next(ad_);
        const double slow = slow_ema_.next(ad_);
        if (std::isnan(fast) || std::isnan(slow)) return kNaN;
        return fast - slow;
    }

    std::uint64_t fast() const noexcept { return fast_; }
    std::uint64_t slow() const noexcept { return slow_; }

private:
    TalibEma fast_ema_;
    TalibEma slow_ema_;
    std::uint64_t fast_;
    std::uint64_t slow_;
    double ad_ = 0.0;
};

}  // namespace lumenfold::core
