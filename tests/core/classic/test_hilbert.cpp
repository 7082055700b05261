// Hilbert-transform period, phasor, phase, sine and trend-mode indicators.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "lumenfold/core/classic/hilbert_ta.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/traits.hpp"
#include "classic_support.hpp"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator, which replaces malloc's, counts its own bytes.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace lumenfold::core;
using classic_support::same;

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

// Both engines read literally: every price kept twice (once by the engine,
// once by the smoother), indexes counted from the first price, sin and cos
// evaluated on every bar. Warm-up 9 gives the period and phasor outputs,
// 34 the phase, sine and trend-mode outputs.
struct FullHistoryEngine {
    explicit FullHistoryEngine(int warmup) : warmup(warmup) {}

    struct Stage {
        double odd[3] = {}, even[3] = {}, prev[2] = {}, prev_input[2] = {};
        double step(bool o, std::size_t i, double x, double adj) {
            double* side = o ? odd : even;
            const double t1 = 0.0962 * x;
            const double old = side[i];
            side[i] = t1;
            const double pv = prev[o];
            prev[o] = 0.5769 * prev_input[o];
            prev_input[o] = x;
            return adj * (((t1 - old) - pv) + prev[o]);
        }
    };

    int warmup;
    std::vector<double> prices, history;
    double sub = 0, sum = 0, trailing = 0;
    std::size_t trailing_idx = 0;
    Stage det, q1, ji, jq;
    std::size_t idx = 0;
    double period = 0, smooth = 0, i2p = 0, q2p = 0, re = 0, im = 0;
    double odd2 = 0, odd3 = 0, even2 = 0, even3 = 0;
    double in_phase = kNaN, quadrature = kNaN;
    double sp[50] = {};
    std::size_t sidx = 0;
    double phase = 0, it1 = 0, it2 = 0, it3 = 0, sine = 0, lead = 0, trend = 0;
    int days = 0;

    // False while the smoother yields nothing.
    bool next(double x) {
        prices.push_back(x);
        const std::size_t n = prices.size();
        if (n < 3) return false;
        if (n == 3) {
            history = prices;
            sub = (prices[0] + prices[1]) + prices[2];
            sum = (prices[0] + (prices[1] + prices[1])) + prices[2] * 3.0;
            return false;
        }
        history.push_back(x);
        sub = (x + sub) - trailing;
        sum = x * 4.0 + sum;
        const double s = sum * 0.1;
        trailing = history.at(trailing_idx++);
        sum = sum - sub;
        if (warmup > 0) {
            --warmup;
            return false;
        }
        const std::size_t t = n - 1;
        const bool o = t % 2 == 1;
        const double adj = period * 0.075 + 0.54;
        const double i1 = o ? odd3 : even3;
        in_phase = i1;
        sp[sidx] = s;
        const double d = det.step(o, idx, s, adj);
        quadrature = q1.step(o, idx, d, adj);
        const double vji = ji.step(o, idx, i1, adj);
        const double vjq = jq.step(o, idx, quadrature, adj);
        if (!o) idx = (idx + 1) % 3;
        const double q2 = (quadrature + vji) * 0.2 + q2p * 0.8;
        const double i2 = (i1 - vjq) * 0.2 + i2p * 0.8;
        if (o) {
            even3 = even2;
            even2 = d;
        } else {
            odd3 = odd2;
            odd2 = d;
        }
        re = re * 0.8 + (q2 * q2p + i2 * i2p) * 0.2;
        im = (i2 * q2p - q2 * i2p) * 0.2 + im * 0.8;
        i2p = i2;
        q2p = q2;
        double p = period;
        if (im != 0.0 && re != 0.0) p = 360.0 / (std::atan(im / re) * 57.29577951308232);
        if (p > period * 1.5) p = period * 1.5;
        if (p < period * 0.67) p = period * 0.67;
        p = p < 6.0 ? 6.0 : (p > 50.0 ? 50.0 : p);
        period = period * 0.8 + p * 0.2;
        smooth = period * 0.33 + smooth * 0.67;

        const double P = smooth;
        const double old = phase;
        const int N = std::isnan(P + 0.5) ? 0 : static_cast<int>(P + 0.5);
        if (N >= 1) {
            double real = 0, imag = 0;
            std::size_t j = sidx;
            for (int i = 0; i < N; ++i) {
                const double angle = (i * 6.283185307179586) / N;
                real += std::sin(angle) * sp[j];
                imag += std::cos(angle) * sp[j];
                j = j == 0 ? 49 : j - 1;
            }
            if (imag != 0.0 && !std::isnan(imag)) {
                phase = std::atan(real / imag) * 57.29577951308232 + 90.0;
                phase = 360.0 / P + phase;
                if (imag < 0.0) phase += 180.0;
            } else {
                double base = old;
                if (std::fabs(imag) <= 0.01) base = real < 0.0 ? old - 90.0 : (real > 0.0 ? old + 90.0 : old);
                phase = 360.0 / P + (base + 90.0);
            }
        } else {
            phase = 360.0 / P + (old + 90.0);
        }
        if (phase > 315.0) phase = phase + (-360.0);
        const double ps = sine, pl = lead;
        sine = std::sin(phase * 0.017453292519943295);
        lead = std::sin((phase + 45.0) * 0.017453292519943295);
        sidx = sidx == 49 ? 0 : sidx + 1;
        double m = 0;
        if (N >= 1) {
            for (std::size_t k = 0; k < static_cast<std::size_t>(N) && k < n; ++k) m += prices.at(t - k);
            m /= N;
        }
        const double trendline = (it3 + ((m * 4.0 + it1 * 3.0) + (it2 + it2))) / 10.0;
        it3 = it2;
        it2 = it1;
        it1 = m;
        bool flag = true;
        if ((ps <= pl && sine > lead) || (ps >= pl && sine < lead)) {
            days = 1;
            flag = false;
        } else {
            ++days;
        }
        const double dp = phase - old;
        if ((dp > 0.67 * 360.0 / P && P != 0.0 && dp < 1.5 * 360.0 / P) || P * 0.5 > days) flag = false;
        if (trendline != 0.0 && std::fabs((s - trendline) / trendline) >= 0.015) flag = true;
        trend = flag;
        return true;
    }
};

// The batch form of `core` over xs[from, to), each bar's output as its doubles.
template <class Core>
std::vector<double> batch_part(Core& core, const std::vector<double>& xs, std::size_t from, std::size_t to) {
    using Out = NextOutput<Core, double>;
    std::vector<Out> out(to - from);
    core.batch(PlainOutputs<Out>(out.data()), PlainSeries(std::span<const double>(xs.data() + from, to - from)));
    std::vector<double> values(out.size() * sizeof(Out) / sizeof(double));
    std::memcpy(values.data(), out.data(), values.size() * sizeof(double));
    return values;
}

// Bytes of heap in use by the whole process.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
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
    EXPECT_EQ(e.prices.size(), 13u);

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
        if (const std::optional<double> s = twin.step_wma()) detrender[t] = twin.hilbert.step(t, *s).detrender;
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

TEST(Hilbert, BoundedHistoryMatchesTheFullHistoryReading) {
    std::mt19937_64 rng(22);
    std::vector<std::vector<double>> inputs;
    for (int i = 0; i < 4; ++i) inputs.push_back(classic_support::noisy_series(rng, 3000, 0.0));
    inputs.push_back(classic_support::noisy_series(rng, 3000, 0.0005));  // a NaN or two, late
    inputs.push_back(classic_support::walk(rng, 3000));
    inputs.back()[2500] = INFINITY;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const std::vector<double>& xs = inputs[k];
        const AllOutputs got = run_all(xs);
        FullHistoryEngine short_engine(9), long_engine(34);
        for (std::size_t t = 0; t < xs.size(); ++t) {
            const bool a = short_engine.next(xs[t]) && t >= 32;
            const bool b = long_engine.next(xs[t]) && t >= 63;
            ASSERT_TRUE(same(got.period[t], a ? short_engine.smooth : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.in_phase[t], a ? short_engine.in_phase : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.quadrature[t], a ? short_engine.quadrature : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.phase[t], b ? long_engine.phase : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.sine[t], b ? long_engine.sine : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.leadsine[t], b ? long_engine.lead : kNaN)) << k << " bar " << t;
            ASSERT_TRUE(same(got.trend[t], b ? long_engine.trend : kNaN)) << k << " bar " << t;
        }
    }
}

// The batch forms keep the period out of the engine while they run: stepping,
// then a batch, then stepping again must continue exactly where each left off.
TEST(Hilbert, BatchFormsMatchTheFullHistoryReadingBetweenSteps) {
    std::mt19937_64 rng(5);
    std::vector<std::vector<double>> inputs;
    inputs.push_back(classic_support::noisy_series(rng, 700, 0.0));  // ties, zeros and -0
    inputs.push_back(classic_support::noisy_series(rng, 700, 0.002));
    inputs.push_back(classic_support::walk(rng, 700));
    inputs.back()[400] = -INFINITY;
    inputs.push_back(std::vector<double>(700, -0.0));
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const std::vector<double>& xs = inputs[k];
        // Batches from the first bar, from inside the warm-up, from the first staged bar and late.
        for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 700}, {5, 33}, {12, 650}, {500, 501}}) {
            HT_DCPERIOD period;
            HT_PHASOR phasor;
            FullHistoryEngine ref(9);
            std::vector<double> got_period, got_phasor;
            for (std::size_t t = 0; t < from; ++t) {
                got_period.push_back(period.next(xs[t]));
                const PhasorOutput o = phasor.next(xs[t]);
                got_phasor.insert(got_phasor.end(), {o.in_phase, o.quadrature});
            }
            for (double v : batch_part(period, xs, from, to)) got_period.push_back(v);
            for (double v : batch_part(phasor, xs, from, to)) got_phasor.push_back(v);
            for (std::size_t t = to; t < xs.size(); ++t) {
                got_period.push_back(period.next(xs[t]));
                const PhasorOutput o = phasor.next(xs[t]);
                got_phasor.insert(got_phasor.end(), {o.in_phase, o.quadrature});
            }
            for (std::size_t t = 0; t < xs.size(); ++t) {
                const bool a = ref.next(xs[t]) && t >= 32;
                ASSERT_TRUE(same(got_period[t], a ? ref.smooth : kNaN)) << k << " from " << from << " bar " << t;
                ASSERT_TRUE(same(got_phasor[2 * t], a ? ref.in_phase : kNaN)) << k << " from " << from << " bar " << t;
                ASSERT_TRUE(same(got_phasor[2 * t + 1], a ? ref.quadrature : kNaN)) << k << " from " << from << " bar " << t;
            }
        }
    }
}

TEST(Hilbert, MemoryStaysFlatOnALongStream) {
    HT_DCPERIOD period;
    HT_PHASOR phasor;
    HT_DCPHASE phase;
    HT_SINE sine;
    HT_TRENDMODE trend;
    std::mt19937_64 rng(3);
    std::vector<double> xs = classic_support::walk(rng, 1000);
    double sink = 0.0;
    auto feed = [&](int bars) {
        for (int i = 0; i < bars; ++i) {
            const double x = xs[static_cast<std::size_t>(i) % xs.size()];
            sink += period.next(x) + phasor.next(x).quadrature + phase.next(x) + sine.next(x).sine + trend.next(x);
        }
    };
    feed(1000);  // past every warm-up and the one-off trig tables
    sink = 0.0;
    const std::size_t before = heap_in_use();
    feed(3'000'000);
    EXPECT_EQ(heap_in_use(), before);
    EXPECT_FALSE(std::isnan(sink));  // the stream stayed finite
}
