// The newest-first window shared by the window FIR filters (Hann, Hamming,
// triangle): the last N inputs against N fixed weights, the newest input
// meeting the first weight. The ring buffer is sized before any weight is
// computed, so a window too large to size fails with "capacity overflow"
// before the weight loop runs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class FirWindow {
public:
    explicit FirWindow(std::uint64_t length) : window_(length), length_(length) {}

    // Inserts x at the front and drops the oldest value beyond the length;
    // true once the window holds its full length (always for length 0).
    bool push(double x) noexcept {
        window_.push_front(x);
        if (window_.len() > length_) window_.pop_back();
        return window_.len() >= length_;
    }

    // Sum of value i times weight i from the front, accumulated from 0.0.
    // `weights` holds `length` values, so every index held is in range.
    double dot(const std::vector<double>& weights) const noexcept {
        double num = 0.0;
        const std::uint64_t n = window_.len();
        for (std::uint64_t i = 0; i < n; ++i) num = num + window_[i] * weights[i];
        return num;
    }

    std::uint64_t length() const noexcept { return length_; }
    // Values held, and the value i places from the front (i below len()).
    std::uint64_t len() const noexcept { return window_.len(); }
    double operator[](std::uint64_t i) const noexcept { return window_[i]; }

private:
    RingBuffer window_;
    std::uint64_t length_;
};

// The window size times·length + plus for a filter that keeps more than its
// length; a size past the u64 range fails as a window too large to allocate
// instead of wrapping to a small one.
inline std::uint64_t window_size(std::uint64_t length, std::uint64_t times, std::uint64_t plus) {
    std::uint64_t n = 0;
    if (__builtin_mul_overflow(length, times, &n) || __builtin_add_overflow(n, plus, &n)) {
        throw_capacity_overflow();
    }
    return n;
}

// Outputs equal to the inputs for the bars [0, count), copied chunk by chunk.
template <class O, Series S>
void pass_inputs(const O& out, const S& x, std::size_t count) {
    std::vector<double> values(std::min(count, lanes::kChunk));
    for (std::size_t first = 0; first < count; first += lanes::kChunk) {
        const std::size_t n = std::min(lanes::kChunk, count - first);
        x.load(first, n, values.data());
        out.store(first, n, values.data());
    }
}

// Sum of the weights in order, from 0.0.
inline double weight_sum(const std::vector<double>& weights) noexcept {
    double sum = 0.0;
    for (double w : weights) sum = sum + w;
    return sum;
}

// What a weighted window does with a weight sum too small to divide by.
enum class ZeroSum {
    Exact,     // a sum of exactly 0 returns the input
    NearZero,  // a sum within 1e-10 of 0 (or NaN) returns the input
};

// A newest-first window with fixed weights: the weighted mean once the window
// holds its length, the input itself before that. The window is created
// before the weights, so a length too large to allocate fails there first.
template <ZeroSum Guard>
class WeightedFir {
public:
    template <class MakeWeights>
    WeightedFir(std::uint64_t length, MakeWeights make)
        : window_(length), weights_(make(length)), weight_sum_(core::weight_sum(weights_)) {}

    double next(double x) noexcept {
        if (!window_.push(x)) return x;
        const double num = window_.dot(weights_);
        if constexpr (Guard == ZeroSum::Exact) {
            return weight_sum_ == 0.0 ? x : num / weight_sum_;
        } else {
            return std::fabs(weight_sum_) > 1e-10 ? num / weight_sum_ : x;
        }
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: the inputs themselves where no mean is taken, the full
    // windows' means read from the series in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t length = static_cast<std::size_t>(window_.length());
        const std::size_t partial = length == 0 || !divides() ? n : std::min(length - 1, n);
        pass_inputs(out, x, partial);
        lanes::run_chunks(out, length - 1, partial, [&](std::size_t count, double* r, const double* v) {
            lanes::weighted_means(v, count, length, weights_.data(), true, weight_sum_, r);
        }, x);
    }

    // The outputs of bars first .. first + count - 1 of a series of native
    // doubles, v[j] holding bar first + j; a full window's mean reads the
    // length - 1 values before v[j], which v must hold.
    void outputs(const double* v, std::size_t first, std::size_t count, double* r) const noexcept {
        const std::size_t length = static_cast<std::size_t>(window_.length());
        const std::size_t warm = length == 0 ? 0 : length - 1 - std::min<std::size_t>(first, length - 1);
        const std::size_t partial = length == 0 || !divides() ? count : std::min(warm, count);
        std::copy(v, v + partial, r);
        if (partial < count) {
            lanes::weighted_means(v + partial - (length - 1), count - partial, length, weights_.data(), true,
                                  weight_sum_, r + partial);
        }
    }

    std::uint64_t length() const noexcept { return window_.length(); }

private:
    bool divides() const noexcept {
        if constexpr (Guard == ZeroSum::Exact) {
            return weight_sum_ != 0.0;
        } else {
            return std::fabs(weight_sum_) > 1e-10;
        }
    }

    FirWindow window_;
    std::vector<double> weights_;
    double weight_sum_;
};

}  // namespace lumenfold::core
