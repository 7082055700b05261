// Laguerre filter: an ultimate smoother stage of period `length` followed by
// five stages, each an exponential smoothing (factor gamma) of the previous
// bar's value of the stage before it. Output
// ((((y + 4·L1) + 6·L2) + 4·L3) + L5)/16 with y the smoother output; L4 enters
// only through L5. The first bar sets every stage to the smoother output and
// returns it, so there is no warm-up placeholder.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/ultimate_smoother.hpp"

namespace lumenfold::core {

class LaguerreFilter {
public:
    LaguerreFilter(std::uint64_t length, double gamma) noexcept : smoother_(length), gamma_(gamma) {}

    double next(double x) noexcept {
        const double y = smoother_.next(x);
        if (count_++ == 0) {
            l0_ = l1_ = l2_ = l3_ = l4_ = l5_ = y;
            return y;
        }
        const double g = gamma_;
        const double n1 = (l0_ - g * l0_) + g * l1_;
        const double n2 = (l1_ - g * l1_) + g * l2_;
        const double n3 = (l2_ - g * l2_) + g * l3_;
        const double n4 = (l3_ - g * l3_) + g * l4_;
        const double n5 = (l4_ - g * l4_) + g * l5_;
        l1_ = n1;
        l2_ = n2;
        l3_ = n3;
        l4_ = n4;
        l5_ = n5;
        l0_ = y;
        return ((((y + n1 * 4.0) + n2 * 6.0) + n3 * 4.0) + n5) * 0.0625;
    }

private:
    UltimateSmoother smoother_;
    double gamma_;
    double l0_ = 0.0;
    double l1_ = 0.0;
    double l2_ = 0.0;
    double l3_ = 0.0;
    double l4_ = 0.0;
    double l5_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
