// Market structure: confirmed swing highs and lows of (high, low) bars, runs of
// higher highs and lower lows, a structure bias and the flip event of the bar
// on which an established trend makes its first opposing swing.
//
// A swing is the middle bar of the last 2s + 1 bars (s the swing strength, 0
// taken as 1) when no other bar of the window is strictly beyond it; it is
// confirmed s bars after it happened, so the first one can appear on bar
// 2s + 1. A swing closer than 2s bars to the last accepted one of its kind is
// ignored. Two higher highs make the bias bullish; a lower high after them is a
// bearish flip (and mirrored for lows). Swing bars count from 0; `bar_index` is
// the number of bars processed. Before the window fills every output has an
// undetermined bias (0) and no swings.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// A confirmed swing: the bar it happened on (counted from 0), its high (or low)
// and whether it is a swing high.
struct SwingPoint {
    std::uint64_t bar;
    double price;
    bool is_high;
};

// The first opposing swing of an established trend: bearish for a lower high
// ending a bullish run, else a higher low ending a bearish one; its price and
// bar, and structure_strength, the number of trend-extending swings of the run
// it ends.
struct FlipEvent {
    bool is_bearish;
    double price;
    std::uint64_t bar;
    std::uint32_t structure_strength;
};

enum class StructureBias : std::uint32_t { Undetermined = 0, Bullish = 1, Bearish = 2 };

// One bar's state: the bias (0 undetermined, 1 bullish, 2 bearish), the last
// accepted swing high and swing low, the flip this bar caused (if any), the
// swing strength in use (0 taken as 1) and the number of bars processed.
struct MarketStructureOutput {
    std::uint32_t bias;  // a StructureBias
    std::optional<SwingPoint> last_swing_high;
    std::optional<SwingPoint> last_swing_low;
    std::optional<FlipEvent> current_flip;
    std::uint32_t swing_depth_used;
    std::uint64_t bar_index;
};

class MarketStructure {
public:
    explicit MarketStructure(std::uint64_t swing_strength)
        : s_(swing_strength == 0 ? 1 : swing_strength),
          highs_(window_capacity(s_)),
          lows_(window_capacity(s_)),
          min_separation_(2 * s_) {}

    MarketStructureOutput next(double high, double low) {
        const std::uint64_t w = 2 * s_ + 1;
        highs_.push(high);
        lows_.push(low);
        ++n_;
        if (highs_.len() > w) {
            highs_.pop();
            lows_.pop();
        }
        std::optional<FlipEvent> flip;
        if (highs_.len() == w) {
            const std::uint64_t bar = n_ >= s_ + 1 ? n_ - (s_ + 1) : 0;
            if (is_swing<true>(highs_)) {
                if (auto f = update_structure({bar, highs_[s_], true})) flip = f;
            }
            if (lows_.len() == w && is_swing<false>(lows_)) {
                if (auto f = update_structure({bar, lows_[s_], false})) flip = f;
            }
        }
        return {static_cast<std::uint32_t>(bias_), last_high_, last_low_, flip, depth_used(), n_};
    }

    // Takes one confirmed swing into the structure; returns the flip it causes.
    std::optional<FlipEvent> update_structure(const SwingPoint& p) noexcept {
        if (p.is_high) {
            return update<true>(p, last_high_, higher_highs_, lower_lows_, StructureBias::Bullish,
                                StructureBias::Bearish);
        }
        return update<false>(p, last_low_, lower_lows_, higher_highs_, StructureBias::Bearish,
                             StructureBias::Bullish);
    }

    std::uint64_t swing_strength() const noexcept { return s_; }
    StructureBias bias() const noexcept { return bias_; }
    std::uint64_t bar_count() const noexcept { return n_; }

private:
    // Room for 2s + 4 values; a strength whose window cannot be sized panics.
    static std::uint64_t window_capacity(std::uint64_t s) {
        if (s > (std::numeric_limits<std::uint64_t>::max() - 4) / 2) throw Panic("capacity overflow");
        return 2 * s + 4;
    }

    std::uint32_t depth_used() const noexcept { return static_cast<std::uint32_t>(s_); }

    // Whether the middle of the full window is a swing: no other value strictly
    // beyond it (a NaN on either side never fails the test).
    template <bool kHigh>
    bool is_swing(const RingBuffer& window) const noexcept {
        const double c = window[s_];
        const std::uint64_t w = window.len();
        for (std::uint64_t i = 0; i < w; ++i) {
            if (i == s_) continue;
            if (kHigh ? window[i] > c : window[i] < c) return false;
        }
        return true;
    }

    // The swing-high case with kHigh, the mirrored swing-low case without:
    // `run` counts swings extending the trend, `other` the opposite run.
    template <bool kHigh>
    std::optional<FlipEvent> update(const SwingPoint& p, std::optional<SwingPoint>& last, std::uint32_t& run,
                                    std::uint32_t& other, StructureBias with, StructureBias against) noexcept {
        if (!last) {
            last = p;
            return std::nullopt;
        }
        const std::uint64_t gap = p.bar >= last->bar ? p.bar - last->bar : 0;
        if (gap < min_separation_) return std::nullopt;
        const bool extends = kHigh ? p.price > last->price : p.price < last->price;
        const bool opposes = kHigh ? p.price < last->price : p.price > last->price;
        if (extends) {
            if (run != std::numeric_limits<std::uint32_t>::max()) ++run;
            if (run > 1) bias_ = with;
            last = p;
        } else if (opposes) {
            if (bias_ == with && run >= 2) {
                bias_ = against;
                other = 1;
                return FlipEvent{kHigh, p.price, p.bar, run};
            }
            last = p;
        }
        return std::nullopt;
    }

    std::uint64_t s_;
    RingBuffer highs_;  // highs of the last 2s + 1 bars, oldest at the front
    RingBuffer lows_;   // lows of the same bars
    std::uint64_t min_separation_;
    std::optional<SwingPoint> last_high_;
    std::optional<SwingPoint> last_low_;
    std::uint64_t n_ = 0;
    std::uint32_t higher_highs_ = 0;
    std::uint32_t lower_lows_ = 0;
    StructureBias bias_ = StructureBias::Undetermined;
};

}  // namespace lumenfold::core
