// Option-chain statistics: the worked chains, ties, NaN handling, and every
// length rule (a short vector fails the whole call with a Panic).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/options/chain_analytics.hpp"

using namespace lumenfold::core::options;
using lumenfold::Panic;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using U = std::vector<std::uint64_t>;
using D = std::vector<double>;

}  // namespace

TEST(ChainPcr, TotalsOverTheirOwnLengths) {
    EXPECT_EQ(chain_pcr({0, 0}, {5}), 0.0);
    EXPECT_EQ(chain_pcr({100, 300}, {200}), 0.5);
    EXPECT_EQ(chain_pcr({}, {}), 0.0);
    EXPECT_EQ(chain_pcr({4}, {1, 2, 3}), 1.5);
}

TEST(ChainPcr, SumsPast64BitsDoNotWrap) {
    constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
    EXPECT_EQ(chain_pcr({kTop, kTop}, {1}), 0x1p-64);
    EXPECT_EQ(chain_pcr({~std::uint64_t{0}, 2}, {7}), 7.0 / 0x1p64);
    EXPECT_EQ(chain_pcr({3}, {kTop, kTop, kTop}), 0x1.8p64 / 3.0);
    // Below 2^64 each sum still rounds once, as a 64-bit value would.
    EXPECT_EQ(chain_pcr({3}, {~std::uint64_t{0} - 1}), static_cast<double>(~std::uint64_t{0} - 1) / 3.0);
}

TEST(StrikePcr, ShorterLengthAndZeroCalls) {
    EXPECT_EQ(strike_pcr({10, 0, 4}, {5, 7}), (D{0.5, 0.0}));
    EXPECT_EQ(strike_pcr({}, {1}), D{});
}

TEST(GexPerStrike, RowsAndLengthRule) {
    const std::vector<GexOutput> rows = gex_per_strike(100, {100}, {0.01}, {0.02}, {1000}, {500}, 50);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_DOUBLE_EQ(rows[0].ce_gex, 500);
    EXPECT_DOUBLE_EQ(rows[0].pe_gex, -500);
    EXPECT_DOUBLE_EQ(rows[0].net_gex, 0);
    // Spot enters once; longer vectors are cut to the strikes.
    const auto two = gex_per_strike(200, {1, 2}, {0.01, 0.03, 9}, {0.0, 0.01, 9}, {100, 10, 9}, {0, 20, 9}, 1);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].ce_gex, 200 * (0.01 * 100) * 1 * 0.01);
    EXPECT_EQ(two[1].pe_gex, 200 * (0.01 * 20) * 1 * -0.01);
    EXPECT_EQ(two[1].net_gex, two[1].ce_gex + two[1].pe_gex);
    // Any of the four vectors shorter than the strikes fails.
    EXPECT_THROW(gex_per_strike(1, {1, 2}, {1}, {1, 1}, {1, 1}, {1, 1}, 1), Panic);
    EXPECT_THROW(gex_per_strike(1, {1, 2}, {1, 1}, {1}, {1, 1}, {1, 1}, 1), Panic);
    EXPECT_THROW(gex_per_strike(1, {1, 2}, {1, 1}, {1, 1}, {1}, {1, 1}, 1), Panic);
    EXPECT_THROW(gex_per_strike(1, {1, 2}, {1, 1}, {1, 1}, {1, 1}, {}, 1), Panic);
    EXPECT_TRUE(gex_per_strike(1, {}, {}, {}, {}, {}, 1).empty());
}

TEST(GexFlipStrike, FirstStrictSignChange) {
    EXPECT_EQ(gex_flip_strike({100, 110, 120}, {-5, 3, 4}), 100);
    EXPECT_EQ(gex_flip_strike({100, 110, 120}, {5, 6, -4}), 110);
    EXPECT_EQ(gex_flip_strike({100, 110, 120}, {-5, 0, 4}), std::nullopt);
    EXPECT_EQ(gex_flip_strike({100, 110, 120}, {-5, kNaN, 4}), std::nullopt);
    EXPECT_EQ(gex_flip_strike({100}, {-5, 3}), std::nullopt);
    EXPECT_EQ(gex_flip_strike({100, 110}, {-5}), std::nullopt);
    // The change lies at index 2, which the strikes do not have.
    EXPECT_THROW(gex_flip_strike({100, 110}, {1, 2, 3, -1}), Panic);
    // A change within the strikes is found before the missing index matters.
    EXPECT_EQ(gex_flip_strike({100, 110}, {1, -2, 3, -1}), 100);
}

TEST(MaxPain, WorkedChainsTiesAndLengthRule) {
    EXPECT_EQ(max_pain({}, {}, {}, 1), 0.0);
    EXPECT_EQ(max_pain({90, 100, 110}, {10, 0, 0}, {0, 0, 30}, 1), 110);  // pains 600, 400, 200
    EXPECT_EQ(max_pain({90, 100, 110}, {10, 0, 0}, {0, 0, 10}, 1), 90);   // 200 each: the first wins
    // Only the entries a candidate needs are read: a single strike needs none.
    EXPECT_EQ(max_pain({100}, {}, {}, 1), 100);
    // The candidate 110 lies above strike 0, which needs ce_oi[0].
    EXPECT_THROW(max_pain({90, 110}, {}, {5, 5}, 1), Panic);
    // The candidate 90 lies below strike 1, which needs pe_oi[1].
    EXPECT_THROW(max_pain({90, 110}, {5, 5}, {5}, 1), Panic);
}

TEST(OiZones, LargestFirstStableAndCut) {
    const OIZonesOutput z = oi_zones({100, 110, 120, 130}, {5, 9, 5, 1}, {7, 7, 8}, 2);
    EXPECT_EQ(z.resistance_strikes, (D{110, 100}));
    EXPECT_EQ(z.support_strikes, (D{120, 100}));
    const OIZonesOutput all = oi_zones({100, 110, 120}, {1, 2, 3}, {3, 2, 1}, 99);
    EXPECT_EQ(all.resistance_strikes, (D{120, 110, 100}));
    EXPECT_EQ(all.support_strikes, (D{100, 110, 120}));
    const OIZonesOutput none = oi_zones({100, 110}, {1, 2}, {3, 4}, 0);
    EXPECT_TRUE(none.resistance_strikes.empty() && none.support_strikes.empty());
    // Long chains of equal open interest keep their order (merge-sort sizes).
    D strikes;
    U oi;
    for (int i = 0; i < 50; ++i) {
        strikes.push_back(i);
        oi.push_back(i % 3 == 0 ? 7 : 2);
    }
    const OIZonesOutput big = oi_zones(strikes, oi, {}, 20);
    ASSERT_EQ(big.resistance_strikes.size(), 20u);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(big.resistance_strikes[i], 3 * i);
    EXPECT_EQ(big.resistance_strikes[17], 1);
    EXPECT_TRUE(big.support_strikes.empty());
}

TEST(SyntheticFutures, PerStrikeAndLengthRule) {
    EXPECT_EQ(synthetic_futures({100}, {7}, {2}), D{105});
    EXPECT_EQ(synthetic_futures({100, 110}, {7, 1, 9}, {2, 3, 9}), (D{105, 108}));
    EXPECT_THROW(synthetic_futures({100, 110}, {7}, {2, 3}), Panic);
    EXPECT_THROW(synthetic_futures({100, 110}, {7, 1}, {2}), Panic);
}

TEST(AtmStraddle, NearestStrikeTiesAndLengthRule) {
    const StraddleOutput a = atm_straddle(103, {100, 105}, {4, 2}, {1, 3});
    EXPECT_EQ(a.atm_strike, 105);
    EXPECT_EQ(a.straddle_premium, 5);
    EXPECT_EQ(a.implied_move_pct, 5.0 / 103 * 100);
    EXPECT_EQ(atm_straddle(102.5, {100, 105}, {4, 2}, {1, 3}).atm_strike, 100);
    EXPECT_EQ(atm_straddle(100, {kNaN, 101}, {0, 1}, {0, 1}).atm_strike, 101);
    const StraddleOutput empty = atm_straddle(100, {}, {}, {});
    EXPECT_EQ(empty.atm_strike, 0);
    EXPECT_EQ(empty.straddle_premium, 0);
    EXPECT_EQ(empty.implied_move_pct, 0);
    EXPECT_TRUE(std::isinf(atm_straddle(0, {100}, {1}, {1}).implied_move_pct));
    // Only the chosen index is needed.
    EXPECT_EQ(atm_straddle(99, {100, 200}, {1}, {2}).straddle_premium, 3);
    EXPECT_THROW(atm_straddle(199, {100, 200}, {1}, {2, 2}), Panic);
    EXPECT_THROW(atm_straddle(199, {100, 200}, {1, 1}, {2}), Panic);
}
