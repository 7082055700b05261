// Exchange tables for options on Indian stock indices: the contract lot size
// of five index options, the risk-free rate to price them with, and a
// strike's moneyness label seen from the call side.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lumenfold::core::options {

// Index units per contract of NIFTY (50), BANKNIFTY (15), FINNIFTY (40),
// MIDCPNIFTY (75) and SENSEX (10). The symbol is upper-cased by the full
// Unicode rules first (so "nifty" or "ﬁnnifty" match); nothing is trimmed.
// Text that is not valid UTF-8, and any other symbol, gives absent.
std::optional<std::uint32_t> nse_lot_size(std::string_view symbol) noexcept;

// 6.5 % a year, as a fraction.
inline double nse_risk_free_rate() noexcept { return 0.065; }

// "ITM" below spot * 0.998, "OTM" above spot * 1.002, "ATM" otherwise
// (also when either side is NaN).
inline std::string_view moneyness(double spot, double strike) noexcept {
    if (strike < spot * 0.998) return "ITM";
    if (strike > spot * 1.002) return "OTM";
    return "ATM";
}

}  // namespace lumenfold::core::options
