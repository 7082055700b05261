// Commodity channel index: how far the typical price (high + low + close)/3
// stands from its `period`-bar mean, in units of 0.015 times the mean absolute
// deviation. NaN for bars 0 to period - 2; a period below 2 yields NaN on
// every bar. A constant window (zero deviation) gives 0, and so does every bar
// once a NaN has entered the running sum.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// What the CCI's batch form carries from one chunk of bars to the next: the
// chunk's first bar, the running sum before it and the typical price of the
// bar `period` bars before it.
struct CciState {
    std::size_t bar;
    double sum;
    double leaving;
};

// Bars per chunk of cci_run, and the doubles of work it takes for runs of at
// most `bars` bars: a chunk's typical prices with the window before them, its
// running sums and its outputs.
constexpr std::size_t cci_chunk(std::size_t period) { return std::max(kChunk, period); }
constexpr std::size_t cci_work(std::size_t period, std::size_t bars) {
    const std::size_t most = std::min(cci_chunk(period), bars);
    return (most + period + kPad) + 2 * (most + kPad);
}

// CCI of count bars, high, low and close holding their bars after the p - 1
// before them (p >= 2, state.bar >= p - 1 the first bar's index), into out[0
// .. count); state moves past them. The running sum starts at bar p - 1 from
// the typical prices of bars 0 .. p - 1 and is never recomputed; the
// deviation adds over the slots of a p-slot circular store in slot order
// (slot i holds the bar b of the window with b % p == i). `work` holds
// cci_work(p, count) doubles.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, std::size_t period, CciState* state, double* work, double* out)> cci_run;

// The CCI of a chunk, as a map (map_bars) carrying its state; `work` holds
// cci_work(period, count) doubles for every count it is given.
struct CciMap {
    std::size_t period;
    CciState* state;
    double* work;
    void operator()(std::size_t count, double* out, const double* high, const double* low, const double* close) const {
        cci_run(high, low, close, count, period, state, work, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class CCI {
public:
    explicit CCI(std::uint64_t period)
        : slot_count_(period == 0 ? 1 : period),
          slots_(zeroed_doubles(slot_count_)),
          period_(period),
          period_f_(to_f64(period)) {}

    CCI(const CCI& o)
        : slot_count_(o.slot_count_),
          slots_(zeroed_doubles(o.slot_count_)),
          period_(o.period_),
          period_f_(o.period_f_),
          write_(o.write_),
          sum_(o.sum_),
          count_(o.count_) {
        std::memcpy(slots_.get(), o.slots_.get(), slot_count_ * sizeof(double));
    }
    CCI& operator=(const CCI& o) {
        if (this != &o) *this = CCI(o);
        return *this;
    }
    CCI(CCI&&) noexcept = default;
    CCI& operator=(CCI&&) noexcept = default;

    double next(double high, double low, double close) noexcept {
        if (period_ < 2) return kNaN;
        const double tp = (close + (low + high)) / 3.0;
        double* const slots = slots_.get();
        const std::uint64_t c = count_++;
        if (c < period_) {
            slots[c] = tp;
            sum_ = sum_ + tp;
            if (c + 1 < period_) return kNaN;
        } else {
            // The running sum is never recomputed from the slots.
            const std::uint64_t w = write_;
            sum_ = sum_ + (tp - slots[w]);
            slots[w] = tp;
            write_ = w + 1 == period_ ? 0 : w + 1;
        }
        const double mean = sum_ / period_f_;
        // Slot order, not age order.
        double deviation = 0.0;
        for (std::uint64_t i = 0; i < period_; ++i) deviation = deviation + std::fabs(slots[i] - mean);
        const double mean_deviation = deviation / period_f_;
        if (mean_deviation > 0.0) return (tp - mean) / (mean_deviation * 0.015);
        return 0.0;
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the typical prices and the running sum chunk by chunk, the
    // mean deviations and outputs of the bars in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) const {
        const std::size_t n = high.size();
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t warm = period_ < 2 || p > n ? n : p - 1;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        if (warm == n) return;
        lanes::CciState state{warm, 0.0, 0.0};
        std::vector<double> work = sized_vector<double>(lanes::cci_work(p, n));
        lanes::map_bars<double>(out, p - 1, warm, lanes::CciMap{p, &state, work.data()}, high, low, close);
    }

private:
    std::uint64_t slot_count_;
    ZeroedDoubles slots_;
    std::uint64_t period_;
    double period_f_;
    std::uint64_t write_ = 0;
    double sum_ = 0.0;
    std::uint64_t count_ = 0;  // bars seen
};

}  // namespace lumenfold::core
