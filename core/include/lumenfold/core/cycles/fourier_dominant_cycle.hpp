// Fourier dominant cycle: the price, high-passed at 40 bars and smoothed by a
// 1-2-3-3-2-1 filter, is transformed over its last `window_len` values at
// every integer period 8..50. Each period's power relative to the strongest
// becomes a decibel figure db (capped at 20); the output is the centre of
// gravity of the periods with db < 3, weighted by 3 - db, which keeps only
// the very top of the spectrum. 0 for the first window_len - 1 bars and
// whenever no power is positive (a flat or NaN window).
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumenfold/core/cycles/period_basis.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class FourierDominantCycle {
public:
    explicit FourierDominantCycle(std::uint64_t window_len)
        : window_(window_len), window_len_(window_len), basis_(kMinPeriod, kMaxPeriod, 0, window_len) {}

    double next(double x) {
        window_.push_front(smooth(x));
        if (window_.len() > window_len_) window_.pop_back();
        if (window_.len() < window_len_) return 0.0;

        double power[kPeriods] = {};
        basis_.each([this](std::uint64_t i) { return window_[i]; },
                    [&](std::uint64_t p, Projection c) { power[p - kMinPeriod] = c.re * c.re + c.im * c.im; });
        return centre(power);
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the smoothed values bar by bar into a buffer that holds
    // each chunk's windows, every period's projections of the bars in SIMD
    // lanes (the weighted means over a weight sum of 1, which divide exactly),
    // each period's powers as a row over the chunk's bars, so that the
    // maxima and the periods above the cut are found across bars, then the
    // centre of gravity bar by bar. Windows above 1024 values (and empty
    // ones) are stepped.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t w = static_cast<std::size_t>(window_len_);
        if (w == 0 || window_len_ > 1024) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(x[t]));
            return;
        }
        constexpr std::size_t kChunk = 512;
        std::vector<double> cosines(kPeriods * w), sines(kPeriods * w);
        for (std::size_t j = 0; j < kPeriods; ++j) {
            for (std::size_t i = 0; i < w; ++i) {
                const double t = PeriodBasis::angle(kMinPeriod + j, i);
                cosines[j * w + i] = std::cos(t);
                sines[j * w + i] = std::sin(t);
            }
        }
        const double top_db = std::fmin(-10.0 * std::log10(kTopRatio), 20.0);
        // clean[i] is the smoothed value of bar first - (w - 1) + i.
        std::vector<double> clean(kChunk + w - 1 + lanes::kPad);
        std::vector<double> re(kChunk + lanes::kPad), im(kChunk + lanes::kPad), results(kChunk + lanes::kPad);
        std::vector<double> powers(kPeriods * kChunk);  // period by period, a row of the chunk's bars
        std::vector<double> tops(kChunk), cuts(kChunk);
        std::vector<std::uint64_t> near(kChunk);  // bit j: the power at period 8 + j is above the cut
        const std::size_t warm = std::min(w - 1, n);
        for (std::size_t t = 0; t < warm; ++t) {
            clean[t] = smooth(x[t]);
            out.put(t, 0.0);
        }
        for (std::size_t first = warm; first < n; first += kChunk) {
            const std::size_t count = std::min(kChunk, n - first);
            for (std::size_t k = 0; k < count; ++k) clean[w - 1 + k] = smooth(x[first + k]);
            std::fill_n(tops.data(), count, 0.0);
            for (std::size_t j = 0; j < kPeriods; ++j) {
                lanes::weighted_means(clean.data(), count, w, cosines.data() + j * w, true, 1.0, re.data());
                lanes::weighted_means(clean.data(), count, w, sines.data() + j * w, true, 1.0, im.data());
                double* row = powers.data() + j * kChunk;
                for (std::size_t k = 0; k < count; ++k) {
                    const double pw = re[k] * re[k] + im[k] * im[k];
                    row[k] = pw;
                    tops[k] = pw > tops[k] ? pw : tops[k];
                }
            }
            for (std::size_t k = 0; k < count; ++k) {
                cuts[k] = cut_below(tops[k]);
                near[k] = 0;
            }
            for (std::size_t j = 0; j < kPeriods; ++j) {
                const double* row = powers.data() + j * kChunk;
                const std::uint64_t bit = std::uint64_t{1} << j;
                for (std::size_t k = 0; k < count; ++k) near[k] |= row[k] > cuts[k] ? bit : 0;
            }
            for (std::size_t k = 0; k < count; ++k) {
                results[k] = weigh(tops[k], near[k], top_db, [&](std::size_t j) { return powers[j * kChunk + k]; });
            }
            out.store(first, count, results.data());
            std::memmove(clean.data(), clean.data() + count, (w - 1) * sizeof(double));
        }
    }

private:
    static constexpr std::uint64_t kMinPeriod = 8;
    static constexpr std::uint64_t kMaxPeriod = 50;
    static constexpr std::size_t kPeriods = kMaxPeriod - kMinPeriod + 1;

    // The high-passed price of this bar, smoothed over the six newest.
    double smooth(double x) noexcept {
        const double h = high_pass_.next(x);
        const double clean = (h_[4] + ((((h + 2.0 * h_[0]) + 3.0 * h_[1]) + 3.0 * h_[2]) + 2.0 * h_[3])) / 12.0;
        for (int i = 4; i > 0; --i) h_[i] = h_[i - 1];
        h_[0] = h;
        return clean;
    }

    // 0.01 / ((pw * -0.99) / max + 1.0) at pw = max whenever the quotient
    // rounds to -0.99: the db of that one value, computed once per series,
    // serves the strongest period of nearly every bar.
    static constexpr double kTopRatio = 0.01 / (-0.99 + 1.0);

    // Only a power close to the maximum can weigh: at most 0.9 of it gives
    // db above 10 and, while the maximum is far from the subnormals (so that
    // the ratio rounds as a ratio), at most 0.989 of it gives db above 3.19.
    // Above 0 when the maximum is: a power above it is above 0 too (and never
    // NaN).
    static double cut_below(double max) noexcept { return max >= 0x1p-1000 ? 0.989 * max : 0.9 * max; }

    // The centre of gravity of the top of the spectrum, power[j] the power at
    // the period 8 + j (up to 50). Powers are never -0, so the maximum of
    // those that are numbers is one value in any order: four running maxima,
    // combined at the end.
    static double centre(const double* power) noexcept {
        static const double top_db = std::fmin(-10.0 * std::log10(kTopRatio), 20.0);
        double top[4] = {0.0, 0.0, 0.0, 0.0};
        for (std::size_t j = 0; j < kPeriods; ++j) top[j % 4] = power[j] > top[j % 4] ? power[j] : top[j % 4];
        const double max = std::max(std::max(top[0], top[1]), std::max(top[2], top[3]));
        const double cut = cut_below(max);
        std::uint64_t near = 0;
        for (std::size_t j = 0; j < kPeriods; ++j) near |= static_cast<std::uint64_t>(power[j] > cut) << j;
        return weigh(max, near, top_db, [power](std::size_t j) { return power[j]; });
    }

    // The centre of gravity from the maximum `max` of the powers, the periods
    // above its cut (bit j of `near` for the period 8 + j) and their powers
    // power_at(j), in the order of the periods. Only those take a logarithm
    // but the strongest, whose ratio is kTopRatio (with the db top_db) on
    // nearly every bar. A weight is added as 0 when its db is not below 3,
    // which leaves the sums (never negative) as they are.
    template <class PowerAt>
    static double weigh(double max, std::uint64_t near, double top_db, PowerAt power_at) noexcept {
        if (!(max > 0.0)) return 0.0;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t m = near; m != 0; m &= m - 1) {
            const std::size_t j = static_cast<std::size_t>(std::countr_zero(m));
            const double r = 0.01 / ((power_at(j) * -0.99) / max + 1.0);
            const double db = r == kTopRatio ? top_db : std::fmin(-10.0 * std::log10(r), 20.0);
            const bool weighs = db < 3.0;
            num = num + select(weighs, (3.0 - db) * to_f64(kMinPeriod + j), 0.0);
            den = den + select(weighs, 3.0 - db, 0.0);
        }
        return den == 0.0 ? 0.0 : num / den;
    }

    RingBuffer window_;  // smoothed values, newest first
    std::uint64_t window_len_;
    PeriodBasis basis_;  // terms n = 0..window_len-1, n bars back
    HighPass high_pass_{40};
    double h_[5] = {};  // the high-pass outputs of the five previous bars, newest first
};

}  // namespace lumenfold::core
