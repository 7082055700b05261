// DEMA, TEMA, T3, KAMA and MACD.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <new>
#include <random>
#include <vector>

#include "lumenfold/core/classic/dema.hpp"
#include "lumenfold/core/classic/kama.hpp"
#include "lumenfold/core/classic/macd.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/classic/t3.hpp"
#include "lumenfold/core/framework/talib.hpp"
#include "lumenfold/core/classic/tema.hpp"
#include "classic_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::expect_panic;
using lumenfold::test::run;
using classic_support::same;

namespace {


std::vector<double> without(std::vector<double> xs, std::size_t i) {
    xs.erase(xs.begin() + static_cast<std::ptrdiff_t>(i));
    return xs;
}

void expect_nan_until(const std::vector<double>& out, std::size_t first) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i < first) {
            EXPECT_TRUE(std::isnan(out[i])) << "bar " << i;
        } else {
            EXPECT_FALSE(std::isnan(out[i])) << "bar " << i;
        }
    }
}

// KAMA as a literal reading of its definition: every price kept, indexes
// counted from the first one.
std::vector<double> kama_reference(std::uint64_t period, const std::vector<double>& xs) {
    std::vector<double> p;
    std::vector<double> out;
    double value = 0.0;
    for (double x : xs) {
        p.push_back(x);
        const std::size_t t = p.size() - 1;
        if (p.size() <= period) {
            out.push_back(std::nan(""));
            continue;
        }
        if (t == period) value = p[t - 1];
        double vol = 0.0;
        for (std::size_t i = 1; i <= period; ++i) vol = vol + std::fabs(p[t - i + 1] - p[t - i]);
        const double er = vol == 0.0 ? 0.0 : std::fabs(p[t] - p[t - period]) / vol;
        const double sc = 2.0 / 31.0 + er * (2.0 / 3.0 - 2.0 / 31.0);
        value = value + (x - value) * (sc * sc);
        out.push_back(value);
    }
    return out;
}

// MACD as a literal reading of its definition: the seed prices and the whole
// MACD history kept and summed when needed.
std::vector<MacdOutput> macd_reference(std::uint64_t fast, std::uint64_t slow, std::uint64_t signal,
                                       const std::vector<double>& xs) {
    const std::uint64_t f = std::min(fast, slow);
    const std::uint64_t s = std::max(fast, slow);
    const double fk = 2.0 / (static_cast<double>(f) + 1.0);
    const double sk = 2.0 / (static_cast<double>(s) + 1.0);
    const double gk = 2.0 / (static_cast<double>(signal) + 1.0);
    const std::uint64_t lookback = s + signal - 2;
    const double nan = std::nan("");
    std::vector<double> seeds;
    std::vector<double> hist;
    double slow_avg = 0.0, fast_avg = 0.0, sig = 0.0;
    std::vector<MacdOutput> out;
    std::uint64_t c = 0;
    for (double x : xs) {
        if (c < s - 1) {
            seeds.push_back(x);
            out.push_back({nan, nan, nan});
        } else if (c == s - 1) {
            seeds.push_back(x);
            double sum = 0.0;
            for (double v : seeds) sum = sum + v;
            slow_avg = sum / static_cast<double>(s);
            sum = 0.0;
            for (std::size_t i = seeds.size() - f; i < seeds.size(); ++i) sum = sum + seeds[i];
            fast_avg = sum / static_cast<double>(f);
            const double m = fast_avg - slow_avg;
            hist.push_back(m);
            if (lookback == s - 1) {
                sig = m;
                out.push_back({m, m, 0.0});
            } else {
                out.push_back({nan, nan, nan});
            }
        } else {
            slow_avg = std::fma(x - slow_avg, sk, slow_avg);
            fast_avg = std::fma(x - fast_avg, fk, fast_avg);
            const double m = fast_avg - slow_avg;
            hist.push_back(m);
            if (c < lookback) {
                out.push_back({nan, nan, nan});
            } else if (c == lookback) {
                double sum = 0.0;
                for (std::size_t i = 0; i < signal; ++i) sum = sum + hist.at(i);
                sig = sum / static_cast<double>(signal);
                out.push_back({m, sig, m - sig});
            } else {
                sig = std::fma(m - sig, gk, sig);
                out.push_back({m, sig, m - sig});
            }
        }
        ++c;
    }
    return out;
}

std::vector<MacdOutput> run_macd(MACD m, const std::vector<double>& xs) {
    std::vector<MacdOutput> out;
    for (double x : xs) out.push_back(m.next(x));
    return out;
}

bool same_record(const MacdOutput& a, const MacdOutput& b) {
    return same(a.macd, b.macd) && same(a.signal, b.signal) && same(a.histogram, b.histogram);
}

bool all_nan(const MacdOutput& r) {
    return std::isnan(r.macd) && std::isnan(r.signal) && std::isnan(r.histogram);
}

}  // namespace

// ---- DEMA ----

TEST(Dema, WorkedValuesAndWarmUp) {
    auto out = run(DEMA(3), {1, 2, 3, 4, 5, 6});
    expect_nan_until(out, 4);  // 2(P - 1)
    EXPECT_EQ(out[4], 5.0);    // first block 2, 3, 4; second seeds with 3: 2*4 - 3
    EXPECT_EQ(out[5], 6.0);    // first 5, second fma(0.5, 5 - 3, 3) = 4
}

TEST(Dema, PeriodOneFollowsTheInput) {
    auto out = run(DEMA(1), {3.5, -2.25, 7.0, 1e-3});
    EXPECT_EQ(out[0], 3.5);
    const std::vector<double> xs{3.5, -2.25, 7.0, 1e-3};
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], xs[i], 1e-12);
}

TEST(Dema, NaNIsSkippedAndPeriodZeroIsNaN) {
    std::mt19937_64 rng(11);
    auto xs = classic_support::walk(rng, 40);
    xs[17] = std::nan("");
    auto with = run(DEMA(4), xs);
    auto skip = run(DEMA(4), without(xs, 17));
    EXPECT_TRUE(std::isnan(with[17]));
    for (std::size_t i = 18; i < xs.size(); ++i) EXPECT_TRUE(same(with[i], skip[i - 1]));
    // Warm-up counts accepted inputs only.
    auto early = run(DEMA(2), {std::nan(""), 1, 2, 3});
    expect_nan_until(early, 3);
    for (double v : run(DEMA(0), {1, 2, 3})) EXPECT_TRUE(std::isnan(v));
}

// ---- TEMA ----

TEST(Tema, NoWarmUpAndWorkedValues) {
    EXPECT_EQ(run(TEMA(9), {42.5})[0], 42.5);
    // alpha 0.5: e1 1, 1.5; e2 1, 1.25; e3 1, 1.125.
    EXPECT_EQ(run(TEMA(3), {1, 2}), (std::vector<double>{1, 1.875}));
    EXPECT_EQ(run(TEMA(1), {3.25, -7.5, 1e6, 0.1}), (std::vector<double>{3.25, -7.5, 1e6, 0.1}));
}

TEST(Tema, PeriodZeroIsPlainArithmeticAndNaNPoisons) {
    // alpha 2: e1 1, 3; e2 1, 5; e3 1, 9; (9 - 15) + 9 = 3.
    EXPECT_EQ(run(TEMA(0), {1, 2}), (std::vector<double>{1, 3}));
    auto out = run(TEMA(3), {1, std::nan(""), 2, 3});
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i]));
}

// ---- T3 ----

TEST(T3, WeightsCombineTheStages) {
    // a = 0.5: c2 1.125, c3 -3.375, c4 3.375, a^3 0.125; the weights sum to 1.
    EXPECT_EQ(run(T3(1, 0.5), {8, -4}), (std::vector<double>{8, -4}));
    EXPECT_DOUBLE_EQ(run(T3(1, 0.7), {123.456})[0], 123.456);

    // Against six chained mean-seeded averages and the stated combination.
    std::mt19937_64 rng(3);
    const auto xs = classic_support::walk(rng, 60);
    const double a = 0.7;
    std::vector<TalibEma> stages(6, TalibEma(3));
    auto out = run(T3(3, a), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        double e[6];
        double v = xs[i];
        bool ready = true;
        for (int k = 0; k < 6; ++k) {
            v = stages[k].next(v);
            if (std::isnan(v)) {
                ready = false;
                break;
            }
            e[k] = v;
        }
        if (!ready) {
            EXPECT_TRUE(std::isnan(out[i]));
            continue;
        }
        const double a2 = a * a, a3 = a * a2, t = a * 3, s = a * t, u = a3 * 3;
        const double c2 = s + u, c3 = ((a * (a * -6.0)) - t) - u, c4 = s + (a3 + (t + 1));
        EXPECT_TRUE(same(out[i], e[2] * c4 + ((e[4] * c2 - e[5] * a3) + e[3] * c3))) << i;
    }
}

TEST(T3, WarmUpNaNSkipAndDegenerateFactors) {
    std::mt19937_64 rng(5);
    auto xs = classic_support::walk(rng, 50);
    expect_nan_until(run(T3(3, 0.7), xs), 12);  // 6(P - 1)
    // v_factor 0 leaves the third stage alone.
    auto plain = run(T3(2, 0.0), xs);
    std::vector<TalibEma> stages(3, TalibEma(2));
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double v = stages[2].next(stages[1].next(stages[0].next(xs[i])));
        if (i >= 6) {
            EXPECT_TRUE(same(plain[i], v)) << i;
        }
    }
    xs[20] = std::nan("");
    auto with = run(T3(3, 0.7), xs);
    auto skip = run(T3(3, 0.7), without(xs, 20));
    EXPECT_TRUE(std::isnan(with[20]));
    for (std::size_t i = 21; i < xs.size(); ++i) EXPECT_TRUE(same(with[i], skip[i - 1]));
    for (double v : run(T3(0, 0.7), {1, 2, 3})) EXPECT_TRUE(std::isnan(v));
}

// ---- KAMA ----

TEST(Kama, WorkedValues) {
    auto out = run(KAMA(2), {1, 2, 4, 3});
    expect_nan_until(out, 2);
    // Starts from 2; volatility 2 + 1, net move 3: ER 1.
    const double fast = 2.0 / 3.0, slow = 2.0 / 31.0;
    const double sc1 = slow + 1.0 * (fast - slow);
    const double v2 = 2.0 + (4.0 - 2.0) * (sc1 * sc1);
    EXPECT_EQ(out[2], v2);
    // Volatility 1 + 2, net move |3 - 2|: ER 1/3.
    const double sc = slow + (1.0 / 3.0) * (fast - slow);
    EXPECT_EQ(out[3], v2 + (3.0 - v2) * (sc * sc));
    EXPECT_EQ(KAMA::kFast, 0.6666666666666666);
    EXPECT_EQ(KAMA::kSlow, 0.06451612903225806);
}

TEST(Kama, PeriodOneConstantAndNaN) {
    auto one = run(KAMA(1), {0, 9});
    EXPECT_TRUE(std::isnan(one[0]));
    const double sc1 = 2.0 / 31.0 + (2.0 / 3.0 - 2.0 / 31.0);  // ER 1
    EXPECT_EQ(one[1], 0.0 + 9.0 * (sc1 * sc1));
    auto flat = run(KAMA(4), std::vector<double>(12, 7.25));
    expect_nan_until(flat, 4);
    for (std::size_t i = 4; i < flat.size(); ++i) EXPECT_EQ(flat[i], 7.25);
    auto poisoned = run(KAMA(3), {1, 2, 3, 4, std::nan(""), 5, 6, 7, 8, 9});
    for (std::size_t i = 4; i < poisoned.size(); ++i) EXPECT_TRUE(std::isnan(poisoned[i]));
}

TEST(Kama, PeriodZeroIsNaNAndHugePeriodFailsCleanly) {
    for (double v : run(KAMA(0), {1, 2, 3})) EXPECT_TRUE(std::isnan(v));
    EXPECT_THROW(KAMA(std::uint64_t{1} << 62), lumenfold::Panic);
    EXPECT_THROW(KAMA(~std::uint64_t{0}), lumenfold::Panic);
    expect_panic([] { KAMA((std::uint64_t{1} << 58) + 3); }, "memory allocation failed");
}

TEST(Kama, MatchesTheFullHistoryDefinition) {
    std::mt19937_64 rng(8);
    for (std::uint64_t period : {1u, 2u, 3u, 7u, 10u, 16u, 31u}) {
        const auto xs = classic_support::noisy_series(rng, 300, 0.0);
        auto got = run(KAMA(period), xs);
        auto want = kama_reference(period, xs);
        for (std::size_t i = 0; i < xs.size(); ++i) ASSERT_TRUE(same(got[i], want[i])) << period << " " << i;
    }
}

// ---- MACD ----

TEST(Macd, WorkedValues) {
    auto out = run_macd(MACD(2, 3, 2), {1, 2, 3, 4});
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(all_nan(out[i])) << i;
    EXPECT_EQ(out[3].macd, 0.5);
    EXPECT_EQ(out[3].signal, 0.5);
    EXPECT_EQ(out[3].histogram, 0.0);
}

TEST(Macd, PeriodsAreOrderedAndWarmUpEndsAtSlowPlusSignalMinusTwo) {
    std::mt19937_64 rng(1);
    const auto xs = classic_support::walk(rng, 200);
    auto a = run_macd(MACD(12, 26, 9), xs);
    auto b = run_macd(MACD(26, 12, 9), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        ASSERT_TRUE(same_record(a[i], b[i])) << i;
        if (i < 33) {
            EXPECT_TRUE(all_nan(a[i])) << i;
        } else {
            EXPECT_FALSE(std::isnan(a[i].macd) || std::isnan(a[i].signal) || std::isnan(a[i].histogram)) << i;
        }
    }
    EXPECT_EQ(MACD(12, 26, 9).lookback(), 33u);
}

TEST(Macd, SignalOneAndConstantSeries) {
    auto one = run_macd(MACD(2, 4, 1), {1, 5, 2, 8, 3});
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(all_nan(one[i]));
    EXPECT_EQ(one[3].macd, (2.0 + 8.0) / 2.0 - (1.0 + 5.0 + 2.0 + 8.0) / 4.0);
    EXPECT_EQ(one[3].signal, one[3].macd);
    EXPECT_EQ(one[3].histogram, 0.0);
    EXPECT_FALSE(std::signbit(one[3].histogram));
    for (const auto& r : run_macd(MACD(3, 5, 4), std::vector<double>(20, 9.5))) {
        if (all_nan(r)) continue;
        EXPECT_EQ(r.macd, 0.0);
        EXPECT_EQ(r.signal, 0.0);
        EXPECT_EQ(r.histogram, 0.0);
    }
}

TEST(Macd, DegeneratePeriods) {
    const std::vector<double> xs{1, 3, 2, 5, 4, 6, 8, 7};
    for (auto [f, s, g] : std::vector<std::array<std::uint64_t, 3>>{{0, 0, 9}, {0, 4, 3}, {1, 1, 0}, {0, 1, 0}}) {
        for (const auto& r : run_macd(MACD(f, s, g), xs)) EXPECT_TRUE(all_nan(r)) << f << s << g;
    }
    // Signal 0: the seeding bar is empty, then the signal starts from 0 with factor 2.
    auto zero = run_macd(MACD(2, 3, 0), xs);
    EXPECT_TRUE(all_nan(zero[2]));
    const double slow = std::fma(5.0 - 2.0, 0.5, 2.0);
    const double fast = std::fma(5.0 - 2.5, 2.0 / 3.0, 2.5);
    EXPECT_EQ(zero[3].macd, fast - slow);
    EXPECT_EQ(zero[3].signal, 2.0 * (fast - slow));
}

TEST(Macd, NaNPoisonsFromItsBarOrFromTheSeedingBar) {
    std::mt19937_64 rng(4);
    auto xs = classic_support::walk(rng, 30);
    xs[12] = std::nan("");
    auto late = run_macd(MACD(3, 5, 2), xs);
    EXPECT_FALSE(std::isnan(late[11].macd));
    for (std::size_t i = 12; i < xs.size(); ++i) EXPECT_TRUE(std::isnan(late[i].macd) && std::isnan(late[i].signal));
    xs[12] = 1.0;
    xs[1] = std::nan("");
    auto early = run_macd(MACD(3, 5, 2), xs);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_TRUE(std::isnan(early[i].macd)) << i;
}

TEST(Macd, MatchesTheStoredSeedDefinition) {
    std::mt19937_64 rng(21);
    const auto xs = classic_support::noisy_series(rng, 120, 0.0);
    for (std::uint64_t f = 0; f <= 6; ++f) {
        for (std::uint64_t s = 0; s <= 6; ++s) {
            for (std::uint64_t g = 0; g <= 5; ++g) {
                auto got = run_macd(MACD(f, s, g), xs);
                auto want = macd_reference(f, s, g, xs);
                for (std::size_t i = 0; i < xs.size(); ++i) {
                    ASSERT_TRUE(same_record(got[i], want[i])) << f << " " << s << " " << g << " bar " << i;
                }
            }
        }
    }
}
