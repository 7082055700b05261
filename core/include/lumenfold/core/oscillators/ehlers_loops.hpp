// Ehlers loops: price and volume each band-passed by a two-pole high-pass of
// period hp_period and a super smoother of period lp_period, then divided by
// the root of its exponentially weighted mean square (weight 0.0242 for the
// newest square). Both recursions start together on a channel's third
// sample; samples 1 and 2 give 0, as does a mean square that is not positive
// (also NaN). The first computed value is ±1/sqrt(0.0242).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct EhlersLoopsOutput {
    double price_rms;
    double vol_rms;
};

class EhlersLoops {
public:
    EhlersLoops(std::uint64_t lp_period, std::uint64_t hp_period) noexcept
        : price_(lp_period, hp_period), volume_(lp_period, hp_period) {}

    EhlersLoopsOutput next(double price, double volume) noexcept {
        const double p = price_.next(price);
        return {p, volume_.next(volume)};
    }

private:
    class Channel {
    public:
        static constexpr double kAlpha = 0.0242;

        Channel(std::uint64_t lp_period, std::uint64_t hp_period) noexcept
            : hp_(to_f64(hp_period)), ss_(to_f64(lp_period)) {}

        double next(double v) noexcept {
            if (warmup_ < 2) {
                ++warmup_;
                hp_.store(v, 0.0);
                ss_.store(0.0, 0.0);
                return 0.0;
            }
            const double h = hp_.value(v);
            // The smoother's previous input is the previous high-pass output.
            const double s = ss_.value(h);
            hp_.store(v, h);
            ss_.store(h, s);
            ms_ = (s * s) * kAlpha + (1.0 - kAlpha) * ms_;
            return ms_ > 0.0 ? s / std::sqrt(ms_) : 0.0;
        }

    private:
        HighPassRecursion hp_;
        SuperSmootherRecursion ss_;
        double ms_ = 0.0;
        std::uint64_t warmup_ = 0;  // samples seen, held at 2 once running
    };

    Channel price_;
    Channel volume_;
};

}  // namespace lumenfold::core
