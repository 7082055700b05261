// Output pairs shared by several cycle indicators: the in-phase and quadrature
// components of a phasor, and the sine and lead-sine lines.
#pragma once

namespace lumenfold::core {

struct PhasorOutput {
    double in_phase;
    double quadrature;
};

struct HtSineOutput {
    double sine;
    double leadsine;
};

}  // namespace lumenfold::core
