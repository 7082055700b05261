// Steps of the Hilbert-transform engines and their five indicators. Every
// product and sum is evaluated in the order written; nothing is fused.
#include "lumenfold/core/classic/hilbert_ta.hpp"

#include <cmath>
#include <limits>

#include "lumenfold/core/filters/hilbert_transform.hpp"
#include "lumenfold/core/filters/homodyne.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

namespace {

constexpr std::uint64_t kPhaseSlots = 50;
// The phase advancing by more than 0.67 and less than 1.5 of a cycle's share
// per bar (360/P degrees) marks a cycle: 0.67·360 and 1.5·360 in double
// precision.
constexpr double kCycleStepLow = 241.20000000000002;
constexpr double kCycleStepHigh = 540.0;
// A smoothed price this far from the trendline, as a fraction of it, is a trend.
constexpr double kTrendGap = 0.015;

template <class C>
auto& checked(C& c, std::uint64_t i) {
    if (i >= c.size()) throw Panic("index out of bounds");
    return c[i];
}

// Steps `e` through the prices x[0 .. count), calling emit(i, h) for each
// with h the stage outputs of a bar the indicators report, else null. The
// period, the one value each bar needs from the bar before as soon as it
// starts, stays in a local between bars instead of making a round trip
// through memory.
template <class Emit>
void run_series(HtEngine32& e, const double* x, std::size_t count, Emit emit) {
    double period = e.hilbert.period;
    for (std::size_t i = 0; i < count; ++i) {
        e.prices.push_back(x[i]);
        const std::optional<double> s = e.step_wma();
        if (!s) {
            emit(i, nullptr);
            continue;
        }
        const HilbertStepOutput h = e.hilbert.step_hilbert(e.prices.size() - 1, *s, hilbert_gain(period));
        period = e.hilbert.next_period(period);
        emit(i, e.reports() ? &h : nullptr);
    }
    e.hilbert.period = period;
}

}  // namespace

double HilbertStage::step(bool odd_bar, std::uint64_t idx, double input, double adj) {
    auto& side = odd_bar ? odd : even;
    double& prev_side = odd_bar ? prev_odd : prev_even;
    double& prev_input = odd_bar ? prev_input_odd : prev_input_even;
    const double t1 = kHilbertOuterTap * input;
    double& slot = checked(side, idx);
    const double old = slot;
    slot = t1;
    const double prev = prev_side;
    prev_side = kHilbertInnerTap * prev_input;
    prev_input = input;
    return adj * (((t1 - old) - prev) + prev_side);
}

HilbertStepOutput HilbertPeriodState::step_hilbert(std::uint64_t t, double smoothed, double adj) {
    const bool odd_bar = (t & 1u) != 0;
    // The detrender of bar t - 3, handed over by this parity's chain.
    const double i1 = odd_bar ? i1_odd_prev3 : i1_even_prev3;

    const double det = detrender.step(odd_bar, hilbert_idx, smoothed, adj);
    const double q1v = q1.step(odd_bar, hilbert_idx, det, adj);
    const double j_i = ji.step(odd_bar, hilbert_idx, i1, adj);
    const double j_q = jq.step(odd_bar, hilbert_idx, q1v, adj);

    if (!odd_bar) {
        hilbert_idx += 1;
        if (hilbert_idx >= 3) hilbert_idx = 0;
    }

    // The detrender reaches the other parity's chain, to be read three bars on.
    if (odd_bar) {
        i1_even_prev3 = i1_even_prev2;
        i1_even_prev2 = det;
    } else {
        i1_odd_prev3 = i1_odd_prev2;
        i1_odd_prev2 = det;
    }

    homodyne.next(i1, q1v, j_i, j_q);
    return {i1, det, q1v, homodyne.i2, homodyne.q2};
}

double HilbertPeriodState::next_period(double prev) {
    const double p = next_cycle_period(prev, homodyne.period(prev));
    smooth_period = smooth_cycle_period(smooth_period, p);
    return p;
}

HilbertStepOutput HilbertPeriodState::step(std::uint64_t t, double smoothed) {
    const HilbertStepOutput out = step_hilbert(t, smoothed, hilbert_gain(period));
    update_period();
    return out;
}

std::optional<double> step_price_wma(const PriceWindow& prices, std::optional<PriceWma>& wma, std::uint8_t& warmup) {
    if (prices.size() < 3) return std::nullopt;
    if (!wma) {
        const double p0 = prices[0];
        const double p1 = prices[1];
        const double p2 = prices[2];
        PriceWma w;
        w.sub = (p0 + p1) + p2;
        w.sum = (p0 + (p1 + p1)) + p2 * 3.0;
        wma = w;
        return std::nullopt;
    }
    PriceWma& w = *wma;
    const double x = prices.back();
    w.sub = (x + w.sub) - w.trailing_value;
    w.sum = x * 4.0 + w.sum;
    const double smoothed = w.sum * 0.1;
    // The price three bars before x, which leaves the sums at the next step.
    w.trailing_value = prices[w.trailing_idx];
    w.trailing_idx += 1;
    w.sum = w.sum - w.sub;
    if (warmup > 0) {
        warmup -= 1;
        return std::nullopt;
    }
    return smoothed;
}

bool HtEngine63::step_core() {
    const std::optional<double> s = step_price_wma(prices, wma, warmup);
    if (!s) return false;
    const std::uint64_t t = prices.size() - 1;

    smoothed = *s;
    checked(smooth_prices, smooth_idx) = *s;

    hilbert.step(t, *s);
    const double p = hilbert.smooth_period;

    // Dominant-cycle phase from one cycle of smoothed prices, newest first.
    const double old = dc_phase;
    prev_dc_phase = old;
    const std::int32_t n = saturating_i32(p + 0.5);
    double phase;
    if (n >= 1) {
        const double nf = static_cast<double>(n);
        double real = 0.0;
        double imag = 0.0;
        std::uint64_t j = smooth_idx;
        const bool tabled = n <= kTrigLengths;
        const std::size_t base = tabled ? static_cast<std::size_t>(n) * static_cast<std::size_t>(n - 1) / 2 : 0;
        if (tabled && (trig_ready >> n & 1) == 0) {
            if (trig_sin.empty()) {
                trig_sin.resize(kTrigLengths * (kTrigLengths + 1) / 2);
                trig_cos.resize(trig_sin.size());
            }
            for (std::int32_t i = 0; i < n; ++i) {
                const double angle = (static_cast<double>(i) * kTwoPi) / nf;
                trig_sin[base + static_cast<std::size_t>(i)] = std::sin(angle);
                trig_cos[base + static_cast<std::size_t>(i)] = std::cos(angle);
            }
            trig_ready |= std::uint64_t{1} << n;
        }
        for (std::int32_t i = 0; i < n; ++i) {
            const double v = checked(smooth_prices, j);
            if (tabled) {
                real = real + trig_sin[base + static_cast<std::size_t>(i)] * v;
                imag = imag + trig_cos[base + static_cast<std::size_t>(i)] * v;
            } else {
                const double angle = (static_cast<double>(i) * kTwoPi) / nf;
                real = real + std::sin(angle) * v;
                imag = imag + std::cos(angle) * v;
            }
            j = j == 0 ? kPhaseSlots - 1 : j - 1;
        }
        if (imag != 0.0 && !std::isnan(imag)) {
            phase = std::atan(real / imag) * kRadToDeg + 90.0;
            phase = 360.0 / p + phase;
            if (imag < 0.0) phase = phase + 180.0;
        } else {
            double base = old;
            if (std::fabs(imag) <= 0.01) {
                if (real < 0.0) {
                    base = old + (-90.0);
                } else if (real > 0.0) {
                    base = old + 90.0;
                }
            }
            phase = 360.0 / p + (base + 90.0);
        }
    } else {
        phase = 360.0 / p + (old + 90.0);
    }
    if (phase > 315.0) phase = phase + (-360.0);
    dc_phase = phase;

    prev_sine = sine;
    prev_lead_sine = lead_sine;
    sine = std::sin(phase * kDegToRad);
    lead_sine = std::sin((phase + 45.0) * kDegToRad);

    smooth_idx += 1;
    if (smooth_idx > kPhaseSlots - 1) smooth_idx = 0;

    // Instantaneous trendline: mean price over the dominant cycle, then a
    // four-bar weighting of the last four means. The period is at most 50, so
    // n is too and the window holds every price this reads.
    double m = 0.0;
    if (n >= 1) {
        const std::uint64_t held = prices.size();
        const std::uint64_t count = static_cast<std::uint64_t>(n) < held ? static_cast<std::uint64_t>(n) : held;
        // Starts from the newest price, not from 0 as InstantaneousTrendline does: all -0 sums to -0.
        double total = prices[t];
        for (std::uint64_t k = 1; k < count; ++k) total = total + prices[t - k];
        m = total / static_cast<double>(n);
    }
    trendline = weighted_mean4(m, itrend1, itrend2, itrend3);
    itrend3 = itrend2;
    itrend2 = itrend1;
    itrend1 = m;

    // Trend or cycle.
    const bool crossing = (prev_sine <= prev_lead_sine && sine > lead_sine) ||
                          (prev_sine >= prev_lead_sine && sine < lead_sine);
    bool flag;
    if (crossing) {
        days_in_trend = 1;
        flag = false;
    } else {
        // Saturates instead of overflowing after 2^31 bars without a crossing.
        if (days_in_trend < std::numeric_limits<std::int32_t>::max()) days_in_trend += 1;
        flag = true;
    }
    const double d = dc_phase - old;
    if ((d > kCycleStepLow / p && p != 0.0 && d < kCycleStepHigh / p) || p * 0.5 > static_cast<double>(days_in_trend)) {
        flag = false;
    }
    if (trendline != 0.0 && std::fabs((smoothed - trendline) / trendline) >= kTrendGap) flag = true;
    trend = flag ? 1.0 : 0.0;
    return true;
}

// Flattened: the whole bar is one serial chain through the period, so the
// calls between its stages would lengthen it.
[[gnu::flatten]] std::optional<HilbertStepOutput> HtEngine32::step(double x) {
    prices.push_back(x);
    const std::optional<double> s = step_wma();
    if (!s) return std::nullopt;
    return hilbert.step(prices.size() - 1, *s);
}

double HT_DCPERIOD::next(double input) {
    return engine_.step(input) && engine_.reports() ? engine_.hilbert.smooth_period : kNaN;
}

[[gnu::flatten]] void HT_DCPERIOD::run(const double* x, std::size_t count, double* out) {
    run_series(engine_, x, count, [&](std::size_t i, const HilbertStepOutput* h) {
        out[i] = h ? engine_.hilbert.smooth_period : kNaN;
    });
}

PhasorOutput HT_PHASOR::next(double input) {
    const std::optional<HilbertStepOutput> h = engine_.step(input);
    if (!h || !engine_.reports()) return {kNaN, kNaN};
    return {h->in_phase, h->q1};
}

[[gnu::flatten]] void HT_PHASOR::run(const double* x, std::size_t count, PhasorOutput* out) {
    run_series(engine_, x, count, [&](std::size_t i, const HilbertStepOutput* h) {
        out[i] = h ? PhasorOutput{h->in_phase, h->q1} : PhasorOutput{kNaN, kNaN};
    });
}

double HT_DCPHASE::next(double input) {
    return engine_.step(input) ? engine_.dc_phase : kNaN;
}

HtSineOutput HT_SINE::next(double input) {
    if (!engine_.step(input)) return {kNaN, kNaN};
    return {engine_.sine, engine_.lead_sine};
}

double HT_TRENDMODE::next(double input) {
    return engine_.step(input) ? engine_.trend : kNaN;
}

}  // namespace lumenfold::core
