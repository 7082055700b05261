// Ehlers filter: a nonlinear FIR smoother over the last `length` inputs whose
// weight for each is the sum of its squared distances to the length - 1
// inputs before it, so values that stand apart from their predecessors (a
// move) weigh more than values inside a quiet range. It reads the 2L - 1
// newest inputs; outputs 1 to 2L - 2 are the inputs, and so is every output
// whose weights are all zero (length 0 or 1, a flat window).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Ehlers filter of the bars whose windows of 2p - 1 inputs end at x[k + 2p - 2]
// (k < count), w_c = x[k + 2p - 2 - c] newest first: for c = 0 .. p-1 in
// order, coef = sum over j = 1 .. p-1 of (w_c - w_{c+j})^2 from 0,
// num += w_c * coef, den += coef; out[k] = den == 0 ? w_0 : num / den. p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* out)> ehlers_filter_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class EhlersFilter {
public:
    explicit EhlersFilter(std::uint64_t length) : window_(window_size(length, 2, 0)), length_(length) {}

    double next(double x) noexcept {
        window_.push(x);
        const std::uint64_t n = length_;
        if (n == 0 || window_.len() < 2 * n - 1) return x;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t c = 0; c < n; ++c) {
            const double wc = window_[c];
            double coef = 0.0;
            for (std::uint64_t k = 1; k < n; ++k) {
                const double d = wc - window_[c + k];
                coef = coef + d * d;
            }
            num = num + wc * coef;
            den = den + coef;
        }
        return den == 0.0 ? x : num / den;
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: the inputs themselves until a window is full, then every
    // bar's weighted mean read from the series in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t length = static_cast<std::size_t>(length_);
        const std::size_t partial = length == 0 ? n : std::min(2 * length - 2, n);
        pass_inputs(out, x, partial);
        if (length == 0) return;
        lanes::run_chunks(out, 2 * length - 2, partial, [&](std::size_t count, double* r, const double* v) {
            lanes::ehlers_filter_outputs(v, count, length, r);
        }, x);
    }

    std::uint64_t length() const noexcept { return length_; }

private:
    FirWindow window_;  // last 2·length inputs, newest at the front
    std::uint64_t length_;
};

}  // namespace lumenfold::core
