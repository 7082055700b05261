// Instantaneous-trendline features: the trendline (trend; the input itself on
// bars 1 to 11) and the input's distance from it relative to the input's
// magnitude (strength), min(|x - trend| / max(|x|, 1e-8), 1), NaN when the
// input or the trend is.
#pragma once

#include <cmath>

#include "lumenfold/core/filters/instantaneous_trendline.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct InstantaneousTrendlineFeatures {
    double trend;
    double strength;
};

class InstantaneousTrendlineFeatureExtractor {
public:
    InstantaneousTrendlineFeatures next(double x) noexcept {
        const double trend = trendline_.next(x);
        if (std::isnan(x) || std::isnan(trend)) return {trend, kNaN};
        // NaN-ignoring bounds: an infinite input over itself gives 1.
        return {trend, std::fmin(std::fabs(x - trend) / std::fmax(std::fabs(x), 1e-8), 1.0)};
    }

private:
    InstantaneousTrendline trendline_;
};

}  // namespace lumenfold::core
