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
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core::lanes {

// Projections on a term-major table (row i of `stride` entries holds term i
// of every period): re[j] = Σ values[i]·cos_t[i·stride + j] and im[j] the
// same over sin_t, both summed in ascending i from +0, for j < stride.
extern const Kernel<void(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms, const double* values, double* re, double* im)> period_projections;

}  // namespace lumenfold::core::lanes

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
        stride_ = (periods + kColumns - 1) / kColumns * kColumns;
        resize(cos_, stride_ * terms);
        resize(sin_, stride_ * terms);
        for (std::uint64_t j = 0; j < periods; ++j) {
            for (std::uint64_t i = 0; i < terms; ++i) {
                const double t = angle(lower + j, first + i);
                cos_[i * stride_ + j] = std::cos(t);
                sin_[i * stride_ + j] = std::sin(t);
            }
        }
        resize(values_, terms);
        resize(re_, stride_);
        resize(im_, stride_);
        tabulated_ = true;
    }

    // Calls f(p, projection of value(i), i = 0..terms-1) for every period p,
    // lowest first. Each sum runs in its own order; tabulated periods run
    // side by side in SIMD lanes.
    template <class Value, class F>
    void each(Value&& value, F&& f) {
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
        for (std::uint64_t i = 0; i < terms_; ++i) values_[i] = value(i);
        lanes::period_projections(cos_.data(), sin_.data(), stride_, terms_, values_.data(), re_.data(), im_.data());
        const std::uint64_t periods = upper_ - lower_ + 1;
        for (std::uint64_t j = 0; j < periods; ++j) f(lower_ + j, Projection{re_[j], im_[j]});
    }

    // Whether the angles are tabulated, and the tables: row i holds the
    // cosines (sines) of term first + i at the periods lower, lower + 1, ...,
    // padded with zeros to `stride` columns.
    bool tabulated() const noexcept { return tabulated_; }
    const double* cosines() const noexcept { return cos_.data(); }
    const double* sines() const noexcept { return sin_.data(); }
    std::uint64_t stride() const noexcept { return stride_; }

    // The angle of term k at the period: (k·2pi)/period.
    static double angle(std::uint64_t period, std::uint64_t k) noexcept {
        return (to_f64(k) * kTwoPi) / to_f64(period);
    }

private:
    // Up to 2^16 (cos, sin) pairs: about 1 MiB.
    static constexpr std::uint64_t kMaxTabulated = std::uint64_t{1} << 16;
    // Table rows are whole vectors of lanes on every instruction set.
    static constexpr std::uint64_t kColumns = 8;

    std::uint64_t lower_;
    std::uint64_t upper_;
    std::uint64_t first_;
    std::uint64_t terms_;
    bool tabulated_ = false;
    std::uint64_t stride_ = 0;
    std::vector<double> cos_;     // per term, per period
    std::vector<double> sin_;
    std::vector<double> values_;  // scratch: the terms' values, then the projections
    std::vector<double> re_;
    std::vector<double> im_;
};

}  // namespace lumenfold::core
