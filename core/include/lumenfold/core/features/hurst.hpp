// Hurst features: the Hurst exponent as persistence, and its regime label:
// -1 mean-reverting below 0.45, +1 trending above 0.55, 0 random between
// (both bounds included); -99 while the exponent is NaN (its warm-up of
// period - 1 bars, or a NaN in the window).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct HurstFeatures {
    double persistence;
    std::int32_t regime_label;
};

class HurstFeatureExtractor {
public:
    static constexpr std::int32_t kNoLabel = -99;

    explicit HurstFeatureExtractor(std::uint64_t period) : hurst_(period), n_(std::max<std::uint64_t>(period, 2)) {}

    HurstFeatures next(double x) noexcept {
        const double h = hurst_.next(x);
        return {h, regime_label(h)};
    }

    bool batch_ready() const noexcept { return hurst_.batch_ready(); }

    // Batch form: every window read from the series, the ranges and variances
    // of the bars in SIMD lanes, the exponents and their labels bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t p = static_cast<std::size_t>(n_);
        const std::size_t warm = std::min(p - 1, x.size());
        for (std::size_t t = 0; t < warm; ++t) out.put(t, HurstFeatures{kNaN, kNoLabel});
        const double log_n = std::log(to_f64(n_));
        lanes::each_output_pair(x, p - 1, [p](const double* v, std::size_t count, double* ratio, double* var) {
            lanes::rescaled_ranges(v, count, p, ratio, var);
        }, [out, log_n](std::size_t t, double ratio, double var) {
            const double h = var == 0.0 ? 0.5 : std::log(ratio) / log_n;
            out.put(t, HurstFeatures{h, regime_label(h)});
        });
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
    std::uint64_t n_;  // hurst_'s window length, divisor and logarithm base
};

}  // namespace lumenfold::core
