// Classic floor-trader pivot points from the previous bar: the pivot
// p = (close + low + high)/3, resistances r1 = 2p − low and r2 = p + range,
// supports s1 = 2p − high and s2 = p − range. The first bar, which has no
// previous bar, gives five zeros; a bar never enters its own levels.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct PivotPointsOutput {
    double p;
    double r1;
    double s1;
    double r2;
    double s2;
};

}  // namespace lumenfold::core

namespace lumenfold::core::lanes {

// Floor-trader pivot levels of bars k < count: out[k] holds p = (close +
// (low + high)) / 3 of bar k, then p + p - low, p + p - high, (high - low) + p
// and p - (high - low).
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, PivotPointsOutput* out)> pivot_levels;

// The levels of a chunk, as a per-bar map (map_bars).
struct PivotLevelMap {
    void operator()(std::size_t count, PivotPointsOutput* out, const double* high, const double* low,
                    const double* close) const {
        pivot_levels(high, low, close, count, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class PivotPoints {
public:
    PivotPointsOutput next(double high, double low, double close) noexcept {
        PivotPointsOutput out{0.0, 0.0, 0.0, 0.0, 0.0};
        if (prev_high_ && prev_low_ && prev_close_) {
            const double ph = *prev_high_;
            const double pl = *prev_low_;
            const double p = (*prev_close_ + (pl + ph)) / 3.0;
            const double two_p = p + p;
            const double range = ph - pl;
            out = {p, two_p - pl, two_p - ph, range + p, p - range};
        }
        prev_high_ = high;
        prev_low_ = low;
        prev_close_ = close;
        return out;
    }

    bool batch_ready() const noexcept { return !prev_high_; }

    // Batch form: bar 0 is stepped, every later bar's levels read the bar
    // before it from the series, chunk by chunk in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        out.put(0, next(high[0], low[0], close[0]));
        lanes::map_bars<PivotPointsOutput>(out, 1, 1, lanes::PivotLevelMap{}, high, low, close);
    }

private:
    std::optional<double> prev_high_;
    std::optional<double> prev_low_;
    std::optional<double> prev_close_;
};

}  // namespace lumenfold::core
