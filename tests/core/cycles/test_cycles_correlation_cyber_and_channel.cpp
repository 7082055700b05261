// Correlation cycle, market state, cyber cycle and channel cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/cycles/channel_cycle.hpp"
#include "lumenfold/core/cycles/correlation_cycle.hpp"
#include "lumenfold/core/cycles/cyber_cycle.hpp"
#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::run;

namespace {

// cos(k·2pi/P) for k = 1..n: on bars k = m·P the newest value is cos 0.
std::vector<double> cosine(int n, std::uint64_t period) {
    std::vector<double> xs;
    for (int k = 1; k <= n; ++k) xs.push_back(std::cos((k * kTwoPi) / to_f64(period)));
    return xs;
}

}  // namespace

// ---- correlation cycle ----

TEST(CorrelationCycle, WarmupAndFlatWindows) {
    const auto out = outputs(CorrelationCycle(8), jagged(7));
    for (const auto& o : out) {
        EXPECT_EQ(o.in_phase, 0.0);
        EXPECT_EQ(o.quadrature, 0.0);
        EXPECT_EQ(o.angle, 0.0);
    }
    for (std::uint64_t p : {0, 1, 8}) {
        const auto flat = outputs(CorrelationCycle(p), std::vector<double>(30, 3.0));
        for (std::size_t i = p == 0 ? 0 : p - 1; i < flat.size(); ++i) {
            EXPECT_EQ(flat[i].in_phase, 0.0) << p;
            EXPECT_EQ(flat[i].quadrature, 0.0) << p;
            EXPECT_EQ(flat[i].angle, 90.0) << p;
        }
    }
    // Any window for periods 0 and 1.
    for (const auto& o : outputs(CorrelationCycle(1), jagged(20))) EXPECT_EQ(o.angle, 90.0);
}

TEST(CorrelationCycle, CosineOfThePeriodCorrelatesFully) {
    const auto out = outputs(CorrelationCycle(20), cosine(80, 20));
    for (int bar : {20, 40, 60, 80}) {
        EXPECT_NEAR(out[bar - 1].in_phase, 1.0, 1e-14) << bar;
        EXPECT_NEAR(out[bar - 1].quadrature, 0.0, 1e-14) << bar;
    }
    // Three quarters of a period on, the window is the negative sine wave.
    EXPECT_NEAR(out[54].quadrature, 1.0, 1e-14);
    EXPECT_NEAR(out[54].in_phase, 0.0, 1e-14);
}

TEST(CorrelationCycle, AngleHeldFromBarPPlusTwo) {
    const std::uint64_t p = 10;
    const auto unheld = [](const CorrelationCycleOutput& o) {
        if (o.quadrature == 0.0) return 90.0;
        const double a = 90.0 + std::atan(o.in_phase / o.quadrature) * kRadToDeg;
        return o.quadrature > 0.0 ? a - 180.0 : a;
    };
    const auto xs = jagged(200);
    bool early_drop = false, held = false;
    for (int off = 0; off < 100; ++off) {
        const auto out = outputs(CorrelationCycle(p), std::vector<double>(xs.begin() + off, xs.begin() + off + 60));
        // Bars P and P + 1 take the measured angle, even when it drops.
        EXPECT_EQ(out[p - 1].angle, unheld(out[p - 1]));
        EXPECT_EQ(out[p].angle, unheld(out[p]));
        const double drop = out[p - 1].angle - out[p].angle;
        early_drop = early_drop || (drop > 0.0 && drop < 270.0);
        for (std::size_t i = p + 1; i < out.size(); ++i) {
            const double prev = out[i - 1].angle;
            EXPECT_TRUE(out[i].angle >= prev || prev - out[i].angle >= 270.0) << off << " " << i;
            held = held || out[i].angle != unheld(out[i]);
        }
    }
    EXPECT_TRUE(early_drop);
    EXPECT_TRUE(held);
}

TEST(CorrelationCycle, NaNCorrelatesAsZeroWhileInTheWindow) {
    auto xs = jagged(40);
    xs[14] = kNaN;
    const auto out = outputs(CorrelationCycle(6), xs);
    for (std::size_t i = 5; i < out.size(); ++i) {
        const bool held = i >= 14 && i < 20;
        EXPECT_EQ(out[i].in_phase == 0.0 && out[i].quadrature == 0.0, held) << i;
        if (held) {
            EXPECT_GE(out[i].angle, 90.0);
        }
    }
}

// ---- market state ----

TEST(MarketState, WarmupTrendAndCycle) {
    const auto xs = jagged(30);
    const auto pos = run(MarketState(20, 5.0), xs);
    const auto zero = run(MarketState(20, 0.0), xs);
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(pos[i], 1.0);
        EXPECT_EQ(zero[i], 0.0);
    }
    // A cosine of the period advances its angle by 18 degrees a bar: cycling.
    const auto cyc = run(MarketState(20, 9.0), cosine(120, 20));
    for (std::size_t i = 40; i < cyc.size(); ++i) EXPECT_EQ(cyc[i], 0.0) << i;
    // A straight line holds a constant angle: trending, opposite signs for
    // a rising and a falling line.
    std::vector<double> up, down;
    for (int i = 0; i < 80; ++i) {
        up.push_back(100.0 + i);
        down.push_back(100.0 - i);
    }
    const auto u = run(MarketState(20, 9.0), up);
    const auto d = run(MarketState(20, 9.0), down);
    for (std::size_t i = 21; i < u.size(); ++i) {
        EXPECT_NE(u[i], 0.0) << i;
        EXPECT_EQ(d[i], -u[i]) << i;
    }
}

TEST(MarketState, ThresholdIsStrictAndNaNGivesZero) {
    // Bars 1..P-1 compare 0 with 0: |0 - 0| < threshold fails at threshold 0.
    EXPECT_EQ(run(MarketState(4, 0.0), {1, 2, 3}), (std::vector<double>{0, 0, 0}));
    // P = 0: the angle is 90 on every bar; the first move is exactly 90.
    EXPECT_EQ(run(MarketState(0, 90.0), {1, 2, 3}), (std::vector<double>{0, 1, 1}));
    EXPECT_EQ(run(MarketState(0, kNaN), {1, 2, 3}), (std::vector<double>{0, 0, 0}));
}

// ---- cyber cycle ----

TEST(CyberCycle, BarsOneToSevenOneByOne) {
    const std::vector<double> x = {3.0, 5.0, 4.0, 7.0, 6.0, 9.0, 8.0, 11.0};
    const double a = 2.0 / (10.0 + 1.0);
    auto s = [&](int i) {  // smoothed price of bar i + 1, earlier prices 0
        auto at = [&](int k) { return k < 0 ? 0.0 : x[k]; };
        return (((at(i) + 2 * at(i - 1)) + 2 * at(i - 2)) + at(i - 3)) / 6.0;
    };
    std::vector<double> c;
    for (int i = 0; i < 6; ++i) {
        const double x1 = i >= 1 ? x[i - 1] : 0.0, x2 = i >= 2 ? x[i - 2] : 0.0;
        c.push_back(((x[i] - 2 * x1) + x2) * 0.25);
    }
    for (int i = 6; i < 8; ++i) {
        const double h = 1 + a * -0.5;
        c.push_back((2 * (1 - a) * c[i - 1] + (h * h) * ((s(i) - 2 * s(i - 1)) + s(i - 2))) -
                    ((1 - a) * (1 - a)) * c[i - 2]);
    }
    const auto out = outputs(CyberCycle(10), x);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out[i].value, c[i]) << "bar " << i + 1;
        EXPECT_EQ(out[i].trigger, i == 0 ? 0.0 : c[i - 1]) << "bar " << i + 1;
    }
    EXPECT_EQ(out[0].value, 3.0 / 4.0);
}

TEST(CyberCycle, ConstantPrice) {
    const auto out = outputs(CyberCycle(7), std::vector<double>(30, 8.0));
    EXPECT_EQ(out[0].value, 2.0);
    EXPECT_EQ(out[1].value, -2.0);
    EXPECT_EQ(out[1].trigger, 2.0);
    EXPECT_EQ(out[2].trigger, -2.0);
    for (std::size_t i = 2; i < out.size(); ++i) EXPECT_EQ(out[i].value, 0.0) << i;
}

TEST(CyberCycle, NaN) {
    auto first = jagged(30);
    first[0] = kNaN;
    const auto a = outputs(CyberCycle(10), first);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(std::isnan(a[i].value), i < 3) << i;
        EXPECT_EQ(std::isnan(a[i].trigger), i >= 1 && i < 4) << i;
    }
    auto later = jagged(30);
    later[2] = kNaN;  // bar 3: bars 3 to 5 read it, the recursion keeps it from bar 7
    const auto b = outputs(CyberCycle(10), later);
    for (std::size_t i = 0; i < b.size(); ++i) EXPECT_EQ(std::isnan(b[i].value), i >= 2 && i != 5) << i;
}

// ---- channel cycle ----

TEST(ChannelCycle, WarmupFirstBarAndRange) {
    const std::uint64_t p = 10;
    const auto xs = jagged(200);
    const auto out = outputs(ChannelCycle(p), xs);
    for (std::size_t i = 0; i + 1 < p; ++i) {
        EXPECT_EQ(out[i].value, 0.0);
        EXPECT_EQ(out[i].trigger, 0.0);
    }
    double hi = xs[0], lo = xs[0];
    for (std::size_t i = 0; i < p; ++i) {
        hi = std::fmax(hi, xs[i]);
        lo = std::fmin(lo, xs[i]);
    }
    const double q = (xs[p - 1] - lo) / (hi - lo) - 0.5;
    const auto k = BandPassCoefficients::from(10.0, 0.2);
    const double bp = ((1.0 - k.alpha) * 0.5) * q;
    EXPECT_EQ(out[p - 1].value, bp);
    EXPECT_EQ(out[p - 1].trigger, bp / (6.283185307179586 / 10.0));
}

TEST(ChannelCycle, DegeneratePeriodsAndNaN) {
    for (const auto& o : outputs(ChannelCycle(5), std::vector<double>(20, 4.0))) {
        EXPECT_EQ(o.value, 0.0);
        EXPECT_EQ(o.trigger, 0.0);
    }
    for (const auto& o : outputs(ChannelCycle(1), jagged(20))) {
        EXPECT_EQ(o.value, 0.0);
        EXPECT_EQ(o.trigger, 0.0);
    }
    for (const auto& o : outputs(ChannelCycle(0), jagged(5))) EXPECT_TRUE(std::isnan(o.value));

    auto warm = jagged(40);
    warm[1] = kNaN;  // skipped by the channel scan, never the current price
    for (const auto& o : outputs(ChannelCycle(6), warm)) EXPECT_TRUE(std::isfinite(o.value));
    auto late = jagged(40);
    late[19] = kNaN;
    const auto out = outputs(ChannelCycle(6), late);
    for (std::size_t i = 5; i < out.size(); ++i) EXPECT_EQ(std::isnan(out[i].value), i >= 19) << i;
}
