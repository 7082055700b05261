// Projections of a sequence of terms onto the cosine and sine of integer
// periods, shared by the spectral cycle measures: for the period p and the
// term index k (k = first, first + 1, ...), the angle is (k·2pi)/p, and
//   re = Σ value_k·cos θ, im = Σ value_k·sin θ,
// summed in ascending k from +0.0.
//
// The angles depend only on the periods and the term count, which are fixed
// for an indicator's life, so their cosines and sines are tabulated once when
// the table stays small; larger sweeps evaluate them per term. Both paths use
// the very same cos/sin values and summation order, so they agree to the bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct Projection {
    double re;
    double im;
};

class PeriodBasis {
public:
    // Periods lower..=upper (none when lower > upper), `terms` terms each,
    // the first of index `first`.
    PeriodBasis(std::uint64_t lower, std::uint64_t upper, std::uint64_t first, std::uint64_t terms)
        : lower_(lower), upper_(upper), first_(first), terms_(terms) {
        if (lower > upper) return;
        const std::uint64_t span = upper - lower;  // periods - 1, never wraps
        if (span >= kMaxTabulated || (terms != 0 && span + 1 > kMaxTabulated / terms)) return;
        const std::uint64_t periods = span + 1;
        table_.resize(periods * terms * 2);
        for (std::uint64_t j = 0; j < periods; ++j) {
            double* row = table_.data() + j * terms * 2;
            for (std::uint64_t i = 0; i < terms; ++i) {
                const double t = angle(lower + j, first + i);
                row[2 * i] = std::cos(t);
                row[2 * i + 1] = std::sin(t);
            }
        }
        tabulated_ = true;
    }

    // Calls f(p, projection of value(i), i = 0..terms-1) for every period p,
    // lowest first. Each sum runs in its own order; tabulated periods are
    // taken four at a time so that their sums advance side by side.
    template <class Value, class F>
    void each(Value&& value, F&& f) const {
        if (lower_ > upper_) return;
        if (!tabulated_) {
            for (std::uint64_t p = lower_;; ++p) {
                double re = 0.0;
                double im = 0.0;
                for (std::uint64_t i = 0; i < terms_; ++i) {
                    const double v = value(i);
                    const double t = angle(p, first_ + i);
                    re = re + v * std::cos(t);
                    im = im + v * std::sin(t);
                }
                f(p, Projection{re, im});
                if (p == upper_) break;
            }
            return;
        }
        const std::uint64_t periods = upper_ - lower_ + 1;
        const std::uint64_t stride = terms_ * 2;
        std::uint64_t j = 0;
        for (; j + 4 <= periods; j += 4) {
            const double* row = table_.data() + j * stride;
            double re[4] = {0.0, 0.0, 0.0, 0.0};
            double im[4] = {0.0, 0.0, 0.0, 0.0};
            for (std::uint64_t i = 0; i < terms_; ++i) {
                const double v = value(i);
                for (int g = 0; g < 4; ++g) {
                    re[g] = re[g] + v * row[g * stride + 2 * i];
                    im[g] = im[g] + v * row[g * stride + 2 * i + 1];
                }
            }
            for (int g = 0; g < 4; ++g) f(lower_ + j + g, Projection{re[g], im[g]});
        }
        for (; j < periods; ++j) {
            const double* row = table_.data() + j * stride;
            double re = 0.0;
            double im = 0.0;
            for (std::uint64_t i = 0; i < terms_; ++i) {
                const double v = value(i);
                re = re + v * row[2 * i];
                im = im + v * row[2 * i + 1];
            }
            f(lower_ + j, Projection{re, im});
        }
    }

    // The angle of term k at the period: (k·2pi)/period.
    static double angle(std::uint64_t period, std::uint64_t k) noexcept {
        return (to_f64(k) * kTwoPi) / to_f64(period);
    }

private:
    // Up to 2^16 (cos, sin) pairs: 1 MiB.
    static constexpr std::uint64_t kMaxTabulated = std::uint64_t{1} << 16;

    std::uint64_t lower_;
    std::uint64_t upper_;
    std::uint64_t first_;
    std::uint64_t terms_;
    bool tabulated_ = false;
    std::vector<double> table_;  // per period, per term: cos, sin
};

}  // namespace lumenfold::core
