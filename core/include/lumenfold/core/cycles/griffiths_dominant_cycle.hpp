// Griffiths dominant cycle: the period, among the integers lower..=upper,
// where the Griffiths adaptive filter's all-pole model is strongest, allowed
// to move by at most 2 bars per bar. Until the window first holds `length`
// values the output is (lower + upper)/2; among equal powers the lower period
// wins and a NaN power never does, so a NaN input freezes the output.
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/griffiths.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class GriffithsDominantCycle {
public:
    GriffithsDominantCycle(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : filter_(lower_bound, upper_bound, length),
          basis_(GriffithsFilter::basis(lower_bound, upper_bound, length)),
          lower_bound_(lower_bound),
          upper_bound_(upper_bound),
          cycle_(to_f64(lower_bound + upper_bound) * 0.5) {}

    double next(double x) {
        if (!filter_.push(x)) return cycle_;
        filter_.adapt();
        double best = 0.0;
        double candidate = cycle_;
        if (lower_bound_ <= upper_bound_) {
            for (std::uint64_t p = lower_bound_;; ++p) {
                const double power = filter_.power(basis_, p);
                if (power > best) {
                    best = power;
                    candidate = to_f64(p);
                }
                if (p == upper_bound_) break;
            }
        }
        const double prev = cycle_;
        if (candidate > prev + 2.0) {
            cycle_ = prev + 2.0;
        } else if (candidate < prev - 2.0) {
            cycle_ = prev - 2.0;
        } else {
            cycle_ = candidate;
        }
        return cycle_;
    }

private:
    GriffithsFilter filter_;
    PeriodBasis basis_;
    std::uint64_t lower_bound_;
    std::uint64_t upper_bound_;
    double cycle_;  // the last output
};

}  // namespace lumenfold::core
