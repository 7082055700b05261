// Fourier dominant cycle and series model, autocorrelation, empirical mode
// decomposition and Hurst exponent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/cycles/autocorrelation.hpp"
#include "lumenfold/core/cycles/emd.hpp"
#include "lumenfold/core/cycles/fourier_dominant_cycle.hpp"
#include "lumenfold/core/cycles/fourier_series.hpp"
#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::run;
using lumenfold::test::sine;

// The fixed filters of the Fourier dominant cycle and the autocorrelation are
// the two-pole family at periods 40 and 20, to the bit.
TEST(CycleFilters, FixedCoefficientsAreTheTwoPoleFamily) {
    const auto hp40 = TwoPoleCoefficients::high_pass(40.0);
    EXPECT_EQ(hp40.c1, 0.8948949316383814);
    EXPECT_EQ(hp40.c2, 1.7787529390473422);
    EXPECT_EQ(hp40.c3, -0.8008267875061836);
    const auto us20 = TwoPoleCoefficients::high_pass(20.0);
    EXPECT_EQ(us20.c1, 0.8009079966861663);
    EXPECT_EQ(us20.c2, 1.562308443157191);
    EXPECT_EQ(us20.c3, -0.6413235435874742);
}

// ---- Fourier dominant cycle ----

TEST(FourierDominantCycle, WarmupAndFlatInput) {
    const auto out = run(FourierDominantCycle(20), jagged(40));
    for (int i = 0; i < 19; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_GE(out[19], 8.0);
    // A constant (high-passed to 0) or a NaN-poisoned window has no power.
    auto xs = std::vector<double>(60, 4.0);
    for (double v : run(FourierDominantCycle(20), xs)) EXPECT_EQ(v, 0.0);
    xs = jagged(60);
    xs[30] = kNaN;
    const auto nan = run(FourierDominantCycle(10), xs);
    for (std::size_t i = 30; i < nan.size(); ++i) EXPECT_EQ(nan[i], 0.0) << i;
}

TEST(FourierDominantCycle, FindsThePeriodOfASine) {
    // The window is not a whole number of longer cycles, so those wobble with
    // the phase of the sine more.
    for (double period : {10.0, 20.0}) {
        const auto out = run(FourierDominantCycle(40), sine(300, period));
        for (std::size_t i = 150; i < out.size(); ++i) EXPECT_NEAR(out[i], period, 1.0) << period << " " << i;
    }
}

// ---- Fourier series model ----

TEST(FourierSeriesModel, FirstBarAndZeroInput) {
    // Bar 1: each band-pass gives ((1 - alpha)·0.5)·x, its quadrature k times that.
    const double x = 3.5, f = 20.0, k = f / kTwoPi;
    double bp[3], p[3];
    const std::uint64_t periods[3] = {20, 10, 6};
    for (int i = 0; i < 3; ++i) {
        bp[i] = ((1.0 - BandPassCoefficients::from(to_f64(periods[i]), 0.1).alpha) * 0.5) * x;
        const double q = k * bp[i];
        p[i] = (bp[i] * bp[i] + q * q) * f;  // the mean of one term
    }
    const double wave = (bp[0] + bp[1] * std::sqrt(p[1] / p[0])) + bp[2] * std::sqrt(p[2] / p[0]);
    EXPECT_EQ(FourierSeriesModel(20).next(x), wave);
    for (double v : run(FourierSeriesModel(20), std::vector<double>(30, 0.0))) EXPECT_EQ(v, 0.0);
}

TEST(FourierSeriesModel, DegenerateFundamentalsAndNan) {
    // A band period of 0 (F < 3) is NaN from the first bar.
    for (double v : run(FourierSeriesModel(2), jagged(10))) EXPECT_TRUE(std::isnan(v));
    auto xs = sine(40, 20.0);
    xs[20] = kNaN;
    const auto out = run(FourierSeriesModel(20), xs);
    EXPECT_TRUE(std::isfinite(out[19]));
    for (std::size_t i = 20; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i])) << i;
}

// ---- autocorrelation ----

TEST(EhlersAutocorrelation, FlatSegmentsCorrelateAsOneAtLagZero) {
    const std::vector<double> unit = {1.0, 0.0, 0.0, 0.0, 0.0};
    for (const auto& v : outputs(EhlersAutocorrelation(10, 5), std::vector<double>(20, 0.0))) EXPECT_EQ(v, unit);
    for (std::uint64_t length : {0, 1}) {
        for (const auto& v : outputs(EhlersAutocorrelation(length, 5), jagged(20))) EXPECT_EQ(v, unit);
    }
    auto xs = jagged(30);
    xs[10] = kNaN;
    const auto nan = outputs(EhlersAutocorrelation(10, 5), xs);
    for (std::size_t i = 10; i < nan.size(); ++i) EXPECT_EQ(nan[i], unit) << i;
}

TEST(EhlersAutocorrelation, SineCorrelatesWithItsPeriod) {
    const auto r = outputs(EhlersAutocorrelation(20, 48), sine(300, 20.0)).back();
    ASSERT_EQ(r.size(), 48u);
    EXPECT_NEAR(r[0], 1.0, 1e-12);
    EXPECT_NEAR(r[10], -1.0, 1e-3);
    EXPECT_NEAR(r[20], 1.0, 1e-3);
    EXPECT_NEAR(r[40], 1.0, 1e-3);
    EXPECT_NEAR(r[5], 0.0, 0.05);
}

TEST(EhlersAutocorrelation, WrappingHistoryFails) {
    try {
        EhlersAutocorrelation a(UINT64_MAX, 2);
        FAIL();
    } catch (const lumenfold::Panic& e) {
        EXPECT_EQ(e.message(), "capacity overflow");
    }
}

// ---- empirical mode decomposition ----

TEST(EMD, FirstBarsAndThresholds) {
    for (const auto& o : outputs(EMD(20, 0.5, 0.1), std::vector<double>(30, 0.0))) {
        EXPECT_EQ(o.trend, 0.0);
        EXPECT_EQ(o.upper, 0.0);
    }
    const auto first = outputs(EMD(20, 0.5, 0.1), jagged(2));
    const double alpha = BandPassCoefficients::from(20.0, 1.0).alpha;
    EXPECT_EQ(first[0].trend, ((1.0 - alpha) * 0.5) * jagged(1)[0]);
    EXPECT_EQ(first[1].upper, 0.0);  // no extreme test before bar 3
    EXPECT_EQ(first[1].lower, 0.0);
    // A sine at the centre period passes the band with gain 1: after 50 bars
    // of held extremes the thresholds are fraction times its amplitude.
    const auto last = outputs(EMD(20, 0.1, 0.5), sine(600, 20.0)).back();
    EXPECT_NEAR(last.upper, 5.0, 0.1);
    EXPECT_NEAR(last.lower, -5.0, 0.1);
    EXPECT_NEAR(last.trend, 0.0, 0.05);
}

// ---- Hurst exponent ----

TEST(HurstExponent, WorkedValues) {
    for (std::uint64_t length : {0, 1, 2}) {
        const auto out = run(HurstExponent(length), {1.0, 3.0, 3.0, 3.0});
        EXPECT_TRUE(std::isnan(out[0])) << length;
        EXPECT_EQ(out[1], 0.0) << length;  // R = S = 1
        EXPECT_EQ(out[2], 0.5) << length;  // no variance
    }
    const auto flat = run(HurstExponent(3), std::vector<double>(6, 100.0));
    for (std::size_t i = 2; i < flat.size(); ++i) EXPECT_EQ(flat[i], 0.5) << i;
    // The sum of three 0.1 is inexact, so the deviations are tiny, not 0.
    EXPECT_EQ(run(HurstExponent(3), std::vector<double>(3, 0.1))[2], 0.6309297535714574);
}

TEST(HurstExponent, WarmupAndNanWindow) {
    auto xs = jagged(80);
    xs[40] = kNaN;
    const auto out = run(HurstExponent(20), xs);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(std::isnan(out[i]), i < 19 || (i >= 40 && i < 60)) << i;
}

TEST(HurstExponent, TrendingAboveMeanRevertingBelow) {
    std::vector<double> trend, revert;
    for (int i = 0; i < 300; ++i) {
        trend.push_back(100.0 + 0.5 * i + ((i * 7919) % 13) * 0.05);
        revert.push_back(100.0 + (i % 2 == 0 ? 1.0 : -1.0) + ((i * 7919) % 13) * 0.05);
    }
    EXPECT_GT(run(HurstExponent(100), trend).back(), 0.8);
    EXPECT_LT(run(HurstExponent(100), revert).back(), 0.3);
}
