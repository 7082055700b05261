// Autocorrelation: the price is smoothed by an ultimate smoother of period 20
// (its first three inputs pass through), and every bar returns the Pearson
// correlation of the last `length` smoothed values with the `length` values
// k bars further back, for the lags k = 0..num_lags-1. Before the first input
// the history reads as zeros, so there is no warm-up. A segment without
// variance (constant, too short, or NaN) gives 1 at lag 0 and 0 elsewhere.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "lumenfold/core/cycles/contiguous_window.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Correlations of the newest `length` values of w (newest first) with the
// values k bars further back, for k < lags: sab = Σ w[i]·w[i + k] in
// ascending i from +0, then out[k] = (sab·n - sa·sb[k]) / sqrt(dx·dy[k])
// where dy[k] > 0, else +0. w holds length + lags - 1 values.
extern const Kernel<void(const double* w, std::size_t length, std::size_t lags, double n, double sa, double dx, const double* sb, const double* dy, double* out)> lag_correlations;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class EhlersAutocorrelation {
public:
    EhlersAutocorrelation(std::uint64_t length, std::uint64_t num_lags)
        : window_(history(length, num_lags)),
          sums_(num_lags),
          spreads_(num_lags),
          length_(length),
          num_lags_(num_lags) {}

    std::vector<double> next(double x) {
        window_.push_front(smoother_.next(x));
        std::vector<double> out = sized_vector<double>(num_lags_, 0.0);
        correlate(out.data());
        return out;
    }

    // Batch form: the step bar by bar, every row formed in one vector; it
    // runs from any state.
    std::uint64_t batch_row_length() const noexcept { return num_lags_; }
    bool batch_ready() const noexcept { return true; }

    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        if (n == 0) return;
        std::vector<double> row = sized_vector<double>(num_lags_);
        for (std::size_t t = 0; t < n; ++t) {
            window_.push_front(smoother_.next(x[t]));
            correlate(row.data());
            out.put(t, std::span<const double>(row));
        }
    }

private:
    // length + num_lags values are kept; a sum that wraps cannot be sized.
    static std::uint64_t history(std::uint64_t length, std::uint64_t num_lags) {
        if (length + num_lags < length) throw_capacity_overflow();
        return length + num_lags;
    }

    // The num_lags correlations of the window as it stands.
    //
    // The segment k bars back is the lag-0 segment of the bar k bars ago, so
    // its sum and spread (n·Σb² - (Σb)²) are that bar's Σa and dx, the very
    // same operations on the very same values: they are kept from those bars
    // (zeros, like the history, before the first) instead of summed again.
    void correlate(double* out) {
        const std::size_t m = static_cast<std::size_t>(num_lags_);
        if (m == 0) return;
        // No variance: 1 at lag 0, 0 elsewhere.
        const auto flat = [out, m] {
            out[0] = 1.0;
            std::fill(out + 1, out + m, 0.0);
        };
        if (length_ == 0) return flat();
        const double* w = window_.data();
        const double n = to_f64(length_);
        double sa = 0.0;
        double saa = 0.0;
        for (std::uint64_t i = 0; i < length_; ++i) {
            const double a = w[i];
            sa = sa + a;
            saa = saa + a * a;
        }
        const double dx = saa * n - sa * sa;
        sums_.push_front(sa);
        spreads_.push_front(dx);
        if (!(dx > 0.0)) return flat();
        // Lag 0's spread is dx itself, so its correlation is always formed.
        lanes::lag_correlations(w, static_cast<std::size_t>(length_), m, n, sa, dx, sums_.data(), spreads_.data(), out);
    }

    ContiguousWindow window_;   // smoothed values, newest first, zeros before the first input
    ContiguousWindow sums_;     // Σa of the lag-0 segment of the last num_lags bars, newest first
    ContiguousWindow spreads_;  // dx of the same bars
    std::uint64_t length_;
    std::uint64_t num_lags_;
    UltimateSmoother smoother_{20};
};

}  // namespace lumenfold::core
