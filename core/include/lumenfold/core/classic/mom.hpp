// Lag differences of the input over `period` bars. The first `period` outputs
// (bars 0 to period - 1) are NaN; period 0 compares each input with itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Changes over `lag` bars: out[k] = x[k + lag] - x[k], or with `rate`
// ((x[k + lag] - x[k]) / x[k]) * 100, 0 where x[k] is 0; x holds count + lag
// values.
extern const Kernel<void(const double* x, std::size_t count, std::size_t lag, bool rate, double* out)> lag_changes;

// The changes of a chunk, as a per-bar map (map_bars).
struct LagChangeMap {
    std::size_t lag;
    bool rate;
    void operator()(std::size_t count, double* out, const double* x) const { lag_changes(x, count, lag, rate, out); }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

namespace detail {

// Inputs are pushed and never popped: the storage (a power of two above
// period + 1) is overwritten cyclically, and the input of `period` bars ago is
// always still in place when it is read.
class LagWindow {
public:
    explicit LagWindow(std::uint64_t period)
        : buffer_(period == std::numeric_limits<std::uint64_t>::max() ? period : period + 1),
          period_(period) {}

    // Pushes x and returns the input of `period` bars before it, or NaN during
    // the warm-up (`warm` is then false).
    double push(double x, bool& warm) noexcept {
        buffer_.push(x);
        const std::uint64_t n = seen_++;
        warm = n + 1 > period_;
        return warm ? buffer_.get_or(n - period_, kNaN) : kNaN;
    }

    bool batch_ready() const noexcept { return seen_ == 0; }

    // Batch form: NaN through the warm-up, then the changes over `period`
    // bars (rates of change with `rate`) read straight from the series.
    template <class O, Series S>
    void batch(const O& out, const S& x, bool rate) const {
        const std::size_t n = x.size();
        const std::size_t warm = period_ < n ? static_cast<std::size_t>(period_) : n;
        for (std::size_t i = 0; i < warm; ++i) out.put(i, kNaN);
        lanes::map_bars<double>(out, warm, warm, lanes::LagChangeMap{warm, rate}, x);
    }

private:
    RingBuffer buffer_;
    std::uint64_t period_;
    std::uint64_t seen_ = 0;
};

}  // namespace detail

// Momentum: x(t) - x(t-period), in the units of the input.
class MOM {
public:
    explicit MOM(std::uint64_t period) : lag_(period) {}

    double next(double x) noexcept {
        bool warm;
        const double old = lag_.push(x, warm);
        return warm ? x - old : kNaN;
    }

    bool batch_ready() const noexcept { return lag_.batch_ready(); }

    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        lag_.batch(out, x, false);
    }

private:
    detail::LagWindow lag_;
};

// Rate of change in percent: 100*(x(t) - x(t-period))/x(t-period); an old value
// of exactly 0 gives 0 rather than an infinity.
class ROC {
public:
    explicit ROC(std::uint64_t period) : lag_(period) {}

    // An old value of exactly 0 gives 0 rather than an infinity.
    double next(double x) noexcept {
        bool warm;
        const double old = lag_.push(x, warm);
        if (!warm) return kNaN;
        if (old == 0.0) return 0.0;
        return ((x - old) / old) * 100.0;
    }

    bool batch_ready() const noexcept { return lag_.batch_ready(); }

    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        lag_.batch(out, x, true);
    }

private:
    detail::LagWindow lag_;
};

}  // namespace lumenfold::core
