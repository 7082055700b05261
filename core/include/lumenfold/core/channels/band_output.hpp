// The three lines of a band or channel indicator.
#pragma once

namespace lumenfold::core {

struct BandOutput {
    double upper;
    double middle;
    double lower;
};

}  // namespace lumenfold::core
