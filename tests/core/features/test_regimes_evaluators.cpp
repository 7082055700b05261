// Bull/bear regime model and regime features, system and robustness evaluators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "lumenfold/core/features/hmm.hpp"
#include "lumenfold/core/features/regime.hpp"
#include "lumenfold/core/features/robustness.hpp"
#include "lumenfold/core/features/system_evaluator.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

using namespace lumenfold::core;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A deterministic jagged noise in [-1, 1].
double noise(int i) { return ((i * 7919) % 23) / 11.0 - 1.0; }

double log_density(double x, double mean, double sd) {
    const double v = sd * sd;
    return std::log(std::exp(-((x - mean) * (x - mean)) / (v + v)) / std::sqrt(v * kTwoPi));
}

}  // namespace

// ---- regime model ----

TEST(BullBearHMM, FirstStepsAndSkippedInputs) {
    BullBearHMM hmm;
    EXPECT_EQ(hmm.next(0.0), 1);
    const auto& s = hmm.model().scores();
    // ln(init·pdf), the product formed first.
    EXPECT_EQ(s[0], std::log(0.5 * std::exp(log_density(0.0, 0.001, 0.01))));
    EXPECT_NEAR(s[0], 2.98808, 1e-5);
    EXPECT_NEAR(s[1], 2.29494, 1e-5);
    const std::vector<double> before = s;
    for (double bad : {kNaN, kInf, -kInf}) EXPECT_EQ(hmm.next(bad), 0);
    EXPECT_EQ(hmm.model().scores(), before);
    EXPECT_EQ(hmm.next(-0.03), 2);
    const double bull = std::max(before[0] + std::log(0.95), before[1] + std::log(0.10));
    EXPECT_EQ(hmm.model().scores()[0], bull + log_density(-0.03, 0.001, 0.01));
    EXPECT_EQ(hmm.next(-0.03), 2);
}

TEST(BullBearHMM, RecoversFromAnOutlierAndFollowsTheRegimes) {
    // A calm positive drift, one far outlier (every density underflows),
    // the calm drift again, then a wide negative one.
    std::vector<double> xs;
    for (int i = 0; i < 150; ++i) xs.push_back(0.001 + 0.008 * noise(i));
    xs.push_back(100.0);
    for (int i = 0; i < 150; ++i) xs.push_back(0.001 + 0.008 * noise(i));
    for (int i = 0; i < 150; ++i) xs.push_back(-0.002 + 0.035 * noise(i + 5));
    BullBearHMM hmm;
    std::vector<std::int32_t> codes;
    for (double x : xs) codes.push_back(hmm.next(x));
    for (int i = 0; i < 150; ++i) EXPECT_EQ(codes[i], 1) << i;
    // The outlier is likelier under the wider state; its score is the
    // analytic log density, finite.
    EXPECT_EQ(codes[150], 2);
    for (int i = 160; i < 301; ++i) EXPECT_EQ(codes[i], 1) << i;
    for (int i = 310; i < 451; ++i) EXPECT_EQ(codes[i], 2) << i;
    for (double s : hmm.model().scores()) EXPECT_TRUE(std::isfinite(s));
}

TEST(HMM, TiesThreeStatesAndMalformedTables) {
    // Identical states tie: the lower one wins.
    HMM twins({{0.5, 0.5}, {0.5, 0.5}}, {0.0, 0.0}, {1.0, 1.0}, {0.5, 0.5});
    EXPECT_EQ(twins.next(0.3), MarketRegime::from_state(0));
    EXPECT_EQ(twins.next(-0.3), MarketRegime::from_state(0));

    HMM three({{0.8, 0.1, 0.1}, {0.1, 0.8, 0.1}, {0.1, 0.1, 0.8}}, {0.0, -1.0, 5.0}, {1.0, 1.0, 1.0},
              {0.4, 0.3, 0.3});
    const MarketRegime r = three.next(5.0);
    EXPECT_EQ(r, (MarketRegime{MarketRegime::Kind::Other, 2}));
    EXPECT_EQ(regime_code(r), 6);
    EXPECT_EQ(regime_to_features(r), (std::array<double, 5>{0, 0, 1, 0, 0}));

    HMM short_means({{0.5, 0.5}, {0.5, 0.5}}, {0.0}, {1.0, 1.0}, {0.5, 0.5});
    EXPECT_THROW(short_means.next(0.0), lumenfold::Panic);
    HMM short_row({{0.5, 0.5}, {0.5}}, {0.0, 0.0}, {1.0, 1.0}, {0.5, 0.5});
    short_row.next(0.0);
    EXPECT_THROW(short_row.next(0.0), lumenfold::Panic);
}

TEST(RegimeFeatures, IdsCodesAndSlots) {
    struct Case {
        std::uint32_t id;
        int slot;
        std::int32_t label;
    };
    for (const Case c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{2, 2, 2}, Case{3, 3, 3}, Case{4, 0, 4}, Case{7, 3, 7},
                         Case{9, 4, 9}, Case{259, 4, 259}, Case{260, 0, 4}, Case{0xFFFFFFFF, 4, 255}}) {
        const RegimeFeatures f = regime_features(c.id);
        std::array<double, 5> expected{};
        expected[c.slot] = 1.0;
        EXPECT_EQ(f.regime_vector, expected) << c.id;
        EXPECT_EQ(f.regime_label, c.label) << c.id;
    }
    // The model's codes number the regimes differently.
    EXPECT_EQ(regime_code({MarketRegime::Kind::Undefined}), 0);
    EXPECT_EQ(regime_code({MarketRegime::Kind::Bull}), 1);
    EXPECT_EQ(regime_code({MarketRegime::Kind::Bear}), 2);
    EXPECT_EQ(regime_code({MarketRegime::Kind::Neutral}), 3);
    EXPECT_EQ(regime_code(MarketRegime::from_state(300)), 44 + 4);
}

// ---- system evaluator ----

namespace {

// The seven statistics in record order.
std::vector<double> stats(const SystemEvaluatorOutput& r) {
    return {r.average_win_loss_ratio, r.average_trade, r.profit_factor, r.percent_winners,
            r.breakeven_profit_factor, r.weighted_average_trade, r.theoretical_consecutive_losers};
}

void expect_near_ulps(const std::vector<double>& got, const std::vector<double>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], expected[i]) << i;
}

}  // namespace

TEST(SystemEvaluator, RunningStatistics) {
    SystemEvaluator ev;
    EXPECT_EQ(stats(ev.next(100.0)), (std::vector<double>{0, 100, 100, 1, 0, 0, 0}));
    const auto after_loss = stats(ev.next(-50.0));
    expect_near_ulps(after_loss, {2, 25, 2, 0.5, 1, 50, 8.53282487738598});
    EXPECT_EQ(stats(ev.next(0.0)), after_loss);  // a flat trade changes nothing reported
    expect_near_ulps(stats(ev.next(30.0)),
                     {1.3, 26.666666666666667, 2.6, 2.0 / 3.0, 0.5, 34.666666666666667, 5.383613097157539});
    EXPECT_EQ(ev.trades(), 4u);
}

TEST(SystemEvaluator, NoDecidedTradesAndOnlyLosers) {
    for (double first : {0.0, -0.0, kNaN}) {
        SystemEvaluator ev;
        EXPECT_EQ(stats(ev.next(first)), std::vector<double>(7, 0.0));
    }
    SystemEvaluator ev;
    ev.next(-10.0);
    // Without winners the expected run of losers is unbounded, never negative.
    EXPECT_EQ(stats(ev.next(-30.0)), (std::vector<double>{0, -20, 0, 0, 100, 0, kInf}));
}

// ---- robustness evaluator ----

TEST(RobustnessEvaluator, Scores) {
    auto score = [](std::vector<double> xs) {
        RobustnessEvaluator ev;
        for (double x : xs) ev.add_test_result(x);
        return ev.calculate_score();
    };
    EXPECT_EQ(score({}), 0.0);
    EXPECT_EQ(score({10}), 1.0);
    EXPECT_EQ(score({5, 10}), 0.5);
    EXPECT_EQ(score({10, 5, 1}), 0.5);
    EXPECT_EQ(score({1, 10, 5}), 0.5);
    EXPECT_EQ(score({-3, 0, -1}), 0.0);
    // No order among NaN: one first stays first, one in the middle is the median.
    EXPECT_TRUE(std::isnan(score({kNaN, 10, 5})));
    EXPECT_TRUE(std::isnan(score({10, kNaN, 20})));
    EXPECT_EQ(score({20, 10, kNaN}), 0.5);

    RobustnessEvaluator ev;
    for (double x : {3.0, 1.0, 2.0}) ev.add_test_result(x);
    EXPECT_EQ(ev.calculate_score(), 2.0 / 3.0);
    EXPECT_EQ(ev.results(), (std::vector<double>{3.0, 1.0, 2.0}));  // the stored order is kept
}

TEST(RobustnessEvaluator, SortIsDescendingStableAndTotal) {
    for (std::size_t n : {5u, 20u, 21u, 64u, 257u}) {
        std::vector<double> xs;
        for (std::size_t i = 0; i < n; ++i) xs.push_back(i % 4 == 1 ? (i % 8 == 1 ? 0.0 : -0.0) : noise(int(i)));
        std::vector<double> expected = xs;
        std::stable_sort(expected.begin(), expected.end(), std::greater<double>());
        std::vector<double> got = xs;
        RobustnessEvaluator::sort_descending(got);
        ASSERT_EQ(got.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(got[i], expected[i]) << n << " " << i;
            EXPECT_EQ(std::signbit(got[i]), std::signbit(expected[i])) << n << " " << i;  // zeros keep their order
        }
        // NaN anywhere: the sort completes and keeps every value.
        std::vector<double> nan = xs;
        nan[n / 3] = kNaN;
        RobustnessEvaluator::sort_descending(nan);
        EXPECT_EQ(std::count_if(nan.begin(), nan.end(), [](double v) { return std::isnan(v); }), 1);
    }
}
