// Directional movement, Aroon, momentum and rate of change, parabolic SAR,
// true range and ATR, and the volume indicators (OBV, A/D, A/D oscillator).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "lumenfold/core/batch.hpp"
#include "lumenfold/core/classic/ad.hpp"
#include "lumenfold/core/classic/adosc.hpp"
#include "lumenfold/core/classic/adx.hpp"
#include "lumenfold/core/classic/aroon.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/classic/mom.hpp"
#include "lumenfold/core/classic/obv.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/classic/sar.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::Bar;
using lumenfold::test::expect_panic;
using lumenfold::test::run;
using lumenfold::test::run_hlc;
using lumenfold::test::walk_bars;

namespace {

constexpr double kN = std::numeric_limits<double>::quiet_NaN();  // NaN input or expected NaN

// Same values, NaN matching NaN.
void expect_series(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << "bar " << i << ": " << got[i];
        } else {
            EXPECT_EQ(got[i], want[i]) << "bar " << i;
        }
    }
}

std::size_t leading_nans(const std::vector<double>& v) {
    std::size_t n = 0;
    while (n < v.size() && std::isnan(v[n])) ++n;
    return n;
}

}  // namespace

// ---- true range and ATR ----

TEST(TrueRange, TakesTheLargestOfRangeAndGaps) {
    EXPECT_EQ(true_range(14, 12, 10), 4.0);  // gap up: high - previous close
    EXPECT_EQ(true_range(9, 7, 12), 5.0);    // gap down: previous close - low
    EXPECT_EQ(true_range(12, 9, 10), 3.0);
    // NaN operands are ignored; all NaN gives NaN.
    EXPECT_EQ(true_range(kN, 7, 10), 3.0);
    EXPECT_EQ(true_range(12, 9, kN), 3.0);
    EXPECT_TRUE(std::isnan(true_range(kN, kN, 10)));
    // +0 ranks above -0: a -0 range against +0 gaps gives +0.
    EXPECT_FALSE(std::signbit(true_range(-0.0, 0.0, 0.0)));
}

// To the bit, NaNs included: NaNs of either sign and another payload tell
// which term's NaN a maximum keeps.
TEST(TrueRange, AgreesWithNaNIgnoringMaximaOnSpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double xs[] = {0.0, -0.0, 1.0, -1.0, 2.5, kN, -kN, std::bit_cast<double>(std::uint64_t{0xfff80000000000a5}),
                         inf, -inf};
    for (double h : xs) {
        for (double l : xs) {
            for (double pc : xs) {
                const double want = max_num(max_num(h - l, std::fabs(h - pc)), std::fabs(l - pc));
                EXPECT_EQ(std::bit_cast<std::uint64_t>(true_range(h, l, pc)), std::bit_cast<std::uint64_t>(want))
                    << h << " " << l << " " << pc;
            }
        }
    }
}

TEST(Atr, FirstBarIsItsRangeThenExponentialAverage) {
    // alpha = 0.5 for period 3.
    // The first close is only remembered.
    EXPECT_EQ(ATR(3).next(10, 8, 100), 2.0);
    expect_series(run_hlc(ATR(3), {{10, 8, 9}, {14, 12, 13}, {13, 12, 12}}),
                  {2.0, 0.5 * 5.0 + 0.5 * 2.0, 0.5 * 1.0 + 0.5 * 3.5});
    // Period 1 gives each bar's true range, period 0 gives 2*tr - previous.
    expect_series(run_hlc(ATR(1), {{10, 8, 9}, {14, 12, 13}, {13, 13, 13}}), {2.0, 5.0, 0.0});
    expect_series(run_hlc(ATR(0), {{10, 8, 9}, {14, 12, 13}}), {2.0, 8.0});
}

TEST(Atr, NaNInputs) {
    // A NaN on the first bar stays in the average for good.
    const auto first = run_hlc(ATR(3), {{kN, 8, 9}, {10, 8, 9}, {10, 8, 9}});
    for (double v : first) EXPECT_TRUE(std::isnan(v));
    // Later: a NaN high leaves |low - previous close|; a NaN close makes the
    // next bar's gaps NaN, so its true range is high - low.
    expect_series(run_hlc(ATR(1), {{10, 8, 9}, {kN, 6, kN}, {12, 11, 11}}), {2.0, 3.0, 1.0});
}

// ---- ADX ----

TEST(Adx, WorkedValuesAndWarmUp) {
    expect_series(run_hlc(ADX(2), {{10, 8, 9}, {11, 9, 10}, {12, 10, 11}, {13, 11, 12}}),
                  {kN, kN, kN, 100.0});
    // First value at bar 2*period - 1 on ordinary data.
    for (std::uint64_t p : {2u, 5u, 14u}) {
        const auto out = run_hlc(ADX(p), walk_bars(100, 3));
        EXPECT_EQ(leading_nans(out), 2 * p - 1) << p;
        for (std::size_t i = 2 * p - 1; i < out.size(); ++i) {
            EXPECT_GE(out[i], 0.0);
            EXPECT_LE(out[i], 100.0);
        }
    }
}

TEST(Adx, DirectionalIndicatorsOfTheCore) {
    DmiCore core(2);
    EXPECT_FALSE(core.step(10, 8, 9));
    EXPECT_FALSE(core.step(11, 9, 10));  // bar 1 only feeds the sums
    const auto out = core.step(12, 10, 11);
    ASSERT_TRUE(out);
    // Smoothed: tr = 2 + (2 - 1) = 3, +DM = 1 + (1 - 0.5) = 1.5, -DM = 0.
    EXPECT_EQ(out->plus_di, 50.0);
    EXPECT_EQ(out->minus_di, 0.0);
    EXPECT_EQ(out->dx, 100.0);
    EXPECT_EQ(core.bar_count(), 3u);
}

TEST(Adx, DegeneratePeriodsAndFlatSeries) {
    const auto bars = walk_bars(30, 5);
    for (std::uint64_t p : {0u, 1u}) {
        for (double v : run_hlc(ADX(p), bars)) EXPECT_TRUE(std::isnan(v));
    }
    DmiCore zero(0);
    EXPECT_FALSE(zero.step(2, 1, 1));
    EXPECT_EQ(zero.bar_count(), 0u);
    // All true ranges 0: no DX ever, so no seeding.
    for (double v : run_hlc(ADX(3), std::vector<Bar>(20, {5, 5, 5}))) EXPECT_TRUE(std::isnan(v));
    // A period too large to ever seed costs nothing up front.
    for (double v : run_hlc(ADX(std::numeric_limits<std::uint64_t>::max()), bars)) EXPECT_TRUE(std::isnan(v));
}

TEST(Adx, BalancedMovesGiveZero) {
    // Each bar's high rises exactly as much as its low falls: +DM = -DM = 0.
    std::vector<Bar> bars;
    for (int i = 0; i < 12; ++i) bars.push_back({10.0 + i, 8.0 - i, 9.0});
    expect_series(run_hlc(ADX(3), bars), {kN, kN, kN, kN, kN, 0, 0, 0, 0, 0, 0, 0});
}

TEST(Adx, NaNPrices) {
    auto bars = walk_bars(40, 11);
    const auto clean = run_hlc(ADX(4), bars);
    // A NaN close is absorbed: only the next bar's gaps are ignored.
    bars[20].close = kN;
    const auto with_nan_close = run_hlc(ADX(4), bars);
    for (std::size_t i = 7; i < bars.size(); ++i) EXPECT_FALSE(std::isnan(with_nan_close[i])) << i;
    expect_series(std::vector<double>(with_nan_close.begin(), with_nan_close.begin() + 21),
                  std::vector<double>(clean.begin(), clean.begin() + 21));
    // A bar whose true range is NaN makes the smoothed range NaN for good: DX
    // is 0 from then on and the ADX decays by its Wilder recursion.
    bars = walk_bars(40, 11);
    bars[20].high = kN;
    bars[20].low = kN;
    const auto with_nan_bar = run_hlc(ADX(4), bars);
    for (std::size_t i = 20; i + 1 < bars.size(); ++i) {
        EXPECT_EQ(with_nan_bar[i + 1], (0.0 + 3.0 * with_nan_bar[i]) / 4.0) << i;
    }
}

TEST(Adx, NoDxAtTheSeedingBarKeepsItNaN) {
    // Period 2: bars 2 and 3 seed. A flat start gives no DX at bar 3 (its
    // smoothed range is still 0), so the ADX never seeds.
    std::vector<Bar> bars(4, {5, 5, 5});
    for (int i = 0; i < 10; ++i) bars.push_back({6.0 + i, 5.0 + i, 5.5 + i});
    for (double v : run_hlc(ADX(2), bars)) EXPECT_TRUE(std::isnan(v));
}

// ---- Aroon ----

namespace {

std::vector<AroonOutput> run_aroon(AROON a, const std::vector<double>& highs, const std::vector<double>& lows) {
    std::vector<AroonOutput> out;
    for (std::size_t i = 0; i < highs.size(); ++i) out.push_back(a.next(highs[i], lows[i]));
    return out;
}

// Straight scan of the last period + 1 values; the newest of equal extremes wins.
double aroon_reference(const std::vector<double>& xs, std::size_t t, std::uint64_t p, bool highs) {
    std::size_t best = t - p;
    for (std::size_t i = t - p + 1; i <= t; ++i) {
        if (highs ? xs[i] >= xs[best] : xs[i] <= xs[best]) best = i;
    }
    return (100.0 / static_cast<double>(p)) * static_cast<double>(p - (t - best));
}

}  // namespace

TEST(Aroon, WorkedValues) {
    const auto out = run_aroon(AROON(2), {1, 3, 2, 2.5, 2}, {5, 2, 1, 3, 3});
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(std::isnan(out[i].up));
        EXPECT_TRUE(std::isnan(out[i].down));
    }
    EXPECT_EQ(out[2].up, 50.0);
    EXPECT_EQ(out[2].down, 100.0);
    EXPECT_EQ(out[3].up, 0.0);
    EXPECT_EQ(out[3].down, 50.0);
    EXPECT_EQ(out[4].up, 50.0);
    EXPECT_EQ(out[4].down, 0.0);
}

TEST(Aroon, RisingSeriesTiesAndRounding) {
    std::vector<double> highs, lows;
    for (int i = 0; i < 40; ++i) {
        highs.push_back(10.0 + i);
        lows.push_back(5.0 + i);
    }
    const auto rising = run_aroon(AROON(11), highs, lows);
    for (std::size_t i = 11; i < rising.size(); ++i) {
        // The stored factor times the period exceeds 100 in the last bit.
        EXPECT_EQ(rising[i].up, 100.00000000000001);
        EXPECT_EQ(rising[i].down, 0.0);
    }
    // A high equal to the window's highest counts as on the current bar.
    const auto tie = run_aroon(AROON(3), {5, 7, 6, 4, 7}, {1, 1, 1, 1, 1});
    EXPECT_EQ(tie[3].up, 100.0 / 3.0 * 1.0);
    EXPECT_EQ(tie[4].up, 100.0 / 3.0 * 3.0);
    EXPECT_EQ(tie[4].down, 100.0 / 3.0 * 3.0);  // equal lows: the newest wins
}

TEST(Aroon, MatchesWindowScanOnRandomData) {
    // Small integer prices for many ties; period 100 also grows the window.
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> d(0, 12);
    std::vector<double> highs, lows;
    for (int i = 0; i < 1500; ++i) {
        highs.push_back(d(rng));
        lows.push_back(d(rng));
    }
    for (std::uint64_t p : {2u, 3u, 7u, 64u, 100u}) {
        const auto out = run_aroon(AROON(p), highs, lows);
        for (std::size_t t = 0; t < out.size(); ++t) {
            if (t < p) {
                ASSERT_TRUE(std::isnan(out[t].up) && std::isnan(out[t].down));
                continue;
            }
            ASSERT_EQ(out[t].up, aroon_reference(highs, t, p, true)) << p << " " << t;
            ASSERT_EQ(out[t].down, aroon_reference(lows, t, p, false)) << p << " " << t;
        }
    }
}

TEST(Aroon, DegeneratePeriodsAndNaN) {
    for (std::uint64_t p : {0u, 1u}) {
        for (const auto& r : run_aroon(AROON(p), {1, 2, 3}, {1, 2, 3})) {
            EXPECT_TRUE(std::isnan(r.up));
            EXPECT_TRUE(std::isnan(r.down));
        }
    }
    // A period beyond any input allocates nothing up front.
    for (const auto& r : run_aroon(AROON(std::uint64_t{1} << 62), {1, 2, 3}, {1, 2, 3})) {
        EXPECT_TRUE(std::isnan(r.up));
    }
    // A NaN on bar 0 is the extreme until it leaves the window; outputs stay numbers.
    const auto out = run_aroon(AROON(2), {kN, 1, 2, 3, 1}, {kN, 1, 2, 3, 4});
    EXPECT_EQ(out[2].up, 0.0);  // NaN at bar 0 is never beaten
    EXPECT_EQ(out[2].down, 0.0);
    EXPECT_EQ(out[3].up, 100.0);  // rescan from bar 1
    EXPECT_EQ(out[3].down, 0.0);
    EXPECT_EQ(out[4].up, 50.0);
    EXPECT_EQ(out[4].down, 0.0);  // bar 2 is the lowest of 2, 3, 4
}

// ---- momentum and rate of change ----

TEST(Momentum, WorkedValues) {
    expect_series(run(MOM(3), {1, 2, 4, 8, 16}), {kN, kN, kN, 7, 14});
    expect_series(run(ROC(1), {2, 3, 0, 5}), {kN, 50, -100, 0});
    // Difference, division, then multiplication.
    expect_series(run(ROC(2), {3, 1, 10}), {kN, kN, ((10.0 - 3.0) / 3.0) * 100.0});
}

TEST(Momentum, LagSurvivesCyclicOverwrite) {
    // Period 5 stores 8 slots; inputs keep overwriting them.
    std::vector<double> xs;
    for (int i = 0; i < 100; ++i) xs.push_back(i * i);
    const auto out = run(MOM(5), xs);
    for (std::size_t i = 5; i < xs.size(); ++i) ASSERT_EQ(out[i], xs[i] - xs[i - 5]) << i;
    const auto roc = run(ROC(7), xs);
    for (std::size_t i = 8; i < xs.size(); ++i) {
        ASSERT_EQ(roc[i], ((xs[i] - xs[i - 7]) / xs[i - 7]) * 100.0) << i;
    }
    EXPECT_EQ(roc[7], 0.0);  // old value 0
}

TEST(Momentum, NaNAndDegeneratePeriods) {
    expect_series(run(MOM(2), {1, 2, kN, 4, 5, 6}), {kN, kN, kN, 2, kN, 2});
    expect_series(run(ROC(1), {1, kN, 2}), {kN, kN, kN});
    expect_series(run(MOM(0), {3, -1, 0}), {0, 0, 0});
    expect_series(run(ROC(0), {3, -1, 0}), {0, 0, 0});
    expect_series(run(MOM(4), {1, 2, 3, 4}), {kN, kN, kN, kN});
}

TEST(Momentum, HugePeriodFailsCleanly) {
    for (std::uint64_t p : {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{1} << 59}) {
        try {
            MOM m(p);
            FAIL() << p;
        } catch (const lumenfold::Panic& e) {
            EXPECT_EQ(e.message(), "capacity overflow");
        }
    }
    expect_panic([] { ROC(std::uint64_t{1} << 58); }, "memory allocation failed");
}

// ---- parabolic SAR ----

namespace {
std::vector<double> run_sar(SAR s, const std::vector<std::pair<double, double>>& hl) {
    std::vector<double> out;
    for (auto [h, l] : hl) out.push_back(s.next(h, l));
    return out;
}
}  // namespace

TEST(Sar, SecondBarChoosesTheSide) {
    // Long: the first stop is the first low.
    expect_series(run_sar(SAR(0.02, 0.2), {{10, 8}, {11, 9}}), {kN, 8});
    // Lower low and lower high: short, the first high.
    expect_series(run_sar(SAR(0.02, 0.2), {{10, 8}, {9, 7}}), {kN, 10});
    // Equal lows: chosen long, but the low touches the stop: flips to its high
    // (and the next bar's higher high flips back at the short extreme, 8).
    expect_series(run_sar(SAR(0.02, 0.2), {{10, 8}, {11, 8}, {12, 9}}), {kN, 11, 8});
    // Outside bar falling further than it rises: chosen short, flips to its low.
    expect_series(run_sar(SAR(0.02, 0.2), {{10, 8}, {10.5, 6}, {11, 7}}), {kN, 6, 6});
    // A NaN move counts as long.
    expect_series(run_sar(SAR(0.02, 0.2), {{10, 8}, {kN, 9}}), {kN, 8});
}

TEST(Sar, FollowsAcceleratesAndReverses) {
    // Factors that are exact in binary keep every stop exact.
    const auto out = run_sar(SAR(0.25, 0.5), {{10, 8},
                                              {11, 9},
                                              {12, 10},
                                              {13, 11},
                                              {14, 12},
                                              {13, 10.5},
                                              {13.5, 10},
                                              {14, 12}});
    // Rising: af 0.25 then capped at 0.5; the stop is clamped to the previous
    // two lows. Bar 5 penetrates (reverse at the extreme 14), bar 7 reverses
    // back at the short extreme 10.
    expect_series(out, {kN, 8, 8.75, 9, 10, 14, 14, 10});
}

TEST(Sar, MaximumBelowAcceleration) {
    // af starts at 0.5 but the first new extreme caps it at 0.1.
    const auto out = run_sar(SAR(0.5, 0.1), {{10, 8}, {11, 9}, {12, 10}, {13, 11}});
    // Bar 1: stop 8, next = min(8 + 0.5*3, 9) = 9. Bar 2: af 0.1, next =
    // min(min(9 + 0.1*3, 9), 10) = 9. Bar 3: 9.
    expect_series(out, {kN, 8, 9, 9});
}

// ---- volume: OBV, A/D and the A/D oscillator ----

TEST(Obv, WorkedValuesAndNaN) {
    OBV obv;
    std::vector<double> out;
    const double prices[] = {10, 11, 11, 9};
    const double volumes[] = {5, 2, 3, 4};
    for (int i = 0; i < 4; ++i) out.push_back(obv.next(prices[i], volumes[i]));
    expect_series(out, {5, 7, 7, 3});
    // A NaN price leaves the total unchanged on its bar and the next.
    OBV b;
    expect_series({b.next(10, 1), b.next(kN, 2), b.next(11, 3), b.next(12, 4)}, {1, 1, 1, 5});
    // A NaN volume on a falling price: the step subtracts it as the batch form
    // does, adding its negation, so both give the NaN of the same sign.
    OBV c;
    c.next(10, 5);
    const double fell = c.next(9, kN);
    const auto batch = lumenfold::core::batch(OBV(), std::vector<double>{10, 9}, std::vector<double>{5, kN});
    EXPECT_EQ(std::bit_cast<std::uint64_t>(fell), std::bit_cast<std::uint64_t>(batch[1]));
}

TEST(Ad, CloseLocationWeightsTheVolume) {
    AD ad;
    EXPECT_EQ(ad.next(10, 8, 10, 3), 3.0);    // close at the high: +volume
    EXPECT_EQ(ad.next(10, 8, 8, 2), 1.0);     // at the low: -volume
    EXPECT_EQ(ad.next(10, 8, 9, 100), 1.0);   // middle: nothing
    EXPECT_EQ(ad.next(9, 9, 50, 100), 1.0);   // flat bar: nothing, whatever the close
    EXPECT_EQ(ad.next(8, 9, 9, 100), 1.0);    // inverted range: nothing
    EXPECT_EQ(ad.next(10, 6, 9, 4), 1.0 + 4.0 * 0.5);
    EXPECT_TRUE(std::isnan(ad.next(10, 8, 9, kN)));
    EXPECT_TRUE(std::isnan(ad.next(10, 8, 9, 1)));  // NaN for good
}

TEST(Adosc, WarmUpAndSeededValues) {
    // Close at the high with volume 1: the A/D line is 1, 2, 3, ...
    for (auto [fast, slow, first] : {std::tuple{3u, 10u, 3.5}, std::tuple{10u, 3u, -3.5}}) {
        ADOSC osc(fast, slow);
        std::vector<double> out;
        for (int i = 0; i < 12; ++i) out.push_back(osc.next(10, 8, 10, 1));
        EXPECT_EQ(leading_nans(out), 9u);
        // Fast average of period 3 trails the line by 1 (9 at bar 9); the
        // slow one is seeded with the mean of 1..10.
        EXPECT_EQ(out[9], first);
        EXPECT_DOUBLE_EQ(out[11], first);
    }
    ADOSC equal(3, 3);
    for (int i = 0; i < 5; ++i) {
        const double v = equal.next(10, 8, 10, 1);
        if (i >= 2) {
            EXPECT_EQ(v, 0.0);
        }
    }
}

TEST(Adosc, DegenerateAndNaN) {
    for (auto [fast, slow] : {std::pair{0u, 3u}, std::pair{3u, 0u}}) {
        ADOSC osc(fast, slow);
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(std::isnan(osc.next(10, 8, 9.5, 1)));
    }
    ADOSC osc(2, 3);
    for (int i = 0; i < 5; ++i) {
        const double v = osc.next(10, 8, 9.5 + 0.1 * i, 1 + i);
        EXPECT_EQ(std::isnan(v), i < 2) << i;
    }
    // A NaN volume makes the A/D line NaN for good.
    EXPECT_TRUE(std::isnan(osc.next(10, 8, 9, kN)));
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(std::isnan(osc.next(10, 8, 9, 1)));
}
