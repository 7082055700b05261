// Filter kinds of the multi-mode filter, numbered from 1 in this order: EMA
// (one-pole exponential average), SMA (simple mean of `period` inputs,
// recursive), Gauss (two-pole Gaussian low-pass), Butterworth (two-pole
// Butterworth low-pass), Smooth ((x + 2·x1 + x2)/4), HighPass (one-pole
// high-pass), TwoPoleHighPass, BandPass and BandStop (centred on `period`,
// bandwidth 2·delta).
#pragma once

#include <cstdint>

namespace lumenfold::core {

enum class SwissMode : std::int32_t {
    EMA = 1,
    SMA = 2,
    Gauss = 3,
    Butterworth = 4,
    Smooth = 5,
    HighPass = 6,
    TwoPoleHighPass = 7,
    BandPass = 8,
    BandStop = 9,
};

}  // namespace lumenfold::core
