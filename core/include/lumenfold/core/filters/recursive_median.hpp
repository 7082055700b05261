// Recursive median filter and oscillator. The filter: the median of the last
// five inputs smoothed exponentially with alpha = ((cos t + sin t) - 1)/cos t,
// t = 360/length degrees. The median orders NaN after every number (stably), so
// a NaN held in the window shifts the median up instead of making the order
// undefined.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Medians of five: out[k] is the third of x[k .. k+4] in ascending order with
// NaN last, equal values in newest-first order (x[k+4] the newest), as
// RecursiveMedian::median orders them. x holds count + 4 values.
extern const Kernel<void(const double* x, std::size_t count, double* out)> medians_of_five;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

// RecursiveMedian: the filter of period `length`. Outputs 1 to 4 are the
// inputs; the fifth is median·alpha + (1 - alpha)·input 4.
class RecursiveMedian {
public:
    explicit RecursiveMedian(std::uint64_t length)
        : window_(5),
          length_(length),
          alpha_(RoofingHighPass::alpha_from_angle((360.0 / to_f64(length)) * kDegToRad)) {}

    double next(double x) noexcept {
        window_.push_front(x);
        if (window_.len() > 5) window_.pop_back();
        if (window_.len() < 5) {
            value_ = x;
            return x;
        }
        value_ = (median() * alpha_) + ((1.0 - alpha_) * value_);
        return value_;
    }

    // The third of the five values held, in ascending order with NaN last;
    // equal values keep their newest-first order.
    double median() const noexcept {
        std::array<double, 5> v{};
        for (std::uint64_t i = 0; i < 5; ++i) {
            // Stable insertion: move past only values strictly after x.
            const double x = window_[i];
            std::uint64_t j = i;
            for (; j > 0 && before(x, v[j - 1]); --j) v[j] = v[j - 1];
            v[j] = x;
        }
        return v[2];
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the medians of the windows in SIMD lanes chunk by chunk, the
    // smoothing bar by bar beside them.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t head = std::min<std::size_t>(4, n);
        for (std::size_t i = 0; i < head; ++i) out.put(i, next(x[i]));
        const double alpha = alpha_, keep = 1.0 - alpha_;
        double value = value_;
        std::vector<double> medians;
        lanes::each_chunk(4, 4, [&](std::size_t first, std::size_t count, const double* v) {
            medians.resize(count + lanes::kPad);
            lanes::medians_of_five(v, count, medians.data());
            for (std::size_t k = 0; k < count; ++k) {
                value = (medians[k] * alpha) + (keep * value);
                out.put(first + k, value);
            }
        }, x);
        value_ = value;
    }

    double alpha() const noexcept { return alpha_; }
    std::uint64_t length() const noexcept { return length_; }

private:
    // Strict order: numbers ascending, every NaN after every number.
    static bool before(double a, double b) noexcept { return std::isnan(b) ? !std::isnan(a) : a < b; }

    RingBuffer window_;  // last five inputs, newest at the front
    std::uint64_t length_;
    double alpha_;
    double value_ = 0.0;
};

// RecursiveMedianOscillator: the filter (length lp_period) through the
// alpha-form two-pole high-pass, its angle 0.707·360/hp_period degrees; an
// oscillator around 0. It runs from the first bar on a zero history, so the
// first output is (1 - alpha/2)^2·x.
class RecursiveMedianOscillator {
public:
    // 0.707 · 360 in double precision.
    static constexpr double kHighPassDegrees = 254.51999999999998;

    RecursiveMedianOscillator(std::uint64_t lp_period, std::uint64_t hp_period)
        : median_(lp_period),
          hp_(RoofingHighPass::from_angle((kHighPassDegrees / to_f64(hp_period)) * kDegToRad)),
          hp_period_(hp_period) {}

    double next(double x) noexcept { return hp_.step(median_.next(x)); }

    bool batch_ready() const noexcept { return median_.batch_ready(); }

    // Batch form: the filter's, each of its outputs through the high-pass.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        median_.batch(HighPassed<O>{out, &hp_}, x);
    }

    std::uint64_t lp_period() const noexcept { return median_.length(); }
    std::uint64_t hp_period() const noexcept { return hp_period_; }

private:
    // The filter's outputs, high-passed in bar order on their way to `out`.
    template <class O>
    struct HighPassed {
        O out;
        RoofingHighPass* hp;
        void put(std::size_t i, double v) const { out.put(i, hp->step(v)); }
        void store(std::size_t from, std::size_t count, const double* values) const {
            for (std::size_t k = 0; k < count; ++k) put(from + k, values[k]);
        }
    };

    RecursiveMedian median_;
    RoofingHighPass hp_;
    std::uint64_t hp_period_;
};

}  // namespace lumenfold::core
