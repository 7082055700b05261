// The MAMA step and the message of its range check.
#include "lumenfold/core/cycles/mama.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "lumenfold/core/filters/homodyne.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

namespace {

// Shortest decimal that reads back to v, never in exponent form; "NaN",
// "inf" and "-inf" for the special values.
std::string decimal(double v) {
    if (std::isnan(v)) return "NaN";
    char buf[400];  // the longest fixed form of a double has about 330 characters
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

// Fails unless min <= max (a NaN fails too).
void check_range(double min, double max) {
    if (!(min <= max)) {
        throw Panic("min > max, or either was NaN. min = " + decimal(min) + ", max = " + decimal(max));
    }
}

}  // namespace

MamaOutput MAMA::next(double price) {
    const double s = smoother_.next(price);
    if (count_ < 6) ++count_;
    if (count_ < 6) {
        mama_ = price;
        fama_ = price;
        return {price, price};
    }
    const double prev = period_;
    const HomodyneMeasure::Output m = measure_.next(s, prev);
    // A NaN period (carried from a NaN price) skips the check and stays NaN.
    // Past the check the change limits are ordered (low <= high), so the
    // shared step applying the upper one first gives the same period.
    if (!std::isnan(prev)) check_range(prev * kMaxPeriodShrink, prev * kMaxPeriodGrowth);
    period_ = next_cycle_period(prev, m.raw_period);

    const double prev_phase = phase_;
    phase_ = m.i1 != 0.0 ? std::atan(m.q1 / m.i1) * kRadToDeg : 0.0;

    check_range(slowlimit_, fastlimit_);
    // A select, a maximum and a minimum rather than branches: the phase moves
    // unpredictably on market prices (a maximum for delta would be turned
    // back into a branch that skips the division by 1). A NaN passes every
    // limit.
    const double change = prev_phase - phase_;
    const double delta = select(change < 1.0, 1.0, change);
    const double alpha = std::min(std::max(fastlimit_ / delta, slowlimit_), fastlimit_);
    mama_ = alpha * price + (1.0 - alpha) * mama_;
    fama_ = (alpha / 2.0) * mama_ + (1.0 - alpha / 2.0) * fama_;
    return {mama_, fama_};
}

}  // namespace lumenfold::core
