// On-balance volume: a running total that adds the bar's volume when the price
// rises and subtracts it when the price falls. The first bar outputs its own
// volume; an equal or NaN comparison leaves the total unchanged.
#pragma once

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

private:
    double prev_price_ = 0.0;
    double obv_ = 0.0;
    bool started_ = false;
};

}  // namespace lumenfold::core
