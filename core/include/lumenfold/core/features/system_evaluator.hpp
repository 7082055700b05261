// System evaluator: fed one trade's profit or loss per call (in money or
// points), returns seven running statistics over the winners and losers so far:
// average_win_loss_ratio (mean win over mean loss, 0 without a loss),
// average_trade ((gross profit - gross loss)/(winners + losers)), profit_factor
// (gross profit over gross loss; without a loss 100 if there is profit, else
// 0), percent_winners (a fraction from 0 to 1), breakeven_profit_factor
// ((1 - winners)/winners with winners the fraction; 100 without a winner),
// weighted_average_trade (average_trade·average_win_loss_ratio) and
// theoretical_consecutive_losers. Results of 0 or NaN count as trades but
// neither as winners nor losers; until the first winner or loser every
// statistic is 0.
//
// The theoretical run of consecutive losers is ln 0.0027 / ln(1 - winners),
// the run length reached with probability 0.27 %: 0 once every trade won, and
// +inf (its limit) while no trade has won.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

struct SystemEvaluatorOutput {
    double average_win_loss_ratio;
    double average_trade;
    double profit_factor;
    double percent_winners;
    double breakeven_profit_factor;
    double weighted_average_trade;
    double theoretical_consecutive_losers;
};

class SystemEvaluator {
public:
    SystemEvaluatorOutput next(double p) noexcept {
        ++trades_;
        if (p > 0.0) {
            gross_profit_ = gross_profit_ + p;
            ++winners_;
        } else if (p < 0.0) {
            gross_loss_ = gross_loss_ + std::fabs(p);
            ++losers_;
        }
        const std::uint64_t n = winners_ + losers_;
        if (n == 0) return {};

        const double w = to_f64(winners_);
        const double l = to_f64(losers_);
        const double gp = gross_profit_;
        const double gl = gross_loss_;
        const double pw = w / to_f64(n);
        const double profit_factor = gl > 0.0 ? gp / gl : (gp > 0.0 ? 100.0 : 0.0);
        const double average_win = winners_ > 0 ? gp / w : 0.0;
        const double average_loss = losers_ > 0 ? gl / l : 0.0;
        const double ratio = average_loss > 0.0 ? average_win / average_loss : 0.0;
        const double average_trade = (gp - gl) / to_f64(n);
        const double breakeven = pw > 0.0 ? (1.0 - pw) / pw : 100.0;
        double consecutive_losers = 0.0;
        if (pw < 1.0) {
            // ln(1 - pw) is 0 only without winners; the count then grows without bound.
            const double log_losing = std::log(1.0 - pw);
            consecutive_losers =
                log_losing == 0.0 ? std::numeric_limits<double>::infinity() : kLnRareRun / log_losing;
        }
        return {ratio, average_trade, profit_factor, pw, breakeven, average_trade * ratio, consecutive_losers};
    }

    std::uint64_t trades() const noexcept { return trades_; }

private:
    static constexpr double kLnRareRun = -5.914503505971854;  // ln 0.0027

    double gross_profit_ = 0.0;  // sum of the positive results
    double gross_loss_ = 0.0;    // sum of the absolute negative results
    std::uint64_t winners_ = 0;
    std::uint64_t losers_ = 0;
    std::uint64_t trades_ = 0;  // every result fed
};

}  // namespace lumenfold::core
