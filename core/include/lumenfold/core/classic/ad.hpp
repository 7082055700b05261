// Accumulation/distribution line: a running sum of volume weighted by the
// close location value ((close - low) - (high - close)) / (high - low), which is
// 0 for a zero, negative or NaN range. Outputs from the first bar. A NaN volume
// (or a NaN close inside a positive range) makes the line NaN for good.
#pragma once

namespace lumenfold::core {

// Adds one bar's money flow to the A/D line `ad` and returns the new value.
inline double ad_step(double ad, double high, double low, double close, double volume) noexcept {
    const double range = high - low;
    const double clv = range > 0.0 ? ((close - low) - (high - close)) / range : 0.0;
    return ad + volume * clv;
}

class AD {
public:
    double next(double high, double low, double close, double volume) noexcept {
        ad_ = ad_step(ad_, high, low, close, volume);
        return ad_;
    }

private:
    double ad_ = 0.0;
};

}  // namespace lumenfold::core
