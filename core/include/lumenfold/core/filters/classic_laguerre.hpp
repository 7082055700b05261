// Classic four-stage Laguerre smoother: an exponential stage on the price and
// three all-pass stages sharing the damping factor gamma; output
// (L0 + 2·L1 + 2·L2 + L3)/6. The first input sets every stage and is returned.
#pragma once

#include <cstdint>

namespace lumenfold::core {

// The four stages with damping gamma. The first input seeds every stage;
// each later one advances them in order, each from the previous bar's values.
class LaguerreStages {
public:
    explicit LaguerreStages(double gamma) noexcept : gamma_(gamma) {}

    // True on the first input (the stages were only seeded).
    bool next(double x) noexcept {
        const double g = gamma_;
        if (count_++ == 0) {
            l0 = l1 = l2 = l3 = x;
            return true;
        }
        const double n0 = l0 * g + x * (1.0 - g);
        const double n1 = l1 * g + (l0 - g * n0);
        const double n2 = l2 * g + (l1 - g * n1);
        const double n3 = l3 * g + (l2 - g * n2);
        l0 = n0;
        l1 = n1;
        l2 = n2;
        l3 = n3;
        return false;
    }

    double gamma() const noexcept { return gamma_; }

    double l0 = 0.0;
    double l1 = 0.0;
    double l2 = 0.0;
    double l3 = 0.0;

private:
    double gamma_;
    std::uint64_t count_ = 0;
};

class ClassicLaguerre {
public:
    explicit ClassicLaguerre(double gamma) noexcept : stages_(gamma) {}

    double next(double x) noexcept {
        if (stages_.next(x)) return x;
        const LaguerreStages& s = stages_;
        return (((s.l0 + (s.l1 + s.l1)) + (s.l2 + s.l2)) + s.l3) / 6.0;
    }

private:
    LaguerreStages stages_;
};

}  // namespace lumenfold::core
