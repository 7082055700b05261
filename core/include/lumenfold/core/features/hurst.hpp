// Hurst features: the Hurst exponent as persistence, and its regime label:
// -1 mean-reverting below 0.45, +1 trending above 0.55, 0 random between
// (both bounds included); -99 while the exponent is NaN (its warm-up of
// period - 1 bars, or a NaN in the window).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/framework/series.hpp"

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
        return {h, regime_label(h)};
    }

    // Batch form: the exponents as the embedded core's batch form computes
    // them, each with its label.
    void batch(BigEndianOut out, BigEndianSeries x) const {
        hurst_.each(x, [out](std::size_t t, double h) mutable { out.record(t, h, regime_label(h)); });
    }

    // The label of an exponent, none for NaN.
    static std::optional<std::int32_t> label(double h) noexcept {
        if (std::isnan(h)) return std::nullopt;
        return regime_label(h);
    }

    // The label as the record holds it, kNoLabel for NaN; selects rather than
    // branches, the comparisons being unpredictable.
    static std::int32_t regime_label(double h) noexcept {
        const std::int32_t side =
            static_cast<std::int32_t>(h > kUpperThreshold) - static_cast<std::int32_t>(h < kLowerThreshold);
        return std::isnan(h) ? kNoLabel : side;
    }

private:
    static constexpr double kLowerThreshold = 0.45;
    static constexpr double kUpperThreshold = 0.55;

    HurstExponent hurst_;
};

}  // namespace lumenfold::core
