// Ring buffer, NaN-ignoring max/min and the shared averages and statistics.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/smoothing.hpp"
#include "lumenfold/core/framework/statistics.hpp"
#include "lumenfold/core/framework/talib.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::run;

TEST(RingBuffer, StorageSizeIsNextPowerOfTwoAbove) {
    EXPECT_EQ(RingBuffer(0).storage_size(), 16u);
    EXPECT_EQ(RingBuffer(1).storage_size(), 2u);
    EXPECT_EQ(RingBuffer(3).storage_size(), 4u);
    EXPECT_EQ(RingBuffer(4).storage_size(), 8u);
    EXPECT_EQ(RingBuffer(15).storage_size(), 16u);
    EXPECT_EQ(RingBuffer(16).storage_size(), 32u);
}

TEST(RingBuffer, HugeCapacityPanicsInsteadOfAborting) {
    try {
        RingBuffer rb(std::uint64_t{1} << 59);
        FAIL();
    } catch (const lumenfold::Panic& p) {
        EXPECT_EQ(p.message(), "capacity overflow");
    }
    // Representable but not obtainable from the heap: the library's allocation failure.
    lumenfold::test::expect_panic([] { RingBuffer((std::uint64_t{1} << 59) - 1); }, "memory allocation failed");
}

TEST(RingBuffer, FromStartsFull) {
    auto rb = RingBuffer::from({7, 0, 0, 0});
    EXPECT_EQ(rb.storage_size(), 8u);
    EXPECT_EQ(rb.len(), 4u);
    EXPECT_EQ(rb.get(0), 7.0);
    EXPECT_FALSE(rb.get(4).has_value());
    EXPECT_EQ(RingBuffer::from({}).storage_size(), 16u);
}

TEST(RingBuffer, WrapsAroundWithCounters) {
    RingBuffer rb(3);  // 4 slots
    double pushed = 0;
    int pops = 0;
    for (int i = 0; i < 20; ++i) {
        rb.push(++pushed);
        if (rb.len() > 3) {
            rb.pop();
            ++pops;
        }
    }
    EXPECT_EQ(pops, 17);
    EXPECT_EQ(rb.get(0), 18.0);
    EXPECT_EQ(rb.back(), 20.0);
}

TEST(RingBuffer, FrontOperations) {
    RingBuffer rb(4);
    rb.push_front(1.0);
    rb.push_front(2.0);
    EXPECT_EQ(rb.get(0), 2.0);
    EXPECT_EQ(rb.back(), 1.0);
    EXPECT_EQ(rb.pop_back(), 1.0);
    EXPECT_EQ(rb.len(), 1u);
    // A copy is deep.
    RingBuffer copy = rb;
    copy.push(9.0);
    EXPECT_EQ(rb.len(), 1u);
    EXPECT_EQ(copy.len(), 2u);
}

TEST(Num, MaxMinIgnoreNaNAndOrderSignedZeros) {
    EXPECT_EQ(max_num(kNaN, 1.0), 1.0);
    EXPECT_EQ(max_num(1.0, kNaN), 1.0);
    EXPECT_TRUE(std::isnan(max_num(kNaN, kNaN)));
    EXPECT_FALSE(std::signbit(max_num(-0.0, 0.0)));
    EXPECT_FALSE(std::signbit(max_num(0.0, -0.0)));
    EXPECT_TRUE(std::signbit(min_num(-0.0, 0.0)));
    EXPECT_TRUE(std::signbit(min_num(0.0, -0.0)));
    EXPECT_EQ(min_num(kNaN, -2.0), -2.0);
}

// The branch-free forms against the plain ones, to the bit: which operand a
// NaN, a tie or a pair of zeros leaves, and which of two NaNs wins.
TEST(Num, BranchFreeChoicesKeepThePlainFormsBits) {
    const double inf = std::numeric_limits<double>::infinity();
    const double xs[] = {0.0, -0.0, 1.0, -1.0, 2.5, 5e-324, inf, -inf, kNaN, -kNaN,
                         std::bit_cast<double>(std::uint64_t{0x7ff80000000000a5})};
    auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    for (double a : xs) {
        for (double b : xs) {
            EXPECT_EQ(bits(max_num_masked(a, b)), bits(max_num(a, b))) << a << " " << b;
            EXPECT_EQ(bits(min_num_masked(a, b)), bits(min_num(a, b))) << a << " " << b;
            // For a b that is never -0, the cheaper maximum is max_num.
            if (bits(b) != bits(-0.0)) {
                EXPECT_EQ(bits(max_num_abs(a, b)), bits(max_num(a, b))) << a << " " << b;
            }
            EXPECT_EQ(bits(positive_excess(a, b)), bits((a > b && a > 0.0) ? a : 0.0)) << a << " " << b;
        }
    }
}

TEST(Averages, WorkedValues) {
    EXPECT_EQ(run(SMA(3), {1, 2, 3, 4}), (std::vector<double>{1, 1.5, 2, 3}));
    EXPECT_EQ(run(WMA(3), {1, 2, 3, 4}), (std::vector<double>{1, 5.0 / 3.0, 14.0 / 6.0, 20.0 / 6.0}));
    EXPECT_EQ(run(EMA(10), {5, 16}), (std::vector<double>{5, 16 * (2.0 / 11.0) + 5 * (1.0 - 2.0 / 11.0)}));
    EXPECT_DOUBLE_EQ(run(EMA(10), {5, 16})[1], 7.0);
    auto ta = run(TalibSma(3), {1, 2, 3, 4});
    EXPECT_TRUE(std::isnan(ta[0]) && std::isnan(ta[1]));
    EXPECT_EQ(ta[2], 2.0);
    EXPECT_EQ(ta[3], 3.0);
    auto te = run(TalibEma(3), {1, 2, 3, 4});
    EXPECT_TRUE(std::isnan(te[0]) && std::isnan(te[1]));
    EXPECT_EQ(te[2], 2.0);
    EXPECT_EQ(te[3], 3.0);
}

TEST(Averages, PeriodZero) {
    for (double v : run(SMA(0), {1, 2, 3})) EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(run(WMA(0), {1, 2, 3}), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(run(EMA(0), {1, 2}), (std::vector<double>{1, 3}));  // alpha 2: 2*2 - 1
    for (double v : run(TalibEma(0), {1, 2})) EXPECT_TRUE(std::isnan(v));
    for (double v : run(TalibSma(0), {1, 2})) EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(run(StandardDeviation(0), {1, 2}), (std::vector<double>{0, 0}));
    EXPECT_EQ(run(LinearRegression(0), {1, 2}), (std::vector<double>{1, 2}));
}

TEST(Averages, PeriodOne) {
    EXPECT_EQ(run(SMA(1), {4, 5}), (std::vector<double>{4, 5}));
    EXPECT_EQ(run(WMA(1), {4, 5}), (std::vector<double>{4, 5}));
    EXPECT_EQ(run(TalibSma(1), {4, 5}), (std::vector<double>{4, 5}));
    EXPECT_EQ(run(TalibEma(1), {4, 5, 7}), (std::vector<double>{4, 5, 7}));
    EXPECT_EQ(run(StandardDeviation(1), {4})[0], 0.0);
}

TEST(Averages, NaNBehaviour) {
    auto s = run(SMA(2), {1, kNaN, 2, 3, 4});
    for (size_t i = 1; i < s.size(); ++i) EXPECT_TRUE(std::isnan(s[i]));
    auto sd = run(StandardDeviation(2), {1, kNaN, 2, 3});
    EXPECT_EQ(sd[1], 0.0);
    EXPECT_EQ(sd[3], 0.0);
    auto e = run(EMA(3), {kNaN, 1, 2});
    for (double v : e) EXPECT_TRUE(std::isnan(v));
    // TalibEma skips a NaN entirely: same as if it had never been fed.
    auto te = run(TalibEma(2), {1, kNaN, 3, 5});
    EXPECT_TRUE(std::isnan(te[1]));
    EXPECT_EQ(te[2], 2.0);
    EXPECT_EQ(te[3], std::fma(2.0 / 3.0, 5.0 - 2.0, 2.0));
}

TEST(Statistics, StandardDeviationIsPopulation) {
    auto sd = run(StandardDeviation(4), {2, 4, 4, 4, 5, 5, 7, 9});
    EXPECT_DOUBLE_EQ(sd[3], std::sqrt(0.75));
    // Last window 4, 5, 5, 7 ... stays non-negative even when rounding dips below 0.
    auto flat = run(StandardDeviation(3), {0.1, 0.1, 0.1, 0.1});
    for (double v : flat) EXPECT_GE(v, 0.0);
    EXPECT_FALSE(std::signbit(flat[3]));
}

TEST(Statistics, LinearRegression) {
    auto lr = run(LinearRegression(3), {5, 7, 9, 10, 20});
    EXPECT_EQ(lr[0], 5.0);   // one point: denominator 0 gives the input
    EXPECT_EQ(lr[1], 7.0);   // two points: the line passes through both
    EXPECT_DOUBLE_EQ(lr[2], 9.0);
    EXPECT_DOUBLE_EQ(lr[4], (10.0 + 9.0 + 20.0) / 3.0 + 5.5);  // slope 5.5 over 9, 10, 20
}
