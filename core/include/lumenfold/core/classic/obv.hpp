// On-balance volume: a running total that adds the bar's volume when the price
// rises and subtracts it when the price falls. The first bar outputs its own
// volume; an equal or NaN comparison leaves the total unchanged.
#pragma once

#include <algorithm>
#include <cstddef>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// OBV of count bars, price and volume holding their bars after the one before
// them: total = total + move from the given total, move being volume[k + 1]
// when price[k + 1] > price[k], -volume[k + 1] when it is below, else -0
// (which leaves any total as it is); out[k] = total. Returns the last total.
extern const Kernel<double(const double* price, const double* volume, std::size_t count, double total, double* out)> obv_run;

// The OBV of a chunk, as a map (map_bars) that carries the total from one
// chunk to the next.
struct ObvMap {
    double* total;
    void operator()(std::size_t count, double* out, const double* price, const double* volume) const {
        *total = obv_run(price, volume, count, *total, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class OBV {
public:
    double next(double price, double volume) noexcept {
        if (!started_) {
            started_ = true;
            prev_price_ = price;
            obv_ = volume;
            return volume;
        }
        if (price > prev_price_) {
            obv_ = obv_ + volume;
        } else if (price < prev_price_) {
            obv_ = obv_ - volume;
        }
        prev_price_ = price;
        return obv_;
    }

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the signed volumes in SIMD lanes one group of bars ahead of
    // the total, which adds them without a branch.
    template <class O, Series S>
    void batch(const O& out, const S& price, const S& volume) const {
        if (std::min(price.size(), volume.size()) == 0) return;
        double total = volume[0];
        out.put(0, total);
        lanes::map_bars<double>(out, 1, 1, lanes::ObvMap{&total}, price, volume);
    }

private:
    double prev_price_ = 0.0;
    double obv_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
