// Anchored volume-weighted average price: price·volume and volume summed since
// the last bar flagged as an anchor (from the first bar when none is), the
// output their ratio; an anchor bar restarts both sums with its own values. 0
// while the summed volume is exactly 0, so there is no warm-up placeholder; a
// NaN stays in the sums until the next anchor.
#pragma once

namespace lumenfold::core {

class AnchoredVWAP {
public:
    double next(double price, double volume, bool anchor) noexcept {
        const double pv = price * volume;
        if (anchor) {
            cum_pv_ = pv;
            cum_volume_ = volume;
        } else {
            cum_pv_ = pv + cum_pv_;
            cum_volume_ = volume + cum_volume_;
        }
        return cum_volume_ == 0.0 ? 0.0 : cum_pv_ / cum_volume_;
    }

private:
    double cum_pv_ = 0.0;
    double cum_volume_ = 0.0;
};

}  // namespace lumenfold::core
