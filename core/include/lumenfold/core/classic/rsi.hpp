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

namespace lumenfold::core::lanes {

// Wilder's RSI over the bars [from, n) of a big-endian series (from >= 1),
// written big-endian: change = x[i] - x[i-1], gain = change when positive
// else +0, loss = +0 when the change is positive else -change; avg_gain =
// (gain + avg_gain * (p - 1)) / p and avg_loss = (loss + (p - 1) * avg_loss)
// / p from the given averages; out[i] = 100 when avg_loss is 0, else
// 100 - 100 / (avg_gain / avg_loss + 1).
extern const Kernel<void(const std::uint8_t* be, std::size_t from, std::size_t n, double period, double period_less1, double avg_gain, double avg_loss, std::uint8_t* out)> rsi_run;

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

    // Batch form: the seeding bars stepped, then the smoothing alone, with
    // the outputs in SIMD lanes beside it.
    void batch(BigEndianOut out, BigEndianSeries x) {
        const std::size_t n = x.size();
        const std::size_t seeded = period_ < 2 || period_ >= n ? n : static_cast<std::size_t>(period_) + 1;
        for (std::size_t i = 0; i < seeded; ++i) out.put(i, next(x[i]));
        lanes::rsi_run(x.bytes(), seeded, n, period_f_, period_f_less1_, avg_gain_, avg_loss_, out.bytes());
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
