// Pairs rotation: two series (close, open) each band-passed by a two-pole
// high-pass of period hp_len and a super smoother of period lp_len, then
// divided by the root of its exponentially weighted mean square (seeded with
// bar 1's square, then weight 0.0242 for the newest). `ratio` is the first
// series normalised, `angle` the second; neither is a ratio or an angle of
// the pair. Bars 1 to 3 give (0, 0); a mean square that is not positive (also
// NaN) gives 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"

namespace lumenfold::core {

struct PairsRotationOutput {
    double ratio;
    double angle;
};

class PairsRotation {
public:
    PairsRotation(std::uint64_t hp_len, std::uint64_t lp_len) noexcept
        : close_(hp_len, lp_len), open_(hp_len, lp_len) {}

    PairsRotationOutput next(double close, double open) noexcept {
        const double r = close_.next(close, seeded_);
        const double a = open_.next(open, seeded_);
        seeded_ = true;
        return {r, a};
    }

private:
    class Channel {
    public:
        Channel(std::uint64_t hp_len, std::uint64_t lp_len) noexcept : hp_(hp_len), ss_(lp_len) {}

        double next(double v, bool seeded) noexcept {
            // The smoother passes its first three inputs (the high-pass zeros) through.
            const double s = ss_.next(hp_.next(v));
            ms_ = seeded ? s * (s * 0.0242) + ms_ * 0.9758 : s * s;
            return ms_ > 0.0 ? s / std::sqrt(ms_) : 0.0;
        }

    private:
        HighPass hp_;
        SuperSmoother ss_;
        double ms_ = 0.0;
    };

    Channel close_;
    Channel open_;
    bool seeded_ = false;
};

}  // namespace lumenfold::core
