// Wilder's directional movement and average directional index.
//
// DmiCore turns each bar into Wilder-smoothed true range and directional
// movement and yields +DI, -DI and DX. The three smoothed values start as plain
// sums of the moves of bars 1 .. period-1; the first Wilder update comes at bar
// `period`. A bar whose smoothed range is not positive yields no DX.
//
// ADX (0 to 100) averages DX: the first value, at bar 2*period - 1 (bars
// counted from 0), is the mean of the DX values of bars period .. 2*period - 1
// (divided by period, even if some bars gave none); later bars use Wilder's
// recursion. Every earlier bar gives NaN, and a period below 2 gives NaN on
// every bar.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// DX from Wilder-smoothed movements and range: +DI = (plus * 100) / tr,
// -DI = (minus * 100) / tr, DX = (|+DI - -DI| * 100) / (+DI + -DI) when that
// sum is positive, else 0. Any value where tr <= 0 (no DX there).
extern const Kernel<void(const double* plus, const double* minus, const double* tr, std::size_t n, double* dx)> directional_index;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct DmiOutput {
    double plus_di;
    double minus_di;
    double dx;
};

class DmiCore {
public:
    explicit DmiCore(std::uint64_t period) : period_(period), period_f_(to_f64(period)) {}

    std::optional<DmiOutput> step(double high, double low, double close) noexcept {
        if (period_ == 0) return std::nullopt;
        if (!has_prev_) {
            has_prev_ = true;
            prev_high_ = high;
            prev_low_ = low;
            prev_close_ = close;
            bar_count_ = 1;
            return std::nullopt;
        }
        const double up = high - prev_high_;
        const double down = prev_low_ - low;
        const double tr = true_range(high, low, prev_close_);
        // A NaN move fails every comparison and counts as 0.
        const double plus_dm = positive_excess(up, down);
        const double minus_dm = positive_excess(down, up);
        prev_high_ = high;
        prev_low_ = low;
        prev_close_ = close;

        const std::uint64_t c = bar_count_++;
        if (!seeded_) {
            if (c < period_) {
                tr_ = tr_ + tr;
                plus_dm_ = plus_dm_ + plus_dm;
                minus_dm_ = minus_dm_ + minus_dm;
                return std::nullopt;
            }
            seeded_ = true;
        }
        tr_ = tr + (tr_ - tr_ / period_f_);
        plus_dm_ = plus_dm + (plus_dm_ - plus_dm_ / period_f_);
        minus_dm_ = minus_dm + (minus_dm_ - minus_dm_ / period_f_);

        // A NaN smoothed range passes on (and gives DX 0 below).
        if (tr_ <= 0.0) return std::nullopt;
        return output(plus_dm_, minus_dm_, tr_);
    }

    // Bars stepped so far (0 before the first bar; not advanced for period 0).
    std::uint64_t bar_count() const noexcept { return bar_count_; }

    // The steps of the bars from `begin` on, once seeded, reading the series
    // directly: f(i, tr, plus_dm, minus_dm) with the smoothed values of bar i.
    template <Series S, class F>
    void run_seeded(const S& high, const S& low, const S& close, std::size_t begin, F f) const noexcept {
        double ph = prev_high_, pl = prev_low_, pc = prev_close_;
        double tr_s = tr_, plus_s = plus_dm_, minus_s = minus_dm_;
        for (std::size_t i = begin; i < high.size(); ++i) {
            const double h = high[i], l = low[i], c = close[i];
            const double up = h - ph;
            const double down = pl - l;
            const double tr = true_range(h, l, pc);
            const double plus_dm = positive_excess(up, down);
            const double minus_dm = positive_excess(down, up);
            ph = h;
            pl = l;
            pc = c;
            tr_s = tr + (tr_s - tr_s / period_f_);
            plus_s = plus_dm + (plus_s - plus_s / period_f_);
            minus_s = minus_dm + (minus_s - minus_s / period_f_);
            f(i, tr_s, plus_s, minus_s);
        }
    }

private:
    // The indices from the smoothed movements and range (a positive range).
    static DmiOutput output(double plus_dm, double minus_dm, double tr) noexcept {
        const double plus_di = (plus_dm * 100.0) / tr;
        const double minus_di = (minus_dm * 100.0) / tr;
        const double s = plus_di + minus_di;
        const double dx = s > 0.0 ? (std::fabs(plus_di - minus_di) * 100.0) / s : 0.0;
        return DmiOutput{plus_di, minus_di, dx};
    }

    double prev_high_ = 0.0;
    double prev_low_ = 0.0;
    double prev_close_ = 0.0;
    bool has_prev_ = false;
    bool seeded_ = false;
    std::uint64_t period_;
    double period_f_;
    std::uint64_t bar_count_ = 0;
    double tr_ = 0.0;
    double plus_dm_ = 0.0;
    double minus_dm_ = 0.0;
};

class ADX {
public:
    explicit ADX(std::uint64_t period)
        : core_(period),
          period_(period),
          period_f_(to_f64(period)),
          period_m1_f_(to_f64(period) - 1.0),
          seed_bar_(2 * period - 1) {}

    double next(double high, double low, double close) noexcept {
        if (period_ < 2) return kNaN;
        const std::optional<DmiOutput> out = core_.step(high, low, close);
        const std::uint64_t t = core_.bar_count() - 1;
        if (!out || t < period_) return kNaN;
        const double dx = out->dx;
        if (t < seed_bar_) {
            // The DX values of the seeding window, summed from the oldest.
            dx_sum_ = dx_sum_ + dx;
            return kNaN;
        }
        if (t == seed_bar_) {
            dx_sum_ = dx_sum_ + dx;
            adx_ = dx_sum_ / period_f_;
            adx_seeded_ = true;
            return adx_;
        }
        if (!adx_seeded_) return kNaN;
        adx_ = (dx + period_m1_f_ * adx_) / period_f_;
        return adx_;
    }

    bool batch_ready() const noexcept { return core_.bar_count() == 0; }

    // Batch form: the seeding bars stepped; then, block by block, the
    // directional movement's recursions, the DX of a block in SIMD lanes, and
    // the ADX recursion one block behind, so that both recursions run
    // interleaved.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        // Copies of the sink and the series, which the output stores cannot
        // reach: their fields stay in registers across the loops.
        run_batch(O(out), S(high), S(low), S(close));
    }

private:
    template <class O, Series S>
    void run_batch(O out, S high, S low, S close) {
        const std::size_t n = high.size();
        const std::size_t seeded = period_ < 2 || period_ >= n ? n : std::min(n, 2 * static_cast<std::size_t>(period_));
        for (std::size_t i = 0; i < seeded; ++i) out.put(i, next(high[i], low[i], close[i]));
        if (!adx_seeded_) {
            for (std::size_t i = seeded; i < n; ++i) out.put(i, kNaN);
            return;
        }
        constexpr std::size_t kBlock = 256;
        struct Block {
            std::vector<double> tr, plus, minus, dx;
            Block() : tr(kBlock + lanes::kPad), plus(kBlock + lanes::kPad), minus(kBlock + lanes::kPad), dx(kBlock + lanes::kPad) {}
            void finish(std::size_t count) {
                lanes::directional_index(plus.data(), minus.data(), tr.data(), count, dx.data());
            }
        };
        Block blocks[2];
        double adx = adx_;
        // A bar whose smoothed range is not positive has no DX and gives NaN.
        auto adx_step = [&](std::size_t bar, const Block& b, std::size_t k) {
            if (b.tr[k] <= 0.0) {
                out.put(bar, kNaN);
                return;
            }
            adx = (b.dx[k] + period_m1_f_ * adx) / period_f_;
            out.put(bar, adx);
        };
        std::size_t cur = 0, k = 0, block_first = seeded;
        bool behind = false;  // a finished block awaits its ADX steps
        core_.run_seeded(high, low, close, seeded, [&](std::size_t i, double tr, double plus, double minus) {
            Block& b = blocks[cur];
            b.tr[k] = tr;
            b.plus[k] = plus;
            b.minus[k] = minus;
            if (behind) adx_step(i - kBlock, blocks[1 - cur], k);
            if (++k == kBlock) {
                b.finish(kBlock);
                cur = 1 - cur;
                k = 0;
                block_first = i + 1;
                behind = true;
            }
        });
        if (behind) {
            for (std::size_t j = k; j < kBlock; ++j) adx_step(block_first - kBlock + j, blocks[1 - cur], j);
        }
        blocks[cur].finish(k);
        for (std::size_t j = 0; j < k; ++j) adx_step(block_first + j, blocks[cur], j);
    }

    DmiCore core_;
    std::uint64_t period_;
    double period_f_;
    double period_m1_f_;
    std::uint64_t seed_bar_;  // 2*period - 1, wrapping
    double dx_sum_ = 0.0;
    double adx_ = 0.0;
    bool adx_seeded_ = false;
};

}  // namespace lumenfold::core
