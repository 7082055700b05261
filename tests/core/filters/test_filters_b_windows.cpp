// Windowed and nonlinear filters: recursive median and its oscillator, DSMA,
// FRAMA, noise elimination, the Ehlers filter, the undersampled double MA,
// the projected MA and the truncated band-pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/filters/dsma.hpp"
#include "lumenfold/core/filters/ehlers_filter.hpp"
#include "lumenfold/core/filters/frama.hpp"
#include "lumenfold/core/filters/noise_elimination.hpp"
#include "lumenfold/core/filters/projected_moving_average.hpp"
#include "lumenfold/core/filters/recursive_median.hpp"
#include "lumenfold/core/filters/truncated_bandpass.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/filters/undersampled_double_ma.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "filters/filters_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::expect_capacity_overflow;
using lumenfold::test::run;

namespace {

std::vector<double> series(std::size_t n) { return lumenfold::test::wave(n, 60.0, 5.0, 0.33, 0.02); }

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// ---- recursive median ----

TEST(RecursiveMedianFilter, SpikeRejectionAndFactors) {
    const auto out = run(RecursiveMedian(12), {1, 2, 3, 4, 100});
    const double a = RecursiveMedian(12).alpha();
    EXPECT_NEAR(a, 0.42265, 5e-6);
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3, 4, 3.0 * a + (1.0 - a) * 4.0}));
    EXPECT_NEAR(RecursiveMedian(10).alpha(), 0.49047, 5e-6);
    EXPECT_NEAR(RecursiveMedian(5).alpha(), 0.84162, 5e-6);
    EXPECT_EQ(RecursiveMedian(4).alpha(), 0.0);  // cos 90° + sin 90° is exactly 1
    EXPECT_EQ(run(RecursiveMedian(4), {1, 2, 3, 4, 9, 9, 9}).back(), 4.0);
    EXPECT_EQ(run(RecursiveMedian(12), std::vector<double>(20, 10.0)), std::vector<double>(20, 10.0));
    const auto zero = run(RecursiveMedian(0), {1, 2, 3, 4, 5});
    EXPECT_EQ(zero[3], 4.0);
    EXPECT_TRUE(std::isnan(zero[4]));
}

TEST(RecursiveMedianFilter, NaNOrdersAfterEveryNumber) {
    RecursiveMedian m(12);
    for (double x : {5.0, kNaN, 1.0, kNaN, 3.0}) m.next(x);
    EXPECT_EQ(m.median(), 5.0);  // 1, 3, 5, NaN, NaN
    // One NaN shifts the median up and the output stays finite once the
    // warm-up has returned it; three NaN make the median NaN.
    const auto out = run(RecursiveMedian(12), {1, 2, kNaN, 4, 5, 6, 7, 8});
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i == 2) << i;
    EXPECT_EQ(out[4], 4.0 * RecursiveMedian(12).alpha() + (1.0 - RecursiveMedian(12).alpha()) * 4.0);
    RecursiveMedian three(12);
    for (double x : {kNaN, 2.0, kNaN, 4.0, kNaN}) three.next(x);
    EXPECT_TRUE(std::isnan(three.median()));
}

TEST(RecursiveMedianOsc, FirstOutputAndDegenerateHighPass) {
    const double a2 = RoofingHighPass::alpha_from_angle((254.51999999999998 / 20.0) * kDegToRad);
    EXPECT_NEAR(a2, 0.20065, 5e-6);
    const auto out = run(RecursiveMedianOscillator(12, 20), std::vector<double>(80, 10.0));
    const double k = 1.0 + (a2 * -0.5);
    EXPECT_EQ(out[0], (k * k) * 10.0);
    EXPECT_NEAR(out[0], 8.0941, 5e-5);
    EXPECT_LT(std::fabs(out[79]), 1e-3);
    for (double y : run(RecursiveMedianOscillator(12, 0), {1.0, 2.0})) EXPECT_TRUE(std::isnan(y));
}

// ---- DSMA ----

TEST(Dsma, WorkedValuesAndFlatStarts) {
    const auto out = run(DSMA(20), {100, 101, 102, 103, 104});
    EXPECT_EQ(out[0], 100.0);
    EXPECT_EQ(out[1], 101.0);  // alpha 5/sqrt(20) is capped to 1
    EXPECT_NEAR(out[2], 102.0, 1e-12);
    EXPECT_NEAR(out[3], 102.74674, 5e-6);
    EXPECT_NEAR(out[4], 103.38101, 5e-6);
    for (double y : run(DSMA(20), std::vector<double>(30, 5.0))) EXPECT_NEAR(y, 5.0, 1e-12);
    EXPECT_EQ(run(DSMA(20), {0.0, 0.0, 0.0}), (std::vector<double>{0.0, 0.0, 0.0}));
    const auto xs = series(10);
    EXPECT_EQ(run(DSMA(1), xs), xs);
    const auto zero = run(DSMA(0), xs);
    EXPECT_EQ(zero[0], xs[0]);
    for (std::size_t i = 1; i < zero.size(); ++i) EXPECT_TRUE(std::isnan(zero[i]));
}

TEST(Dsma, MatchesAZeroFilledWindow) {
    // A transcription whose smoothed window starts as `period` zeros and is
    // summed whole every bar.
    const std::uint64_t p = 9;
    auto xs = lumenfold::test::wave(200, 40.0, 3.0, 0.21, 0.01);
    xs[3] = 0.0;
    xs[50] = -0.0;
    const auto k = TwoPoleCoefficients::super_smoother(4.5);
    std::vector<double> window(p, 0.0);
    double x1 = 0.0, x2 = 0.0, z1 = 0.0, s1 = 0.0, s2 = 0.0, value = 0.0;
    DSMA d(p);
    for (std::size_t n = 0; n < xs.size(); ++n) {
        const double x = xs[n];
        double expected = x;
        if (n == 0) {
            value = x;
        } else {
            const double zeros = x - x2;
            const double ss = (((k.c1 * (zeros + z1)) * 0.5) + (k.c2 * s1)) + (k.c3 * s2);
            z1 = zeros;
            s2 = s1;
            s1 = ss;
            window.insert(window.begin(), ss);
            window.pop_back();
            double sum = 0.0;
            for (double v : window) sum = sum + v * v;
            const double ms = sum / 9.0;
            double alpha = ms == 0.0 ? 0.0 : (std::fabs(ss / std::sqrt(ms)) * 5.0) / 9.0;
            if (alpha > 1.0) alpha = 1.0;
            value = (x * alpha) + (value * (1.0 - alpha));
            expected = value;
        }
        x2 = x1;
        x1 = x;
        EXPECT_EQ(d.next(x), expected) << n;
    }
}

// ---- FRAMA ----

namespace {

std::vector<double> run_frama(FRAMA f, const std::vector<std::array<double, 3>>& bars) {
    std::vector<double> out;
    for (const auto& b : bars) out.push_back(f.next(b[0], b[1], b[2]));
    return out;
}

}  // namespace

TEST(Frama, WorkedValuesAndEvenLength) {
    const std::vector<std::array<double, 3>> bars = {{10, 8, 9},   {11, 9, 10},  {12, 10, 11},
                                                     {13, 11, 12}, {14, 12, 13}, {15, 13, 14}};
    const auto out = run_frama(FRAMA(4), bars);
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 4), (std::vector<double>{9, 10, 11, 12}));
    EXPECT_NEAR(out[4], 12.29821, 5e-6);
    EXPECT_NEAR(out[5], 12.80570, 5e-6);
    EXPECT_EQ(run_frama(FRAMA(3), bars), out);
    EXPECT_EQ(FRAMA(1).length(), 2u);
    EXPECT_EQ(FRAMA(~std::uint64_t{0}).length(), 0u);  // rounding up wraps to 0
    // Length 0 (and its wrap) keeps no window: the factor is 1, the close is returned.
    std::vector<std::array<double, 3>> many;
    for (int i = 0; i < 40; ++i) many.push_back({100.0 + i, 90.0 - i, 95.0 + 0.5 * i});
    for (FRAMA f : {FRAMA(0), FRAMA(~std::uint64_t{0})}) {
        const auto closes = run_frama(f, many);
        for (std::size_t i = 0; i < many.size(); ++i) EXPECT_EQ(closes[i], many[i][2]);
    }
    std::vector<std::array<double, 3>> flat(12, {7.0, 7.0, 7.0});
    EXPECT_EQ(run_frama(FRAMA(4), flat), std::vector<double>(12, 7.0));
}

TEST(Frama, NaNBehaviour) {
    std::vector<std::array<double, 3>> bars;
    for (int i = 0; i < 12; ++i) bars.push_back({11.0 + i, 9.0 + i, 10.0 + i});
    auto hl = bars;
    hl[5][0] = kNaN;  // ignored by the extremes
    hl[6][1] = kNaN;
    for (double y : run_frama(FRAMA(4), hl)) EXPECT_FALSE(std::isnan(y));
    auto early = bars;
    early[1][2] = kNaN;  // before bar L: returned, then replaced
    const auto e = run_frama(FRAMA(4), early);
    EXPECT_TRUE(std::isnan(e[1]));
    for (std::size_t i = 2; i < e.size(); ++i) EXPECT_FALSE(std::isnan(e[i]));
    auto late = bars;
    late[3][2] = kNaN;  // bar L starts the average: NaN for good
    const auto l = run_frama(FRAMA(4), late);
    for (std::size_t i = 3; i < l.size(); ++i) EXPECT_TRUE(std::isnan(l[i]));
}

TEST(Frama, MatchesAThreeScanTranscription) {
    // Each range folded with maxNum/minNum over its own run of positions,
    // the whole window scanned separately; NaN and signed-zero highs and lows.
    const std::uint64_t len = 6, half = 3;
    std::vector<std::array<double, 3>> bars;
    for (int i = 0; i < 300; ++i) {
        const double c = 0.5 * std::sin(0.4 * i) + (i % 40 < 20 ? 0.0 : 0.01 * i);
        double h = c + 0.3 * std::fabs(std::sin(1.3 * i)), l = c - 0.3 * std::fabs(std::cos(0.9 * i));
        if (i % 13 == 0) h = kNaN;
        if (i % 17 == 0) l = kNaN;
        if (i % 29 == 0) h = l = (i % 2 ? -0.0 : 0.0);
        bars.push_back({h, l, c});
    }
    auto range = [&](std::size_t n, std::uint64_t from, std::uint64_t to) {
        double hh = -kMaxF64, ll = kMaxF64;
        for (std::uint64_t j = from; j < to; ++j) {
            hh = max_num(hh, bars[n - j][0]);
            ll = min_num(ll, bars[n - j][1]);
        }
        return hh - ll;
    };
    FRAMA f(len);
    double value = 0.0;
    for (std::size_t n = 0; n < bars.size(); ++n) {
        const double c = bars[n][2];
        double expected = c;
        if (n + 1 > len) {
            const double n1 = range(n, 0, half) / 3.0, n2 = range(n, half, len) / 3.0, n3 = range(n, 0, len) / 6.0;
            double alpha = 1.0;
            if (n1 > 0.0 && n2 > 0.0 && n3 > 0.0) {
                alpha = std::exp(((std::log(n1 + n2) - std::log(n3)) / 0.6931471805599453 + (-1.0)) * (-4.6));
            }
            alpha = std::fmin(std::fmax(alpha, 0.01), 1.0);
            expected = value = (c * alpha) + ((1.0 - alpha) * value);
        } else {
            value = c;
        }
        EXPECT_EQ(f.next(bars[n][0], bars[n][1], c), expected) << n;
    }
}

// ---- noise elimination and Ehlers filter ----

TEST(NoiseElim, WorkedValuesDegenerateAndNaN) {
    EXPECT_EQ(run(NoiseElimination(4), {1, 2, 3, 4, 3, 5}), (std::vector<double>{0, 0, 0, 1.0, 0.5, 0.5}));
    EXPECT_EQ(run(NoiseElimination(5), {9, 8, 7, 6, 5}).back(), -1.0);
    for (std::uint64_t p : {0u, 1u}) {
        for (double y : run(NoiseElimination(p), {1.0, 2.0})) EXPECT_TRUE(std::isnan(y));
    }
    // A NaN counts as a tie in every pair it is part of.
    const auto out = run(NoiseElimination(4), {1, 2, kNaN, 4, 5, 6, 7});
    EXPECT_EQ(out[3], 3.0 / 6.0);
    EXPECT_EQ(out[5], 3.0 / 6.0);
    EXPECT_EQ(out[6], 1.0);
}

TEST(NoiseElim, RunningCountMatchesAFullRescan) {
    // A transcription that rescans every pair of the window each bar.
    auto xs = lumenfold::test::wave(400, 10.0, 2.0, 0.7, 0.0);
    for (std::size_t i = 0; i < xs.size(); i += 17) xs[i] = kNaN;
    for (std::size_t i = 5; i < xs.size(); i += 23) xs[i] = xs[i - 1];  // ties
    xs[100] = kInf;
    xs[101] = kInf;
    xs[102] = -kInf;
    for (std::uint64_t p : {2u, 3u, 8u, 20u}) {
        NoiseElimination f(p);
        const double pairs = (static_cast<double>(p) * 0.5) * (static_cast<double>(p) + (-1.0));
        for (std::size_t n = 0; n < xs.size(); ++n) {
            double expected = 0.0;
            if (n + 1 >= p) {
                double s = 0.0;
                for (std::uint64_t i = 1; i < p; ++i) {
                    for (std::uint64_t k = 0; k < i; ++k) {
                        const double d = xs[n - i] - xs[n - k];
                        if (d > 0) s = s + (-1.0);
                        if (d < 0) s = s + 1.0;
                    }
                }
                expected = s / pairs;
            }
            EXPECT_EQ(f.next(xs[n]), expected) << p << " bar " << n;
        }
    }
}

TEST(EhlersFilterWeights, WorkedValuesAndDegenerateLengths) {
    EXPECT_EQ(run(EhlersFilter(3), {1, 2, 3, 4, 10}), (std::vector<double>{1, 2, 3, 4, 885.0 / 95.0}));
    EXPECT_EQ(run(EhlersFilter(6), std::vector<double>(20, 3.5)), std::vector<double>(20, 3.5));
    const auto xs = series(15);
    EXPECT_EQ(run(EhlersFilter(0), xs), xs);
    EXPECT_EQ(run(EhlersFilter(1), xs), xs);
    // A NaN poisons the output while it is among the 2L - 1 values read.
    auto ys = series(20);
    ys[6] = kNaN;
    const auto out = run(EhlersFilter(3), ys);
    for (std::size_t i = 0; i < ys.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 6 && i < 11) << i;
    // 2·length past the u64 range is refused, not wrapped to a small window.
    for (std::uint64_t n : {std::uint64_t{1} << 63, (std::uint64_t{1} << 63) + 1, ~std::uint64_t{0}}) {
        expect_capacity_overflow([n] { EhlersFilter f(n); });
    }
}

// ---- undersampled double MA ----

TEST(Udma, SampleAndHold) {
    auto held = [](std::uint64_t samp, const std::vector<double>& xs) {
        UndersampledDoubleMA u(1, 0, samp);
        std::vector<double> fast, slow;
        for (double x : xs) {
            const auto o = u.next(x);
            fast.push_back(o.fast);
            slow.push_back(o.slow);
        }
        EXPECT_EQ(fast, slow);  // one-value Hann window and length 0 both return the held value
        return fast;
    };
    const std::vector<double> xs = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(held(3, xs), (std::vector<double>{1, 1, 3, 3, 3, 6, 6}));
    EXPECT_EQ(held(0, xs), std::vector<double>(7, 1.0));
    EXPECT_EQ(held(1, xs), xs);
    UndersampledDoubleMA u(4, 8, 2);
    HannFilter f(4), s(8);
    for (double x : series(30)) {
        const auto o = u.next(x);
        EXPECT_EQ(o.fast, f.next(u.held()));
        EXPECT_EQ(o.slow, s.next(u.held()));
    }
}

// ---- projected MA ----

TEST(Pma, WorkedValuesAndDegeneratePeriods) {
    ProjectedMovingAverage p(4);
    const double pma[] = {1, 2, 3, 4.5, 5.5, 6.5};
    const double predict[] = {1, 2, 3, 6.5, 7.5, 6.5};
    for (int i = 0; i < 6; ++i) {
        const auto o = p.next(i + 1.0);
        EXPECT_EQ(o.pma, pma[i]) << i;
        EXPECT_EQ(o.predict, predict[i]) << i;
    }
    ProjectedMovingAverage one(1);
    for (double x : series(5)) {
        const auto o = one.next(x);
        EXPECT_EQ(o.pma, x);
        EXPECT_EQ(o.predict, x);
    }
    const auto z = ProjectedMovingAverage(0).next(3.0);
    EXPECT_TRUE(std::isnan(z.pma) && std::isnan(z.predict));
    // A NaN lasts the window in pma and two more computed bars in predict.
    ProjectedMovingAverage q(3);
    auto xs = series(12);
    xs[4] = kNaN;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const auto o = q.next(xs[i]);
        EXPECT_EQ(std::isnan(o.pma), i >= 4 && i < 7) << i;
        EXPECT_EQ(std::isnan(o.predict), i >= 4 && i < 9) << i;
    }
}

// ---- truncated band-pass ----

TEST(TruncatedBandpassFilter, CoefficientsAndWorkedValues) {
    const TruncatedBandpass f(20, 0.1, 1);
    EXPECT_NEAR(f.l1(), 0.9510565, 5e-8);
    EXPECT_NEAR(f.s1(), 0.9690674, 5e-8);
    const double b = (1.0 - f.s1()) * 0.5;
    EXPECT_EQ(run(TruncatedBandpass(20, 0.1, 1), {1, 2, 4, 7, 11}),
              (std::vector<double>{0, 0, b * 3.0, b * 5.0, b * 7.0}));
    std::vector<double> sine;
    for (int i = 0; i < 60; ++i) sine.push_back(std::sin(kTwoPi * i / 20.0));
    const auto out = run(TruncatedBandpass(20, 0.1, 10), sine);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(out[i], 0.0);
    EXPECT_NEAR(out[11], -0.048022, 5e-7);
    double peak = 0.0;
    for (int i = 30; i < 60; ++i) peak = std::fmax(peak, std::fabs(out[i]));
    EXPECT_NEAR(peak, 0.1455, 5e-4);
    EXPECT_NEAR(out[45], out[25], 1e-12);  // the period of the input
}

TEST(TruncatedBandpassFilter, FiniteMemoryAndEdges) {
    EXPECT_EQ(run(TruncatedBandpass(20, 0.1, 0), series(6)), std::vector<double>(6, 0.0));
    auto xs = series(30);
    xs[5] = kNaN;
    const auto out = run(TruncatedBandpass(20, 0.1, 4), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 5 && i < 11) << i;
    const auto zero = run(TruncatedBandpass(0, 0.1, 2), series(6));
    EXPECT_EQ(zero[2], 0.0);
    EXPECT_TRUE(std::isnan(zero[3]));
    for (std::uint64_t n : {~std::uint64_t{0} - 1, ~std::uint64_t{0}}) {
        expect_capacity_overflow([n] { TruncatedBandpass f(20, 0.1, n); });
    }
}
