// Laguerre RSI: the up and down steps between the four stages of a Laguerre
// filter with damping gamma, as CU/(CU + CD) in [0, 1]. The first input seeds
// every stage and returns 0; a zero sum of steps also reads 0. With gamma 0
// the stages are a delay line and the output covers the last three changes.
#pragma once

#include "lumenfold/core/filters/classic_laguerre.hpp"
#include "lumenfold/core/oscillators/up_down.hpp"

namespace lumenfold::core {

class LaguerreRSI {
public:
    explicit LaguerreRSI(double gamma) noexcept : stages_(gamma) {}

    double next(double x) noexcept {
        if (stages_.next(x)) return 0.0;
        double cu = 0.0;
        double cd = 0.0;
        // Equal stages add 0 to CU; a NaN comparison takes the CD side. The
        // sums start at +0 and never reach -0, so adding +0 to the side a
        // step does not take leaves them unchanged.
        const auto step = [&](double a, double b) {
            const bool up = a >= b;
            cu = cu + kept_or_zero(up, a - b);
            cd = cd + kept_or_zero(!up, b - a);
        };
        const LaguerreStages& s = stages_;
        step(s.l0, s.l1);
        step(s.l1, s.l2);
        step(s.l2, s.l3);
        const double sum = cu + cd;
        double r = cu / sum;
        if (sum == 0.0) r = 0.0;
        if (r < 0.0) r = 0.0;
        if (r > 1.0) r = 1.0;
        return r;
    }

    double gamma() const noexcept { return stages_.gamma(); }

private:
    LaguerreStages stages_;
};

}  // namespace lumenfold::core
