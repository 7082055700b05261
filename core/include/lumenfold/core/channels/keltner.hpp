// Keltner channel: an exponential average of the typical price
// ((high + low) + close)/3 over `ema_period`, seeded by the first bar, with
// bands at ± multiplier·ATR (the exponential ATR of `atr_period`). No warm-up
// placeholder: bar 1 gives the typical price ± (high - low)·multiplier.
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/band_output.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class KeltnerChannels {
public:
    KeltnerChannels(std::uint64_t ema_period, std::uint64_t atr_period, double multiplier)
        : centre_(ema_period), range_(atr_period), multiplier_(multiplier) {}

    BandOutput next(double high, double low, double close) noexcept {
        const double middle = centre_.next(((high + low) + close) / 3.0);
        const double offset = range_.next(high, low, close) * multiplier_;
        return BandOutput{middle + offset, middle, middle - offset};
    }

private:
    EMA centre_;
    ATR range_;
    double multiplier_;
};

}  // namespace lumenfold::core
