// Moving average convergence/divergence: the fast minus the slow exponential
// average of the price, an exponential signal average of that line and their
// difference. Both price averages are seeded with simple means when the slow
// one has seen `slow` prices; the signal is seeded with the mean of its first
// `signal` values. Every field is NaN until bar slow + signal - 2, the first
// complete output. The two periods are ordered, so (12, 26, 9) and
// (26, 12, 9) are the same indicator. Averages step with one fused
// multiply-add each.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct MacdOutput {
    double macd;
    double signal;
    double histogram;
};

class MACD {
public:
    MACD(std::uint64_t fast, std::uint64_t slow, std::uint64_t signal)
        : signal_(signal),
          fast_period_(std::min(fast, slow)),
          slow_period_(std::max(fast, slow)),
          fast_k_(2.0 / (to_f64(fast_period_) + 1.0)),
          slow_k_(2.0 / (to_f64(slow_period_) + 1.0)),
          signal_k_(2.0 / (to_f64(signal) + 1.0)),
          lookback_(slow_period_ + signal - 2),
          seed_bar_(slow_period_ - 1),
          fast_seed_from_(slow_period_ - fast_period_) {}

    MacdOutput next(double x) noexcept {
        const std::uint64_t c = count_++;
        if (c > seed_bar_) [[likely]] {
            slow_avg_ = std::fma(x - slow_avg_, slow_k_, slow_avg_);
            fast_avg_ = std::fma(x - fast_avg_, fast_k_, fast_avg_);
            const double m = fast_avg_ - slow_avg_;
            if (c > lookback_) [[likely]] {
                signal_avg_ = std::fma(m - signal_avg_, signal_k_, signal_avg_);
                return {m, signal_avg_, m - signal_avg_};
            }
            signal_seed_ = signal_seed_ + m;
            if (c < lookback_) return kEmpty;
            signal_avg_ = signal_seed_ / to_f64(signal_);
            return {m, signal_avg_, m - signal_avg_};
        }
        // Collecting the first `slow` prices. Summing them as they arrive
        // (all of them for the slow seed, the last `fast` for the fast seed)
        // adds in the same order as summing the stored prices would.
        slow_seed_ = slow_seed_ + x;
        if (c >= fast_seed_from_) fast_seed_ = fast_seed_ + x;
        if (c < seed_bar_) return kEmpty;
        slow_avg_ = slow_seed_ / to_f64(slow_period_);
        fast_avg_ = fast_seed_ / to_f64(fast_period_);
        const double m = fast_avg_ - slow_avg_;
        signal_seed_ = signal_seed_ + m;
        if (lookback_ == seed_bar_) {  // signal period 1
            signal_avg_ = m;
            return {m, m, 0.0};
        }
        return kEmpty;
    }

    bool batch_ready() const noexcept { return count_ == 0; }

    // Batch form: the seeding bars stepped, then the three averages alone.
    template <class O, Series S>
    void batch(const O& out, const S& x) noexcept {
        const std::size_t n = x.size();
        const std::uint64_t last_seed = std::max(seed_bar_, lookback_);
        const std::size_t steady = last_seed >= n ? n : static_cast<std::size_t>(last_seed) + 1;
        for (std::size_t i = 0; i < steady; ++i) out.put(i, next(x[i]));
        double slow = slow_avg_, fast = fast_avg_, signal = signal_avg_;
        for (std::size_t i = steady; i < n; ++i) {
            const double v = x[i];
            slow = std::fma(v - slow, slow_k_, slow);
            fast = std::fma(v - fast, fast_k_, fast);
            const double m = fast - slow;
            signal = std::fma(m - signal, signal_k_, signal);
            out.put(i, MacdOutput{m, signal, m - signal});
        }
    }

    std::uint64_t lookback() const noexcept { return lookback_; }

private:
    static constexpr MacdOutput kEmpty{kNaN, kNaN, kNaN};

    std::uint64_t signal_;
    std::uint64_t fast_period_;
    std::uint64_t slow_period_;
    double fast_k_;
    double slow_k_;
    double signal_k_;
    // Wrapping: slow + signal - 2 and slow - 1 wrap for tiny periods, which
    // keeps every output NaN where no complete output can be formed.
    std::uint64_t lookback_;
    std::uint64_t seed_bar_;
    std::uint64_t fast_seed_from_;
    std::uint64_t count_ = 0;
    double slow_seed_ = 0.0;
    double fast_seed_ = 0.0;
    double signal_seed_ = 0.0;
    double slow_avg_ = 0.0;
    double fast_avg_ = 0.0;
    double signal_avg_ = 0.0;
};

}  // namespace lumenfold::core
