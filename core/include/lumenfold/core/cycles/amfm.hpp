// Detectors that read the bar body, close - open, as a modulated signal; inputs
// (close, open) in that order.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

// AMDetector: the amplitude envelope, the highest |close - open| of the last
// highest_len bars averaged over the last avg_len such maxima (partial windows
// from bar 1 on, so bar 1 returns its own body). A body window holding no
// number (highest_len 0, or nothing but NaN bodies) has no maximum: its NaN
// enters the average rather than a huge negative start value that would
// absorb every later sum. avg_len 0 gives NaN.
class AMDetector {
public:
    AMDetector(std::uint64_t highest_len, std::uint64_t avg_len) : highest_(highest_len), average_(avg_len) {}

    double next(double close, double open) noexcept {
        // Bodies are never -0, so the window's first strict maximum is the
        // maxNum maximum; the start value stands only when no number is held.
        const double m = highest_.next(std::fabs(close - open));
        return average_.next(m == WindowHighest::kStart ? kNaN : m);
    }

    bool batch_ready() const noexcept { return highest_.bars() == 0; }

    // Batch form (a fresh detector): for windows of up to kScanBars bodies,
    // each bar's highest body is the maximum over a ring of the last bodies,
    // with no branch on when the highest leaves the window, which market
    // bodies make unpredictable. Slots not yet written hold NaN, which never
    // wins; without -0 and NaN, the maximum does not depend on the order.
    // The average is stepped; longer windows step the detector.
    template <class O, Series S>
    void batch(const O& out, const S& close, const S& open) {
        const std::size_t n = std::min(close.size(), open.size());
        const std::uint64_t h = highest_.period();
        if (h == 0 || h > kScanBars) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(close[t], open[t]));
            return;
        }
        const std::size_t len = static_cast<std::size_t>(h);
        double ring[kScanBars];
        std::fill(ring, ring + kScanBars, kNaN);
        std::size_t slot = 0;
        for (std::size_t t = 0; t < n; ++t) {
            ring[slot] = std::fabs(close[t] - open[t]);
            slot = slot + 1 == len ? 0 : slot + 1;
            double m = WindowHighest::kStart;
            for (std::size_t j = 0; j < len; ++j) m = ring[j] > m ? ring[j] : m;
            out.put(t, average_.next(m == WindowHighest::kStart ? kNaN : m));
        }
    }

private:
    static constexpr std::uint64_t kScanBars = 16;

    WindowHighest highest_;
    SMA average_;
};

// FMDemodulator: the body scaled by 10 and hard-limited to [-1, 1], integrated
// by a super smoother of the caller's period from bar 3 on; bars 1 and 2
// return the raw body (the limited values already enter the history).
class FMDemodulator {
public:
    explicit FMDemodulator(std::uint64_t period) noexcept : rec_(to_f64(period)) {}

    double next(double close, double open) noexcept {
        if (count_ < 3) ++count_;
        const double d = close - open;
        // A select and a minimum rather than branches: whether a body is
        // limited changes unpredictably from bar to bar (a maximum would be
        // turned back into a branch, the minimum of -1 and 1 being known). A
        // NaN passes both limits.
        const double scaled = 10.0 * d;
        const double hl = std::min(select(scaled < -1.0, -1.0, scaled), 1.0);
        const double out = count_ >= 3 ? rec_.value(hl) : d;
        rec_.store(hl, out);
        return out;
    }

private:
    SuperSmootherRecursion rec_;
    std::uint64_t count_ = 0;  // bars seen, held at 3
};

}  // namespace lumenfold::core
