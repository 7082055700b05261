// Hurst features: the Hurst exponent as persistence, and its regime label:
// -1 mean-reverting below 0.45, +1 trending above 0.55, 0 random between
// (both bounds included); -99 while the exponent is NaN (its warm-up of
// period - 1 bars, or a NaN in the window).
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "lumenfold/core/cycles/hurst.hpp"

namespace lumenfold::core {

struct HurstFeatures {
    double persistence;
    std::int32_t regime_label;
};

class HurstFeatureExtractor {
public:
    static constexpr std::int32_t kNoLabel = -99;

    explicit HurstFeatureExtractor(std::uint64_t period) : hurst_(period) {}

    HurstFeatures next(double x) noexcept {
        const double h = hurst_.next(x);
        return {h, label(h).value_or(kNoLabel)};
    }

    // The label of an exponent, none for NaN.
    static std::optional<std::int32_t> label(double h) noexcept {
        if (h < kLowerThreshold) return -1;
        if (h > kUpperThreshold) return 1;
        if (!std::isnan(h)) return 0;
        return std::nullopt;
    }

private:
    static constexpr double kLowerThreshold = 0.45;
    static constexpr double kUpperThreshold = 0.55;

    HurstExponent hurst_;
};

}  // namespace lumenfold::core
