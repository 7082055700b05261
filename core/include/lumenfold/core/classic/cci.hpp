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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core::lanes {

// (close + (low + high)) / 3 of n bars read big-endian.
extern const Kernel<void(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n, double* out)> typical_prices;

// CCI of the bars first .. first + count - 1 (first >= p - 1): tp[b - base]
// is bar b's typical price for every bar of their windows (and tp holds the
// bars up to first + count - 1), sums[j] the running sum of bar first + j.
// The deviation adds over the slots of a p-slot circular store in slot order:
// slot i holds the bar b of the window with b % p == i. `tp`, `sums` and
// `out` are padded.
extern const Kernel<void(const double* tp, std::size_t base, const double* sums, std::size_t first, std::size_t count, std::size_t period, double* out)> cci_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class CCI {
public:
    explicit CCI(std::uint64_t period)
        : slot_count_(period == 0 ? 1 : period),
          slots_(allocate(slot_count_)),
          period_(period),
          period_f_(to_f64(period)) {}

    CCI(const CCI& o)
        : slot_count_(o.slot_count_),
          slots_(allocate(o.slot_count_)),
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

    // Batch form: the typical prices and the running sum chunk by chunk, the
    // mean deviations and outputs of the bars in SIMD lanes.
    void batch(BigEndianOut out, BigEndianSeries high, BigEndianSeries low, BigEndianSeries close) const {
        const std::size_t n = high.size();
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t warm = period_ < 2 || p > n ? n : p - 1;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        if (warm == n) return;
        const std::size_t chunk = std::max<std::size_t>(2048, p);
        std::vector<double> tp(std::min(n, chunk + p) + lanes::kPad);
        std::vector<double> sums(chunk + lanes::kPad);
        std::vector<double> results(chunk + lanes::kPad);
        double sum = 0.0;
        for (std::size_t first = warm; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            // The typical prices of the chunk's bars and the p bars before.
            const std::size_t base = first >= p ? first - p : 0;
            const std::size_t end = first + count;
            lanes::typical_prices(high.bytes() + base * 8, low.bytes() + base * 8, close.bytes() + base * 8,
                                  end - base, tp.data());
            if (first == warm) {
                for (std::size_t t = 0; t < warm; ++t) sum = sum + tp[t];
            }
            for (std::size_t t = first; t < end; ++t) {
                sum = t < p ? sum + tp[t - base] : sum + (tp[t - base] - tp[t - p - base]);
                sums[t - first] = sum;
            }
            lanes::cci_outputs(tp.data(), base, sums.data(), first, count, p, results.data());
            lanes::to_big_endian(results.data(), count, out.bytes() + first * 8);
        }
    }

private:
    struct FreeDeleter {
        void operator()(double* p) const noexcept { std::free(p); }
    };
    using Slots = std::unique_ptr<double[], FreeDeleter>;

    // Zeroed slots; a size whose byte count exceeds the signed 64-bit range
    // panics, one the heap cannot supply throws std::bad_alloc. calloc leaves
    // the pages untouched until used.
    static Slots allocate(std::uint64_t n) {
        if (n > static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(double)) throw Panic("capacity overflow");
        auto* p = static_cast<double*>(std::calloc(static_cast<std::size_t>(n), sizeof(double)));
        if (p == nullptr) throw std::bad_alloc();
        return Slots(p);
    }

    std::uint64_t slot_count_;
    Slots slots_;
    std::uint64_t period_;
    double period_f_;
    std::uint64_t write_ = 0;
    double sum_ = 0.0;
    std::uint64_t count_ = 0;  // bars seen
};

}  // namespace lumenfold::core
