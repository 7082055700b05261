// Wilder's relative strength index, 0 to 100. The first `period` price changes
// seed the average gain and loss with their means; later bars smooth them with
// weight (period - 1)/period. NaN for bars 0 to period - 1; periods 0 and 1
// yield NaN on every bar and store nothing. A zero average loss reads as 100. A
// NaN input makes the loss NaN, so every output from then on is NaN.
//
// Self-contained so that other indicators can hold one as a field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Wilder's RSI of count bars, x holding their prices after the one before
// them: change = x[k + 1] - x[k], gain = change when positive else +0, loss =
// +0 when the change is positive else -change; avg_gain = (gain + avg_gain *
// (p - 1)) / p and avg_loss = (loss + (p - 1) * avg_loss) / p from
// averages[0] and averages[1], which are left at the last bar's; out[k] = 100
// when avg_loss is 0, else 100 - 100 / (avg_gain / avg_loss + 1).
extern const Kernel<void(const double* x, std::size_t count, double period, double period_less1, double* averages, double* out)> rsi_run;

// The RSI of a chunk, as a map (map_bars) that carries the averages from one
// chunk to the next.
struct RsiMap {
    double period;
    double period_less1;
    double* averages;
    void operator()(std::size_t count, double* out, const double* x) const {
        rsi_run(x, count, period, period_less1, averages, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class Rsi {
public:
    explicit Rsi(std::uint64_t period)
        : period_(period), period_f_(to_f64(period)), period_f_less1_(period_f_ - 1.0) {}

    double next(double x) noexcept {
        if (period_ < 2) return kNaN;
        if (!has_prev_) {
            prev_ = x;
            has_prev_ = true;
            return kNaN;
        }
        const double change = x - prev_;
        prev_ = x;
        const double gain = max_num(change, 0.0);
        const double loss = change > 0.0 ? 0.0 : -change;
        if (seed_count_ >= period_) [[likely]] {
            avg_gain_ = (gain + avg_gain_ * period_f_less1_) / period_f_;
            avg_loss_ = (loss + period_f_less1_ * avg_loss_) / period_f_;
        } else {
            ++seed_count_;
            gain_sum_ = gain_sum_ + gain;
            loss_sum_ = loss_sum_ + loss;
            if (seed_count_ < period_) return kNaN;
            avg_gain_ = gain_sum_ / period_f_;
            avg_loss_ = loss_sum_ / period_f_;
        }
        if (avg_loss_ == 0.0) return 100.0;
        return 100.0 - 100.0 / (avg_gain_ / avg_loss_ + 1.0);
    }

    bool batch_ready() const noexcept { return !has_prev_; }

    // Batch form: the seeding bars stepped, then the smoothing alone chunk by
    // chunk, with the outputs in SIMD lanes beside it.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t seeded = period_ < 2 || period_ >= n ? n : static_cast<std::size_t>(period_) + 1;
        for (std::size_t i = 0; i < seeded; ++i) out.put(i, next(x[i]));
        double averages[2] = {avg_gain_, avg_loss_};
        lanes::map_bars<double>(out, 1, seeded, lanes::RsiMap{period_f_, period_f_less1_, averages}, x);
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    bool has_prev_ = false;
    double prev_ = 0.0;
    std::uint64_t period_;
    double period_f_;
    double period_f_less1_;
    double avg_gain_ = 0.0;
    double avg_loss_ = 0.0;
    std::uint64_t seed_count_ = 0;
    double gain_sum_ = 0.0;
    double loss_sum_ = 0.0;
};

}  // namespace lumenfold::core
