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

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
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
        bool fh = false;
        bool fl = false;
        std::uint64_t bar = 0;
        double hp = 0.0;
        double lp = 0.0;
        std::uint32_t h_run = 0;
        std::uint32_t l_run = 0;
        if (highs_.len() == w) {
            // One branch per swing test; what a swing does to the structure
            // changes unpredictably from one swing to the next, so the updates
            // select their state without branches.
            const bool high_swing = is_swing<true>(highs_);
            const bool low_swing = lows_.len() == w && is_swing<false>(lows_);
            bar = n_ >= s_ + 1 ? n_ - (s_ + 1) : 0;
            hp = highs_[s_];
            lp = lows_[s_];
            if (high_swing) {
                fh = update<true>(bar, hp, high_, higher_highs_, lower_lows_, StructureBias::Bullish,
                                  StructureBias::Bearish, h_run);
            }
            if (low_swing) {
                fl = update<false>(bar, lp, low_, lower_lows_, higher_highs_, StructureBias::Bearish,
                                   StructureBias::Bullish, l_run);
            }
        }
        // Each optional is built in place; a flip (the low's when both flip) is rare.
        return {static_cast<std::uint32_t>(bias_),
                high_.has ? std::optional<SwingPoint>(SwingPoint{high_.bar, high_.price, true}) : std::nullopt,
                low_.has ? std::optional<SwingPoint>(SwingPoint{low_.bar, low_.price, false}) : std::nullopt,
                (fh | fl) ? std::optional<FlipEvent>(FlipEvent{!fl, fl ? lp : hp, bar, fl ? l_run : h_run})
                          : std::nullopt,
                depth_used(),
                n_};
    }

    // Takes one confirmed swing into the structure; returns the flip it causes.
    std::optional<FlipEvent> update_structure(const SwingPoint& p) noexcept {
        std::uint32_t run = 0;
        const bool flips = p.is_high ? update<true>(p.bar, p.price, high_, higher_highs_, lower_lows_,
                                                    StructureBias::Bullish, StructureBias::Bearish, run)
                                     : update<false>(p.bar, p.price, low_, lower_lows_, higher_highs_,
                                                     StructureBias::Bearish, StructureBias::Bullish, run);
        if (!flips) return std::nullopt;
        return FlipEvent{p.is_high, p.price, p.bar, run};
    }

    std::uint64_t swing_strength() const noexcept { return s_; }
    StructureBias bias() const noexcept { return bias_; }
    std::uint64_t bar_count() const noexcept { return n_; }

private:
    // Room for 2s + 4 values; a strength whose window cannot be sized panics.
    static std::uint64_t window_capacity(std::uint64_t s) {
        if (s > (std::numeric_limits<std::uint64_t>::max() - 4) / 2) throw_capacity_overflow();
        return 2 * s + 4;
    }

    std::uint32_t depth_used() const noexcept { return static_cast<std::uint32_t>(s_); }

    // Whether the middle of the full window is a swing: no other value strictly
    // beyond it (a NaN on either side never fails the test). Every comparison
    // is made and or-ed, without an early exit: on real bars which neighbour
    // is beyond the middle changes unpredictably from bar to bar.
    template <bool kHigh>
    bool is_swing(const RingBuffer& window) const noexcept {
        const double c = window[s_];
        const std::uint64_t w = window.len();
        bool beyond = false;
        for (std::uint64_t i = 0; i < s_; ++i) beyond |= kHigh ? window[i] > c : window[i] < c;
        for (std::uint64_t i = s_ + 1; i < w; ++i) beyond |= kHigh ? window[i] > c : window[i] < c;
        return !beyond;
    }

    // The last accepted swing of one kind, `has` false until the first.
    struct Last {
        std::uint64_t bar = 0;
        double price = 0.0;
        bool has = false;
    };
    // c ? a : b with bit masks.
    static std::uint32_t pick(bool c, std::uint32_t a, std::uint32_t b) noexcept {
        return b ^ ((a ^ b) & (std::uint32_t{0} - static_cast<std::uint32_t>(c)));
    }
    static std::uint64_t pick(bool c, std::uint64_t a, std::uint64_t b) noexcept {
        return b ^ ((a ^ b) & (std::uint64_t{0} - static_cast<std::uint64_t>(c)));
    }

    // The swing-high case with kHigh, the mirrored swing-low case without:
    // the swing at `bar` updates the last swing of its kind, `run` counts
    // swings extending the trend, `other` the opposite run. Every state change
    // is a selection on the conditions. Returns whether the swing flips the
    // bias; `strength` is set to the run it would end.
    template <bool kHigh>
    bool update(std::uint64_t bar, double price, Last& last, std::uint32_t& run, std::uint32_t& other,
                StructureBias with, StructureBias against, std::uint32_t& strength) noexcept {
        const std::uint64_t gap = pick(bar >= last.bar, bar - last.bar, std::uint64_t{0});
        const bool ok = last.has & (gap >= min_separation_);
        const bool extends = ok & (kHigh ? price > last.price : price < last.price);
        const bool opposes = ok & (kHigh ? price < last.price : price > last.price);
        const std::uint32_t r = run;
        const std::uint32_t grown = r + static_cast<std::uint32_t>(r != std::numeric_limits<std::uint32_t>::max());
        const auto b = static_cast<std::uint32_t>(bias_);
        const bool flips = opposes & (b == static_cast<std::uint32_t>(with)) & (r >= 2);
        const std::uint32_t extended = pick(extends & (grown > 1), static_cast<std::uint32_t>(with), b);
        bias_ = static_cast<StructureBias>(pick(flips, static_cast<std::uint32_t>(against), extended));
        other = pick(flips, std::uint32_t{1}, other);
        run = pick(extends, grown, r);
        strength = r;
        const bool take = !last.has | extends | (opposes & !flips);
        last.bar = pick(take, bar, last.bar);
        last.price = select(take, price, last.price);
        last.has = last.has | take;
        return flips;
    }

    std::uint64_t s_;
    RingBuffer highs_;  // highs of the last 2s + 1 bars, oldest at the front
    RingBuffer lows_;   // lows of the same bars
    std::uint64_t min_separation_;
    Last high_;
    Last low_;
    std::uint64_t n_ = 0;
    std::uint32_t higher_highs_ = 0;
    std::uint32_t lower_lows_ = 0;
    StructureBias bias_ = StructureBias::Undetermined;
};

}  // namespace lumenfold::core
