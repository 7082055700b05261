// Classic four-stage Laguerre smoother: an exponential stage on the price and
// three all-pass stages sharing the damping factor gamma; output
// (L0 + 2·L1 + 2·L2 + L3)/6. The first input sets every stage and is returned.
#pragma once

#include <cstdint>

namespace lumenfold::core {

class ClassicLaguerre {
public:
    explicit ClassicLaguerre(double gamma) noexcept : gamma_(gamma) {}

    double next(double x) noexcept {
        const double g = gamma_;
        if (count_++ == 0) {
            l0_ = l1_ = l2_ = l3_ = x;
            return x;
        }
        const double n0 = l0_ * g + x * (1.0 - g);
        const double n1 = l1_ * g + (l0_ - g * n0);
        const double n2 = l2_ * g + (l1_ - g * n1);
        const double n3 = l3_ * g + (l2_ - g * n2);
        l0_ = n0;
        l1_ = n1;
        l2_ = n2;
        l3_ = n3;
        return (((n0 + (n1 + n1)) + (n2 + n2)) + n3) / 6.0;
    }

private:
    double gamma_;
    double l0_ = 0.0;
    double l1_ = 0.0;
    double l2_ = 0.0;
    double l3_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
