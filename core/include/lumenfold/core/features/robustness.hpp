// Robustness evaluator: collects the net profits of test runs (add_test_result)
// and scores the median run against the best one (calculate_score):
// sorted[n/2] / sorted[0] over the results sorted in descending order (the
// lower middle value for an even count); 0 without results or when the best is
// not positive.
//
// The sort compares with the plain less-than, which holds no order for NaN:
// it never fails and stays stable. Fewer than 21 values are sorted by
// insertion (each value moves towards the front past every strictly smaller
// one), more by a stable merge sort taking the later value only when it is
// strictly greater.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"

namespace lumenfold::core {

class RobustnessEvaluator {
public:
    void add_test_result(double net_profit) {
        allocating([&] { results_.push_back(net_profit); });
    }

    double calculate_score() const {
        if (results_.empty()) return 0.0;
        std::vector<double> sorted = allocating([&] { return results_; });
        sort_descending(sorted);
        const double best = sorted[0];
        if (best <= 0.0) return 0.0;
        return sorted[sorted.size() / 2] / best;
    }

    const std::vector<double>& results() const noexcept { return results_; }

    static void sort_descending(std::vector<double>& v) {
        if (v.size() < 21) {
            insertion_sort(v.data(), v.size());
            return;
        }
        std::vector<double> scratch = sized_vector<double>(v.size());
        double* from = v.data();
        double* to = scratch.data();
        const std::size_t n = v.size();
        for (std::size_t width = 1; width < n; width *= 2) {
            for (std::size_t lo = 0; lo < n; lo += 2 * width) {
                const std::size_t mid = lo + width < n ? lo + width : n;
                const std::size_t hi = mid + width < n ? mid + width : n;
                std::size_t i = lo, j = mid, k = lo;
                while (i < mid && j < hi) to[k++] = from[i] < from[j] ? from[j++] : from[i++];
                while (i < mid) to[k++] = from[i++];
                while (j < hi) to[k++] = from[j++];
            }
            std::swap(from, to);
        }
        if (from != v.data()) v.assign(from, from + n);
    }

private:
    static void insertion_sort(double* v, std::size_t n) noexcept {
        for (std::size_t i = 1; i < n; ++i) {
            const double x = v[i];
            std::size_t j = i;
            for (; j > 0 && v[j - 1] < x; --j) v[j] = v[j - 1];
            v[j] = x;
        }
    }

    std::vector<double> results_;  // in the order added
};

}  // namespace lumenfold::core
