// TTM squeeze. Bollinger bands (simple average of the close ± mult_bb standard
// deviations) and Keltner-style bands (the same average ± mult_kc·ATR): the
// squeeze is on while the Bollinger bands lie strictly inside the Keltner
// bands. The momentum is the linear-regression value, at the newest bar, of
// the close minus the mean of the simple average and the Donchian midpoint.
// Every part works on partial windows from the first bar; no placeholder.
//
// The output reuses the SuperTrend pair: value = momentum, direction = 1 while
// the squeeze is on and 0 while it is off. Period 0 gives NaN momentum and no
// squeeze on every bar.
#pragma once

#include <cstdint>

#include "lumenfold/core/channels/donchian.hpp"
#include "lumenfold/core/channels/supertrend.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/framework/statistics.hpp"

namespace lumenfold::core {

class TTMSqueeze {
public:
    TTMSqueeze(std::uint64_t period, double mult_bb, double mult_kc)
        : atr_(period),
          sma_(period),
          deviation_(period),
          channel_(period),
          momentum_(period),
          mult_bb_(mult_bb),
          mult_kc_(mult_kc) {}

    SuperTrendOutput next(double high, double low, double close) noexcept {
        const double sma = sma_.next(close);
        const double sd = deviation_.next(close);
        const double atr = atr_.next(high, low, close);
        const double middle = channel_.next(high, low).middle;
        const double bb_upper = sma + sd * mult_bb_;
        const double bb_lower = sma - sd * mult_bb_;
        const double kc_upper = sma + atr * mult_kc_;
        const double kc_lower = sma - atr * mult_kc_;
        // Strict, and false with a NaN on either side.
        const bool squeeze = bb_upper < kc_upper && bb_lower > kc_lower;
        const double delta = close + (sma + middle) * -0.5;
        const double momentum = momentum_.next(delta);
        return SuperTrendOutput{momentum, static_cast<std::int8_t>(squeeze ? 1 : 0)};
    }

private:
    ATR atr_;
    SMA sma_;
    StandardDeviation deviation_;
    DonchianChannels channel_;
    LinearRegression momentum_;
    double mult_bb_;
    double mult_kc_;
};

}  // namespace lumenfold::core
