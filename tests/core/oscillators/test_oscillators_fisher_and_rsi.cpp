// Fisher transforms, the Fisher high-pass, the Laguerre RSI and oscillator,
// and the RSI variants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lumenfold/core/classic/rsi.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/oscillators/fisher.hpp"
#include "lumenfold/core/oscillators/fisher_high_pass.hpp"
#include "lumenfold/core/oscillators/laguerre_oscillator.hpp"
#include "lumenfold/core/oscillators/laguerre_rsi.hpp"
#include "lumenfold/core/oscillators/oc_price_rsi.hpp"
#include "lumenfold/core/oscillators/rocket_rsi.hpp"
#include "lumenfold/core/oscillators/rsih.hpp"
#include "cycles/cycles_support.hpp"
#include "oscillators/oscillators_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::run;
using oscillators_support::expect_same;
using oscillators_support::with_nan_at;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kFisherMax = 3.8002011672502;

}  // namespace

// ---- Fisher transforms ----

TEST(Fisher, ClampsIntoTheOpenInterval) {
    const FisherTransform f;
    EXPECT_EQ(f.next(0.0), 0.0);
    EXPECT_EQ(f.next(0.5), 0.5493061443340549);
    for (double x : {1.0, 5.0, 0.999, kInf}) EXPECT_NEAR(f.next(x), kFisherMax, 1e-13) << x;
    EXPECT_EQ(f.next(-1.0), -f.next(1.0));
    EXPECT_EQ(f.next(-kInf), -f.next(1.0));
    EXPECT_TRUE(std::isnan(f.next(kNaN)));
    // The constants at the clamps are the logarithm's own result for the bounds.
    for (volatile double bound : {-0.999, 0.999}) {
        const double v = bound;
        EXPECT_EQ(f.next(v * 2.0), std::log((v + 1.0) / (1.0 - v)) * 0.5) << v;
    }
    const InverseFisherTransform inv;
    EXPECT_EQ(inv.next(0.0), 0.0);
    EXPECT_EQ(inv.next(1.0), 0.7615941559557649);
    EXPECT_EQ(inv.next(1e6), 1.0);
    EXPECT_EQ(inv.next(-kInf), -1.0);
    EXPECT_TRUE(std::isnan(inv.next(kNaN)));
}

// The steps as stated: a newest-first scan of every held high-pass value.
std::vector<double> fisher_high_pass_reference(std::uint64_t hp_len, std::uint64_t norm_len,
                                               const std::vector<double>& xs) {
    HighPass hp(hp_len);
    std::vector<double> hist, out;
    double n1 = 0.0, n2 = 0.0;
    for (double x : xs) {
        hist.push_back(hp.next(x));
        const std::uint64_t held = std::min<std::uint64_t>(hist.size(), norm_len);
        if (held < norm_len) {
            out.push_back(0.0);
            continue;
        }
        double mx = -kMaxF64, mn = kMaxF64;
        for (std::uint64_t i = 0; i < held; ++i) {
            const double v = hist[hist.size() - 1 - i];
            if (v > mx) mx = v;
            if (v < mn) mn = v;
        }
        const double h = hist.back();
        const double n = (held > 0 && mx == mn) ? 0.0 : ((h - mn) + (h - mn)) / (mx - mn) + -1.0;
        const double s = ((n + n1) + n2) / 3.0;
        n2 = n1;
        n1 = n;
        out.push_back(fisher_transform(s));
    }
    return out;
}

TEST(FisherHighPass, MatchesTheStatedScan) {
    const auto xs = jagged(120);
    for (std::uint64_t hp : {0, 1, 5, 20})
        for (std::uint64_t norm : {0, 1, 2, 3, 5, 10, 40}) {
            SCOPED_TRACE(std::to_string(hp) + " " + std::to_string(norm));
            expect_same(run(FisherHighPass(hp, norm), xs), fisher_high_pass_reference(hp, norm, xs));
            const auto nan = with_nan_at(xs, 30);
            expect_same(run(FisherHighPass(hp, norm), nan), fisher_high_pass_reference(hp, norm, nan));
            // Few levels: ties and flat windows.
            std::mt19937_64 rng(hp * 64 + norm);
            const auto levels = classic_support::noisy_series(rng, 120, 0.0);
            expect_same(run(FisherHighPass(hp, norm), levels), fisher_high_pass_reference(hp, norm, levels));
        }
}

TEST(FisherHighPass, WarmupAndDegenerateWindows) {
    const auto out = run(FisherHighPass(10, 5), jagged(40));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0.0) << i;
    EXPECT_NE(out[4], 0.0);
    for (double v : run(FisherHighPass(10, 1), jagged(20))) EXPECT_EQ(v, 0.0);
    for (double v : run(FisherHighPass(10, 0), jagged(20))) EXPECT_TRUE(std::isnan(v));
}

// ---- Laguerre RSI and oscillator ----

TEST(LaguerreRsi, WorkedValues) {
    EXPECT_EQ(run(LaguerreRSI(0.0), {1, 2, 3, 4}), (std::vector<double>{0, 1, 1, 1}));
    for (double v : run(LaguerreRSI(0.0), {9, 8, 7, 6, 5, 4})) EXPECT_EQ(v, 0.0);
    const auto out = run(LaguerreRSI(0.5), {10, 9, 8, 7, 6, 5});
    const std::vector<double> want{0, 0.2857, 0.2, 0.1613, 0.0976, 0};
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(out[i], want[i], 5e-5) << i;
    for (double v : run(LaguerreRSI(0.8), jagged(200))) EXPECT_TRUE(v >= 0.0 && v <= 1.0);
}

// The steps as stated, without the clamp of the running sum of squares.
std::vector<double> laguerre_oscillator_unclamped(std::uint64_t length, double g, std::uint64_t p,
                                                  const std::vector<double>& xs) {
    UltimateSmoother us(length);
    std::vector<double> sq, out;
    double sum = 0.0, lag_prev = 0.0, us_prev = 0.0;
    const auto push = [&](double q) {
        sum = sum + q;
        sq.push_back(q);
        if (sq.size() > p) sum = sum - sq[sq.size() - 1 - p];
    };
    for (double x : xs) {
        const double u = us.next(x);
        if (out.empty()) {
            lag_prev = us_prev = u;
            push(0.0);
            out.push_back(0.0);
            continue;
        }
        const double l = (us_prev - u * g) + g * lag_prev;
        const double d = u - l;
        push(d * d);
        const std::uint64_t n = std::min<std::uint64_t>(sq.size(), p);
        const double rms = n == 0 ? 0.0 : std::sqrt(sum / to_f64(n));
        lag_prev = l;
        us_prev = u;
        out.push_back(rms == 0.0 ? 0.0 : d / rms);
    }
    return out;
}

TEST(LaguerreOscillator, WorkedValuesAndWarmup) {
    const auto out = run(LaguerreOscillator(10, 0.5, 5), {1, 2, 3, 4, 5});
    EXPECT_EQ(out[0], 0.0);
    EXPECT_NEAR(out[1], 1.4142135623730951, 1e-15);
    EXPECT_NEAR(out[2], 1.4411533842457842, 1e-15);
    EXPECT_NEAR(out[3], 1.39305, 1e-5);
    EXPECT_NEAR(out[4], 1.33737, 1e-5);
    for (double v : run(LaguerreOscillator(10, 0.5, 0), jagged(30))) EXPECT_EQ(v, 0.0);
}

TEST(LaguerreOscillator, SumOfSquaresClampedAtZero) {
    // Ordinary series: the clamp never acts and the outputs are the stated ones.
    for (double g : {0.0, 0.5, 0.8}) {
        const auto xs = jagged(150);
        expect_same(run(LaguerreOscillator(12, g, 10), xs), laguerre_oscillator_unclamped(12, g, 10, xs));
    }
    // A huge square leaving the window leaves the running sum below zero: the
    // unclamped root turns bar 5 into NaN, the clamped sum keeps it finite.
    const std::vector<double> xs{-800000, -0.001, 0.001, 0, 0.001, 0.002, 0.001};
    const auto raw = laguerre_oscillator_unclamped(3, 0.0, 2, xs);
    ASSERT_TRUE(std::isnan(raw[4]));
    for (double v : run(LaguerreOscillator(3, 0.0, 2), xs)) EXPECT_TRUE(std::isfinite(v)) << v;
}

// ---- RSI variants ----

TEST(RocketRsi, MomentumOverLengthLessOneBars) {
    // From bar L on: the change since the close L - 1 bars back, smoothed,
    // normalised by MyRSI over L changes and stretched.
    const std::uint64_t L = 6;
    const auto xs = jagged(90);
    SuperSmoother ss(9);
    MyRSI my(L);
    std::vector<double> want;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        want.push_back(i + 1 < L ? 0.0 : fisher_transform(my.next(ss.next(xs[i] - xs[i + 1 - L]))));
    }
    expect_same(run(RocketRSI(L, 9), xs), want);
    for (double v : run(RocketRSI(1, 8), xs)) EXPECT_EQ(v, 0.0);
    // MyRSI: two ups and one down of equal size over three changes.
    MyRSI three(3);
    for (double v : {1.0, 2.0, 1.0}) EXPECT_EQ(three.next(v), 0.0);
    EXPECT_EQ(three.next(2.0), 1.0 / 3.0);
    // Without a momentum span the step fails.
    RocketRSI zero(0, 8);
    try {
        zero.next(1.0);
        FAIL() << "rsi_length 0 must fail";
    } catch (const lumenfold::Panic& p) {
        EXPECT_EQ(p.message(), "index out of bounds");
    }
}

TEST(Rsih, WorkedValuesAndTheStatedSums) {
    EXPECT_EQ(run(RSIH(3), {1, 2, 3, 4, 5, 4}), (std::vector<double>{0, 0, 0, 1, 1, 0.5}));
    for (double v : run(RSIH(5), std::vector<double>(20, 2.0))) EXPECT_EQ(v, 0.0);
    for (double v : run(RSIH(0), jagged(10))) EXPECT_EQ(v, 0.0);
    // Ties, signed zeros and NaNs, which count only while in the window.
    std::mt19937_64 rng(5);
    const auto xs = classic_support::noisy_series(rng, 300, 0.05);
    const std::uint64_t n = 6;
    const auto w = hann_weights(n);
    std::vector<double> want;
    for (std::size_t t = 0; t < xs.size(); ++t) {
        double cu = 0.0, cd = 0.0;
        for (std::uint64_t i = 1; i <= n && t >= n; ++i) {
            const double d = xs[t - i + 1] - xs[t - i];
            if (d > 0.0) cu += d * w[i - 1];
            if (d < 0.0) cd += std::fabs(d) * w[i - 1];
        }
        const double sum = cd + cu;
        want.push_back(t >= n && std::fabs(sum) > 1e-10 ? (cu - cd) / sum : 0.0);
    }
    expect_same(run(RSIH(n), xs), want);
}

TEST(OcPriceRsi, WilderRsiOfTheMidPrice) {
    const auto close = jagged(60);
    std::vector<double> open, mid, out;
    OCPriceRSI oc(14);
    for (std::size_t i = 0; i < close.size(); ++i) {
        open.push_back(close[i] - 0.5 + (i % 3) * 0.4);
        mid.push_back((close[i] + open[i]) * 0.5);
        out.push_back(oc.next(close[i], open[i]));
    }
    expect_same(out, run(Rsi(14), mid));
    EXPECT_TRUE(std::isnan(out[13]) && !std::isnan(out[14]));
}
