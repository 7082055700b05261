// RSI, the stochastic oscillator, Williams %R and CCI.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include "lumenfold/core/classic/cci.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/classic/stoch.hpp"
#include "lumenfold/core/framework/talib.hpp"
#include "lumenfold/core/classic/willr.hpp"
#include "classic_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using classic_support::same;
using lumenfold::test::Bar;
using lumenfold::test::expect_panic;
using lumenfold::test::run;
using lumenfold::test::run_hlc;

namespace {

const double kN = std::nan("");

// Bars whose high, low and close are drawn apart from one another, with ties,
// signed zeros and the odd NaN.
std::vector<Bar> noisy_bars(std::mt19937_64& rng, std::size_t n, double nan_rate) {
    const auto a = classic_support::noisy_series(rng, n, nan_rate);
    const auto b = classic_support::noisy_series(rng, n, nan_rate);
    const auto c = classic_support::noisy_series(rng, n, nan_rate);
    std::vector<Bar> bars;
    for (std::size_t i = 0; i < n; ++i) bars.push_back({a[i], b[i], c[i]});
    return bars;
}

// The window extremes by a full scan from the oldest value, strictly beyond.
struct ScanWindow {
    std::uint64_t period;
    std::vector<double> highs, lows;
    std::optional<HlRange> push(double h, double l) {
        if (highs.size() >= period && !highs.empty()) {
            highs.erase(highs.begin());
            lows.erase(lows.begin());
        }
        highs.push_back(h);
        lows.push_back(l);
        if (highs.size() < period) return std::nullopt;
        double hi = -std::numeric_limits<double>::infinity();
        double lo = std::numeric_limits<double>::infinity();
        for (double v : highs) if (v > hi) hi = v;
        for (double v : lows) if (v < lo) lo = v;
        return HlRange{hi, lo, hi - lo};
    }
};

// The stochastic as a literal reading of its definition: full scan and the
// whole slow %K history, indexed.
struct StochReference {
    ScanWindow window;
    StochSmoother slow_k, slow_d;
    std::uint64_t slowd, lookback, bars = 0;
    std::vector<double> k_history;
    StochReference(std::uint64_t fk, std::uint64_t sk, std::uint32_t sks, std::uint64_t sd, std::uint32_t sds)
        : window{fk, {}, {}}, slow_k(sk, sks), slow_d(sd, sds), slowd(sd), lookback(fk + sk + sd - 3) {}
    StochOutput next(double h, double l, double c) {
        const std::uint64_t b = bars++;
        auto r = window.push(h, l);
        if (!r) return {kN, kN};
        const double fast = r->range > 0 ? ((c - r->lowest) * 100.0) / r->range : 50.0;
        const double sk = slow_k.next(fast);
        double d = kN;
        if (!std::isnan(sk)) {
            k_history.push_back(sk);
            d = slow_d.next(sk);
        }
        if (b < lookback) return {kN, kN};
        const std::uint64_t i = b + slowd - 1 - lookback;
        return {i < k_history.size() ? k_history[i] : kN, d};
    }
};

// Williams %R as a literal reading of its definition: whole histories.
struct WillrReference {
    std::uint64_t p;
    std::vector<double> highs, lows;
    double hh = -INFINITY, ll = INFINITY;
    std::uint64_t hi_at = 0, lo_at = 0, start = 0;
    double next(double h, double l, double c) {
        if (p < 2) return kN;
        highs.push_back(h);
        lows.push_back(l);
        const std::uint64_t t = highs.size() - 1;
        if (t < p - 1 || t == p - 1) {
            if (t == 0) {
                hh = h, ll = l, hi_at = 0, lo_at = 0;
            } else {
                if (h >= hh) hh = h, hi_at = t;
                if (l <= ll) ll = l, lo_at = t;
            }
            if (t < p - 1) return kN;
            start = 1;
        } else {
            const std::uint64_t s = start;
            if (hi_at >= s) {
                if (h >= hh) hh = h, hi_at = t;
            } else {
                hh = highs.at(s), hi_at = s;
                for (std::uint64_t i = s + 1; i <= t; ++i)
                    if (highs.at(i) >= hh) hh = highs.at(i), hi_at = i;
            }
            if (lo_at >= s) {
                if (l <= ll) ll = l, lo_at = t;
            } else {
                ll = lows.at(s), lo_at = s;
                for (std::uint64_t i = s + 1; i <= t; ++i)
                    if (lows.at(i) <= ll) ll = lows.at(i), lo_at = i;
            }
            start = s + 1;
        }
        const double range = hh - ll;
        return range > 0 ? ((hh - c) * -100.0) / range : 0.0;
    }
};

}  // namespace

// ---- RSI ----

TEST(Rsi, WorkedValuesAndWarmUp) {
    auto out = run(Rsi(2), {1, 2, 1, 2});
    EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
    EXPECT_EQ(out[2], 50.0);
    EXPECT_EQ(out[3], 75.0);  // gain (1 + 0.5)/2, loss (0 + 0.5)/2
    auto short_series = run(Rsi(5), {1, 2, 3, 2, 1});
    for (double v : short_series) EXPECT_TRUE(std::isnan(v));
}

TEST(Rsi, ConstantRisingAndFallingSeries) {
    auto flat = run(Rsi(3), std::vector<double>(8, 4.0));
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (i < 3) {
            EXPECT_TRUE(std::isnan(flat[i]));
        } else {
            EXPECT_EQ(flat[i], 100.0);  // zero average loss, even with zero gain
        }
    }
    auto falling = run(Rsi(3), {9, 8, 7, 6, 5, 4});
    for (std::size_t i = 3; i < falling.size(); ++i) EXPECT_EQ(falling[i], 0.0);
    auto rising = run(Rsi(3), {1, 2, 3, 4, 5});
    EXPECT_EQ(rising[4], 100.0);
}

TEST(Rsi, DegeneratePeriodsAndNaN) {
    for (std::uint64_t p : {0u, 1u})
        for (double v : run(Rsi(p), {1, 2, 3, 2, 5})) EXPECT_TRUE(std::isnan(v));
    auto mid = run(Rsi(2), {1, 2, 1, kN, 2, 3, 4});
    EXPECT_EQ(mid[2], 50.0);
    for (std::size_t i = 3; i < mid.size(); ++i) EXPECT_TRUE(std::isnan(mid[i])) << i;
    auto first = run(Rsi(2), {kN, 2, 1, 2, 3});
    for (double v : first) EXPECT_TRUE(std::isnan(v));
}

// ---- Stochastic ----

TEST(Stoch, WorkedValues) {
    auto out = run_hlc(STOCH(3, 1, 1), {{10, 0, 5}, {10, 0, 10}, {10, 0, 0}});
    EXPECT_TRUE(std::isnan(out[0].k) && std::isnan(out[0].d));
    EXPECT_TRUE(std::isnan(out[1].k) && std::isnan(out[1].d));
    EXPECT_EQ(out[2].k, 0.0);
    EXPECT_EQ(out[2].d, 0.0);
    auto ones = run_hlc(STOCH(1, 1, 1), {{10, 0, 2.5}, {4, 4, 9}});
    EXPECT_EQ(ones[0].k, 25.0);
    EXPECT_EQ(ones[0].d, 25.0);
    EXPECT_EQ(ones[1].k, 50.0);  // flat window
    EXPECT_EQ(ones[1].d, 50.0);
}

TEST(Stoch, FirstRecordAtLookbackWithItsOwnSlowK) {
    // fastk 3, slowk 2, slowd 2: fast %K 50, 100, 0, 100 from bar 2 on.
    const std::vector<Bar> bars{{10, 0, 1}, {10, 0, 2}, {10, 0, 5}, {10, 0, 10}, {10, 0, 0}, {10, 0, 10}};
    auto out = run_hlc(STOCH(3, 2, 2), bars);
    EXPECT_EQ(STOCH(3, 2, 2).lookback(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isnan(out[i].k) && std::isnan(out[i].d)) << i;
    EXPECT_EQ(out[4].k, 50.0);             // (100 + 0)/2
    EXPECT_EQ(out[4].d, (75.0 + 50.0) / 2);  // slow %K 75 then 50
    EXPECT_EQ(out[5].k, 50.0);
    EXPECT_EQ(out[5].d, 50.0);
}

TEST(Stoch, DegeneratePeriods) {
    std::mt19937_64 rng(6);
    const auto bars = noisy_bars(rng, 40, 0.0);
    // fastk 0: the window is the current bar, %K never lines up, %D from slowk + slowd - 2.
    auto f0 = run_hlc(STOCH(0, 2, 3), bars);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_TRUE(std::isnan(f0[i].k));
        EXPECT_EQ(std::isnan(f0[i].d), i < 3) << i;
    }
    for (const auto& r : run_hlc(STOCH(4, 0, 2), bars)) EXPECT_TRUE(std::isnan(r.k) && std::isnan(r.d));
    auto d0 = run_hlc(STOCH(3, 2, 0), bars);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_TRUE(std::isnan(d0[i].d));
        EXPECT_EQ(std::isnan(d0[i].k), i < 3) << i;
    }
    // The lookback wraps below 3.
    for (const auto& r : run_hlc(STOCH(1, 1, 0), bars)) EXPECT_TRUE(std::isnan(r.k) && std::isnan(r.d));
    for (const auto& r : run_hlc(STOCH(0, 1, 1), bars)) EXPECT_TRUE(std::isnan(r.k) && std::isnan(r.d));
}

TEST(Stoch, NaNHighsAreIgnoredNaNClosePoisons) {
    auto out = run_hlc(STOCH(2, 1, 1), {{10, 0, 5}, {kN, 2, 5}, {8, kN, 6}});
    EXPECT_EQ(out[1].k, 50.0);  // extremes 10 and 0
    EXPECT_EQ(out[2].k, ((6.0 - 2.0) * 100.0) / 6.0);  // extremes 8 and 2
    auto poisoned = run_hlc(STOCH(2, 2, 2), {{10, 0, 5}, {10, 0, 5}, {10, 0, kN}, {10, 0, 5}, {10, 0, 5}, {9, 1, 3}});
    for (const auto& r : poisoned) EXPECT_TRUE(std::isnan(r.k) && std::isnan(r.d));
}

TEST(Stoch, WindowMatchesAFullScan) {
    std::mt19937_64 rng(10);
    for (std::uint64_t period = 0; period <= 9; ++period) {
        const auto bars = noisy_bars(rng, 400, 0.08);
        HlWindow fast(period);
        ScanWindow slow{period, {}, {}};
        for (std::size_t i = 0; i < bars.size(); ++i) {
            auto a = fast.push(bars[i].high, bars[i].low);
            auto b = slow.push(bars[i].high, bars[i].low);
            ASSERT_EQ(a.has_value(), b.has_value());
            if (!a) continue;
            ASSERT_TRUE(same(a->highest, b->highest) && same(a->lowest, b->lowest) && same(a->range, b->range))
                << period << " bar " << i;
        }
    }
}

TEST(Stoch, MatchesTheIndexedHistoryDefinition) {
    std::mt19937_64 rng(12);
    for (std::uint32_t sel : {0u, 1u}) {
        for (std::uint64_t fk = 0; fk <= 5; ++fk) {
            for (std::uint64_t sk = 0; sk <= 4; ++sk) {
                for (std::uint64_t sd = 0; sd <= 4; ++sd) {
                    const auto bars = noisy_bars(rng, 80, fk == 3 ? 0.03 : 0.0);
                    STOCH got(fk, sk, sel, sd, sel);
                    StochReference want(fk, sk, sel, sd, sel);
                    for (std::size_t i = 0; i < bars.size(); ++i) {
                        auto a = got.next(bars[i].high, bars[i].low, bars[i].close);
                        auto b = want.next(bars[i].high, bars[i].low, bars[i].close);
                        ASSERT_TRUE(same(a.k, b.k) && same(a.d, b.d))
                            << sel << " " << fk << " " << sk << " " << sd << " bar " << i;
                    }
                }
            }
        }
    }
}

// ---- Williams %R ----

TEST(Willr, WorkedValues) {
    auto out = run_hlc(WILLR(2), {{10, 0, 5}, {12, 2, 6}});
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_EQ(out[1], -50.0);
    auto edges = run_hlc(WILLR(2), {{5, 5, 5}, {5, 5, 5}, {8, 2, 8}, {8, 2, 2}});
    EXPECT_EQ(edges[1], 0.0);  // flat window
    EXPECT_EQ(edges[2], 0.0);
    EXPECT_TRUE(std::signbit(edges[2]));  // close at the high: -0
    EXPECT_EQ(edges[3], -100.0);
}

TEST(Willr, DegeneratePeriodsAndNaN) {
    for (std::uint64_t p : {0u, 1u})
        for (double v : run_hlc(WILLR(p), {{3, 1, 2}, {4, 2, 3}})) EXPECT_TRUE(std::isnan(v));
    // A NaN first high stands as the extreme until it leaves: range NaN gives 0.
    auto out = run_hlc(WILLR(2), {{kN, 0, 1}, {10, 0, 5}, {10, 0, 5}});
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], -50.0);
    // A NaN close spoils its own bar only.
    auto close = run_hlc(WILLR(2), {{10, 0, 1}, {10, 0, kN}, {10, 0, 5}});
    EXPECT_TRUE(std::isnan(close[1]));
    EXPECT_EQ(close[2], -50.0);
}

TEST(Willr, MatchesTheWholeHistoryDefinition) {
    std::mt19937_64 rng(14);
    for (std::uint64_t p = 0; p <= 9; ++p) {
        const auto bars = noisy_bars(rng, 400, 0.05);
        auto got = run_hlc(WILLR(p), bars);
        WillrReference want{p, {}, {}};
        for (std::size_t i = 0; i < bars.size(); ++i) {
            ASSERT_TRUE(same(got[i], want.next(bars[i].high, bars[i].low, bars[i].close))) << p << " bar " << i;
        }
    }
}

// ---- CCI ----

TEST(Cci, WorkedValues) {
    auto out = run_hlc(CCI(2), {{1, 1, 1}, {4, 2, 3}});
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_EQ(out[1], 66.66666666666667);
    auto flat = run_hlc(CCI(3), std::vector<Bar>(6, Bar{5, 3, 4}));
    EXPECT_TRUE(std::isnan(flat[0]) && std::isnan(flat[1]));
    for (std::size_t i = 2; i < flat.size(); ++i) EXPECT_EQ(flat[i], 0.0);
}

TEST(Cci, RollingWindowForgetsOldBars) {
    // Typical prices 1, 3, 3: window {3, 3} gives 0; then {3, 6}: mean 4.5, deviation 1.5.
    auto out = run_hlc(CCI(2), {{1, 1, 1}, {3, 3, 3}, {3, 3, 3}, {6, 6, 6}});
    EXPECT_EQ(out[2], 0.0);
    EXPECT_EQ(out[3], (6.0 - 4.5) / (1.5 * 0.015));
}

TEST(Cci, DegeneratePeriodsNaNAndCapacity) {
    for (std::uint64_t p : {0u, 1u})
        for (double v : run_hlc(CCI(p), {{3, 1, 2}, {4, 2, 3}})) EXPECT_TRUE(std::isnan(v));
    auto late = run_hlc(CCI(2), {{1, 1, 1}, {4, 2, 3}, {kN, 1, 1}, {2, 2, 2}, {5, 1, 3}});
    for (std::size_t i = 2; i < late.size(); ++i) EXPECT_EQ(late[i], 0.0);
    auto early = run_hlc(CCI(3), {{1, 1, kN}, {4, 2, 3}, {2, 2, 2}, {5, 1, 3}});
    EXPECT_TRUE(std::isnan(early[0]) && std::isnan(early[1]));
    EXPECT_EQ(early[2], 0.0);
    EXPECT_EQ(early[3], 0.0);
    EXPECT_THROW(CCI(std::uint64_t{1} << 61), lumenfold::Panic);
    expect_panic([] { CCI((std::uint64_t{1} << 59) + 1); }, "memory allocation failed");
}

TEST(Cci, CopyContinuesIndependently) {
    std::mt19937_64 rng(16);
    const auto bars = noisy_bars(rng, 30, 0.0);
    CCI a(4);
    for (std::size_t i = 0; i < 10; ++i) a.next(bars[i].high, bars[i].low, bars[i].close);
    CCI b = a;
    for (std::size_t i = 10; i < bars.size(); ++i) {
        EXPECT_TRUE(same(a.next(bars[i].high, bars[i].low, bars[i].close), b.next(bars[i].high, bars[i].low, bars[i].close)));
    }
}
