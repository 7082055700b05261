// Classic floor-trader pivot points from the previous bar: the pivot
// p = (close + low + high)/3, resistances r1 = 2p − low and r2 = p + range,
// supports s1 = 2p − high and s2 = p − range. The first bar, which has no
// previous bar, gives five zeros; a bar never enters its own levels.
#pragma once

#include <optional>

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

private:
    std::optional<double> prev_high_;
    std::optional<double> prev_low_;
    std::optional<double> prev_close_;
};

}  // namespace lumenfold::core
