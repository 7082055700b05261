// TTM squeeze. Bollinger bands (simple average of the close ± mult_bb standard
// deviations) and Keltner-style bands (the same average ± mult_kc·ATR): the
// squeeze is on while the Bollinger bands lie strictly inside the Keltner
// bands. The momentum is the linear-regression value, at the newest bar, of
// the close minus the mean of the simple average and the Donchian midpoint.
// Every part works on partial windows from the first bar; no placeholder.
//
// The output reuses the SuperTrend pair: value = momentum, direction = 1 while
// the squeeze is on and 0 while it is off. Period 0 gives NaN momentum and no
// squeeze on every bar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/channels/supertrend.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/framework/statistics.hpp"

namespace lumenfold::core::lanes {

// The squeeze test and the momentum's input of bars with full windows of p
// closes: from the running sums s and q of the closes and of their squares,
// the average true range a, the window's highest high hi and lowest low lo
// and the close c, sma = s / p, var = q / p - sma * sma, sd = sqrt(var when
// > 0, else 0); squeeze[k] = 1 when sma + sd * mult_bb < sma + a * mult_kc
// and sma - sd * mult_bb > sma - a * mult_kc, else 0; delta[k] = c +
// (sma + (hi + lo) * 0.5) * -0.5. Arrays are padded.
extern const Kernel<void(const double* s, const double* q, const double* a, const double* hi, const double* lo, const double* c, std::size_t count, std::size_t period, double mult_bb, double mult_kc, double* squeeze, double* delta)> squeeze_parts;

// Least-squares lines of the windows x[k .. k+p-1] (x at 0 for the oldest
// value up to p - 1), valued at the newest point: sum_y += y and sum_xy +=
// y * i from 0, oldest first; slope = (p * sum_xy - sum_y * sum_x) /
// denominator, intercept = (sum_y - sum_x * slope) / p, out[k] = (p - 1) *
// slope + intercept; where the denominator is 0, out[k] is the newest value.
// x holds count + p - 1 values, p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double sum_x, double denominator, double* out)> regression_values;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class TTMSqueeze {
public:
    TTMSqueeze(std::uint64_t period, double mult_bb, double mult_kc)
        : atr_(period),
          sma_(period),
          deviation_(period),
          channel_(period),
          momentum_(period),
          mult_bb_(mult_bb),
          mult_kc_(mult_kc) {}

    SuperTrendOutput next(double high, double low, double close) noexcept {
        const Bar b = bar(high, low, close);
        return output(momentum_.next(b.delta), b.squeeze);
    }

    // Every bar steps every part.
    bool batch_ready() const noexcept { return atr_.batch_ready(); }

    // Batch form. The running sums of the close and of its square (under the
    // average and the deviation) and the average true range are recursions
    // and run bar by bar; the window extremes, the bands and the squeeze
    // test, and the regression over each full window of deltas, read from
    // the series, run several bars side by side in SIMD lanes. The bars
    // before the first full window are stepped, and so is a series shorter
    // than one window.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        const std::size_t p = static_cast<std::size_t>(sma_.period());
        // Without a full window (or any window), nothing to read from the series.
        if (p == 0 || n < p) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(high[t], low[t], close[t]));
            return;
        }
        const std::size_t warm = p - 1;
        RunningWindowSum sums(p), squares(p);
        // The deltas of the bars in the window of the chunk's first bar, then the chunk's.
        std::vector<double> deltas(warm + lanes::kPad);
        for (std::size_t t = 0; t < warm; ++t) {
            const double c = close[t];
            const Bar b = bar(high[t], low[t], c);
            deltas[t] = b.delta;
            out.put(t, output(momentum_.next(b.delta), b.squeeze));
            sums.push(c);
            squares.push(c * c);
        }
        ATR atr = atr_;
        const double sum_x = momentum_.full_sum_x();
        const double denominator = momentum_.full_denominator();
        std::vector<double> s, q, a, upper, lower, squeeze, momentum;
        // The sink copied into the loop: the record stores cannot alias a
        // local, so its fields stay in registers.
        lanes::each_chunk(p - 1, p - 1, [&, records = out](std::size_t first, std::size_t count, const double* h,
                                                              const double* l, const double* c) {
            for (auto* v : {&s, &q, &a, &upper, &lower, &squeeze, &momentum}) v->resize(count + lanes::kPad);
            deltas.resize(p - 1 + count + lanes::kPad);
            {
                // Locals through the loop, so the recursions stay in registers.
                RunningWindowSum sum = std::move(sums), square = std::move(squares);
                ATR range = atr;
                for (std::size_t k = 0; k < count; ++k) {
                    const std::size_t j = k + p - 1;
                    s[k] = sum.push(c[j]);
                    q[k] = square.push(c[j] * c[j]);
                    a[k] = range.next(h[j], l[j], c[j]);
                }
                sums = std::move(sum);
                squares = std::move(square);
                atr = range;
            }
            lanes::window_extremes(h, count, p, true, upper.data());
            lanes::window_extremes(l, count, p, false, lower.data());
            lanes::squeeze_parts(s.data(), q.data(), a.data(), upper.data(), lower.data(), c + p - 1, count, p,
                                 mult_bb_, mult_kc_, squeeze.data(), deltas.data() + p - 1);
            lanes::regression_values(deltas.data(), count, p, sum_x, denominator, momentum.data());
            // Local pointers: the caller's stores could alias the vectors' own.
            const double* m = momentum.data();
            const double* on = squeeze.data();
            for (std::size_t k = 0; k < count; ++k) records.put(first + k, output(m[k], on[k] != 0.0));
            std::copy(deltas.begin() + static_cast<std::ptrdiff_t>(count),
                      deltas.begin() + static_cast<std::ptrdiff_t>(count + p - 1), deltas.begin());
        }, high, low, close);
    }

private:
    // One bar's squeeze test and the input of its momentum.
    struct Bar {
        double delta;
        bool squeeze;
    };

    Bar bar(double high, double low, double close) noexcept {
        const double sma = sma_.next(close);
        const double sd = deviation_.next(close);
        const double atr = atr_.next(high, low, close);
        const double middle = channel_.next(high, low).middle;
        const double bb_upper = sma + sd * mult_bb_;
        const double bb_lower = sma - sd * mult_bb_;
        const double kc_upper = sma + atr * mult_kc_;
        const double kc_lower = sma - atr * mult_kc_;
        // Strict, and false with a NaN on either side.
        const bool squeeze = bb_upper < kc_upper && bb_lower > kc_lower;
        return Bar{close + (sma + middle) * -0.5, squeeze};
    }

    static SuperTrendOutput output(double momentum, bool squeeze) noexcept {
        return SuperTrendOutput{momentum, static_cast<std::int8_t>(squeeze ? 1 : 0)};
    }

    ATR atr_;
    SMA sma_;
    StandardDeviation deviation_;
    DonchianChannels channel_;
    LinearRegression momentum_;
    double mult_bb_;
    double mult_kc_;
};

}  // namespace lumenfold::core
