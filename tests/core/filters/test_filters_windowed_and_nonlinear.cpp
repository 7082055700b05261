// Windowed and nonlinear filters: recursive median and its oscillator, DSMA,
// FRAMA, noise elimination, the Ehlers filter, the undersampled double MA,
// the projected MA and the truncated band-pass.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "filters/filters_support.hpp"
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
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::expect_capacity_overflow;
using lumenfold::test::run;

namespace {

using Bar = std::array<double, 3>;

std::vector<double> series(std::size_t n) { return lumenfold::test::wave(n, 60.0, 5.0, 0.33, 0.02); }

std::vector<double> run_frama(FRAMA f, const std::vector<Bar>& bars) {
    std::vector<double> out;
    for (const Bar& b : bars) out.push_back(f.next(b[0], b[1], b[2]));
    return out;
}

std::vector<bool> nan_mask(const std::vector<double>& xs) {
    std::vector<bool> m;
    for (double x : xs) m.push_back(std::isnan(x));
    return m;
}

// Bars first..last (0-based) flagged.
std::vector<bool> bars(std::size_t n, std::size_t first, std::size_t last) {
    std::vector<bool> m(n, false);
    for (std::size_t i = first; i <= last && i < n; ++i) m[i] = true;
    return m;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(RecursiveMedianFilter, SpikeRejectionFactorsAndNaN) {
    const double a = RecursiveMedian(12).alpha();
    EXPECT_NEAR(a, 0.42265, 5e-6);
    EXPECT_EQ(run(RecursiveMedian(12), {1, 2, 3, 4, 100}), (std::vector<double>{1, 2, 3, 4, 3.0 * a + (1.0 - a) * 4.0}));
    EXPECT_NEAR(RecursiveMedian(5).alpha(), 0.84162, 5e-6);
    EXPECT_EQ(RecursiveMedian(4).alpha(), 0.0);  // cos 90° + sin 90° is exactly 1
    EXPECT_EQ(run(RecursiveMedian(12), std::vector<double>(20, 10.0)), std::vector<double>(20, 10.0));
    EXPECT_EQ(nan_mask(run(RecursiveMedian(0), {1, 2, 3, 4, 5})), bars(5, 4, 4));
    // NaN orders after every number, so one NaN shifts the median up and the
    // output stays finite once the warm-up has returned it.
    RecursiveMedian m(12);
    for (double x : {5.0, kNaN, 1.0, kNaN, 3.0}) m.next(x);
    EXPECT_EQ(m.median(), 5.0);  // 1, 3, 5, NaN, NaN
    const auto out = run(RecursiveMedian(12), {1, 2, kNaN, 4, 5, 6, 7, 8});
    EXPECT_EQ(nan_mask(out), bars(8, 2, 2));
    EXPECT_EQ(out[4], 4.0 * a + (1.0 - a) * 4.0);  // median of 5, 4, NaN, 2, 1 is 4
}

TEST(RecursiveMedianOsc, FirstOutputAndDegenerateHighPass) {
    const double a2 = RoofingHighPass::alpha_from_angle((254.51999999999998 / 20.0) * kDegToRad);
    EXPECT_NEAR(a2, 0.20065, 5e-6);
    const auto out = run(RecursiveMedianOscillator(12, 20), std::vector<double>(80, 10.0));
    const double k = 1.0 + (a2 * -0.5);
    EXPECT_EQ(out[0], (k * k) * 10.0);
    EXPECT_NEAR(out[0], 8.0941, 5e-5);
    EXPECT_LT(std::fabs(out[79]), 1e-3);
    EXPECT_TRUE(std::isnan(run(RecursiveMedianOscillator(12, 0), {1.0})[0]));
}

TEST(Dsma, WorkedValuesAndDegeneratePeriods) {
    const auto out = run(DSMA(20), {100, 101, 102, 103, 104});
    EXPECT_EQ(out[1], 101.0);  // alpha 5/sqrt(20) is capped to 1
    EXPECT_NEAR(out[3], 102.74674, 5e-6);
    EXPECT_NEAR(out[4], 103.38101, 5e-6);
    EXPECT_EQ(run(DSMA(20), {0.0, 0.0, 0.0}), (std::vector<double>{0.0, 0.0, 0.0}));
    const auto xs = series(10);
    EXPECT_EQ(run(DSMA(1), xs), xs);
    EXPECT_EQ(nan_mask(run(DSMA(0), xs)), bars(10, 1, 9));
}

TEST(Dsma, MatchesAZeroFilledWindow) {
    // A transcription whose smoothed window starts as `period` zeros and is
    // summed whole every bar.
    auto xs = lumenfold::test::wave(200, 40.0, 3.0, 0.21, 0.01);
    xs[3] = 0.0;
    xs[50] = -0.0;
    const auto k = TwoPoleCoefficients::super_smoother(4.5);
    std::vector<double> window(9, 0.0);
    double z1 = 0.0, s1 = 0.0, s2 = 0.0, value = xs[0];
    DSMA d(9);
    EXPECT_EQ(d.next(xs[0]), xs[0]);
    for (std::size_t n = 1; n < xs.size(); ++n) {
        const double x = xs[n], zeros = x - (n >= 2 ? xs[n - 2] : 0.0);
        const double ss = (((k.c1 * (zeros + z1)) * 0.5) + (k.c2 * s1)) + (k.c3 * s2);
        z1 = zeros;
        s2 = s1;
        s1 = ss;
        window.insert(window.begin(), ss);
        window.pop_back();
        double sum = 0.0;
        for (double v : window) sum = sum + v * v;
        const double ms = sum / 9.0;
        const double alpha = std::fmin(ms == 0.0 ? 0.0 : (std::fabs(ss / std::sqrt(ms)) * 5.0) / 9.0, 1.0);
        value = (x * alpha) + (value * (1.0 - alpha));
        EXPECT_EQ(d.next(x), value) << n;
    }
}

TEST(Frama, WorkedValuesAndLengths) {
    const std::vector<Bar> bs = {{10, 8, 9}, {11, 9, 10}, {12, 10, 11}, {13, 11, 12}, {14, 12, 13}, {15, 13, 14}};
    const auto out = run_frama(FRAMA(4), bs);
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 4), (std::vector<double>{9, 10, 11, 12}));
    EXPECT_NEAR(out[4], 12.29821, 5e-6);
    EXPECT_NEAR(out[5], 12.80570, 5e-6);
    EXPECT_EQ(run_frama(FRAMA(3), bs), out);
    EXPECT_EQ(FRAMA(1).length(), 2u);
    EXPECT_EQ(FRAMA(~std::uint64_t{0}).length(), 0u);  // rounding up wraps to 0
    // Length 0 keeps no window: the factor is 1 and every close is returned.
    std::vector<Bar> many;
    std::vector<double> closes;
    for (int i = 0; i < 40; ++i) {
        many.push_back({100.0 + i, 90.0 - i, 95.0 + 0.5 * i});
        closes.push_back(95.0 + 0.5 * i);
    }
    EXPECT_EQ(run_frama(FRAMA(0), many), closes);
    EXPECT_EQ(run_frama(FRAMA(~std::uint64_t{0}), many), closes);
    EXPECT_EQ(run_frama(FRAMA(4), std::vector<Bar>(12, {7.0, 7.0, 7.0})), std::vector<double>(12, 7.0));
    // A NaN close before bar L is returned and replaced; from bar L on it stays.
    std::vector<Bar> early(many.begin(), many.begin() + 12), late = early;
    early[1][2] = kNaN;
    late[3][2] = kNaN;
    EXPECT_EQ(nan_mask(run_frama(FRAMA(4), early)), bars(12, 1, 1));
    EXPECT_EQ(nan_mask(run_frama(FRAMA(4), late)), bars(12, 3, 11));
}

TEST(Frama, MatchesAThreeScanTranscription) {
    // Each range folded with maxNum/minNum over its own run of positions and
    // the whole window scanned apart; NaN and signed-zero highs and lows.
    std::vector<Bar> bs;
    for (int i = 0; i < 300; ++i) {
        const double c = 0.5 * std::sin(0.4 * i) + (i % 40 < 20 ? 0.0 : 0.01 * i);
        double h = c + 0.3 * std::fabs(std::sin(1.3 * i)), l = c - 0.3 * std::fabs(std::cos(0.9 * i));
        if (i % 13 == 0) h = kNaN;
        if (i % 17 == 0) l = kNaN;
        if (i % 29 == 0) h = l = (i % 2 ? -0.0 : 0.0);
        bs.push_back({h, l, c});
    }
    auto range = [&](std::size_t n, std::size_t from, std::size_t to) {
        double hh = -kMaxF64, ll = kMaxF64;
        for (std::size_t j = from; j < to; ++j) {
            hh = max_num(hh, bs[n - j][0]);
            ll = min_num(ll, bs[n - j][1]);
        }
        return hh - ll;
    };
    FRAMA f(6);
    double value = 0.0;
    for (std::size_t n = 0; n < bs.size(); ++n) {
        const double c = bs[n][2], prev = value;
        value = c;  // bars 1..L
        if (n >= 6) {
            const double n1 = range(n, 0, 3) / 3.0, n2 = range(n, 3, 6) / 3.0, n3 = range(n, 0, 6) / 6.0;
            double alpha = 1.0;
            if (n1 > 0.0 && n2 > 0.0 && n3 > 0.0) {
                alpha = std::exp(((std::log(n1 + n2) - std::log(n3)) / 0.6931471805599453 + (-1.0)) * (-4.6));
            }
            alpha = std::fmin(std::fmax(alpha, 0.01), 1.0);
            value = (c * alpha) + ((1.0 - alpha) * prev);
        }
        EXPECT_EQ(f.next(bs[n][0], bs[n][1], c), value) << n;
    }
}

TEST(NoiseElim, WorkedValuesDegenerateAndNaN) {
    EXPECT_EQ(run(NoiseElimination(4), {1, 2, 3, 4, 3, 5}), (std::vector<double>{0, 0, 0, 1.0, 0.5, 0.5}));
    EXPECT_EQ(run(NoiseElimination(5), {9, 8, 7, 6, 5}).back(), -1.0);
    EXPECT_EQ(nan_mask(run(NoiseElimination(0), {1, 2})), bars(2, 0, 1));
    EXPECT_EQ(nan_mask(run(NoiseElimination(1), {1, 2})), bars(2, 0, 1));
    // A NaN counts as a tie in every pair it is part of.
    EXPECT_EQ(run(NoiseElimination(4), {1, 2, kNaN, 4, 5, 6, 7}), (std::vector<double>{0, 0, 0, 0.5, 0.5, 0.5, 1.0}));
}

TEST(NoiseElim, RunningCountMatchesAFullRescan) {
    // A transcription that rescans every pair of the window each bar.
    auto xs = lumenfold::test::wave(400, 10.0, 2.0, 0.7, 0.0);
    for (std::size_t i = 0; i < xs.size(); i += 17) xs[i] = kNaN;
    for (std::size_t i = 5; i < xs.size(); i += 23) xs[i] = xs[i - 1];  // ties
    xs[100] = xs[101] = kInf;
    xs[102] = -kInf;
    for (std::size_t p : {2u, 3u, 8u, 20u}) {
        NoiseElimination f(p);
        const double pairs = (static_cast<double>(p) * 0.5) * (static_cast<double>(p) + (-1.0));
        for (std::size_t n = 0; n < xs.size(); ++n) {
            double s = 0.0;
            for (std::size_t i = 1; n + 1 >= p && i < p; ++i) {
                for (std::size_t k = 0; k < i; ++k) {
                    const double d = xs[n - i] - xs[n - k];
                    if (d > 0) s = s + (-1.0);
                    if (d < 0) s = s + 1.0;
                }
            }
            EXPECT_EQ(f.next(xs[n]), n + 1 >= p ? s / pairs : 0.0) << p << " bar " << n;
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
    EXPECT_EQ(nan_mask(run(EhlersFilter(3), ys)), bars(20, 6, 10));
    // 2·length past the u64 range is refused, not wrapped to a small window.
    for (std::uint64_t n : {std::uint64_t{1} << 63, (std::uint64_t{1} << 63) + 1, ~std::uint64_t{0}}) {
        expect_capacity_overflow([n] { EhlersFilter f(n); });
    }
}

TEST(Udma, SampleAndHold) {
    auto held = [](std::uint64_t samp) {
        UndersampledDoubleMA u(1, 4, samp);  // a one-value Hann window returns its input
        std::vector<double> out;
        for (double x : {1, 2, 3, 4, 5, 6, 7}) {
            const UdmaOutput o = u.next(x);
            EXPECT_EQ(o.fast, u.held());
            out.push_back(o.fast);
        }
        return out;
    };
    EXPECT_EQ(held(3), (std::vector<double>{1, 1, 3, 3, 3, 6, 6}));
    EXPECT_EQ(held(0), std::vector<double>(7, 1.0));
    EXPECT_EQ(held(1), (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
    UndersampledDoubleMA u(2, 3, 1);
    HannFilter slow(3);
    for (double x : series(10)) EXPECT_EQ(u.next(x).slow, slow.next(x));
}

TEST(Pma, WorkedValuesAndDegeneratePeriods) {
    ProjectedMovingAverage p(4);
    const double pma[] = {1, 2, 3, 4.5, 5.5, 6.5}, predict[] = {1, 2, 3, 6.5, 7.5, 6.5};
    for (int i = 0; i < 6; ++i) {
        const PmaOutput o = p.next(i + 1.0);
        EXPECT_EQ(o.pma, pma[i]) << i;
        EXPECT_EQ(o.predict, predict[i]) << i;
    }
    const PmaOutput one = ProjectedMovingAverage(1).next(3.5);
    EXPECT_EQ(one.pma, 3.5);
    EXPECT_EQ(one.predict, 3.5);
    EXPECT_TRUE(std::isnan(ProjectedMovingAverage(0).next(3.0).pma));
    // A NaN lasts the window in pma and two more computed bars in predict.
    ProjectedMovingAverage q(3);
    auto xs = series(12);
    xs[4] = kNaN;
    std::vector<double> pm, pr;
    for (double x : xs) {
        const PmaOutput o = q.next(x);
        pm.push_back(o.pma);
        pr.push_back(o.predict);
    }
    EXPECT_EQ(nan_mask(pm), bars(12, 4, 6));
    EXPECT_EQ(nan_mask(pr), bars(12, 4, 8));
}

TEST(TruncatedBandpassFilter, WorkedValuesAndFiniteMemory) {
    const TruncatedBandpass f(20, 0.1, 1);
    EXPECT_NEAR(f.l1(), 0.9510565, 5e-8);
    EXPECT_NEAR(f.s1(), 0.9690674, 5e-8);
    const double b = (1.0 - f.s1()) * 0.5;
    EXPECT_EQ(run(TruncatedBandpass(20, 0.1, 1), {1, 2, 4, 7, 11}), (std::vector<double>{0, 0, b * 3, b * 5, b * 7}));
    std::vector<double> sine;
    for (int i = 0; i < 60; ++i) sine.push_back(std::sin(kTwoPi * i / 20.0));
    const auto out = run(TruncatedBandpass(20, 0.1, 10), sine);
    EXPECT_EQ(std::vector<double>(out.begin(), out.begin() + 11), std::vector<double>(11, 0.0));
    EXPECT_NEAR(out[11], -0.048022, 5e-7);
    EXPECT_NEAR(out[31], out[11], 1e-12);  // it depends on the last 12 inputs only
    EXPECT_EQ(run(TruncatedBandpass(20, 0.1, 0), series(6)), std::vector<double>(6, 0.0));
    auto xs = series(30);
    xs[5] = kNaN;
    EXPECT_EQ(nan_mask(run(TruncatedBandpass(20, 0.1, 4), xs)), bars(30, 5, 10));
    EXPECT_EQ(nan_mask(run(TruncatedBandpass(0, 0.1, 2), series(6))), bars(6, 3, 5));
    for (std::uint64_t n : {~std::uint64_t{0} - 1, ~std::uint64_t{0}}) {
        expect_capacity_overflow([n] { TruncatedBandpass t(20, 0.1, n); });
    }
}
