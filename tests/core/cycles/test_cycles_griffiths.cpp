// Griffiths adaptive filter: dominant cycle, spectrum and predictor.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "lumenfold/core/batch.hpp"
#include "lumenfold/core/cycles/griffiths.hpp"
#include "lumenfold/core/cycles/griffiths_dominant_cycle.hpp"
#include "lumenfold/core/cycles/griffiths_spectrum.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::expect_panic;
using lumenfold::test::run;
using lumenfold::test::sine;

namespace {

// The dominant cycle written out as plainly as it is defined: the whole
// window vector rebuilt each bar, every angle evaluated on the spot.
std::vector<double> plain_dominant_cycle(std::uint64_t lo, std::uint64_t hi, std::uint64_t len,
                                         const std::vector<double>& xs) {
    const auto hp = TwoPoleCoefficients::high_pass(to_f64(hi));
    const auto ss = TwoPoleCoefficients::super_smoother(to_f64(lo));
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, s1 = 0, s2 = 0, h1 = 0, peak = 0.1;
    double cycle = to_f64(lo + hi) * 0.5;
    std::deque<double> window;  // oldest first
    std::vector<double> coef(len + 1, 0.0), out;
    for (std::size_t bar = 1; bar <= xs.size(); ++bar) {
        const double x = xs[bar - 1];
        const double h = bar > 3 ? hp.c1 * ((x - 2 * x1) + x2) + hp.c2 * y1 + hp.c3 * y2 : 0.0;
        y2 = y1, y1 = h, x2 = x1, x1 = x;
        const double s = bar >= 4 ? ss.c1 * (h + h1) * 0.5 + ss.c2 * s1 + ss.c3 * s2 : h;
        s2 = s1, s1 = s, h1 = h;
        peak = std::fabs(s) > 0.991 * peak ? std::fabs(s) : 0.991 * peak;
        window.push_back(peak == 0 ? 0.0 : s / peak);
        if (window.size() > len) window.pop_front();
        if (window.size() >= len) {
            std::vector<double> v(len + 1, 0.0);
            for (std::uint64_t k = 1; k <= len; ++k) v[k] = window[k - 1];
            double pred = 0;
            for (std::uint64_t k = 1; k <= len; ++k) pred += coef[k] * v[len - k];
            for (std::uint64_t k = 1; k <= len; ++k) coef[k] += (1.0 / to_f64(len) * (v[len] - pred)) * v[len - k];
            double best = 0, cand = cycle;
            for (std::uint64_t p = lo; p <= hi; ++p) {
                double re = 0, im = 0;
                for (std::uint64_t k = 1; k <= len; ++k) {
                    re += coef[k] * std::cos((to_f64(k) * kTwoPi) / to_f64(p));
                    im += coef[k] * std::sin((to_f64(k) * kTwoPi) / to_f64(p));
                }
                const double power = 0.1 / (im * im + (1 - re) * (1 - re));
                if (power > best) best = power, cand = to_f64(p);
            }
            cycle = cand > cycle + 2 ? cycle + 2 : cand < cycle - 2 ? cycle - 2 : cand;
        }
        out.push_back(cycle);
    }
    return out;
}

}  // namespace

TEST(GriffithsDominantCycle, MatchesThePlainDefinition) {
    // The second sweep is too large to tabulate its angles.
    for (auto [lo, hi, len] : {std::array<std::uint64_t, 3>{10, 48, 20}, {6, 3000, 24}, {8, 30, 1}}) {
        const auto xs = jagged(300);
        EXPECT_EQ(run(GriffithsDominantCycle(lo, hi, len), xs), plain_dominant_cycle(lo, hi, len, xs)) << hi;
    }
}

TEST(GriffithsDominantCycle, WarmupFlatModelsAndNan) {
    const auto out = run(GriffithsDominantCycle(10, 48, 20), jagged(60));
    for (int i = 0; i < 19; ++i) EXPECT_EQ(out[i], 29.0) << i;
    EXPECT_GE(out[19], 27.0);
    EXPECT_LE(out[19], 31.0);
    // A constant input trains nothing: every power is 0.1 and the lowest
    // period wins, the output walking there by 2 per bar; so too with length
    // 0, where no coefficient exists.
    const auto flat = run(GriffithsDominantCycle(10, 48, 20), std::vector<double>(30, 7.0));
    EXPECT_EQ(std::vector<double>(flat.begin() + 19, flat.end()),
              (std::vector<double>{27, 25, 23, 21, 19, 17, 15, 13, 11, 10, 10}));
    EXPECT_EQ(run(GriffithsDominantCycle(10, 20, 0), jagged(4)), (std::vector<double>{13, 11, 10, 10}));
    // A single period, and an empty sweep, hold their initial value.
    for (double v : run(GriffithsDominantCycle(17, 17, 10), jagged(50))) EXPECT_EQ(v, 17.0);
    for (double v : run(GriffithsDominantCycle(30, 20, 10), jagged(50))) EXPECT_EQ(v, 25.0);
    // A NaN input freezes the output.
    auto xs = jagged(80);
    xs[50] = kNaN;
    const auto frozen = run(GriffithsDominantCycle(10, 48, 20), xs);
    for (std::size_t i = 51; i < frozen.size(); ++i) EXPECT_EQ(frozen[i], frozen[50]) << i;
}

TEST(GriffithsDominantCycle, FindsThePeriodOfASine) {
    for (double period : {15.0, 20.0, 30.0}) {
        const auto out = run(GriffithsDominantCycle(10, 48, 20), sine(400, period));
        for (std::size_t i = 300; i < out.size(); ++i) EXPECT_NEAR(out[i], period, 1.0) << period << " " << i;
    }
}

TEST(GriffithsFilter, ImpossibleLengthFailsWithoutWrapping) {
    try {
        GriffithsFilter f(10, 48, UINT64_MAX);
        FAIL();
    } catch (const lumenfold::Panic& e) {
        EXPECT_EQ(e.message(), "capacity overflow");
    }
}

TEST(GriffithsSpectrum, NormalisedOncePeaksAtTheSinePeriod) {
    const auto out = outputs(GriffithsSpectrum(10, 48, 20), jagged(30));
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(out[i].size(), 39u);
        double max = 0.0;
        for (double v : out[i]) max = std::fmax(max, v);
        EXPECT_EQ(max, i < 19 ? 0.0 : 1.0) << i;
    }
    // A flat model has every period at full power.
    EXPECT_EQ(outputs(GriffithsSpectrum(10, 48, 20), std::vector<double>(30, 5.0)).back(), std::vector<double>(39, 1.0));
    for (int period : {14, 25, 40}) {
        const auto s = outputs(GriffithsSpectrum(10, 48, 20), sine(500, period)).back();
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (static_cast<int>(i) + 10 == period) {
                EXPECT_EQ(s[i], 1.0);
            } else {
                EXPECT_LT(s[i], 0.5) << period << " " << i + 10;
            }
        }
    }
}

TEST(GriffithsSpectrum, BoundsDecideTheSize) {
    GriffithsSpectrum empty(20, 19, 5);
    for (double x : jagged(10)) EXPECT_TRUE(empty.next(x).empty());
    GriffithsSpectrum wrapped(20, 18, 5);
    expect_panic([&] { wrapped.next(1.0); }, "capacity overflow");
    expect_panic([] { (void)lumenfold::core::batch(GriffithsSpectrum(40, 18, 40), std::vector<double>{1.0}); },
                 "capacity overflow");
    // 2^64 periods wrap the size to 0: nothing is written past the empty vector.
    GriffithsSpectrum all(0, UINT64_MAX, 2);
    for (double x : jagged(10)) EXPECT_TRUE(all.next(x).empty());
    // A NaN model has no positive power.
    auto xs = jagged(40);
    xs[30] = kNaN;
    EXPECT_EQ(outputs(GriffithsSpectrum(10, 12, 5), xs).back(), std::vector<double>(3, 0.0));
}

TEST(GriffithsPredictor, ExtrapolatesTheNormalisedSine) {
    // The front end's newest value, bar by bar, to compare the forecasts with.
    const auto xs = sine(600, 20.0);
    GriffithsFilter filter(10, 48, 20);
    std::vector<double> v;
    for (double x : xs) {
        if (filter.push(x)) filter.adapt();
        v.push_back(filter.input(20));
    }
    const auto out = run(GriffithsPredictor(10, 48, 20, 3), xs);
    for (int i = 0; i < 19; ++i) EXPECT_EQ(out[i], 0.0);
    for (std::size_t i = 400; i + 3 < out.size(); ++i) EXPECT_NEAR(out[i], v[i + 3], 0.1) << i;
    // No step ahead, no coefficient (length 0) or none that moves (length 1).
    for (auto [length, fwd] : {std::array<std::uint64_t, 2>{20, 0}, {0, 4}, {1, 4}}) {
        for (double p : run(GriffithsPredictor(10, 48, length, fwd), jagged(40))) EXPECT_EQ(p, 0.0) << length;
    }
}
