// Rolling volume profile: the volume of the last `period` bars spread over
// `bins` equal-width bins between the window's lowest and highest price; the
// output is the point of control, the centre of the bin with the most volume
// (the lower bin on ties). A flat window gives its price; period 0 keeps no
// bar and gives NaN. Only the point of control is measured: `vah` and `val`
// are always 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Volume profile points of control of the windows price[k .. k+p-1],
// volume[k .. k+p-1] (k < count) whose lowest and highest prices are lo[k]
// and hi[k]: lo[k] where they are equal, else with width = (hi - lo) / bins,
// each price's bin floor((price - lo) / width) saturated into 0 .. bins - 1
// (a NaN quotient giving 0) and its volume added as volume + sum in window
// order from +0, the first bin holding the most volume (more than -1) gives
// out[k] = lo + width * (bin + 0.5). The work per bar grows with period *
// bins (bins below 2^53). `scratch` holds period * kPad doubles; the other
// arrays are padded.
extern const Kernel<void(const double* price, const double* volume, const double* lo, const double* hi, std::size_t count, std::size_t period, std::size_t bins, double* scratch, double* out)> points_of_control;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct VolumeProfileOutput {
    double poc;
    double vah;
    double val;
};

class VolumeProfile {
public:
    // bins 0 is taken as 1.
    VolumeProfile(std::uint64_t period, std::uint64_t bins)
        : prices_(period),
          volumes_(period),
          lowest_(period),
          highest_(period),
          period_(period),
          bins_(bins == 0 ? 1 : bins) {}

    // The bins are scratch space rebuilt on every step, so a copy starts
    // without them.
    VolumeProfile(const VolumeProfile& o)
        : prices_(o.prices_),
          volumes_(o.volumes_),
          lowest_(o.lowest_),
          highest_(o.highest_),
          period_(o.period_),
          bins_(o.bins_) {}
    VolumeProfile& operator=(const VolumeProfile& o) {
        if (this != &o) *this = VolumeProfile(o);
        return *this;
    }
    VolumeProfile(VolumeProfile&&) noexcept = default;
    VolumeProfile& operator=(VolumeProfile&&) noexcept = default;

    VolumeProfileOutput next(double price, double volume) { return {point_of_control(price, volume), 0.0, 0.0}; }

    bool batch_ready() const noexcept { return lowest_.bars() == 0; }

    // Batch form: the partial windows of the first bars are stepped; the full
    // windows, read from the series, are measured side by side in SIMD lanes,
    // their extremes first, then every price's bin and the bins' volumes.
    // Period 0 is stepped, and so are many bins, where the lanes' work
    // (period * bins per bar) outgrows the step's (period + bins).
    template <class O, Series S>
    void batch(const O& out, const S& price, const S& volume) {
        const std::size_t n = std::min(price.size(), volume.size());
        const std::size_t warm = period_ == 0 || bins_ > kLaneBins ? n : std::min<std::size_t>(period_ - 1, n);
        for (std::size_t t = 0; t < warm; ++t) out.put(t, next(price[t], volume[t]));
        if (warm == n) return;
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t bins = static_cast<std::size_t>(bins_);
        std::vector<double> lo, hi, poc;
        std::vector<double> scratch(p * lanes::kPad);
        lanes::each_chunk(p - 1, warm, [&](std::size_t first, std::size_t count, const double* prices,
                                           const double* volumes) {
            for (auto* v : {&lo, &hi, &poc}) v->resize(count + lanes::kPad);
            lanes::window_extremes(prices, count, p, false, lo.data());
            lanes::window_extremes(prices, count, p, true, hi.data());
            lanes::points_of_control(prices, volumes, lo.data(), hi.data(), count, p, bins, scratch.data(), poc.data());
            for (std::size_t k = 0; k < count; ++k) out.put(first + k, VolumeProfileOutput{poc[k], 0.0, 0.0});
        }, price, volume);
    }

    std::uint64_t period() const noexcept { return period_; }
    std::uint64_t bins() const noexcept { return bins_; }

private:
    // The most bins the batch form's lanes take.
    static constexpr std::uint64_t kLaneBins = 32;

    // Zeroed bins, allocated by the first step that needs them and cleared on
    // every later one.
    double* zeroed_bins() {
        if (acc_) {
            std::fill_n(acc_.get(), bins_, 0.0);
            return acc_.get();
        }
        acc_ = zeroed_doubles(bins_);
        return acc_.get();
    }

    double point_of_control(double price, double volume) {
        prices_.push(price);
        volumes_.push(volume);
        if (prices_.len() > period_) {
            prices_.pop();
            volumes_.pop();
        }
        // Extremes of the held prices as an oldest-first scan from ±max finds
        // them: a NaN price moves neither.
        const double lo = lowest_.next(price);
        const double hi = highest_.next(price);
        const std::uint64_t n = prices_.len();
        if (n == 0) return kNaN;
        if (lo == hi) return lo;
        const double width = (hi - lo) / to_f64(bins_);
        double* acc = zeroed_bins();
        for (std::uint64_t i = 0; i < n; ++i) {
            // floor of the quotient, saturated (a NaN quotient gives 0): above 0
            // truncation is the floor, and a negative floor saturates to 0 as
            // its truncation does.
            std::uint64_t k = saturating_u64((prices_[i] - lo) / width);
            if (k >= bins_) k = bins_ - 1;
            acc[k] = volumes_[i] + acc[k];
        }
        double best = -1.0;
        std::uint64_t index = 0;
        for (std::uint64_t k = 0; k < bins_; ++k) {
            if (acc[k] > best) {
                best = acc[k];
                index = k;
            }
        }
        return lo + width * (to_f64(index) + 0.5);
    }

    RingBuffer prices_;   // last `period` prices, oldest at the front
    RingBuffer volumes_;  // their volumes
    WindowLowest lowest_;
    WindowHighest highest_;
    std::uint64_t period_;
    std::uint64_t bins_;
    ZeroedDoubles acc_;  // volume per bin, rebuilt every step
};

}  // namespace lumenfold::core
