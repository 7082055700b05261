// Voss and simple predictors, AM detector and FM demodulator, cycle and trend
// analytics, continuation index.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lumenfold/core/cycles/amfm.hpp"
#include "lumenfold/core/cycles/continuation_index.hpp"
#include "lumenfold/core/cycles/cycle_trend_analytics.hpp"
#include "lumenfold/core/cycles/simple_predictor.hpp"
#include "lumenfold/core/cycles/voss_predictor.hpp"
#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::outputs;
using lumenfold::test::run;

namespace {

// Bars whose body close - open is each of `bodies`.
std::vector<double> am(std::uint64_t highest, std::uint64_t avg, const std::vector<double>& bodies) {
    AMDetector d(highest, avg);
    std::vector<double> out;
    for (double b : bodies) out.push_back(d.next(100.0 + b, 100.0));
    return out;
}

std::vector<double> fm(std::uint64_t period, double body, int n) {
    FMDemodulator d(period);
    std::vector<double> out;
    for (int i = 0; i < n; ++i) out.push_back(d.next(10.0 + body, 10.0));
    return out;
}

std::string read_failure(const BandEntry& e) {
    try {
        static_cast<void>(static_cast<double>(e));
    } catch (const lumenfold::Panic& p) {
        return p.message();
    }
    return "";
}

}  // namespace

// ---- Voss predictor ----

TEST(VossPredictor, OrderZeroScalesTheBandPass) {
    const auto xs = jagged(60);
    const auto out = outputs(VossPredictor(20, 0), xs);
    const auto band = run(BandPass(20, 0.25), xs);
    const double alpha = BandPassCoefficients::from(20.0, 0.25).alpha;
    EXPECT_EQ(out[0].filt, ((1.0 - alpha) * 0.5) * xs[0]);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        EXPECT_EQ(out[i].filt, band[i]);
        EXPECT_EQ(out[i].voss, 1.5 * band[i]);
    }
}

TEST(VossPredictor, WeightsTheLastThreeOutputsForPredictOne) {
    const auto out = outputs(VossPredictor(14, 1), jagged(40));
    const double w1 = 1.0 / 3.0, w2 = 2.0 / 3.0;
    EXPECT_EQ(out[0].voss, 3.0 * out[0].filt);
    EXPECT_EQ(out[1].voss, 3.0 * out[1].filt - out[0].voss);
    EXPECT_EQ(out[2].voss, 3.0 * out[2].filt - (w2 * out[0].voss + out[1].voss));
    for (std::size_t i = 3; i < out.size(); ++i) {
        const double sum = (w1 * out[i - 3].voss + w2 * out[i - 2].voss) + out[i - 1].voss;
        EXPECT_EQ(out[i].voss, 3.0 * out[i].filt - sum) << "bar " << i + 1;
    }
}

TEST(VossPredictor, DegenerateParametersAndNaN) {
    for (const auto& o : outputs(VossPredictor(0, 1), jagged(5))) EXPECT_TRUE(std::isnan(o.voss));
    auto xs = jagged(20);
    xs[5] = kNaN;
    const auto nan = outputs(VossPredictor(20, 1), xs);
    EXPECT_FALSE(std::isnan(nan[4].voss));
    for (std::size_t i = 5; i < nan.size(); ++i) EXPECT_TRUE(std::isnan(nan[i].filt) && std::isnan(nan[i].voss));
    // A history too large to hold fails instead of wrapping to a small one.
    EXPECT_THROW(VossPredictor(20, 6148914691236517205ull), lumenfold::Panic);
}

// ---- simple predictor ----

TEST(SimplePredictor, ExtrapolatesTheBandLimitedWave) {
    const auto xs = jagged(80);
    std::vector<double> lp;
    HighPass hp(40);
    SuperSmoother ss(10);
    for (double x : xs) lp.push_back(ss.next(hp.next(x)));

    const auto plain = run(SimplePredictor(40, 10, 0.0), xs);
    const auto pred = run(SimplePredictor(40, 10, 0.5), xs);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(plain[i], 0.0);
        EXPECT_EQ(pred[i], 0.0);
    }
    for (std::size_t i = 2; i < xs.size(); ++i) {
        EXPECT_EQ(plain[i], lp[i]) << "bar " << i + 1;
        EXPECT_EQ(pred[i], ((lp[i] - 0.9 * lp[i - 1]) + 0.25 * lp[i - 2]) / ((1.0 - 0.9) + 0.25)) << "bar " << i + 1;
    }
    EXPECT_NE(pred[10], 0.0);
}

TEST(SimplePredictor, ConstantSeriesAndDegenerateParameters) {
    for (double v : run(SimplePredictor(48, 10, 0.35), std::vector<double>(50, 7.25))) EXPECT_EQ(v, 0.0);
    for (auto [hp, lp] : {std::pair<std::uint64_t, std::uint64_t>{0, 10}, {48, 0}}) {
        const auto out = run(SimplePredictor(hp, lp, 0.35), jagged(10));
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(out[i], 0.0);
        for (std::size_t i = 3; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i])) << hp << "/" << lp;
    }
    const auto out = run(SimplePredictor(48, 10, kNaN), jagged(10));
    EXPECT_EQ(out[1], 0.0);
    for (std::size_t i = 2; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i]));
}

// ---- AM detector ----

TEST(AmDetector, AveragesTheWindowMaxima) {
    EXPECT_EQ(am(1, 1, {0.5, -2.0, 3.25, -0.125}), (std::vector<double>{0.5, 2.0, 3.25, 0.125}));
    EXPECT_EQ(am(2, 2, {1, 3, 2, 0}), (std::vector<double>{1, 2, 3, 2.5}));
    // A NaN body is ignored while numbers share the window.
    EXPECT_EQ(am(3, 1, {1, kNaN, 2, kNaN, kNaN}), (std::vector<double>{1, 1, 2, 2, 2}));
}

// A window without a number has no maximum: NaN, where the most negative
// double would have entered the running sum and, once dropped again, left it
// off by every value it had swallowed.
TEST(AmDetector, WindowWithoutANumberGivesNaN) {
    for (double v : am(0, 3, {1, 2, 3, 4})) EXPECT_TRUE(std::isnan(v));
    const auto out = am(1, 2, {1, kNaN, 2, 3, 4});
    EXPECT_EQ(out[0], 1.0);
    for (std::size_t i = 1; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i])) << i;
    for (double v : am(3, 0, {1, 2})) EXPECT_TRUE(std::isnan(v));
}

// ---- FM demodulator ----

TEST(FmDemodulator, LimitsTheBodyThenSmooths) {
    const TwoPoleCoefficients k = TwoPoleCoefficients::super_smoother(10.0);
    const auto big = fm(10, 0.5, 200);
    EXPECT_EQ(big[0], 0.5);
    EXPECT_EQ(big[1], 0.5);
    EXPECT_EQ(big[2], ((k.c1 * (1.0 + 1.0)) * 0.5 + k.c2 * 0.5) + k.c3 * 0.5);
    EXPECT_NEAR(big.back(), 1.0, 1e-12);

    const auto small = fm(10, 0.0625, 200);  // 10·body = 0.625, not limited
    EXPECT_EQ(small[1], 0.0625);
    EXPECT_EQ(small[2], ((k.c1 * (0.625 + 0.625)) * 0.5 + k.c2 * 0.0625) + k.c3 * 0.0625);
    EXPECT_NEAR(small.back(), 0.625, 1e-12);

    const auto neg = fm(10, -3.0, 3);
    EXPECT_EQ(neg[0], -3.0);
    EXPECT_EQ(neg[2], ((k.c1 * -2.0) * 0.5 + k.c2 * -3.0) + k.c3 * -3.0);

    const auto zero = fm(0, 0.5, 5);
    EXPECT_EQ(zero[1], 0.5);
    for (std::size_t i = 2; i < zero.size(); ++i) EXPECT_TRUE(std::isnan(zero[i]));
}

// ---- cycle and trend analytics ----

TEST(CycleTrendAnalytics, DeviationsFromEveryLength) {
    CycleTrendAnalytics band(5, 30);
    EXPECT_EQ(band.size(), 26u);
    band.next(4.0);
    const auto out = band.next(6.0);
    ASSERT_EQ(out.size(), 26u);
    for (double v : out) EXPECT_EQ(v, 1.0);
    EXPECT_EQ(CycleTrendAnalytics(4, 3).size(), 0u);
    EXPECT_TRUE(std::isnan(CycleTrendAnalytics(0, 2).next(1.0)[0]));

    CycleTrendPair pair(2, 3);
    const double want[3][2] = {{0, 0}, {0.5, 0.5}, {0.5, 1}};
    for (int i = 0; i < 3; ++i) {
        const CycleTrendOutput o = pair.next(i + 1.0);
        EXPECT_EQ(double(o.cycle), want[i][0]);
        EXPECT_EQ(double(o.trend), want[i][1]);
    }
}

TEST(CycleTrendAnalytics, ShortBandFailsOnRead) {
    CycleTrendPair one(7, 7);
    for (int i = 0; i < 3; ++i) {
        const CycleTrendOutput o = one.next(1.0);
        EXPECT_EQ(double(o.cycle), 0.0);
        EXPECT_EQ(read_failure(o.trend), "index out of bounds: the len is 1 but the index is 1");
    }
    CycleTrendPair none(7, 6);
    EXPECT_EQ(read_failure(none.next(1.0).cycle), "index out of bounds: the len is 0 but the index is 0");
}

TEST(CycleTrendAnalytics, BatchOfShortBandFailsOnFirstBar) {
    const std::vector<double> series{1.0, 2.0};
    auto failure = [&](std::uint64_t min_length, std::uint64_t max_length, std::size_t n) {
        std::vector<CycleTrendValues> out(2);
        try {
            CycleTrendPair(min_length, max_length)
                .batch(PlainOutputs<CycleTrendValues>(out.data()), PlainSeries(std::span(series).first(n)));
        } catch (const lumenfold::Panic& p) {
            return p.message();
        }
        return std::string();
    };
    EXPECT_EQ(failure(7, 7, 2), "index out of bounds: the len is 1 but the index is 1");
    EXPECT_EQ(failure(7, 6, 2), "index out of bounds: the len is 0 but the index is 0");
    EXPECT_EQ(failure(7, 6, 0), "");
}

// ---- continuation index ----

TEST(ContinuationIndex, WarmupAndSaturation) {
    for (double v : run(ContinuationIndex(0.8, 4, 20), std::vector<double>(30, 0.0))) EXPECT_EQ(v, 0.0);
    const auto xs = jagged(300);
    const auto one = run(ContinuationIndex(0.8, 1, 20), xs);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(one[i], 0.0);
    EXPECT_EQ(run(ContinuationIndex(0.8, 0, 20), xs), one);
    EXPECT_EQ(run(ContinuationIndex(0.8, 25, 20), xs), run(ContinuationIndex(0.8, 10, 20), xs));

    const auto out = run(ContinuationIndex(0.8, 3, 20), xs);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.999329299739067);  // mean = |diff|/2: tanh(4)
    const auto down = run(ContinuationIndex(0.8, 3, 20), {5.0, 4.0});
    EXPECT_EQ(down[1], -0.999329299739067);
    for (double v : out) {
        EXPECT_GE(v, -1.0);
        EXPECT_LE(v, 1.0);
    }
}

TEST(ContinuationIndex, DegenerateLengthsAndNaN) {
    for (double v : run(ContinuationIndex(0.8, 3, 0), jagged(10))) EXPECT_TRUE(std::isnan(v));
    const auto one = run(ContinuationIndex(0.8, 3, 1), jagged(10));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(std::isnan(one[i]));
    for (std::size_t i = 3; i < one.size(); ++i) EXPECT_TRUE(std::isnan(one[i]));
    auto xs = jagged(30);
    xs[10] = kNaN;
    const auto out = run(ContinuationIndex(0.8, 3, 20), xs);
    EXPECT_FALSE(std::isnan(out[9]));
    for (std::size_t i = 10; i < out.size(); ++i) EXPECT_TRUE(std::isnan(out[i]));
}
