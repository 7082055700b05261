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
#include "lumenfold/core/framework/running_window_sum.hpp"
#include "lumenfold/core/oscillators/universal_oscillator.hpp"
#include "lumenfold/core/oscillators/usi.hpp"
#include "oscillators/ragged_and_pairs_support.hpp"

using namespace lumenfold::core;
using lumenfold::test::outputs;
using lumenfold::test::ragged;

namespace {

// sig[k] over the root of the last `window` squares summed afresh, divided by
// `divisor(n)` for n values held.
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

void expect_zero_from(const std::vector<double>& out, std::size_t from, std::size_t to = SIZE_MAX) {
    for (std::size_t k = from; k < out.size() && k < to; ++k) EXPECT_EQ(out[k], 0.0) << "bar " << k + 1;
}

}  // namespace

TEST(RunningWindowSum, ClampsRoundingResidue) {
    RunningWindowSum s(2);
    // 5 vanishes into 1e17 and is subtracted later in full: the sum ends at -4.5.
    for (double x : {0.1, 1e17, 5.0, 0.5}) s.push(x);
    EXPECT_EQ(s.push(0.5), -4.5);
    EXPECT_EQ(s.clamp_at_zero(), 0.0);
    EXPECT_EQ(s.push(2.0), 1.5);
}

TEST(EhlersUltimateOscillator, WidePeriodTruncatesAndSaturates) {
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 2.0), 40u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 1.99), 39u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, -3.0), 0u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, kNaN), 0u);
    EXPECT_EQ(EhlersUltimateOscillator::wide_period(20, 1e300), std::numeric_limits<std::uint64_t>::max());
    for (double v : outputs(EhlersUltimateOscillator(20, 1e300), ragged(50))) EXPECT_TRUE(std::isfinite(v));
}

TEST(EhlersUltimateOscillator, WarmupAndHundredBarRms) {
    const auto xs = ragged(260);
    const auto out = outputs(EhlersUltimateOscillator(10, 2.0), xs);
    expect_zero_from(out, 0, 3);
    EXPECT_NEAR(std::fabs(out[3]), 2.0, 1e-12);
    HighPass wide(20), edge(10);
    std::vector<double> sig;
    for (double x : xs) {
        const double w = wide.next(x);
        sig.push_back(w - edge.next(x));
    }
    const auto want = rms_scaled(sig, 100, [](std::size_t n) { return static_cast<double>(n); });
    for (std::size_t k = 3; k < xs.size(); ++k) EXPECT_NEAR(out[k], want[k], 1e-9 * std::fabs(want[k])) << k;
}

TEST(EhlersUltimateOscillator, DegenerateInputsAndAHugeSwing) {
    expect_zero_from(outputs(EhlersUltimateOscillator(20, 2.0), std::vector<double>(50, 7.5)), 0);
    expect_zero_from(outputs(EhlersUltimateOscillator(0, 2.0), ragged(50)), 0);
    expect_zero_from(outputs(EhlersUltimateOscillator(20, 0.04), ragged(50)), 0);  // wide period 0
    auto xs = ragged(60);
    xs[20] = kNaN;
    expect_zero_from(outputs(EhlersUltimateOscillator(20, 2.0), xs), 20);
    // A swing of 1e10 leaves the running sum below 0 by rounding once it has
    // left the window; restarted from 0 it gives scores again, not 0 for good.
    xs = ragged(800);
    for (std::size_t k = 30; k < 34; ++k) xs[k] += 1e10;
    const auto out = outputs(EhlersUltimateOscillator(10, 2.0), xs);
    for (std::size_t k = 600; k < out.size(); ++k) EXPECT_TRUE(std::isfinite(out[k]) && out[k] != 0.0) << k;
}

TEST(UniversalOscillator, CoefficientsUseSqrtTwoPi) {
    EXPECT_EQ(UniversalOscillator::kSqrt2Pi, std::sqrt(2.0) * kPi);
    const UniversalOscillator u(20);
    const double a = std::exp(-UniversalOscillator::kSqrt2Pi / 20.0);
    const double c2 = std::cos(UniversalOscillator::kSqrt2Pi / 20.0) * (2.0 * a);
    EXPECT_EQ(u.c2(), c2);
    EXPECT_EQ(u.c1(), (1.0 - c2) + a * a);
    EXPECT_NE(u.c1(), TwoPoleCoefficients::super_smoother(20.0).c1);
}

TEST(UniversalOscillator, WarmupBoundsDecayAndNaN) {
    const auto xs = ragged(300);
    const auto out = outputs(UniversalOscillator(20), xs);
    expect_zero_from(out, 0, 2);
    EXPECT_EQ(out[2], xs[2] > xs[0] ? 1.0 : -1.0);  // |filt| is its own peak
    for (double v : out) EXPECT_LE(std::fabs(v), 1.0);
    // A constant never lifts the peak: 1e-7 decays to exactly 0 (near bar
    // 82000) and the outputs stay 0 instead of 0/0.
    UniversalOscillator flat(10);
    for (int i = 0; i < 90000; ++i) ASSERT_EQ(flat.next(3.0), 0.0) << i;
    const auto z = outputs(UniversalOscillator(0), ragged(6));
    for (std::size_t k = 0; k < z.size(); ++k) EXPECT_EQ(std::isnan(z[k]), k >= 2) << k;
    for (std::size_t at : {0u, 6u}) {
        auto ys = ragged(40);
        ys[at] = kNaN;
        const auto n = outputs(UniversalOscillator(20), ys);
        const std::size_t first = at < 2 ? 2 : at;  // read two bars later during bars 1, 2
        for (std::size_t k = 0; k < n.size(); ++k) EXPECT_EQ(std::isnan(n[k]), k >= first) << at << " " << k;
    }
}

TEST(CyberneticOscillator, RmsOverTheFullLengthFromBarFour) {
    const auto xs = ragged(80);
    const auto out = outputs(CyberneticOscillator(30, 10, 10), xs);
    expect_zero_from(out, 0, 3);
    EXPECT_NEAR(std::fabs(out[3]), 3.1622776601683795, 1e-12);
    HighPass hp(30);
    SuperSmoother ss(10);
    std::vector<double> filt;
    for (double x : xs) filt.push_back(ss.next(hp.next(x)));
    const auto want = rms_scaled(filt, 10, [](std::size_t) { return 10.0; });
    for (std::size_t k = 3; k < xs.size(); ++k) EXPECT_NEAR(out[k], want[k], 1e-11 * std::fabs(want[k])) << k;
}

TEST(CyberneticOscillator, DegenerateParametersAndNaN) {
    expect_zero_from(outputs(CyberneticOscillator(30, 10, 10), std::vector<double>(40, -2.0)), 0);
    for (double v : outputs(CyberneticOscillator(30, 10, 0), ragged(20))) EXPECT_TRUE(std::isnan(v));
    auto xs = ragged(20);
    xs[1] = kNaN;  // stored during warm-up, read by bar 4's high-pass
    for (const auto& out : {outputs(CyberneticOscillator(0, 10, 10), ragged(20)),
                            outputs(CyberneticOscillator(30, 0, 10), ragged(20)),
                            outputs(CyberneticOscillator(30, 10, 10), xs)}) {
        for (std::size_t k = 0; k < out.size(); ++k) EXPECT_EQ(std::isnan(out[k]), k >= 3) << k;
        expect_zero_from(out, 0, 3);
    }
}

TEST(Cg, PartialWindowsZeroSumsAndNaN) {
    const auto flat = outputs(CenterOfGravity(10), std::vector<double>(14, 5.0));
    for (std::size_t k = 0; k < flat.size(); ++k) {
        EXPECT_EQ(flat[k], -(static_cast<double>(k < 10 ? k : 9) + 2.0) / 2.0) << k;  // -1, -1.5, ..., -5.5
    }
    EXPECT_EQ(CenterOfGravity(3).next(0.0), 0.0);
    expect_zero_from(outputs(CenterOfGravity(0), ragged(5)), 0);
    EXPECT_EQ(outputs(CenterOfGravity(2), {1.0, -1.0})[1], 0.0);
    EXPECT_EQ(outputs(CenterOfGravity(2), {7.0, 1.0, 3.0})[2], -1.25);  // (1·3 + 2·1)/4
    auto xs = ragged(20);
    xs[5] = kNaN;
    const auto out = outputs(CenterOfGravity(4), xs);
    for (std::size_t k = 5; k < 9; ++k) EXPECT_TRUE(std::isnan(out[k])) << k;
    EXPECT_EQ(out[15], outputs(CenterOfGravity(4), {xs.begin() + 12, xs.begin() + 16}).back());
}

TEST(CorrelationTrend, LinesAndDegenerateWindows) {
    EXPECT_EQ(outputs(CorrelationTrend(2), {1.0, 2.0}), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(outputs(CorrelationTrend(2), {2.0, 1.0}), (std::vector<double>{0.0, -1.0}));
    std::vector<double> down;
    for (int i = 0; i < 40; ++i) down.push_back(50.0 - 1.5 * i);
    const auto d = outputs(CorrelationTrend(12), down);
    expect_zero_from(d, 0, 11);
    for (std::size_t k = 11; k < d.size(); ++k) EXPECT_NEAR(d[k], -1.0, 1e-12) << k;
    expect_zero_from(outputs(CorrelationTrend(8), std::vector<double>(20, 42.0)), 0);
    expect_zero_from(outputs(CorrelationTrend(0), ragged(10)), 0);
    expect_zero_from(outputs(CorrelationTrend(1), ragged(10)), 0);
    for (double bad : {kNaN, std::numeric_limits<double>::infinity()}) {
        auto xs = ragged(30);
        xs[10] = bad;
        const auto out = outputs(CorrelationTrend(5), xs);
        expect_zero_from(out, 10, 15);
        EXPECT_EQ(out[24], outputs(CorrelationTrend(5), {xs.begin() + 20, xs.begin() + 25}).back());
        EXPECT_NE(out[24], 0.0);
    }
}

TEST(Usi, WorkedValuesAndHeldValues) {
    const auto out = outputs(USI(10), {1, 2, 1, 2, 3, 4});
    const double want[] = {0.0, 0.0, 0.0, -0.288443, -0.060706, 0.195624};
    expect_zero_from(out, 0, 3);  // bar 3: equal averages of 1/3 pass through the smoothers
    for (int i = 3; i < 6; ++i) EXPECT_NEAR(out[i], want[i], 5e-7) << i;
    std::vector<double> up;
    for (int i = 0; i < 30; ++i) up.push_back(10.0 + i);
    expect_zero_from(outputs(USI(10), up), 0);  // the down smoother is exactly 0
    expect_zero_from(outputs(USI(10), {up.rbegin(), up.rend()}), 0);
    // A mixed start, then a long rise: the down smoother decays below 1e-12 and
    // the last value is held (the smoothers overshoot, so it may pass 1).
    std::vector<double> xs = {5, 6, 4, 7, 5, 6};
    for (int i = 0; i < 3000; ++i) xs.push_back(7.0 + 0.5 * i);
    const auto held = outputs(USI(10), xs);
    for (std::size_t k = held.size() - 500; k < held.size(); ++k) EXPECT_EQ(held[k], held.back());
    EXPECT_NEAR(held.back(), 1.0, 1e-6);
    xs[3] = kNaN;
    for (double v : outputs(USI(6), {xs.begin(), xs.begin() + 40})) EXPECT_TRUE(std::isfinite(v));
    // Length 0: NaN smoothers from bar 4 on hold bar 3's (1/3 - 2/3)/1.
    const auto z = outputs(USI(0), {5, 6, 4, 7, 5, 6});
    for (std::size_t k = 2; k < z.size(); ++k) EXPECT_NEAR(z[k], -1.0 / 3.0, 1e-15) << k;
}
