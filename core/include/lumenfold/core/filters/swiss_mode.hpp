// Filter kinds of the multi-mode filter, numbered from 1 in this order.
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
