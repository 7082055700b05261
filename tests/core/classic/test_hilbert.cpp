// Hilbert-transform period, phasor, phase, sine and trend-mode indicators.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/classic/hilbert_ta.hpp"
#include "lumenfold/core/framework/num.hpp"

using namespace lumenfold::core;

namespace {

constexpr double kTestPi = 3.141592653589793;

// Trend plus a jagged, non-periodic component; only + - * on exact integers
// and decimal constants, so the values do not depend on the maths library.
std::vector<double> jagged(int n) {
    std::vector<double> xs;
    for (int i = 0; i < n; ++i) xs.push_back(100 + 0.3 * i + ((i * 7919) % 23) * 0.41 - (i % 5) * 0.7);
    return xs;
}

std::vector<double> sine_wave(int n, double period, double amplitude) {
    std::vector<double> xs;
    for (int i = 0; i < n; ++i) xs.push_back(100 + amplitude * std::sin(2 * kTestPi * i / period));
    return xs;
}

struct AllOutputs {
    std::vector<double> period, in_phase, quadrature, phase, sine, leadsine, trend;
};

AllOutputs run_all(const std::vector<double>& xs) {
    HT_DCPERIOD a;
    HT_PHASOR b;
    HT_DCPHASE c;
    HT_SINE d;
    HT_TRENDMODE e;
    AllOutputs o;
    for (double x : xs) {
        o.period.push_back(a.next(x));
        const PhasorOutput p = b.next(x);
        o.in_phase.push_back(p.in_phase);
        o.quadrature.push_back(p.quadrature);
        o.phase.push_back(c.next(x));
        const HtSineOutput s = d.next(x);
        o.sine.push_back(s.sine);
        o.leadsine.push_back(s.leadsine);
        o.trend.push_back(e.next(x));
    }
    return o;
}

// Index of the first non-NaN value, or the length when there is none.
std::size_t first_number(const std::vector<double>& v) {
    std::size_t i = 0;
    while (i < v.size() && std::isnan(v[i])) ++i;
    return i;
}

}  // namespace

TEST(Hilbert, WarmUpLengths) {
    // Engines reporting from bar 32 and from bar 63; every bar before is NaN.
    const AllOutputs o = run_all(jagged(64));
    EXPECT_EQ(first_number(o.period), 32u);
    EXPECT_EQ(first_number(o.in_phase), 32u);
    EXPECT_EQ(first_number(o.quadrature), 32u);
    EXPECT_EQ(first_number(o.phase), 63u);
    EXPECT_EQ(first_number(o.sine), 63u);
    EXPECT_EQ(first_number(o.leadsine), 63u);
    EXPECT_EQ(first_number(o.trend), 63u);
    for (std::size_t i = 32; i < 64; ++i) EXPECT_FALSE(std::isnan(o.period[i])) << i;
}

TEST(Hilbert, WorkedValues) {
    // Values from an independent bar-by-bar evaluation of the recurrences.
    const AllOutputs o = run_all(jagged(400));
    // Bars 32 and 33: the early period is set by the growth clamp alone.
    struct Row { std::size_t bar; double period, in_phase, quadrature; };
    for (const Row& r : {Row{32, 15.646696015449795, 2.2953576507854976, -3.8970686421376786},
                         Row{33, 17.21176482512415, 0.003796217159320285, -1.8383292616761209},
                         Row{150, 11.740980614611278, -0.06337812408973219, -1.164521405207845},
                         Row{399, 12.569987582545144, 2.6750143990256463, 0.5301113202324211}}) {
        EXPECT_EQ(o.period[r.bar], r.period) << r.bar;
        EXPECT_EQ(o.in_phase[r.bar], r.in_phase) << r.bar;
        EXPECT_EQ(o.quadrature[r.bar], r.quadrature) << r.bar;
    }
    struct Row63 { std::size_t bar; double phase, sine, leadsine, trend; };
    for (const Row63& r : {Row63{63, 181.86746643631167, -0.03258766744753253, -0.7297741839196732, 1.0},
                           Row63{79, 206.57246372726837, -0.4473293068498478, -0.9487242015745284, 0.0},
                           Row63{150, 252.40957833666107, -0.9532412027097489, -0.887738439516819, 0.0},
                           Row63{399, 190.45492632901855, -0.1814619583128513, -0.8236803509497865, 1.0}}) {
        EXPECT_EQ(o.phase[r.bar], r.phase) << r.bar;
        EXPECT_EQ(o.sine[r.bar], r.sine) << r.bar;
        EXPECT_EQ(o.leadsine[r.bar], r.leadsine) << r.bar;
        EXPECT_EQ(o.trend[r.bar], r.trend) << r.bar;
    }
    for (std::size_t i = 63; i < o.trend.size(); ++i) {
        if (i < 79) {
            EXPECT_EQ(o.trend[i], 1.0) << i;  // bar 79 is the first in cycle mode
        }
        EXPECT_TRUE(o.trend[i] == 0.0 || o.trend[i] == 1.0) << i;
        EXPECT_LE(std::fabs(o.sine[i]), 1.0);
        EXPECT_LE(std::fabs(o.leadsine[i]), 1.0);
    }
}

TEST(Hilbert, FirstStagedBarAndFirstPeriodUpdate) {
    // Integer prices keep the running sums exact.
    HtEngine32 e;
    std::vector<double> p;
    for (int i = 0; i < 13; ++i) p.push_back(100 + (i * 13) % 7);
    for (int i = 0; i < 13; ++i) {
        e.prices.push_back(p[i]);
        const std::optional<double> s = e.step_wma();
        EXPECT_EQ(s.has_value(), i == 12) << i;
        if (s) {
            EXPECT_EQ(*s, (p[9] + 2 * p[10] + 3 * p[11] + 4 * p[12]) * 0.1);
        }
    }
    EXPECT_EQ(e.wma->history.size(), 13u);

    HT_DCPERIOD dc;
    for (int i = 0; i < 12; ++i) dc.next(p[i]);
    EXPECT_EQ(dc.engine().hilbert.period, 0.0);
    dc.next(p[12]);
    EXPECT_EQ(dc.engine().hilbert.period, 1.2000000000000002);
    EXPECT_EQ(dc.engine().hilbert.smooth_period, 0.3960000000000001);
    EXPECT_EQ(dc.engine().hilbert.detrender.prev_input_even, (p[9] + 2 * p[10] + 3 * p[11] + 4 * p[12]) * 0.1);
}

TEST(Hilbert, SmootherKeepsRunningSumsInsteadOfTheWindow) {
    // A huge first price absorbs the small ones in the sums; when it leaves,
    // the plain sum is left at 0 and is never rebuilt from the window, so the
    // weighted sum grows by 4 a bar although the window holds only ones.
    HtEngine32 e;
    for (int i = 0; i < 13; ++i) {
        e.prices.push_back(i == 0 ? 1e17 : 1.0);
        const std::optional<double> s = e.step_wma();
        if (i == 12) {
            ASSERT_TRUE(s.has_value());
            EXPECT_EQ(*s, 36.0 * 0.1);
        }
    }
    EXPECT_EQ(e.wma->sub, 0.0);
    EXPECT_EQ(e.wma->trailing_idx, 10u);
    EXPECT_EQ(e.wma->trailing_value, 1.0);
}

TEST(Hilbert, InPhaseIsTheDetrenderOfThreeBarsBack) {
    const std::vector<double> xs = jagged(120);
    HtEngine32 twin;
    HT_PHASOR phasor;
    std::vector<double> detrender(xs.size(), kNaN);
    for (std::size_t t = 0; t < xs.size(); ++t) {
        twin.prices.push_back(xs[t]);
        if (const std::optional<double> s = twin.step_wma()) {
            const double adj = twin.hilbert.period * 0.075 + 0.54;
            detrender[t] = twin.hilbert.step_hilbert(t, *s, adj).detrender;
            twin.hilbert.update_period();
        }
        const PhasorOutput out = phasor.next(xs[t]);
        if (t >= 32) {
            EXPECT_EQ(out.in_phase, detrender[t - 3]) << t;
        }
    }
}

TEST(Hilbert, PhaseEngineFirstFullStep) {
    HtEngine63 e;
    const std::vector<double> xs = jagged(87);
    for (std::size_t t = 0; t < xs.size(); ++t) {
        e.prices.push_back(xs[t]);
        const bool stepped = e.step_core();
        EXPECT_EQ(stepped, t >= 37) << t;
        if (t == 37) {
            // Period still below one bar: no phase sum, a single 360 taken off.
            EXPECT_EQ(e.hilbert.smooth_period, 0.3960000000000001);
            EXPECT_EQ(e.dc_phase, (360.0 / 0.3960000000000001 + (0.0 + 90.0)) + (-360.0));
            EXPECT_NEAR(e.dc_phase, 639.09, 0.01);
            EXPECT_EQ(e.trendline, 0.0);
            EXPECT_EQ(e.itrend1, 0.0);
            // Previous lines were 0, so the first step is a crossing.
            EXPECT_NE(e.sine, e.lead_sine);
            EXPECT_EQ(e.days_in_trend, 1);
            EXPECT_EQ(e.smooth_idx, 1u);
            EXPECT_EQ(e.smooth_prices[0], e.smoothed);
        }
        if (t == 85) {
            EXPECT_EQ(e.smooth_idx, 49u);
        }
    }
    // Fifty full steps (bars 37 to 86) bring the circle back to slot 0.
    EXPECT_EQ(e.smooth_idx, 0u);
    EXPECT_EQ(e.smooth_prices[49], e.smoothed);
}

TEST(Hilbert, FindsThePeriodOfAPureSine) {
    for (double period : {10.0, 20.0, 35.0}) {
        const AllOutputs o = run_all(sine_wave(500, period, 1.0));
        EXPECT_NEAR(o.period.back(), period, 0.5) << period;
        // The phase advances by one cycle's share per bar, modulo 360.
        for (std::size_t i = 300; i < 500; ++i) {
            double step = o.phase[i] - o.phase[i - 1];
            if (step < 0) step += 360.0;
            EXPECT_NEAR(step, 360.0 / period, 1.5) << period << " bar " << i;
            EXPECT_GE(o.phase[i], -45.0);
            EXPECT_LE(o.phase[i], 315.0);
        }
        // A small cycle around a flat level is cycle mode.
        for (std::size_t i = 200; i < 500; ++i) EXPECT_EQ(o.trend[i], 0.0) << period << " bar " << i;
    }
}

TEST(Hilbert, PeriodStaysWithinItsClamps) {
    // Too fast and too slow cycles end at the bounds 6 and 50.
    EXPECT_NEAR(run_all(sine_wave(1000, 3.0, 1.0)).period.back(), 6.0, 1e-9);
    EXPECT_EQ(run_all(sine_wave(1000, 200.0, 1.0)).period.back(), 50.0);
    // Above 6 the raw period grows by at most 10 percent a bar.
    HT_DCPERIOD dc;
    double prev = 0.0;
    for (double x : jagged(300)) {
        dc.next(x);
        const double period = dc.engine().hilbert.period;
        if (prev > 6.0) {
            EXPECT_LE(period, prev * 1.1 + 1e-12);
        }
        EXPECT_LE(period, 50.0);
        prev = period;
    }
}

TEST(Hilbert, StrongTrendIsTrendMode) {
    HT_TRENDMODE tm;
    for (int i = 0; i < 300; ++i) {
        const double out = tm.next(100 + i + std::sin(i * 0.7));
        if (i >= 100) {
            EXPECT_EQ(out, 1.0) << i;
        }
    }
}

TEST(Hilbert, NaNInputPoisonsEveryLaterValue) {
    std::vector<double> xs = jagged(200);
    xs[80] = kNaN;
    const AllOutputs o = run_all(xs);
    for (std::size_t i = 64; i < 80; ++i) {
        EXPECT_FALSE(std::isnan(o.period[i]));
        EXPECT_FALSE(std::isnan(o.phase[i]));
    }
    for (std::size_t i = 80; i < xs.size(); ++i) {
        EXPECT_TRUE(std::isnan(o.period[i])) << i;
        EXPECT_TRUE(std::isnan(o.quadrature[i])) << i;
        EXPECT_TRUE(std::isnan(o.phase[i])) << i;
        EXPECT_TRUE(std::isnan(o.sine[i])) << i;
        EXPECT_TRUE(std::isnan(o.leadsine[i])) << i;
        // No crossing and no zeroing rule can fire on NaN lines.
        EXPECT_EQ(o.trend[i], 1.0) << i;
    }
    // The in-phase value is three bars old, so it turns NaN three bars later.
    for (std::size_t i = 80; i < 83; ++i) EXPECT_FALSE(std::isnan(o.in_phase[i])) << i;
    for (std::size_t i = 83; i < xs.size(); ++i) EXPECT_TRUE(std::isnan(o.in_phase[i])) << i;

    // A NaN during the warm-up leaves no number at all.
    std::vector<double> early = jagged(120);
    early[5] = kNaN;
    const AllOutputs e = run_all(early);
    EXPECT_EQ(first_number(e.period), early.size());
    EXPECT_EQ(first_number(e.phase), early.size());
    for (std::size_t i = 63; i < early.size(); ++i) EXPECT_EQ(e.trend[i], 1.0) << i;

    // An infinite price turns the sums into NaN once it leaves the window.
    std::vector<double> inf = jagged(120);
    inf[50] = INFINITY;
    const AllOutputs f = run_all(inf);
    for (std::size_t i = 53; i < inf.size(); ++i) EXPECT_TRUE(std::isnan(f.period[i]) && std::isnan(f.phase[i])) << i;
}
