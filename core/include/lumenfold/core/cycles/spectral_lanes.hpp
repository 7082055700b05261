// The lane kernels of the spectral cycle measures: sweeps whose sums are
// independent of one another (one per period, one per lag) run side by side,
// one sum per SIMD lane. Each lane performs exactly the multiplies and adds,
// in exactly the order, of its scalar sum, so results are the same bit for
// bit on every instruction set; the widest one the processor offers is
// chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumenfold::core::spectral {

// Projections on a term-major table (row i of `stride` entries holds term i
// of every period): re[j] = Σ values[i]·cos_t[i·stride + j] and im[j] the
// same over sin_t, both summed in ascending i from +0, for j < stride.
void projections(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms, const double* values,
                 double* re, double* im) noexcept;

// The all-pole model's power 0.1 / (im·im + (1 - re)·(1 - re)) at every
// column j < stride, re and im the projections of `coef` as above.
void all_pole_powers(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms,
                     const double* coef, double* power) noexcept;

// Correlations of the newest `length` values of w (newest first) with the
// values k bars further back, for k < lags: sab = Σ w[i]·w[i + k] in
// ascending i from +0, then out[k] = (sab·n - sa·sb[k]) / sqrt(dx·dy[k])
// where dy[k] > 0, else +0. w holds length + lags - 1 values.
void lag_correlations(const double* w, std::size_t length, std::size_t lags, double n, double sa, double dx,
                      const double* sb, const double* dy, double* out) noexcept;

// The strongest of count values as a running maximum from +0 that a value
// replaces only when strictly greater: `best` is the largest value above 0
// (NaN never counts), or 0 when none is; the result is the index of its first
// occurrence, or count when none is above 0.
std::size_t strongest(const double* x, std::size_t count, double& best) noexcept;

// c[k] = c[k] + s·x[k] for k < count.
void add_scaled(double* c, const double* x, std::size_t count, double s) noexcept;

// out[k] = x[k] / den for k < count (out may be x).
void divide(const double* x, std::size_t count, double den, double* out) noexcept;

// Extrapolations of kModels all-pole models side by side, model j in column j
// of each row: coef_t holds rows 0..length-1, row k - 1 the coefficient k;
// work_t has room for 2·length rows, of which rows 0..length-1 hold the
// window vector's entries 1..length (the oldest first). Each of `steps` (>= 1)
// steps forms q = Σ w[length + 1 - k]·coef[k] over k = 1..length from +0
// (coef[1] meets the newest value) and moves the window one place on, q its
// newest value; out[j] is the last q. work_t is overwritten.
inline constexpr std::size_t kModels = 32;
void extrapolations(const double* coef_t, double* work_t, std::size_t length, std::uint64_t steps,
                    double* out) noexcept;

}  // namespace lumenfold::core::spectral
