// T3 moving average: six chained mean-seeded exponential averages combined with
// weights from the volume factor a (v_factor). NaN until 6(period - 1) accepted
// inputs have been seen; a NaN input yields NaN and changes nothing (the chain
// stops at the first stage that answers NaN). Period 0 yields NaN.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/talib.hpp"

namespace lumenfold::core {

class T3 {
public:
    T3(std::uint64_t period, double v_factor)
        : stages_{TalibEma(period), TalibEma(period), TalibEma(period),
                  TalibEma(period), TalibEma(period), TalibEma(period)},
          v_factor_(v_factor) {
        // The weights depend on the factor alone; computed once, in the same
        // operation order as a per-bar computation would use.
        const double a = v_factor;
        a3_ = a * (a * a);
        const double t = a * 3.0;
        const double s = a * t;
        const double u = a3_ * 3.0;
        c2_ = s + u;
        c3_ = ((a * (a * -6.0)) - t) - u;
        c4_ = s + (a3_ + (t + 1.0));
    }

    double next(double x) noexcept {
        std::array<double, 6> e;
        double v = x;
        for (std::size_t i = 0; i < 6; ++i) {
            v = stages_[i].next(v);
            if (std::isnan(v)) return kNaN;
            e[i] = v;
        }
        return e[2] * c4_ + ((e[4] * c2_ - e[5] * a3_) + e[3] * c3_);
    }

    std::uint64_t period() const noexcept { return stages_[0].period(); }
    double v_factor() const noexcept { return v_factor_; }

private:
    std::array<TalibEma, 6> stages_;
    double v_factor_;
    double a3_ = 0.0;
    double c2_ = 0.0;
    double c3_ = 0.0;
    double c4_ = 0.0;
};

}  // namespace lumenfold::core
