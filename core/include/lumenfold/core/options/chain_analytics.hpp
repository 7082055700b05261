// Statistics over one expiry's option chain, given as parallel vectors indexed
// by strike: call (CE) and put (PE) open interest, gammas and last traded
// prices. Strikes are neither sorted nor checked. A vector that is shorter
// than a function needs fails the whole call with a Panic (nothing partial
// is returned); each function states which lengths it needs.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace lumenfold::core::options {

// Dealer gamma exposure at one strike.
struct GexOutput {
    double ce_gex;
    double pe_gex;  // negative for a positive put gamma
    double net_gex;
};

// Strikes of the largest open interest, largest first.
struct OIZonesOutput {
    std::vector<double> resistance_strikes;  // from call open interest
    std::vector<double> support_strikes;     // from put open interest
};

// The strike nearest to spot, the straddle premium there (call plus put last
// traded price) and the move it implies, premium/spot in percent.
struct StraddleOutput {
    double atm_strike;
    double straddle_premium;
    double implied_move_pct;
};

// Total put over total call open interest (each summed over its own length,
// wrapping), 0 when the call total is 0.
double chain_pcr(const std::vector<std::uint64_t>& ce_oi, const std::vector<std::uint64_t>& pe_oi);

// Put over call open interest per strike, over the shorter of the two; 0
// where the call open interest is 0.
std::vector<double> strike_pcr(const std::vector<std::uint64_t>& ce_oi, const std::vector<std::uint64_t>& pe_oi);

// One row per strike: spot * (gamma * oi) * lot * (+0.01 calls, -0.01 puts).
// Needs every other vector at least as long as `strikes`.
std::vector<GexOutput> gex_per_strike(double spot, const std::vector<double>& strikes,
                                      const std::vector<double>& ce_gamma, const std::vector<double>& pe_gamma,
                                      const std::vector<std::uint64_t>& ce_oi,
                                      const std::vector<std::uint64_t>& pe_oi, std::uint32_t lot_size);

// The strike at the first strict sign change of net_gex (between i and i+1,
// zero and NaN never count); absent with fewer than two strikes or values.
// Needs `strikes` to reach that index.
std::optional<double> gex_flip_strike(const std::vector<double>& strikes, const std::vector<double>& net_gex);

// The strike that, as the expiry price, minimises the total payout to option
// holders; the first such strike on ties, 0 for an empty chain. Needs
// ce_oi[j] wherever a candidate lies above strike j and pe_oi[j] wherever one
// lies below it.
double max_pain(const std::vector<double>& strikes, const std::vector<std::uint64_t>& ce_oi,
                const std::vector<std::uint64_t>& pe_oi, std::uint32_t lot_size);

// The strikes of the n largest call and put open interests; equal open
// interest keeps the input order. Each side is cut to the shorter of
// `strikes` and its open-interest vector.
OIZonesOutput oi_zones(const std::vector<double>& strikes, const std::vector<std::uint64_t>& ce_oi,
                       const std::vector<std::uint64_t>& pe_oi, std::uint64_t n);

// strikes[i] + (ce_ltp[i] - pe_ltp[i]) per strike (parity without
// discounting). Needs both price vectors at least as long as `strikes`.
std::vector<double> synthetic_futures(const std::vector<double>& strikes, const std::vector<double>& ce_ltp,
                                      const std::vector<double>& pe_ltp);

// The straddle at the strike nearest to spot (the first of equally near
// ones; NaN distances are skipped); all 0 for an empty chain. Needs both
// price vectors to reach the chosen index.
StraddleOutput atm_straddle(double spot, const std::vector<double>& strikes, const std::vector<double>& ce_ltp,
                            const std::vector<double>& pe_ltp);

}  // namespace lumenfold::core::options
