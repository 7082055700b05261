// Option-chain statistics. Every index into a vector the caller sized is
// checked; a short vector is a Panic before any result is built.
#include "lumenfold/core/options/chain_analytics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core::options {

namespace {

[[noreturn]] void out_of_bounds(std::size_t len, std::size_t index) {
    throw Panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                std::to_string(index));
}

template <class T>
T at(const std::vector<T>& v, std::size_t i) {
    if (i >= v.size()) out_of_bounds(v.size(), i);
    return v[i];
}

// Fails unless `v` has at least n elements, naming its first missing index.
template <class T>
void require(const std::vector<T>& v, std::size_t n) {
    if (v.size() < n) out_of_bounds(v.size(), v.size());
}

// The exact sum: 128 bits hold the sum of up to 2^64 values of 64 bits.
unsigned __int128 exact_sum(const std::vector<std::uint64_t>& v) {
    unsigned __int128 sum = 0;
    for (std::uint64_t x : v) sum += x;
    return sum;
}

// The strikes of the n largest open interests of one side.
std::vector<double> largest(const std::vector<double>& strikes, const std::vector<std::uint64_t>& oi,
                            std::uint64_t n) {
    struct Entry {
        double strike;
        std::uint64_t oi;
    };
    const std::size_t len = std::min(strikes.size(), oi.size());
    std::vector<Entry> entries = sized_vector<Entry>(len);
    for (std::size_t i = 0; i < len; ++i) entries[i] = {strikes[i], oi[i]};
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.oi > b.oi; });
    const std::size_t kept = n < len ? static_cast<std::size_t>(n) : len;
    std::vector<double> out = sized_vector<double>(kept);
    for (std::size_t i = 0; i < kept; ++i) out[i] = entries[i].strike;
    return out;
}

}  // namespace

double chain_pcr(const std::vector<std::uint64_t>& ce_oi, const std::vector<std::uint64_t>& pe_oi) {
    // Each sum is rounded to a double once, so a sum below 2^64 converts as
    // it always did and a larger one no longer wraps.
    const unsigned __int128 calls = exact_sum(ce_oi);
    if (calls == 0) return 0.0;
    return static_cast<double>(exact_sum(pe_oi)) / static_cast<double>(calls);
}

std::vector<double> strike_pcr(const std::vector<std::uint64_t>& ce_oi, const std::vector<std::uint64_t>& pe_oi) {
    const std::size_t n = std::min(ce_oi.size(), pe_oi.size());
    std::vector<double> out = sized_vector<double>(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = ce_oi[i] == 0 ? 0.0 : static_cast<double>(pe_oi[i]) / static_cast<double>(ce_oi[i]);
    return out;
}

std::vector<GexOutput> gex_per_strike(double spot, const std::vector<double>& strikes,
                                      const std::vector<double>& ce_gamma, const std::vector<double>& pe_gamma,
                                      const std::vector<std::uint64_t>& ce_oi,
                                      const std::vector<std::uint64_t>& pe_oi, std::uint32_t lot_size) {
    const std::size_t n = strikes.size();
    require(ce_gamma, n);
    require(pe_gamma, n);
    require(ce_oi, n);
    require(pe_oi, n);
    const double lot = static_cast<double>(lot_size);
    std::vector<GexOutput> out = sized_vector<GexOutput>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double ce = spot * (ce_gamma[i] * static_cast<double>(ce_oi[i])) * lot * 0.01;
        const double pe = spot * (pe_gamma[i] * static_cast<double>(pe_oi[i])) * lot * -0.01;
        out[i] = {ce, pe, ce + pe};
    }
    return out;
}

std::optional<double> gex_flip_strike(const std::vector<double>& strikes, const std::vector<double>& net_gex) {
    if (strikes.size() < 2 || net_gex.size() < 2) return std::nullopt;
    for (std::size_t i = 0; i + 1 < net_gex.size(); ++i) {
        const double a = net_gex[i], b = net_gex[i + 1];
        if ((a < 0 && b > 0) || (a > 0 && b < 0)) return at(strikes, i);
    }
    return std::nullopt;
}

double max_pain(const std::vector<double>& strikes, const std::vector<std::uint64_t>& ce_oi,
                const std::vector<std::uint64_t>& pe_oi, std::uint32_t lot_size) {
    if (strikes.empty()) return 0.0;
    const double lot = static_cast<double>(lot_size);
    double best = kMaxF64;
    double result = strikes[0];
    for (const double c : strikes) {
        double pain = 0;
        for (std::size_t j = 0; j < strikes.size(); ++j) {
            const double k = strikes[j];
            if (c > k)
                pain += (c - k) * static_cast<double>(at(ce_oi, j)) * lot;
            else if (c < k)
                pain += (k - c) * static_cast<double>(at(pe_oi, j)) * lot;
        }
        if (pain < best) {
            best = pain;
            result = c;
        }
    }
    return result;
}

OIZonesOutput oi_zones(const std::vector<double>& strikes, const std::vector<std::uint64_t>& ce_oi,
                       const std::vector<std::uint64_t>& pe_oi, std::uint64_t n) {
    return {largest(strikes, ce_oi, n), largest(strikes, pe_oi, n)};
}

std::vector<double> synthetic_futures(const std::vector<double>& strikes, const std::vector<double>& ce_ltp,
                                      const std::vector<double>& pe_ltp) {
    const std::size_t n = strikes.size();
    require(ce_ltp, n);
    require(pe_ltp, n);
    std::vector<double> out = sized_vector<double>(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = strikes[i] + (ce_ltp[i] - pe_ltp[i]);
    return out;
}

StraddleOutput atm_straddle(double spot, const std::vector<double>& strikes, const std::vector<double>& ce_ltp,
                            const std::vector<double>& pe_ltp) {
    if (strikes.empty()) return {0.0, 0.0, 0.0};
    double best = kMaxF64;
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const double distance = std::fabs(strikes[i] - spot);
        if (distance < best) {
            best = distance;
            chosen = i;
        }
    }
    const double premium = at(ce_ltp, chosen) + at(pe_ltp, chosen);
    return {strikes[chosen], premium, premium / spot * 100};
}

}  // namespace lumenfold::core::options
