// The lane kernels of the batch forms: computations whose bars do not depend
// on earlier outputs, run several bars side by side in SIMD lanes. Each lane
// performs exactly the operations, in exactly the order, that the streaming
// step performs for its bar, so results are the same bit for bit on every
// instruction set; the widest one the processor offers is chosen at run time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// n big-endian doubles to native ones and back.
void from_big_endian(const std::uint8_t* be, std::size_t n, double* out) noexcept;
void to_big_endian(const double* x, std::size_t n, std::uint8_t* be) noexcept;

// Weighted means of full windows: out[k] = (((0 + x_0 * w[0]) + x_1 * w[1]) +
// ... + x_{p-1} * w[p-1]) / den for k < count, where x_i is x[k + i] oldest
// first, or x[k + p - 1 - i] newest first; x holds count + p - 1 values, p >= 1.
void weighted_means(const double* x, std::size_t count, std::size_t period, const double* weights, bool newest_first,
                    double den, double* out) noexcept;

// KAMA over the bars [p, n) of a big-endian series (p >= 1), written
// big-endian: for bar t, the efficiency ratio |x[t] - x[t-p]| over the sum of
// |changes| of its window added newest first (0 when that sum is 0),
// sc = slow + er * spread, then value = value + (x[t] - value) * (sc * sc) bar
// by bar from `value`, the average before bar p.
void kama_run(const std::uint8_t* be, std::size_t n, std::size_t period, double slow, double spread, double value,
              std::uint8_t* out);

// Changes over `lag` bars: out[k] = x[k + lag] - x[k], or with `rate`
// ((x[k + lag] - x[k]) / x[k]) * 100, 0 where x[k] is 0; x holds count + lag
// values. Arrays are padded.
extern const Kernel<void(const double* x, std::size_t count, std::size_t lag, bool rate, double* out)> lag_changes;

// Wilder's RSI over the bars [from, n) of a big-endian series (from >= 1),
// written big-endian: change = x[i] - x[i-1], gain = change when positive
// else +0, loss = +0 when the change is positive else -change; avg_gain =
// (gain + avg_gain * (p - 1)) / p and avg_loss = (loss + (p - 1) * avg_loss)
// / p from the given averages; out[i] = 100 when avg_loss is 0, else
// 100 - 100 / (avg_gain / avg_loss + 1).
void rsi_run(const std::uint8_t* be, std::size_t from, std::size_t n, double period, double period_less1,
             double avg_gain, double avg_loss, std::uint8_t* out) noexcept;

// DX from Wilder-smoothed movements and range: +DI = (plus * 100) / tr,
// -DI = (minus * 100) / tr, DX = (|+DI - -DI| * 100) / (+DI + -DI) when that
// sum is positive, else 0. Any value where tr <= 0 (no DX there).
void directional_index(const double* plus, const double* minus, const double* tr, std::size_t n,
                       double* dx) noexcept;

// Whether any of n big-endian doubles is a NaN.
bool any_nan(const std::uint8_t* be, std::size_t n) noexcept;

// Williams %R of the bars whose windows are high[k .. k+p-1] and
// low[k .. k+p-1] (close[k+p-1] their close), for windows without NaN: the
// extremes folded from the oldest bar on, a value at least as extreme
// replacing the standing one; ((highest - close) * -100) / range when the
// range is positive, else 0.
void willr_outputs(const double* high, const double* low, const double* close, std::size_t count,
                   std::size_t period, double* out) noexcept;

// (close + (low + high)) / 3 of n bars read big-endian.
void typical_prices(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                    double* out) noexcept;

// CCI of the bars first .. first + count - 1 (first >= p - 1): tp[b - base]
// is bar b's typical price for every bar of their windows (and tp holds the
// bars up to first + count - 1), sums[j] the running sum of bar first + j.
// The deviation adds over the slots of a p-slot circular store in slot order:
// slot i holds the bar b of the window with b % p == i. `tp`, `sums` and
// `out` are padded.
void cci_outputs(const double* tp, std::size_t base, const double* sums, std::size_t first, std::size_t count,
                 std::size_t period, double* out) noexcept;

// Extremes of full windows: out[k] is the highest (or lowest) of
// x[k .. k+p-1] folded from the oldest value on, starting from -DBL_MAX (or
// +DBL_MAX) and replaced only by a strictly greater (smaller) value: a NaN
// never wins, among equal values the oldest stands. x holds count + p - 1
// values, p >= 1.
void window_extremes(const double* x, std::size_t count, std::size_t period, bool highest, double* out) noexcept;
// Normalised RSI of the bars whose windows are x[k .. k+c] (c changes, x
// holds count + c values): change i = 1..c is x[k+c-i+1] - x[k+c-i], its
// size |change| * weights[i-1] added to the up sum when the change is
// positive, to the down sum when negative (+0 otherwise), both from +0;
// (up - down) / (down + up) when that sum exceeds 1e-10 in magnitude, else 0.
void weighted_rsi_outputs(const double* x, std::size_t count, std::size_t changes, const double* weights,
                          double* out) noexcept;

// Correlation with a line of the bars whose windows are x[k .. k+p-1] (x
// holds count + p - 1 values), the value i bars back at ordinate -i: from the
// newest value on, sx += xi, sxx += xi * xi, sxy = sxy - xi * i; then
// varx = sxx * p - sx * sx, and out[k] = (sxy * p - sx * sum_y) /
// sqrt(varx * vary) where varx > 0, else 0 (vary > 0 given).
void correlation_trend_outputs(const double* x, std::size_t count, std::size_t period, double sum_y, double vary,
                               double* out) noexcept;

// Directional movement differences: for the bar of high[k + 1], low[k + 1]
// after high[k], low[k], up = high[k+1] - high[k] and down = low[k] - low[k+1];
// plus is up when up > down and up > 0, minus is down when down > up and
// down > 0, each +0 otherwise; out[k] = plus - minus. The arrays hold n + 1 bars.
void directional_differences(const double* high, const double* low, std::size_t n, double* out) noexcept;

// Centre of gravity of the bars whose windows are x[k .. k+p-1] (x holds
// count + p - 1 values): from the newest value on, num += xi * (i + 1) and
// den += xi for the value i bars back; out[k] = (-num) / den, or 0 where den
// is 0.
void center_of_gravity_outputs(const double* x, std::size_t count, std::size_t period, double* out) noexcept;
// Rescaled ranges of the windows x[k .. k+p-1] (oldest first), k < count:
// the mean of the sum added oldest first, the range hi - lo of the running
// deviation sums (from -max and +max, a greater or lesser sum replacing
// them), the population variance of squared deviations added oldest first;
// ratio[k] = range / sqrt(variance), var[k] the variance. Arrays are padded
// (x for count + p - 1 values).
void rescaled_ranges(const double* x, std::size_t count, std::size_t period, double* ratio, double* var) noexcept;

// Pearson correlations of the windows x[k .. k+p-1] with two waves, entry i
// of a wave meeting x[k + p - 1 - i]: the sums Σx, Σx², Σx·a, Σx·b added
// newest first, then (p·Σxy - Σx·Σy)/sqrt(d) with d = (p·Σx² - (Σx)²)·var_y,
// or 0 unless d > 0. Arrays are padded (x for count + p - 1 values).
void wave_correlations(const double* x, std::size_t count, std::size_t period, const double* a, double a_sum,
                       double a_var, const double* b, double b_sum, double b_var, double* corr_a,
                       double* corr_b) noexcept;

// Ehlers filter of the bars whose windows of 2p - 1 inputs end at x[k + 2p - 2]
// (k < count), w_c = x[k + 2p - 2 - c] newest first: for c = 0 .. p-1 in
// order, coef = sum over j = 1 .. p-1 of (w_c - w_{c+j})^2 from 0,
// num += w_c * coef, den += coef; out[k] = den == 0 ? w_0 : num / den. p >= 1.
void ehlers_filter_outputs(const double* x, std::size_t count, std::size_t period, double* out) noexcept;

// Truncated band-pass of the bars whose windows of p + 2 inputs end at
// x[k + p + 1], w_c = x[k + p + 1 - c] newest first: from t1 = t2 = 0, for
// c = p-1 down to 0, t = ((a * t1) + (b * (w_c - w_{c+2}))) - (s1 * t2),
// t2 = t1, t1 = t; out[k] = t1. p >= 1.
void truncated_bandpass_outputs(const double* x, std::size_t count, std::size_t period, double a, double b,
                                double s1, double* out) noexcept;

// Projected moving average of the bars whose windows of p inputs end at
// x[k + p - 1], w_j = x[k + p - 1 - j] newest first: sum_y += w_j and
// sum_xy += w_j * (j + 1) for j = 0 .. p-1 from 0; slope = 0 when denom is 0,
// else -((sum_xy * p) - (sum_y * sum_x)) / denom; pma[k] = (sum_y / p) +
// ((slope * p) * 0.5), slope[k] = slope. p >= 1.
void projected_means(const double* x, std::size_t count, std::size_t period, double sum_x, double denom,
                     double* pma, double* slope) noexcept;

// Sums of squares of windows of p values, newest first: out[k] =
// (((0 + x_0 * x_0) + x_1 * x_1) + ... + x_{p-1} * x_{p-1}) with
// x_i = x[k + p - 1 - i]; x holds count + p - 1 values, p >= 1.
void sums_of_squares(const double* x, std::size_t count, std::size_t period, double* out) noexcept;

// How a full window of p values changes its count of rising pairs when
// x[k + p] enters and x[k] leaves: out[k] = sum over i = 1 .. p-1 of
// vote(x[k + p], x[k + p - i]) - vote(x[k + p - i], x[k]), vote(newer, older)
// being +1 when older - newer < 0, -1 when > 0, else 0. Small integers, so
// exact whatever the order. x holds count + p values.
void rank_changes(const double* x, std::size_t count, std::size_t period, double* out) noexcept;

// Highest high and lowest low at positions [from, to) of windows of `width`
// bars counted from the newest, x[k + width - 1] (k < count): folded newest
// first from -DBL_MAX and DBL_MAX, a value replacing the standing one only
// when strictly beyond it, so NaN is ignored.
void window_part_extremes(const double* high, const double* low, std::size_t count, std::size_t width,
                          std::size_t from, std::size_t to, double* highest, double* lowest) noexcept;

// Floor-trader pivot levels of n bars read big-endian, written as records of
// five big-endian doubles: record k holds p = (close + (low + high)) / 3 of
// bar k, then p + p - low, p + p - high, (high - low) + p and p - (high - low).
void pivot_levels(const std::uint8_t* high, const std::uint8_t* low, const std::uint8_t* close, std::size_t n,
                  std::uint8_t* be) noexcept;

// Four-bar weighted means of windows x[k .. k+3] (x holds count + 3 values):
// out[k] = ((((x[k+3] * 4) + (x[k+2] * 3)) + (x[k+1] + x[k+1])) + x[k]) / 10.
void four_bar_means(const double* x, std::size_t count, double* out) noexcept;

// Seven-tap Hilbert transforms of windows x[k .. k+6] (x holds count + 6
// values): out[k] = gain * ((((x[k+6] * outer) + (x[k+4] * inner)) -
// (x[k+2] * inner)) - (x[k] * outer)).
void hilbert_firs(const double* x, std::size_t count, double outer, double inner, double gain, double* out) noexcept;

// Volume profile points of control of the windows price[k .. k+p-1],
// volume[k .. k+p-1] (k < count) whose lowest and highest prices are lo[k]
// and hi[k]: lo[k] where they are equal, else with width = (hi - lo) / bins,
// each price's bin floor((price - lo) / width) saturated into 0 .. bins - 1
// (a NaN quotient giving 0) and its volume added as volume + sum in window
// order from +0, the first bin holding the most volume (more than -1) gives
// out[k] = lo + width * (bin + 0.5). The work per bar grows with period *
// bins (bins below 2^53). `scratch` holds period * kPad doubles; the other
// arrays are padded.
void points_of_control(const double* price, const double* volume, const double* lo, const double* hi,
                       std::size_t count, std::size_t period, std::size_t bins, double* scratch, double* out) noexcept;

// Five-bar fractals of the bars whose highs and lows are read big-endian at
// high[k .. k+4] and low[k .. k+4] (k < count): bearish when the middle high
// is strictly above the four others, bullish when the middle low is strictly
// below them (a NaN among them prevents either). out[2k] and out[2k + 1]
// receive the two flags as bytes 0 or 1.
void fractal_flags(const std::uint8_t* high, const std::uint8_t* low, std::size_t count,
                   std::uint8_t* out) noexcept;

// The squeeze test and the momentum's input of bars with full windows of p
// closes: from the running sums s and q of the closes and of their squares,
// the average true range a, the window's highest high hi and lowest low lo
// and the close c, sma = s / p, var = q / p - sma * sma, sd = sqrt(var when
// > 0, else 0); squeeze[k] = 1 when sma + sd * mult_bb < sma + a * mult_kc
// and sma - sd * mult_bb > sma - a * mult_kc, else 0; delta[k] = c +
// (sma + (hi + lo) * 0.5) * -0.5. Arrays are padded.
void squeeze_parts(const double* s, const double* q, const double* a, const double* hi, const double* lo,
                   const double* c, std::size_t count, std::size_t period, double mult_bb, double mult_kc,
                   double* squeeze, double* delta) noexcept;

// Least-squares lines of the windows x[k .. k+p-1] (x at 0 for the oldest
// value up to p - 1), valued at the newest point: sum_y += y and sum_xy +=
// y * i from 0, oldest first; slope = (p * sum_xy - sum_y * sum_x) /
// denominator, intercept = (sum_y - sum_x * slope) / p, out[k] = (p - 1) *
// slope + intercept; where the denominator is 0, out[k] is the newest value.
// x holds count + p - 1 values, p >= 1.
void regression_values(const double* x, std::size_t count, std::size_t period, double sum_x, double denominator,
                       double* out) noexcept;

}  // namespace lumenfold::core::lanes
