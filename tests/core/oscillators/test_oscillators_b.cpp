// Ultimate, universal and cybernetic oscillators, centre of gravity,
// correlation trend and the ultimate strength index.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/cg.hpp"
#include "lumenfold/core/oscillators/correlation_trend.hpp"
#include "lumenfold/core/oscillators/cybernetic_oscillator.hpp"
#include "lumenfold/core/oscillators/ehlers_ultimate_oscillator.hpp"
#include "lumenfold/core/oscillators/running_window_sum.hpp"
#include "lumenfold/core/oscillators/universal_oscillator.hpp"
#include "lumenfold/core/oscillators/usi.hpp"
#include "oscillators/oscillators_b_support.hpp"

using namespace lumenfold::core;
using lumenfold::test::outputs;
using lumenfold::test::ragged;

namespace {

// The signal / RMS of a signal series: the RMS of the last `window` values
// over `divisor(n)` (n values held), summed afresh each bar.
template <class Divisor>
std::vector<double> rms_scaled(const std::vector<double>& sig, std::size_t window, Divisor divisor) {
    std::vector<double> out;
    for (std::size_t k = 0; k < sig.size(); ++k) {
        const std::size_t first = k + 1 > window ? k + 1 - window : 0;
        double sum = 0.0;
        for (std::size_t j = first; j <= k; ++j) sum += sig[j] * sig[j];
        out.push_back(sig[k] / std::sqrt(sum / divisor(k + 1 - first)));
    }
    return out;
}

void expect_all_zero(const std::vector<double>& out) {
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], 0.0) << "bar " << i + 1;
}

}  // namespace

TEST(RunningWindowSum, SlidesAndClampsRoundingResidue) {
    RunningWindowSum s(2);
    // 5 vanishes into 1e17 and is subtracted later in full: the sum ends at -4.5.
    for (double x : {0.1, 1e17, 5.0, 0.5}) s.push(x);
    EXPECT_EQ(s.push(0.5), -4.5);
    EXPECT_EQ(s.len(), 2u);
    EXPECT_EQ(s.clamp_at_zero(), 0.0);
    EXPECT_EQ(s.push(2.0), 1.5);  // restarts from 0, 0.5 leaving
    RunningWindowSum n(3);
    n.push(kNaN);
    EXPECT_TRUE(std::isnan(n.clamp_at_zero()));
}

// ---- ultimate oscillator ----

TEST(EhlersUltimateOscillator, WidePeriodTruncatesAndSaturates) {
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 2.0), 40u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 1.99), 39u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, -3.0), 0u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, kNaN), 0u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 1e300), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(0, 1e300), 0u);
    // A saturated wide period still filters finitely.
    for (double v : outputs(EhlersUltimateOscillator(20, 1e300), ragged(50))) EXPECT_TRUE(std::isfinite(v));
}

TEST(EhlersUltimateOscillator, WarmupAndHundredBarRms) {
    const auto xs = ragged(260);
    const auto out = outputs(EhlersUltimateOscillator(10, 2.0), xs);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_NEAR(std::fabs(out[3]), 2.0, 1e-12);
    // Signal: the high-passes of periods 20 and 10; RMS over up to 100 values.
    HighPass wide(20), edge(10);
    std::vector<double> sig;
    for (double x : xs) {
        const double w = wide.next(x);
        sig.push_back(w - edge.next(x));
    }
    const auto want = rms_scaled(sig, 100, [](std::size_t n) { return static_cast<double>(n); });
    for (std::size_t k = 3; k < xs.size(); ++k) EXPECT_NEAR(out[k], want[k], 1e-9 * std::fabs(want[k])) << k;
}

TEST(EhlersUltimateOscillator, DegenerateInputsGiveZero) {
    expect_all_zero(outputs(EhlersUltimateOscillator(20, 2.0), std::vector<double>(50, 7.5)));
    expect_all_zero(outputs(EhlersUltimateOscillator(0, 2.0), ragged(50)));
    expect_all_zero(outputs(EhlersUltimateOscillator(20, 0.04), ragged(50)));  // wide period 0
    auto xs = ragged(60);
    xs[20] = kNaN;
    const auto out = outputs(EhlersUltimateOscillator(20, 2.0), xs);
    EXPECT_NE(out[19], 0.0);
    for (std::size_t k = 20; k < out.size(); ++k) EXPECT_EQ(out[k], 0.0) << k;
}

TEST(EhlersUltimateOscillator, SumOfSquaresRecoversAfterAHugeSwing) {
    // A swing of 1e10 leaves the running sum of squares below 0 by rounding
    // once it has left the window; restarting it from 0 gives finite scores
    // again instead of a NaN root (and 0) on every later bar.
    auto xs = ragged(800);
    for (std::size_t k = 30; k < 34; ++k) xs[k] += 1e10;
    const auto out = outputs(EhlersUltimateOscillator(10, 2.0), xs);
    int zeros = 0;
    for (std::size_t k = 600; k < out.size(); ++k) {
        EXPECT_TRUE(std::isfinite(out[k]));
        zeros += out[k] == 0.0;
    }
    EXPECT_EQ(zeros, 0);
}

// ---- universal oscillator ----

TEST(UniversalOscillator, CoefficientsUseSqrtTwoPi) {
    EXPECT_EQ(UniversalOscillator::kSqrt2Pi, std::sqrt(2.0) * kPi);
    const UniversalOscillator u(20);
    const double a = std::exp(-UniversalOscillator::kSqrt2Pi / 20.0);
    const double c2 = std::cos(UniversalOscillator::kSqrt2Pi / 20.0) * (2.0 * a);
    EXPECT_EQ(u.c2(), c2);
    EXPECT_EQ(u.c3(), -(a * a));
    EXPECT_EQ(u.c1(), (1.0 - c2) + a * a);
    EXPECT_NE(u.c1(), TwoPoleCoefficients::super_smoother(20.0).c1);
    EXPECT_NE(u.c2(), TwoPoleCoefficients::super_smoother(20.0).c2);
}

TEST(UniversalOscillator, WarmupBoundsAndFirstBars) {
    const auto xs = ragged(300);
    const auto out = outputs(UniversalOscillator(20), xs);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(std::fabs(out[2]), 1.0);  // |filt| is its own peak
    EXPECT_EQ(out[2] > 0.0, xs[2] > xs[0]);
    // Bar 4 by hand: wn = (x - x2)/2, filt = c1·((wn1 + wn)/2) + c2·filt1.
    const UniversalOscillator u(20);
    const double wn3 = (xs[2] - xs[0]) * 0.5, wn4 = (xs[3] - xs[1]) * 0.5;
    const double f3 = u.c1() * (wn3 * 0.5);
    const double f4 = (u.c1() * ((wn3 + wn4) * 0.5) + u.c2() * f3) + u.c3() * 0.0;
    const double peak = std::fabs(f4) > 0.991 * std::fabs(f3) ? std::fabs(f4) : 0.991 * std::fabs(f3);
    EXPECT_EQ(out[3], f4 / peak);
    for (double v : out) EXPECT_LE(std::fabs(v), 1.0);
}

TEST(UniversalOscillator, PeakDecayingToZeroGivesZeroNotNaN) {
    // A constant never lifts the peak: 1e-7 decays to exactly 0 (near bar
    // 82000) and the outputs stay 0 instead of 0/0.
    UniversalOscillator u(10);
    for (int i = 0; i < 90000; ++i) ASSERT_EQ(u.next(3.0), 0.0) << i;
}

TEST(UniversalOscillator, NaNAndZeroPeriod) {
    const auto z = outputs(UniversalOscillator(0), ragged(10));
    EXPECT_EQ(z[0], 0.0);
    EXPECT_EQ(z[1], 0.0);
    for (std::size_t k = 2; k < z.size(); ++k) EXPECT_TRUE(std::isnan(z[k])) << k;
    for (std::size_t at : {0u, 6u}) {
        auto xs = ragged(40);
        xs[at] = kNaN;
        const auto out = outputs(UniversalOscillator(20), xs);
        const std::size_t first = at < 2 ? 2 : at;  // read two bars later during bars 1, 2
        for (std::size_t k = 0; k < first; ++k) EXPECT_FALSE(std::isnan(out[k])) << at << " " << k;
        for (std::size_t k = first; k < out.size(); ++k) EXPECT_TRUE(std::isnan(out[k])) << at << " " << k;
    }
}

// ---- cybernetic oscillator ----

TEST(CyberneticOscillator, WarmupAndRmsOverTheFullLength) {
    const auto xs = ragged(80);
    const auto out = outputs(CyberneticOscillator(30, 10, 10), xs);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_NEAR(std::fabs(out[3]), 3.1622776601683795, 1e-12);
    HighPass hp(30);
    SuperSmoother ss(10);
    std::vector<double> filt;
    for (double x : xs) filt.push_back(ss.next(hp.next(x)));
    // The mean is taken over 10 values also while fewer are held.
    const auto want = rms_scaled(filt, 10, [](std::size_t) { return 10.0; });
    for (std::size_t k = 3; k < xs.size(); ++k) EXPECT_NEAR(out[k], want[k], 1e-11 * std::fabs(want[k])) << k;
}

TEST(CyberneticOscillator, DegenerateParameters) {
    expect_all_zero(outputs(CyberneticOscillator(30, 10, 10), std::vector<double>(40, -2.0)));
    for (double v : outputs(CyberneticOscillator(30, 10, 0), ragged(20))) EXPECT_TRUE(std::isnan(v));
    for (const CyberneticOscillator& c : {CyberneticOscillator(0, 10, 10), CyberneticOscillator(30, 0, 10)}) {
        const auto out = outputs(c, ragged(20));
        expect_all_zero({out.begin(), out.begin() + 3});
        for (std::size_t k = 3; k < out.size(); ++k) EXPECT_TRUE(std::isnan(out[k])) << k;
    }
    auto xs = ragged(20);
    xs[1] = kNaN;  // stored during warm-up, read by bar 4's high-pass
    const auto out = outputs(CyberneticOscillator(30, 10, 10), xs);
    expect_all_zero({out.begin(), out.begin() + 3});
    for (std::size_t k = 3; k < out.size(); ++k) EXPECT_TRUE(std::isnan(out[k])) << k;
}

// ---- centre of gravity ----

TEST(Cg, ConstantWindowFillingUp) {
    const auto out = outputs(CenterOfGravity(10), std::vector<double>(14, 5.0));
    for (std::size_t k = 0; k < out.size(); ++k) {
        EXPECT_EQ(out[k], -(static_cast<double>(k < 10 ? k : 9) + 2.0) / 2.0) << k;
    }
}

TEST(Cg, ZeroSumsAndNaNLeavingTheWindow) {
    EXPECT_EQ(CenterOfGravity(3).next(0.0), 0.0);
    EXPECT_EQ(CenterOfGravity(3).next(-4.0), -1.0);
    expect_all_zero(outputs(CenterOfGravity(0), ragged(5)));
    EXPECT_EQ(outputs(CenterOfGravity(2), {1.0, -1.0})[1], 0.0);
    // Weighted positions: (1·3 + 2·1)/4 for the newest 3 after a 1.
    EXPECT_EQ(outputs(CenterOfGravity(2), {7.0, 1.0, 3.0})[2], -1.25);
    auto xs = ragged(20);
    xs[5] = kNaN;
    const auto out = outputs(CenterOfGravity(4), xs);
    for (std::size_t k = 5; k < 9; ++k) EXPECT_TRUE(std::isnan(out[k])) << k;
    // Nothing but the window is carried: a fresh object over the same 4 agrees.
    const std::vector<double> tail(xs.begin() + 12, xs.begin() + 16);
    EXPECT_EQ(out[15], outputs(CenterOfGravity(4), tail).back());
}

// ---- correlation trend ----

TEST(CorrelationTrend, TwoBarsAndLines) {
    EXPECT_EQ(outputs(CorrelationTrend(2), {1.0, 2.0}), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(outputs(CorrelationTrend(2), {2.0, 1.0}), (std::vector<double>{0.0, -1.0}));
    std::vector<double> up, down;
    for (int i = 0; i < 40; ++i) {
        up.push_back(3.0 + 0.25 * i);
        down.push_back(50.0 - 1.5 * i);
    }
    const auto u = outputs(CorrelationTrend(12), up), d = outputs(CorrelationTrend(12), down);
    expect_all_zero({u.begin(), u.begin() + 11});
    for (std::size_t k = 11; k < up.size(); ++k) {
        EXPECT_NEAR(u[k], 1.0, 1e-12) << k;
        EXPECT_NEAR(d[k], -1.0, 1e-12) << k;
    }
}

TEST(CorrelationTrend, DegenerateWindowsGiveZero) {
    expect_all_zero(outputs(CorrelationTrend(8), std::vector<double>(20, 42.0)));
    expect_all_zero(outputs(CorrelationTrend(0), ragged(10)));
    expect_all_zero(outputs(CorrelationTrend(1), ragged(10)));
    for (double bad : {kNaN, std::numeric_limits<double>::infinity()}) {
        auto xs = ragged(30);
        xs[10] = bad;
        const auto out = outputs(CorrelationTrend(5), xs);
        for (std::size_t k = 10; k < 15; ++k) EXPECT_EQ(out[k], 0.0) << k;
        const std::vector<double> tail(xs.begin() + 20, xs.begin() + 25);
        EXPECT_EQ(out[24], outputs(CorrelationTrend(5), tail).back());
        EXPECT_NE(out[24], 0.0);
    }
}

// ---- ultimate strength index ----

TEST(Usi, WorkedValues) {
    const auto out = outputs(USI(10), {1, 2, 1, 2, 3, 4});
    const double want[] = {0.0, 0.0, 0.0, -0.288443, -0.060706, 0.195624};
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 0.0);  // equal averages of 1/3 pass through the smoothers
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], want[i], 5e-7) << i;
}

TEST(Usi, OneSidedRunsHoldTheLastValue) {
    std::vector<double> up;
    for (int i = 0; i < 30; ++i) up.push_back(10.0 + i);
    expect_all_zero(outputs(USI(10), up));
    std::vector<double> down(up.rbegin(), up.rend());
    expect_all_zero(outputs(USI(10), down));
    expect_all_zero(outputs(USI(10), std::vector<double>(30, 4.0)));
    // A mixed start, then a long rise: the down smoother decays below 1e-12
    // and the index keeps its last value.
    std::vector<double> xs = {5, 6, 4, 7, 5, 6};
    for (int i = 0; i < 3000; ++i) xs.push_back(7.0 + 0.5 * i);
    const auto out = outputs(USI(10), xs);
    EXPECT_NE(out[5], 0.0);
    for (std::size_t k = out.size() - 500; k < out.size(); ++k) EXPECT_EQ(out[k], out.back());
    // The smoothers overshoot around 0, so the held value may pass 1 slightly.
    EXPECT_NEAR(out.back(), 1.0, 1e-6);
}

TEST(Usi, NaNAndZeroLength) {
    std::vector<double> xs = {5, 6, 4, 7, 5, 6, 8, 3, 9, 4, 6, 5, 7, 2, 8};
    xs[7] = kNaN;
    for (double v : outputs(USI(6), xs)) EXPECT_TRUE(std::isfinite(v));
    // Length 0: NaN smoothers from bar 4 on; the value of bars 1 to 3 is held.
    const auto z = outputs(USI(0), {5, 6, 4, 7, 5, 6});
    EXPECT_NEAR(z[2], -1.0 / 3.0, 1e-15);  // up average 1/3, down average 2/3
    for (std::size_t k = 3; k < z.size(); ++k) EXPECT_EQ(z[k], z[2]) << k;
}
