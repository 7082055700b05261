// Fisher transform and its inverse, both stateless: each output depends on its
// own input only, so there is no warm-up.
#pragma once

#include <cmath>

namespace lumenfold::core {

// The transform at the clamp bounds, 0.5·ln((1 ± 0.999)/(1 ∓ 0.999)) with the
// same double operations, correctly rounded: a clamped input needs no logarithm.
inline constexpr double kFisherAtLowerClamp = -0x1.e66cfde9c7c2ep+1;
inline constexpr double kFisherAtUpperClamp = 0x1.e66cfde9c7c2ep+1;

// The clamped Fisher transform; a NaN input fails both clamps and stays NaN.
inline double fisher_transform(double v) noexcept {
    if (v < -0.999) return kFisherAtLowerClamp;
    if (v > 0.999) return kFisherAtUpperClamp;
    return std::log((v + 1.0) / (1.0 - v)) * 0.5;
}

// FisherTransform clamps its input into [-0.999, 0.999] and returns
// 0.5·ln((1 + v)/(1 - v)), so every finite or infinite input maps into
// ±3.8002011672502; NaN stays NaN.
class FisherTransform {
public:
    double next(double x) const noexcept { return fisher_transform(x); }
};

// InverseFisherTransform is tanh, mapping any input into (-1, 1) and ±infinity
// to ±1.
class InverseFisherTransform {
public:
    double next(double x) const noexcept { return std::tanh(x); }
};

}  // namespace lumenfold::core
