// MAD and MADH, Reflex and Trendflex, the MESA and Ehlers stochastics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/ehlers_stochastic.hpp"
#include "lumenfold/core/oscillators/mad.hpp"
#include "lumenfold/core/oscillators/madh.hpp"
#include "lumenfold/core/oscillators/mesa_stochastic.hpp"
#include "lumenfold/core/oscillators/reflex.hpp"
#include "lumenfold/core/oscillators/trendflex.hpp"
#include "cycles/cycles_support.hpp"
#include "oscillators/oscillators_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::run;
using oscillators_support::expect_same;
using oscillators_support::with_nan_at;

// ---- MAD and MADH ----

TEST(Mad, WorkedValuesAndDegenerateMeans) {
    EXPECT_EQ(run(MAD(2, 4), {1, 2, 3, 4}), (std::vector<double>{0, 0, 25, 40}));
    for (double v : run(MAD(2, 4), std::vector<double>(10, 0.0))) EXPECT_EQ(v, 0.0);
    for (double v : run(MAD(2, 0), jagged(10))) EXPECT_TRUE(std::isnan(v));
    const auto nan = run(MAD(2, 4), with_nan_at(jagged(20), 3));
    for (std::size_t i = 3; i < nan.size(); ++i) EXPECT_TRUE(std::isnan(nan[i])) << i;
}

TEST(Madh, LongFilterAddsHalfTheCycle) {
    const auto xs = jagged(60);
    HannFilter s(4), l(14);
    std::vector<double> want;
    for (double x : xs) {
        const double h1 = s.next(x), h2 = l.next(x);
        want.push_back(((h1 - h2) * 100.0) / h2);
    }
    expect_same(run(MADH(4, 20), xs), want);
    expect_same(run(MADH(4, 21), xs), want);
    for (double v : run(MADH(0, 1), xs)) EXPECT_EQ(v, 0.0);
    // While the NaN sits in the long window (or passes through it) h2 is NaN
    // and the output 0; once it has left both filters the values return.
    const auto nan = run(MADH(4, 20), with_nan_at(xs, 20));
    for (std::size_t i = 20; i < 34; ++i) EXPECT_EQ(nan[i], 0.0) << i;
    for (std::size_t i = 34; i < xs.size(); ++i) EXPECT_EQ(nan[i], want[i]) << i;
}

// ---- Reflex and Trendflex ----

// The steps as stated, over the whole smoothed history.
template <bool kReflex>
std::vector<double> flex_reference(std::uint64_t length, const std::vector<double>& xs) {
    SuperSmoother ss(length / 2);
    std::vector<double> filt, out;
    double ms = 0.0;
    for (double x : xs) {
        filt.push_back(ss.next(x));
        if (filt.size() <= length) {
            out.push_back(0.0);
            continue;
        }
        const auto w = [&](std::uint64_t i) { return filt[filt.size() - 1 - i]; };
        const double n = to_f64(length);
        const double slope = (w(length) - w(0)) / n;
        double sum = 0.0;
        for (std::uint64_t i = 1; i <= length; ++i) {
            sum = sum + (kReflex ? (w(0) + slope * to_f64(i)) - w(i) : w(0) - w(i));
        }
        const double s = sum / n;
        ms = ms * 0.96 + s * (s * 0.04);
        out.push_back(ms > 0.0 ? s / std::sqrt(ms) : 0.0);
    }
    return out;
}

TEST(ReflexTrendflex, MatchTheStatedSteps) {
    const auto xs = jagged(150);
    for (std::uint64_t len : {1, 2, 6, 7, 10, 30}) {
        SCOPED_TRACE(std::to_string(len));
        expect_same(run(Reflex(len), xs), flex_reference<true>(len, xs));
        expect_same(run(Trendflex(len), xs), flex_reference<false>(len, xs));
    }
}

TEST(ReflexTrendflex, WarmupFirstScoreAndDegenerates) {
    const auto xs = jagged(60);
    for (const auto& out : {run(Reflex(10), xs), run(Trendflex(10), xs)}) {
        for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0) << i;
        EXPECT_NEAR(std::fabs(out[10]), 5.0, 1e-12);
    }
    for (double v : run(Reflex(0), xs)) EXPECT_EQ(v, 0.0);
    for (double v : run(Trendflex(0), xs)) EXPECT_EQ(v, 0.0);
    for (const auto& out : {run(Reflex(10), with_nan_at(xs, 15)), run(Trendflex(10), with_nan_at(xs, 15))}) {
        for (std::size_t i = 15; i < out.size(); ++i) EXPECT_EQ(out[i], 0.0) << i;
    }
}

// ---- MESA and Ehlers stochastics ----

// The stated Ehlers stochastic: a scan of every held value from ±f64::MAX.
std::vector<double> ehlers_reference(std::uint64_t hp, std::uint64_t ss, std::uint64_t period,
                                     const std::vector<double>& xs) {
    RoofingFilter front(hp, ss);
    std::vector<double> filt, out;
    for (double x : xs) {
        filt.push_back(front.next(x));
        const std::uint64_t n = std::min<std::uint64_t>(filt.size(), period);
        double lo = kMaxF64, hi = -kMaxF64;
        for (std::uint64_t i = 0; i < n; ++i) {
            const double v = filt[filt.size() - 1 - i];
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
        out.push_back(n > 0 && hi == lo ? 50.0 : ((filt.back() - lo) * 100.0) / (hi - lo));
    }
    return out;
}

TEST(EhlersStochastic, MatchesTheStatedScan) {
    const auto xs = jagged(120);
    for (std::uint64_t period : {0, 1, 2, 5, 20})
        for (std::uint64_t hp : {0, 48}) {
            SCOPED_TRACE(std::to_string(period) + " " + std::to_string(hp));
            expect_same(run(EhlersStochastic(hp, 10, period), xs), ehlers_reference(hp, 10, period, xs));
            const auto nan = with_nan_at(xs, 40);
            expect_same(run(EhlersStochastic(hp, 10, period), nan), ehlers_reference(hp, 10, period, nan));
            std::mt19937_64 rng(period * 64 + hp);
            const auto levels = classic_support::noisy_series(rng, 120, 0.0);
            expect_same(run(EhlersStochastic(hp, 10, period), levels), ehlers_reference(hp, 10, period, levels));
        }
}

TEST(MesaStochastic, ScaledRawValueSmoothedFromBarFour) {
    const auto xs = jagged(80);
    RoofingFilter front(48, 10);
    SuperSmoother out_ss(10);
    std::vector<double> filt, want;
    for (double x : xs) {
        filt.push_back(front.next(x));
        const std::size_t n = std::min<std::size_t>(filt.size(), 20);
        const auto first = filt.end() - static_cast<std::ptrdiff_t>(n);
        const double hi = *std::max_element(first, filt.end());
        const double lo = *std::min_element(first, filt.end());
        const double raw = std::fabs(hi - lo) > 1e-10 ? ((filt.back() - lo) / (hi - lo)) * 100.0 : 0.0;
        want.push_back(out_ss.next(raw));
    }
    expect_same(run(MESAStochastic(20, 48, 10), xs), want);
    for (double v : run(MESAStochastic(1, 48, 10), xs)) EXPECT_EQ(v, 0.0);
    for (double v : run(MESAStochastic(20, 48, 10), std::vector<double>(30, 4.0))) EXPECT_EQ(v, 0.0);
    for (double v : run(MESAStochastic(0, 48, 10), xs)) EXPECT_TRUE(std::isnan(v));
    // A range of 1e-10 or less is flat for MESA; Ehlers scales any range.
    const std::vector<double> tiny{0, 0, 0, 1e-11, 0, 0};
    for (double v : run(MESAStochastic(5, 48, 10), tiny)) EXPECT_EQ(v, 0.0);
    const auto e = run(EhlersStochastic(48, 10, 5), tiny);
    EXPECT_TRUE(e[3] == 100.0 || e[3] == 0.0);
}
