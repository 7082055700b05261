// Cycle and trend analytics: the input minus its simple moving average for
// every length from min_length to max_length, in ascending order of length
// (none when max_length < min_length). Bar 1 gives 0 for every length; each
// average covers a partial window until it has seen its length. Length 0
// gives NaN (0/0), and a NaN input stays in each running sum for good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class CycleTrendAnalytics {
public:
    CycleTrendAnalytics(std::uint64_t min_length, std::uint64_t max_length) {
        if (max_length < min_length) return;
        const std::uint64_t extra = max_length - min_length;
        // extra + 1 averages: a count that cannot be had fails before the + 1 could wrap.
        reserve(averages_, element_count(extra, sizeof(SMA)) + 1);
        for (std::uint64_t len = min_length;; ++len) {
            averages_.emplace_back(len);
            if (len == max_length) break;
        }
    }

    std::vector<double> next(double x) {
        std::vector<double> out;
        next_into(x, out);
        return out;
    }

    // The same step, writing the entries over `out` (whose storage is reused).
    void next_into(double x, std::vector<double>& out) {
        out.clear();
        reserve(out, averages_.size());
        for (SMA& sma : averages_) out.push_back(x - sma.next(x));
    }

    // Number of lengths in the band.
    std::uint64_t size() const noexcept { return averages_.size(); }

private:
    std::vector<SMA> averages_;
};

// Entry `index` of a band as a double, or the failure to read it.
class BandEntry {
public:
    BandEntry(const std::vector<double>& band, std::uint64_t index) noexcept
        : value_(index < band.size() ? band[index] : 0.0), len_(band.size()), index_(index) {}

    operator double() const {
        if (index_ >= len_) {
            throw Panic("index out of bounds: the len is " + std::to_string(len_) + " but the index is " +
                        std::to_string(index_));
        }
        return value_;
    }

private:
    double value_;
    std::uint64_t len_;
    std::uint64_t index_;
};

struct CycleTrendOutput {
    BandEntry cycle;
    BandEntry trend;
};

// The pair as read: what the batch form writes.
struct CycleTrendValues {
    double cycle;
    double trend;
};

// The pair of the first two entries as (cycle, trend): the deviations from the
// min_length and min_length + 1 averages. A band shorter than two entries
// cannot fill the pair; the bounds failure is raised when the missing entry is
// read, after the step has left the indicator's state consistent, so a caller
// that serialises steps behind a lock is not left with a poisoned lock and
// every later read fails the same way.
class CycleTrendPair {
public:
    CycleTrendPair(std::uint64_t min_length, std::uint64_t max_length)
        : band_(min_length, max_length), min_length_(min_length) {}

    CycleTrendOutput next(double x) {
        band_.next_into(x, entries_);
        return {BandEntry(entries_, 0), BandEntry(entries_, 1)};
    }

    // Batch form: only the two reported averages are run, their windows read
    // straight from the series (the band's other entries are never read). A
    // band too short for the pair fails on the first bar, as `next` does.
    using BatchOutput = CycleTrendValues;
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        if (band_.size() < 2) {
            if (n != 0) {
                const CycleTrendOutput o = next(x[0]);
                out.put(0, CycleTrendValues{o.cycle, o.trend});
            }
            return;
        }
        // The band has a length above min_length, so min_length + 1 does not wrap.
        const std::uint64_t a = min_length_, b = min_length_ + 1;
        const double len_a = to_f64(a), len_b = to_f64(b);
        double sum_a = 0.0, sum_b = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double v = x[i];
            sum_a = v + sum_a;
            if (i >= a) sum_a = sum_a - x[i - a];
            sum_b = v + sum_b;
            if (i >= b) sum_b = sum_b - x[i - b];
            out.put(i, CycleTrendValues{v - sum_a / (i < a ? to_f64(i + 1) : len_a),
                                        v - sum_b / (i < b ? to_f64(i + 1) : len_b)});
        }
    }

private:
    CycleTrendAnalytics band_;
    std::vector<double> entries_;  // this bar's band
    std::uint64_t min_length_;
};

}  // namespace lumenfold::core
