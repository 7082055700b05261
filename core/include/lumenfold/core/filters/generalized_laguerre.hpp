// Generalized Laguerre filter: an ultimate smoother stage of period `length`
// followed by order - 1 exponential stages (factor gamma, each fed the previous
// bar's value of the stage before it); output the plain mean of the order stage
// values. The order is clamped to 1..10. The first bar sets every stage to the
// smoother output and returns it, so there is no warm-up placeholder.
// Fixed-size state, no allocation.
#pragma once

#include <array>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"

namespace lumenfold::core {

class GeneralizedLaguerre {
public:
    static constexpr std::uint64_t kMaxOrder = 10;

    GeneralizedLaguerre(std::uint64_t length, double gamma, std::uint64_t order) noexcept
        : smoother_(length), gamma_(gamma), order_(clamp_order(order)) {}
    // Guard against swapping gamma and order: both convert silently.
    GeneralizedLaguerre(std::uint64_t length, std::uint64_t order, double gamma) = delete;

    static std::uint64_t clamp_order(std::uint64_t order) noexcept {
        if (order == 0) return 1;
        return order >= kMaxOrder ? kMaxOrder : order;
    }

    double next(double x) noexcept {
        const std::uint64_t k = order_;
        ++count_;
        for (std::uint64_t j = 1; j <= k; ++j) prev_[j] = stages_[j];
        const double y = smoother_.next(x);
        stages_[1] = y;
        const double g = gamma_;
        for (std::uint64_t j = 2; j <= k; ++j) {
            stages_[j] = (prev_[j - 1] - g * prev_[j - 1]) + g * prev_[j];
        }
        if (count_ == 1) {
            for (std::uint64_t j = 1; j <= k; ++j) stages_[j] = y;
            return y;
        }
        double sum = 0.0;
        for (std::uint64_t j = 1; j <= k; ++j) sum = sum + stages_[j];
        return sum / to_f64(k);
    }

    std::uint64_t order() const noexcept { return order_; }

private:
    UltimateSmoother smoother_;
    double gamma_;
    std::uint64_t order_;
    // Indexed 1..order; index 0 is unused.
    std::array<double, kMaxOrder + 1> stages_{};
    std::array<double, kMaxOrder + 1> prev_{};
    std::uint64_t count_ = 0;
};

}  // namespace lumenfold::core
