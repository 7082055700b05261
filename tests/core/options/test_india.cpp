// Lot sizes (case-insensitive by the full Unicode rules, no trimming, invalid
// UTF-8 never matching), the risk-free rate and the moneyness labels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "lumenfold/core/options/india.hpp"

using namespace lumenfold::core::options;
using namespace std::string_view_literals;

TEST(NseLotSize, TableAndCase) {
    EXPECT_EQ(nse_lot_size("NIFTY"), 50u);
    EXPECT_EQ(nse_lot_size("BANKNIFTY"), 15u);
    EXPECT_EQ(nse_lot_size("FINNIFTY"), 40u);
    EXPECT_EQ(nse_lot_size("MIDCPNIFTY"), 75u);
    EXPECT_EQ(nse_lot_size("SENSEX"), 10u);
    EXPECT_EQ(nse_lot_size("nifty"), 50u);
    EXPECT_EQ(nse_lot_size("BaNkNiFtY"), 15u);
}

TEST(NseLotSize, NoTrimmingNoPrefixNoEmpty) {
    EXPECT_EQ(nse_lot_size(" NIFTY"), std::nullopt);
    EXPECT_EQ(nse_lot_size("NIFTY "), std::nullopt);
    EXPECT_EQ(nse_lot_size("NIFTY50"), std::nullopt);
    EXPECT_EQ(nse_lot_size("NIFT"), std::nullopt);
    EXPECT_EQ(nse_lot_size(""), std::nullopt);
    EXPECT_EQ(nse_lot_size("NIF\0TY"sv), std::nullopt);
    EXPECT_EQ(nse_lot_size("MIDCPNIFTYX"), std::nullopt);
}

TEST(NseLotSize, CharactersWhoseUpperCaseIsAscii) {
    EXPECT_EQ(nse_lot_size("n\u0131fty"), 50u);           // dotless i
    EXPECT_EQ(nse_lot_size("\u017Fensex"), 10u);          // long s
    EXPECT_EQ(nse_lot_size("\uFB01nnifty"), 40u);         // the ligature fi
    EXPECT_EQ(nse_lot_size("midcpn\u0131fty"), 75u);
    EXPECT_EQ(nse_lot_size("N\u0130FTY"), std::nullopt);  // dotted capital I stays itself
    EXPECT_EQ(nse_lot_size("\uFF2EIFTY"), std::nullopt);  // fullwidth N is not ASCII
    EXPECT_EQ(nse_lot_size("NIFTY\u0301"), std::nullopt);  // a combining mark
}

TEST(NseLotSize, InvalidUtf8NeverMatches) {
    EXPECT_EQ(nse_lot_size("NIFTY\xFF"sv), std::nullopt);
    EXPECT_EQ(nse_lot_size("\xC4"sv), std::nullopt);                // truncated sequence
    EXPECT_EQ(nse_lot_size("N\xC4\x31"sv), std::nullopt);            // bad continuation
    EXPECT_EQ(nse_lot_size("\xC1\xAEIFTY"sv), std::nullopt);         // overlong 'n'
    EXPECT_EQ(nse_lot_size("N\xED\xA0\x80IFTY"sv), std::nullopt);    // surrogate
    EXPECT_EQ(nse_lot_size("\xF4\x90\x80\x80"sv), std::nullopt);     // above U+10FFFF
    EXPECT_EQ(nse_lot_size("\xEF\xAC"sv), std::nullopt);             // ligature cut short
    // Every truncation of a valid symbol with a multi-byte character.
    const std::string fi = "\uFB01nnifty";
    for (std::size_t n = 0; n < fi.size(); ++n) EXPECT_EQ(nse_lot_size(std::string_view(fi.data(), n)), std::nullopt);
}

TEST(NseRiskFreeRate, Constant) { EXPECT_EQ(nse_risk_free_rate(), 0.065); }

TEST(Moneyness, BandAroundSpot) {
    EXPECT_EQ(moneyness(100, 99.8), "ATM");
    EXPECT_EQ(moneyness(100, 99.79), "ITM");
    EXPECT_EQ(moneyness(100, 100.2), "ATM");
    EXPECT_EQ(moneyness(100, 100.21), "OTM");
    EXPECT_EQ(moneyness(std::numeric_limits<double>::quiet_NaN(), 100), "ATM");
    EXPECT_EQ(moneyness(100, std::numeric_limits<double>::quiet_NaN()), "ATM");
}
