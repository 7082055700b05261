// The three lines of a band or channel indicator.
#pragma once

namespace lumenfold::core {

// The upper, middle and lower line of a band or channel, in price units.
struct BandOutput {
    double upper;
    double middle;
    double lower;
};

}  // namespace lumenfold::core
