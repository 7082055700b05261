// Homodyne discriminator, phasor, sine wave and MAMA.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "lumenfold/core/cycles/homodyne_discriminator.hpp"
#include "lumenfold/core/cycles/mama.hpp"
#include "lumenfold/core/cycles/phasor.hpp"
#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::run;
using lumenfold::test::sine;

namespace {

std::string panic_message(MAMA m, const std::vector<double>& xs) {
    try {
        for (double x : xs) m.next(x);
    } catch (const lumenfold::Panic& p) {
        return p.message();
    }
    return "";
}

}  // namespace

// ---- homodyne discriminator ----

TEST(HomodyneDiscriminator, WarmupThenInitialPeriodBlend) {
    const auto out = run(HomodyneDiscriminator(), jagged(8));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0.0) << "bar " << i + 1;
    // Re and Im are still 0 on bar 7: p = 6 blended with 6.
    EXPECT_EQ(out[6], 6.000000000000001);
    EXPECT_EQ(out[6], 0.8 * 6.0 + 0.2 * 6.0);
}

TEST(HomodyneDiscriminator, FindsTheCycleWithinLimits) {
    const auto found = run(HomodyneDiscriminator(), sine(400, 20.0));
    for (std::size_t i = 300; i < found.size(); ++i) EXPECT_NEAR(found[i], 20.0, 0.6) << i;

    const auto out = run(HomodyneDiscriminator(), jagged(600));
    for (std::size_t i = 7; i < out.size(); ++i) {
        EXPECT_GE(out[i], 6.0 - 1e-12);
        EXPECT_LE(out[i], 50.0 + 1e-12);
        // The blend moves at most by the factors 1.5 and 0.67 of the previous period.
        EXPECT_LE(out[i], 0.8 * out[i - 1] + 0.2 * std::fmax(6.0, 1.5 * out[i - 1]) + 1e-12);
        EXPECT_GE(out[i], 0.8 * out[i - 1] + 0.2 * std::fmin(50.0, 0.67 * out[i - 1]) - 1e-12);
    }
}

TEST(HomodyneDiscriminator, NaN) {
    auto early = jagged(60);
    auto clean = early;
    early[2] = kNaN;  // leaves the smoother before the FIRs start
    clean[2] = -1e6;
    EXPECT_EQ(run(HomodyneDiscriminator(), early), run(HomodyneDiscriminator(), clean));

    auto late = jagged(60);
    late[3] = kNaN;
    const auto out = run(HomodyneDiscriminator(), late);
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i]), i >= 6) << "bar " << i + 1;
}

// ---- phasor and sine wave ----

TEST(Phasor, FirstComputingBarsFollowTheFirs) {
    const auto xs = jagged(12);
    EhlersWma4 w;
    std::vector<double> s;
    for (double x : xs) s.push_back(w.next(x));
    const double gain = (6.0 * 0.075) + 0.54;

    const auto out = outputs(Phasor(), xs);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[i].in_phase, 0.0);
        EXPECT_EQ(out[i].quadrature, 0.0);
    }
    // The detrender sees its first value on bar 7; I1 is it three bars later.
    const double det7 = gain * (s[6] * 0.0962);
    EXPECT_EQ(out[6].quadrature, gain * (det7 * 0.0962));
    for (int i = 6; i < 9; ++i) EXPECT_EQ(out[i].in_phase, 0.0) << "bar " << i + 1;
    EXPECT_EQ(out[9].in_phase, det7);
}

TEST(Phasor, GivenPeriodIsLimitedAndStored) {
    const auto xs = jagged(40);
    Phasor six, three, at80;
    for (double x : xs) {
        const auto a = six.next(x);
        const auto b = three.next_with_period(x, 3.0);
        EXPECT_EQ(a.in_phase, b.in_phase);
        EXPECT_EQ(a.quadrature, b.quadrature);
        at80.next_with_period(x, 80.0);
    }
    EXPECT_EQ(three.period(), 6.0);
    EXPECT_EQ(at80.period(), 50.0);
    EXPECT_TRUE(std::isnan(at80.next_with_period(1.0, kNaN).quadrature));
    EXPECT_TRUE(std::isnan(at80.period()));
}

TEST(SineWave, PlaceholdersAndLead) {
    const auto out = outputs(SineWave(), sine(200, 15.0));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto& o = out[i];
        if (i < 6) {
            EXPECT_EQ(o.in_phase, 0.0);
            EXPECT_EQ(o.quadrature, 0.0);
        } else if (i < 9) {  // I1 is still 0: phase 0
            EXPECT_EQ(o.in_phase, 0.0);
            EXPECT_EQ(o.quadrature, 0.7071067811865475);
        } else {
            // The phase lies in (-90, 90), so asin recovers it.
            const double phase = std::asin(o.in_phase) * kRadToDeg;
            EXPECT_NEAR(o.quadrature, std::sin((phase + 45.0) * kDegToRad), 1e-12) << i;
        }
    }
}

TEST(PhasorAndSineWave, NaNInputPassesThrough) {
    auto xs = jagged(60);
    xs[19] = kNaN;  // bar 20
    const auto ph = outputs(Phasor(), xs);
    const auto sw = outputs(SineWave(), xs);
    for (std::size_t bar = 1; bar <= xs.size(); ++bar) {
        EXPECT_EQ(std::isnan(ph[bar - 1].quadrature), bar >= 20 && bar <= 35) << bar;
        EXPECT_EQ(std::isnan(ph[bar - 1].in_phase), bar >= 23 && bar <= 32) << bar;
        // A NaN I1 fails the threshold test: phase 0.
        if (bar >= 23 && bar <= 32) {
            EXPECT_EQ(sw[bar - 1].quadrature, 0.7071067811865475) << bar;
        }
    }
}

// ---- MAMA ----

TEST(Mama, WarmupFirstBarsAndPeriodGrowth) {
    const auto xs = jagged(12);
    MAMA m(0.5, 0.05);
    std::vector<MamaOutput> out;
    std::vector<double> periods;
    for (double x : xs) {
        out.push_back(m.next(x));
        periods.push_back(m.period());
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(out[i].mama, xs[i]);
        EXPECT_EQ(out[i].fama, xs[i]);
    }
    // Phase 0 on bars 6 to 8: alpha = fastlimit.
    double mama = xs[4], fama = xs[4];
    for (int i = 5; i < 8; ++i) {
        mama = 0.5 * xs[i] + (1.0 - 0.5) * mama;
        fama = (0.5 / 2.0) * mama + (1.0 - 0.5 / 2.0) * fama;
        EXPECT_EQ(out[i].mama, mama) << "bar " << i + 1;
        EXPECT_EQ(out[i].fama, fama) << "bar " << i + 1;
    }
    const double expect[] = {1.2, 2.16, 2.928, 3.5424, 4.03392};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(periods[5 + i], expect[i], 1e-14) << "bar " << i + 6;
}

TEST(Mama, EqualLimitsGiveAPlainExponentialAverage) {
    const auto xs = jagged(80);
    MAMA m(0.2, 0.2);
    double ema = xs[4];
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double v = m.next(xs[i]).mama;
        if (i >= 5) ema = 0.2 * xs[i] + (1.0 - 0.2) * ema;
        EXPECT_EQ(v, i < 5 ? xs[i] : ema) << i;
    }
}

TEST(Mama, FindsTheCycleAndKeepsAlphaInRange) {
    const auto xs = sine(400, 20.0);
    MAMA m(0.5, 0.05);
    double prev_mama = 0.0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double v = m.next(xs[i]).mama;
        if (i >= 300) {
            EXPECT_NEAR(m.period(), 20.0, 0.6) << i;
        }
        if (i >= 5) {
            // alpha = (mama - mama')/(x - mama') within [slowlimit, fastlimit].
            const double alpha = (v - prev_mama) / (xs[i] - prev_mama);
            EXPECT_GE(alpha, 0.05 - 1e-9);
            EXPECT_LE(alpha, 0.5 + 1e-9);
        }
        prev_mama = v;
    }
}

TEST(Mama, LimitsOutOfOrderFailFromBarSix) {
    const auto xs = jagged(8);
    MAMA m(0.25, 0.5);
    for (int i = 0; i < 5; ++i) EXPECT_NO_THROW(m.next(xs[i]));
    EXPECT_EQ(panic_message(m, {xs[5]}), "min > max, or either was NaN. min = 0.5, max = 0.25");
    EXPECT_EQ(panic_message(MAMA(0.5, kNaN), xs), "min > max, or either was NaN. min = NaN, max = 0.5");
    // Shortest round-trip decimals, never an exponent.
    EXPECT_EQ(panic_message(MAMA(1e21, 0.1 + 0.2), xs), "");
    EXPECT_EQ(panic_message(MAMA(0.1 + 0.2, 1e21), xs),
              "min > max, or either was NaN. min = 1000000000000000000000, max = 0.30000000000000004");
    EXPECT_EQ(panic_message(MAMA(-1e-7, 0.0), xs), "min > max, or either was NaN. min = 0, max = -0.0000001");
}

TEST(Mama, NaNPriceIsCarriedNotFatal) {
    auto xs = jagged(40);
    xs[3] = kNaN;  // bar 4: reaches the smoothed price of bar 6
    MAMA m(0.5, 0.05);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        MamaOutput o{};
        ASSERT_NO_THROW(o = m.next(xs[i])) << "bar " << i + 1;
        // Echoed on its own bar; the averages stay finite until the NaN
        // detrender value becomes I1 (bar 9), then the recursion keeps it.
        EXPECT_EQ(std::isnan(o.mama), i == 3 || i >= 8) << "bar " << i + 1;
        EXPECT_EQ(std::isnan(o.fama), i == 3 || i >= 8) << "bar " << i + 1;
    }
    EXPECT_TRUE(std::isnan(m.period()));

    auto early = jagged(40);
    auto clean = early;
    early[1] = kNaN;  // bar 2 leaves the price window before bar 6
    clean[1] = 7.0;
    const auto a = outputs(MAMA(0.5, 0.05), early);
    const auto b = outputs(MAMA(0.5, 0.05), clean);
    for (std::size_t i = 2; i < a.size(); ++i) {
        EXPECT_EQ(a[i].mama, b[i].mama) << i;
        EXPECT_EQ(a[i].fama, b[i].fama) << i;
    }
}
