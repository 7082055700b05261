// Hidden-Markov regime filter: an online Viterbi recursion over Gaussian
// emissions. Each bar it reports the state in which the best state path so far
// ends; no path is stored or back-tracked and the log scores are never
// normalised. The tables are used as given (probabilities, logarithms taken at
// every step); tables of unequal length fail the step with an index panic.
//
// Where an emission density underflows to exactly 0, its logarithm is taken
// analytically instead of as ln 0 = -inf: otherwise a single far outlier would
// leave every score at -inf and the model stuck in state 0 for good.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "lumenfold/core/features/regime.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

class HMM {
public:
    using Matrix = std::vector<std::vector<double>>;

    HMM(Matrix trans, std::vector<double> means, std::vector<double> stds, std::vector<double> init)
        : trans_(std::move(trans)),
          means_(std::move(means)),
          stds_(std::move(stds)),
          init_(std::move(init)),
          delta_(trans_.size(), 0.0),
          scores_(trans_.size(), 0.0) {}

    static HMM bull_bear() {
        return HMM({{0.95, 0.05}, {0.10, 0.90}}, {0.001, -0.002}, {0.01, 0.02}, {0.5, 0.5});
    }

    MarketRegime next(double x) {
        constexpr double kNegInf = -std::numeric_limits<double>::infinity();
        const std::size_t n = delta_.size();
        std::size_t state = 0;
        double best_score = kNegInf;
        for (std::size_t j = 0; j < n; ++j) {
            const Emission e = emission(j, x);
            double score;
            if (!started_) {
                const double init = at(init_, j);
                score = e.density == 0.0 ? std::log(init) + e.log_density : std::log(init * e.density);
            } else {
                // Strictly greater only: ties keep the lower state, NaN never wins.
                double best = kNegInf;
                for (std::size_t i = 0; i < n; ++i) {
                    const double candidate = delta_[i] + std::log(at(at(trans_, i), j));
                    if (candidate > best) best = candidate;
                }
                score = best + e.log_density;
            }
            if (score > best_score) {
                best_score = score;
                state = j;
            }
            scores_[j] = score;
        }
        started_ = true;
        delta_.swap(scores_);
        return MarketRegime::from_state(state);
    }

    // Per-state log scores after the last step (zeros before the first).
    const std::vector<double>& scores() const noexcept { return delta_; }

private:
    struct Emission {
        double density;
        double log_density;
    };

    Emission emission(std::size_t j, double x) const {
        const double sd = at(stds_, j);
        const double v = sd * sd;
        const double d = x - at(means_, j);
        const double exponent = -(d * d) / (v + v);
        const double density = std::exp(exponent) / std::sqrt(v * kTwoPi);
        const double log_density = density == 0.0 ? exponent - 0.5 * std::log(v * kTwoPi) : std::log(density);
        return {density, log_density};
    }

    template <class T>
    static const T& at(const std::vector<T>& v, std::size_t i) {
        if (i >= v.size()) throw Panic("index out of range");
        return v[i];
    }

    Matrix trans_;              // trans_[i][j]: probability of moving from state i to j
    std::vector<double> means_;  // Gaussian emission of each state
    std::vector<double> stds_;
    std::vector<double> init_;   // state probabilities on the first bar
    std::vector<double> delta_;  // log scores after the last step, one per row of trans_
    std::vector<double> scores_;  // the step's new scores, swapped into delta_
    bool started_ = false;
};

// BullBearHMM: the two-state preset (state 0 Bull: mean 0.001, sd 0.01; state 1
// Bear: mean -0.002, sd 0.02; each state kept with probability 0.95 and 0.90,
// both 0.5 on the first bar). Its input is one return per bar, a fraction such
// as close/previous close - 1 (0.001 is +0.1 %), not a price, even though the
// parameter is named `price`. It answers the regime code: 1 Bull, 2 Bear, and 0
// for a non-finite input, which is skipped. No warm-up: the first bar is
// already classified. regime_to_features numbers the regimes from 0 (Bull 0,
// Bear 1): pass it code - 1, and 3 (Undefined) for code 0.
class BullBearHMM {
public:
    BullBearHMM() : model_(HMM::bull_bear()) {}

    std::int32_t next(double price) {
        if (!std::isfinite(price)) return 0;
        return regime_code(model_.next(price));
    }

    const HMM& model() const noexcept { return model_; }

private:
    HMM model_;
};

}  // namespace lumenfold::core
