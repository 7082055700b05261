// Griffiths spectrum and predictor. Both run the Griffiths adaptive filter: the
// price band-limited between the periods lower_bound and upper_bound,
// normalised, its last `length` values training a one-step linear predictor
// whose coefficients are read as an all-pole model.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "lumenfold/core/cycles/griffiths.hpp"
#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// out[k] = x[k] / den for k < count (out may be x).
extern const Kernel<void(const double* x, std::size_t count, double den, double* out)> relative_powers;

// Extrapolations of kPredictorModels all-pole models side by side, model j in
// column j of each row: coef_t holds rows 0..length-1, row k - 1 the
// coefficient k; work_t has room for 2·length rows, of which rows
// 0..length-1 hold the window vector's entries 1..length (the oldest first).
// Each of `steps` (>= 1) steps forms q = Σ w[length + 1 - k]·coef[k] over
// k = 1..length from +0 (coef[1] meets the newest value) and moves the window
// one place on, q its newest value; out[j] is the last q. work_t is
// overwritten.
inline constexpr std::size_t kPredictorModels = 32;
extern const Kernel<void(const double* coef_t, double* work_t, std::size_t length, std::uint64_t steps, double* out)> all_pole_extrapolations;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

// Griffiths spectrum: every bar, the power of the model at each integer period
// lower..=upper (lowest first), divided by the strongest so that it reads 1.
// The vector has upper - lower + 1 entries (wrapping: lower = upper + 1 gives
// empty vectors, a larger lower cannot be sized and fails with "capacity
// overflow"); it is all zeros before the window first holds `length` values and
// whenever no power is positive (a NaN model).
class GriffithsSpectrum {
public:
    GriffithsSpectrum(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : model_(lower_bound, upper_bound, length) {}

    std::vector<double> next(double x) {
        const bool adapted = model_.next(x);
        std::vector<double> out = sized_vector<double>(periods(), 0.0);
        if (!adapted || out.empty()) return out;  // empty: no period, or 2^64 of them
        normalised(out.data());
        return out;
    }

    // Batch form: the step bar by bar, every spectrum formed in one vector; it
    // runs from any state. A spectrum too wide to be sized has no row length:
    // the batch form then fails on its first bar, as the step does.
    std::uint64_t batch_row_length() const noexcept {
        return periods() <= std::vector<double>().max_size() ? periods() : 0;
    }
    bool batch_ready() const noexcept { return true; }

    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        if (n == 0) return;
        const std::vector<double> zeros = sized_vector<double>(periods(), 0.0);
        std::vector<double> row = sized_vector<double>(zeros.size());
        for (std::size_t t = 0; t < n; ++t) {
            if (!model_.next(x[t]) || row.empty()) {
                out.put(t, std::span<const double>(zeros));
                continue;
            }
            normalised(row.data());
            out.put(t, std::span<const double>(row));
        }
    }

private:
    // upper - lower + 1, wrapping.
    std::uint64_t periods() const noexcept { return model_.upper_bound() - model_.lower_bound() + 1; }

    // The adapted model's powers, lowest period first, divided by the
    // strongest; all zeros when no power is positive. `out` holds one value
    // per period.
    void normalised(double* out) {
        const std::size_t m = static_cast<std::size_t>(periods());
        double best = 0.0;
        const double* power = nullptr;
        if (model_.tabulated()) {
            power = model_.powers();
            lanes::strongest_power(power, m, best);
        } else {
            const std::uint64_t lower = model_.lower_bound();
            model_.sweep([&](std::uint64_t p, double v) {
                out[p - lower] = v;
                if (v > best) best = v;
            });
            power = out;
        }
        if (best == 0.0) {
            std::fill(out, out + m, 0.0);
        } else {
            lanes::relative_powers(power, m, best, out);
        }
    }

    GriffithsSweep model_;
};

// Griffiths predictor: after each adaptation, the model run `bars_fwd` bars
// past the newest normalised value, each prediction fed back as the newest; the
// output is the last prediction, in the filter's normalised units (not a
// price). 0 before the window fills and for bars_fwd = 0.
class GriffithsPredictor {
public:
    GriffithsPredictor(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length,
                       std::uint64_t bars_fwd)
        // The filter fails first for a length it cannot hold: 2·length cannot wrap.
        : filter_(lower_bound, upper_bound, length),
          bars_fwd_(bars_fwd),
          work_(sized_vector<double>(2 * length, 0.0)) {}

    double next(double x) {
        if (!filter_.push(x)) return 0.0;
        filter_.adapt();
        if (bars_fwd_ == 0) return 0.0;
        // work_[r0 .. r0 + n - 1] is the window vector's entries 1..n, oldest
        // first; each prediction joins at the newest end, and when the room
        // runs out the newest n - 1 entries move back to the start.
        const std::uint64_t n = filter_.length();
        for (std::uint64_t k = 1; k <= n; ++k) work_[k - 1] = filter_.input(k);
        const std::vector<double>& coef = filter_.coefficients();
        std::uint64_t r0 = 0;
        double q = 0.0;
        for (std::uint64_t step = 0; step < bars_fwd_ && n != 0; ++step) {
            // coef[1] meets the newest value.
            q = 0.0;
            for (std::uint64_t k = 1; k <= n; ++k) q = q + work_[r0 + n - k] * coef[k];
            if (r0 == n) {
                std::memmove(work_.data(), work_.data() + n + 1, (n - 1) * sizeof(double));
                r0 = static_cast<std::uint64_t>(-1);
            }
            work_[r0 + n] = q;
            ++r0;
        }
        return q;
    }

    // The batch form steps the filter: it runs from any state.
    bool batch_ready() const noexcept { return true; }

    // Batch form: the filter adapts bar by bar as in the step, and the
    // extrapolations, independent of one another once a bar's coefficients
    // and window are known, run kPredictorModels bars side by side in SIMD
    // lanes. Bars before the window fills give 0 (and every bar with no step
    // ahead or no coefficient); very long windows are stepped.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::uint64_t len = filter_.length();
        if (bars_fwd_ == 0 || len == 0 || len > kMaxBatchLength) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(x[t]));
            return;
        }
        constexpr std::size_t W = lanes::kPredictorModels;
        const std::size_t L = static_cast<std::size_t>(len);
        std::vector<double> coef_t(L * W, 0.0), work_t(2 * L * W, 0.0), q(W);
        std::size_t first = 0;  // the bar of column 0
        std::size_t cols = 0;
        for (std::size_t t = 0; t < n; ++t) {
            if (!filter_.push(x[t])) {
                out.put(t, 0.0);
                continue;
            }
            filter_.adapt();
            // Once full the window stays full: the columns are consecutive bars.
            if (cols == 0) first = t;
            const std::vector<double>& coef = filter_.coefficients();
            for (std::size_t k = 1; k <= L; ++k) {
                coef_t[(k - 1) * W + cols] = coef[k];
                work_t[(k - 1) * W + cols] = filter_.input(k);
            }
            if (++cols == W || t + 1 == n) {
                lanes::all_pole_extrapolations(coef_t.data(), work_t.data(), L, bars_fwd_, q.data());
                out.store(first, cols, q.data());
                cols = 0;
            }
        }
    }

private:
    // Windows up to this length keep a block of kModels models (about 3 MiB).
    static constexpr std::uint64_t kMaxBatchLength = 4096;

    GriffithsFilter filter_;
    std::uint64_t bars_fwd_;
    std::vector<double> work_;  // the window vector, extended by the predictions
};

}  // namespace lumenfold::core
