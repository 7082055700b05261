// Hilbert-transform cycle measures of the price, one bar at a time: the
// smoothed dominant-cycle period, the phasor components, the dominant-cycle
// phase, the sine and lead-sine lines and the trend-or-cycle flag. The period
// and the phasor report from bar 32, the phase, the sine lines and the trend
// mode from bar 63 (bars counted from 0); every earlier bar gives NaN.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lumenfold/core/classic/cycle_outputs.hpp"
#include "lumenfold/core/filters/homodyne.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

// The newest prices of a stream, addressed by their index in the whole
// stream (0 for the first price). Indexes older than the last 64 are gone.
class PriceWindow {
public:
    static constexpr std::uint64_t kSlots = 64;  // a power of two, at least 50

    void push_back(double x) noexcept {
        slots_[count_ & kMask] = x;
        ++count_;
    }
    // Number of prices seen so far.
    std::uint64_t size() const noexcept { return count_; }
    double back() const noexcept { return slots_[(count_ - 1) & kMask]; }
    double operator[](std::uint64_t i) const {
        if (i >= count_ || count_ - i > kSlots) throw Panic("index out of bounds");
        return slots_[i & kMask];
    }

private:
    static constexpr std::uint64_t kMask = kSlots - 1;
    std::array<double, kSlots> slots_{};
    std::uint64_t count_ = 0;
};

// Running sums of the four-bar weighted price smoother.
struct PriceWma {
    double sub = 0.0;             // plain sum of the last four prices
    double sum = 0.0;             // weighted sum (1, 2, 3 for the three newest between steps)
    double trailing_value = 0.0;  // the price that leaves the window at the next step
    std::uint64_t trailing_idx = 0;  // stream index of the next trailing value
};

// One Hilbert-transform stage with its odd-bar and even-bar stores.
// Not HilbertFIR: this running form sums the four taps in another order, which rounds differently.
struct HilbertStage {
    std::array<double, 3> odd{};
    std::array<double, 3> even{};
    double prev_odd = 0.0;
    double prev_even = 0.0;
    double prev_input_odd = 0.0;
    double prev_input_even = 0.0;

    // Transforms `input` on an odd or even bar at circular slot `idx`.
    double step(bool odd_bar, std::uint64_t idx, double input, double adj);
};

struct HilbertStepOutput {
    double in_phase;  // the detrender of three bars back, the stage input of jI
    double detrender;
    double q1;
    double i2;
    double q2;
};

// The transform stages and the dominant-cycle period estimate.
struct HilbertPeriodState {
    HilbertStage detrender;
    HilbertStage q1;
    HilbertStage ji;
    HilbertStage jq;
    std::uint64_t hilbert_idx = 0;
    double period = 0.0;
    double smooth_period = 0.0;
    HomodyneProduct homodyne;
    // Detrender values handed from one parity to the other, two and three bars back.
    double i1_odd_prev2 = 0.0;
    double i1_odd_prev3 = 0.0;
    double i1_even_prev2 = 0.0;
    double i1_even_prev3 = 0.0;

    HilbertStepOutput step_hilbert(std::uint64_t t, double smoothed, double adj);
    // Runs right after step_hilbert: the period that follows `prev`, with
    // `smooth_period` updated for it.
    double next_period(double prev);
    // next_period for the period held.
    void update_period() { period = next_period(period); }
    // One bar t: the stages with the gain of the period so far, then the period update.
    HilbertStepOutput step(std::uint64_t t, double smoothed);
};

// One smoother step over `prices` (the newest price already appended): nothing
// for the first two prices, nothing when it seeds the sums from the first three,
// nothing while `warmup` counts down, else the smoothed price.
std::optional<double> step_price_wma(const PriceWindow& prices, std::optional<PriceWma>& wma, std::uint8_t& warmup);

// Engine of the period and phasor indicators.
//
// Two engines carry all state: HtEngine32 (period, phasor) and HtEngine63
// (phase, sine, trend mode). Prices pass a four-bar weighted smoother kept as
// running sums that are never recomputed from the window (so its values differ
// in the last bits from a fixed-window weighted mean, and a NaN never leaves
// it), then four Hilbert stages that keep separate odd-bar and even-bar stores.
// The smoother is seeded from the first three prices and then counts down 9
// (HtEngine32) or 34 (HtEngine63) bars before its values reach the stages. Only
// the newest 64 prices are kept: the trendline mean reads one cycle back, at
// most 50 bars since the period is clamped to 50, and the smoother three.
struct HtEngine32 {
    PriceWindow prices;
    std::optional<PriceWma> wma;
    HilbertPeriodState hilbert;
    std::uint8_t warmup = 9;

    // The smoother step for the newest price in `prices`.
    std::optional<double> step_wma() { return step_price_wma(prices, wma, warmup); }
    // Appends x and runs the smoother, then, once it yields, the stages and the
    // period update; nothing while the smoother yields nothing.
    std::optional<HilbertStepOutput> step(double x);
    // True when the newest bar is one the indicators report.
    bool reports() const noexcept { return prices.size() >= 33; }
};

// Engine of the phase, sine and trend-mode indicators.
struct HtEngine63 {
    PriceWindow prices;
    std::optional<PriceWma> wma;
    HilbertPeriodState hilbert;
    std::uint8_t warmup = 34;
    std::array<double, 50> smooth_prices{};
    std::uint64_t smooth_idx = 0;
    double dc_phase = 0.0;
    double prev_dc_phase = 0.0;
    double itrend1 = 0.0;
    double itrend2 = 0.0;
    double itrend3 = 0.0;
    double prev_sine = 0.0;
    double prev_lead_sine = 0.0;
    double sine = 0.0;
    double lead_sine = 0.0;
    double smoothed = 0.0;
    double trendline = 0.0;
    double trend = 0.0;
    std::int32_t days_in_trend = 0;
    // sin and cos of i·2pi/n for every cycle length n up to 50 met so far,
    // n's values stored from offset n(n-1)/2: the phase sum runs over the
    // same few lengths bar after bar.
    static constexpr std::int32_t kTrigLengths = 50;
    std::uint64_t trig_ready = 0;  // bit n set once length n is tabled
    std::vector<double> trig_sin;
    std::vector<double> trig_cos;

    // Advances every measure for the newest price in `prices`; false while the
    // smoother yields nothing.
    bool step_core();
    // True when the newest bar is one the indicators report.
    bool reports(bool stepped) const noexcept { return stepped && prices.size() >= 64; }
    // Appends x and advances every measure; true when the bar is one the
    // indicators report.
    bool step(double x) {
        prices.push_back(x);
        return reports(step_core());
    }
};

// Smoothed dominant-cycle period, in bars.
class HT_DCPERIOD {
public:
    double next(double input);
    // The batch form steps the engine: it runs from any state.
    bool batch_ready() const noexcept { return true; }

    // Batch form: the same steps chunk by chunk, the period carried in a
    // register between bars.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        lanes::run_chunks(out, 0, 0, [&](std::size_t count, double* r, const double* v) { run(v, count, r); }, x);
    }
    const HtEngine32& engine() const noexcept { return engine_; }

private:
    // The steps of the bars x[0 .. count), their outputs to out.
    void run(const double* x, std::size_t count, double* out);

    HtEngine32 engine_;
};

// In-phase component (the detrender of three bars back) and quadrature (Q1).
class HT_PHASOR {
public:
    PhasorOutput next(double input);
    // The batch form steps the engine: it runs from any state.
    bool batch_ready() const noexcept { return true; }

    // Batch form: the same steps chunk by chunk, the period carried in a
    // register between bars.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        std::vector<PhasorOutput> results;
        lanes::each_chunk(0, 0, [&](std::size_t first, std::size_t count, const double* v) {
            results.resize(count);
            run(v, count, results.data());
            out.store(first, count, results.data());
        }, x);
    }
    const HtEngine32& engine() const noexcept { return engine_; }

private:
    // The steps of the bars x[0 .. count), their outputs to out.
    void run(const double* x, std::size_t count, PhasorOutput* out);

    HtEngine32 engine_;
};

// Dominant-cycle phase in degrees.
class HT_DCPHASE {
public:
    double next(double input);
    const HtEngine63& engine() const noexcept { return engine_; }

private:
    HtEngine63 engine_;
};

// Sine of the dominant-cycle phase and of the phase advanced by 45 degrees.
class HT_SINE {
public:
    HtSineOutput next(double input);
    const HtEngine63& engine() const noexcept { return engine_; }

private:
    HtEngine63 engine_;
};

// 1.0 while the market trends, 0.0 while it cycles.
class HT_TRENDMODE {
public:
    double next(double input);
    const HtEngine63& engine() const noexcept { return engine_; }

private:
    HtEngine63 engine_;
};

}  // namespace lumenfold::core
