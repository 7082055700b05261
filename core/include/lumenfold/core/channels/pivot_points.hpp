// Classic floor-trader pivot points from the previous bar: the pivot
// p = (close + low + high)/3, resistances r1 = 2p − low and r2 = p + range,
// supports s1 = 2p − high and s2 = p − range. The first bar, which has no
// previous bar, gives five zeros; a bar never enters its own levels.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Floor-trader pivot levels of n bars read big-endian, written as records of
// five big-endian doubles: record k holds p = (close + (low + high)) / 3 of
// bar k, then p + p - low, p + p - high, (high - low) + p and p - (high - low).
extern const Kernel<void(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n, std::uint8_t* be)> pivot_levels;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct PivotPointsOutput {
    double p;
    double r1;
    double s1;
    double r2;
    double s2;
};

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

    // Batch form: bar 0 is stepped, every later bar's levels read the bar
    // before it straight from the series.
    void batch(BigEndianOut out, BigEndianSeries high, BigEndianSeries low, BigEndianSeries close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        const PivotPointsOutput first = next(high[0], low[0], close[0]);
        put(out, 0, first);
        lanes::pivot_levels(high.bytes(), low.bytes(), close.bytes(), n - 1, out.bytes() + 40);
    }

private:
    static void put(BigEndianOut out, std::size_t t, const PivotPointsOutput& o) noexcept {
        out.put(5 * t, o.p);
        out.put(5 * t + 1, o.r1);
        out.put(5 * t + 2, o.s1);
        out.put(5 * t + 3, o.r2);
        out.put(5 * t + 4, o.s2);
    }

    std::optional<double> prev_high_;
    std::optional<double> prev_low_;
    std::optional<double> prev_close_;
};

}  // namespace lumenfold::core
