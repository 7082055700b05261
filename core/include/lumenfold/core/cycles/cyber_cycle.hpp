// Cyber cycle: the cycle component of a price series, the alpha-form two-pole
// high-pass with alpha = 2/(length + 1) run on the weighted price
// (x + 2·x1 + 2·x2 + x3)/6. Bars 1 to 6 give the price difference
// ((x - 2·x1) + x2)/4 instead (missing prices count as 0), while the smoothed
// prices already enter the recursion's history; the recursion runs from bar 7.
// The trigger is the previous bar's cycle value (0 on bar 1).
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/cycle_outputs.hpp"
#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class CyberCycle {
public:
    explicit CyberCycle(std::uint64_t length) noexcept
        : alpha_(2.0 / (to_f64(length) + 1.0)), rec_(RoofingHighPass::from_alpha(alpha_)) {}

    CyberCycleOutput next(double x) noexcept {
        const double smooth = (((x + (x1_ + x1_)) + (x2_ + x2_)) + x3_) / 6.0;
        const double trigger = cycle1_;
        const double cycle = count_ < 6 ? ((x - (x1_ + x1_)) + x2_) * 0.25 : rec_.value(smooth);
        x3_ = x2_;
        x2_ = x1_;
        x1_ = x;
        rec_.store(smooth, cycle);
        cycle1_ = cycle;
        if (count_ < 6) ++count_;
        return {cycle, trigger};
    }

    double alpha() const noexcept { return alpha_; }

private:
    double alpha_;
    RoofingHighPass rec_;  // history: the last two smoothed prices and cycle values
    double x1_ = 0.0;
    double x2_ = 0.0;
    double x3_ = 0.0;
    double cycle1_ = 0.0;
    std::uint64_t count_ = 0;  // bars before this one, held at 6 once running
};

}  // namespace lumenfold::core
