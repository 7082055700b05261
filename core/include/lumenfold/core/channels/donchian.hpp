// Donchian channel: the highest high and the lowest low of the last `period`
// bars and their midpoint (upper + lower)·0.5. No warm-up placeholder: partial
// windows from the first bar, so bar 1 gives (high, (high + low)·0.5, low).
// NaN prices are never extremes; a window of NaN highs leaves the upper line at
// -1.7976931348623157e308 (lows: +1.7976931348623157e308). Period 0 keeps no
// bar and gives (-1.7976931348623157e308, 0, 1.7976931348623157e308).
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/band_output.hpp"
#include "lumenfold/core/channels/window_extreme.hpp"

namespace lumenfold::core {

class DonchianChannels {
public:
    explicit DonchianChannels(std::uint64_t period) : highs_(period), lows_(period) {}

    BandOutput next(double high, double low) noexcept {
        const double upper = highs_.next(high);
        const double lower = lows_.next(low);
        return BandOutput{upper, (upper + lower) * 0.5, lower};
    }

    std::uint64_t period() const noexcept { return highs_.period(); }

private:
    WindowHighest highs_;
    WindowLowest lows_;
};

}  // namespace lumenfold::core
