// Simple predictor: the price band-limited by a two-pole high-pass (period
// hp_len) and a super smoother (period lp_len), extrapolated by the
// second-order predictive filter (lp - 1.8q·lp1 + q²·lp2)/(1 - 1.8q + q²),
// which has unit gain at zero frequency. Bars 1 to 3 give 0 (the high-pass
// warms up) and bars 1 and 2 pass the smoothed value through unpredicted.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"

namespace lumenfold::core {

class SimplePredictor {
public:
    SimplePredictor(std::uint64_t hp_len, std::uint64_t lp_len, double q) noexcept
        : hp_(hp_len), lp_(lp_len), q_(q) {}

    double next(double x) noexcept {
        if (bars_ < 3) ++bars_;
        const double lp = lp_.next(hp_.next(x));
        const double out =
            bars_ > 2 ? ((lp - (1.8 * q_) * lp1_) + (q_ * q_) * lp2_) / ((1.0 - 1.8 * q_) + q_ * q_) : lp;
        lp2_ = lp1_;
        lp1_ = lp;
        return out;
    }

private:
    HighPass hp_;
    SuperSmoother lp_;
    double lp1_ = 0.0;
    double lp2_ = 0.0;
    double q_;
    std::uint64_t bars_ = 0;  // bars seen, held at 3
};

}  // namespace lumenfold::core
