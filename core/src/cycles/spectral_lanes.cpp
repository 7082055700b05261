// The spectral lane kernels, compiled once per instruction set and dispatched
// at run time. Plain multiplies and adds only (the build never contracts them).
#include "lumenfold/core/cycles/spectral_lanes.hpp"

#include <cmath>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "cycles/spectral_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::spectral::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;

// Four vectors of sums at a time keep their chains of additions in flight
// together; then one vector, then one sum, at a time. sum4(j, L) runs the
// sums of columns j .. j + 4L - 1, sum1(j) those of j .. j + L - 1, one(j)
// column j alone.
template <class Sum4, class Sum1, class One>
inline void in_groups(std::size_t n, Sum4 sum4, Sum1 sum1, One one) {
    const std::size_t L = hn::Lanes(D());
    std::size_t j = 0;
    for (; j + 4 * L <= n; j += 4 * L) sum4(j, L);
    for (; j + L <= n; j += L) sum1(j);
    for (; j < n; ++j) one(j);
}

// Projections of `values` on the columns of a term-major table, handed to
// vec(j, re, im) a vector of columns at a time and to one(j, re, im) for the
// columns left over.
template <class Vec, class One>
inline void project(const double* c, const double* s, std::size_t stride, std::size_t terms, const double* values,
                    Vec vec, One one) {
    const D d;
    in_groups(
        stride,
        [&](std::size_t j, std::size_t L) {
            V re[4], im[4];
            for (int g = 0; g < 4; ++g) re[g] = im[g] = hn::Zero(d);
            for (std::size_t i = 0; i < terms; ++i) {
                const V v = hn::Set(d, values[i]);
                const double* ci = c + i * stride + j;
                const double* si = s + i * stride + j;
                for (int g = 0; g < 4; ++g) {
                    re[g] = hn::Add(re[g], hn::Mul(v, hn::LoadU(d, ci + g * L)));
                    im[g] = hn::Add(im[g], hn::Mul(v, hn::LoadU(d, si + g * L)));
                }
            }
            for (int g = 0; g < 4; ++g) vec(j + g * L, re[g], im[g]);
        },
        [&](std::size_t j) {
            V re = hn::Zero(d), im = hn::Zero(d);
            for (std::size_t i = 0; i < terms; ++i) {
                const V v = hn::Set(d, values[i]);
                re = hn::Add(re, hn::Mul(v, hn::LoadU(d, c + i * stride + j)));
                im = hn::Add(im, hn::Mul(v, hn::LoadU(d, s + i * stride + j)));
            }
            vec(j, re, im);
        },
        [&](std::size_t j) {
            double re = 0.0, im = 0.0;
            for (std::size_t i = 0; i < terms; ++i) {
                re = re + values[i] * c[i * stride + j];
                im = im + values[i] * s[i * stride + j];
            }
            one(j, re, im);
        });
}

void Projections(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms,
                 const double* values, double* re, double* im) {
    const D d;
    project(
        cos_t, sin_t, stride, terms, values,
        [&](std::size_t j, V r, V i) {
            hn::StoreU(r, d, re + j);
            hn::StoreU(i, d, im + j);
        },
        [&](std::size_t j, double r, double i) {
            re[j] = r;
            im[j] = i;
        });
}

void AllPolePowers(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms,
                   const double* coef, double* power) {
    const D d;
    const V one = hn::Set(d, 1.0), tenth = hn::Set(d, 0.1);
    project(
        cos_t, sin_t, stride, terms, coef,
        [&](std::size_t j, V re, V im) {
            const V one_minus_re = hn::Sub(one, re);
            hn::StoreU(hn::Div(tenth, hn::Add(hn::Mul(im, im), hn::Mul(one_minus_re, one_minus_re))), d, power + j);
        },
        [&](std::size_t j, double re, double im) {
            const double one_minus_re = 1.0 - re;
            power[j] = 0.1 / (im * im + one_minus_re * one_minus_re);
        });
}

void LagCorrelations(const double* w, std::size_t length, std::size_t lags, double n, double sa, double dx,
                     const double* sb, const double* dy, double* out) {
    const D d;
    const V vn = hn::Set(d, n), vsa = hn::Set(d, sa), vdx = hn::Set(d, dx);
    const auto finish = [&](std::size_t k, V sab) {
        const V b = hn::LoadU(d, sb + k), spread = hn::LoadU(d, dy + k);
        const V r = hn::Div(hn::Sub(hn::Mul(sab, vn), hn::Mul(vsa, b)), hn::Sqrt(hn::Mul(vdx, spread)));
        hn::StoreU(hn::IfThenElseZero(spread > hn::Zero(d), r), d, out + k);
    };
    in_groups(
        lags,
        [&](std::size_t k, std::size_t L) {
            V sab[4];
            for (auto& v : sab) v = hn::Zero(d);
            for (std::size_t i = 0; i < length; ++i) {
                const V a = hn::Set(d, w[i]);
                const double* b = w + i + k;
                for (std::size_t g = 0; g < 4; ++g) sab[g] = hn::Add(sab[g], hn::Mul(a, hn::LoadU(d, b + g * L)));
            }
            for (std::size_t g = 0; g < 4; ++g) finish(k + g * L, sab[g]);
        },
        [&](std::size_t k) {
            V sab = hn::Zero(d);
            for (std::size_t i = 0; i < length; ++i) sab = hn::Add(sab, hn::Mul(hn::Set(d, w[i]), hn::LoadU(d, w + i + k)));
            finish(k, sab);
        },
        [&](std::size_t k) {
            double sab = 0.0;
            for (std::size_t i = 0; i < length; ++i) sab = sab + w[i] * w[i + k];
            out[k] = dy[k] > 0.0 ? (sab * n - sa * sb[k]) / std::sqrt(dx * dy[k]) : 0.0;
        });
}

// The maximum in lanes (the same value whatever the grouping: a comparison
// does not round), then its first occurrence; the values past the last whole
// vector one at a time.
std::size_t Strongest(const double* x, std::size_t count, double& best) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const std::size_t whole = count / L * L;
    V m = hn::Zero(d);
    for (std::size_t j = 0; j < whole; j += L) {
        const V v = hn::LoadU(d, x + j);
        m = hn::IfThenElse(v > m, v, m);
    }
    double b = hn::GetLane(hn::MaxOfLanes(d, m));  // m holds no NaN and no -0
    for (std::size_t j = whole; j < count; ++j) b = x[j] > b ? x[j] : b;
    best = b;
    if (!(b > 0.0)) return count;
    const V vb = hn::Set(d, b);
    for (std::size_t j = 0; j < whole; j += L) {
        const auto hit = hn::LoadU(d, x + j) == vb;
        if (!hn::AllFalse(d, hit)) return j + static_cast<std::size_t>(hn::FindFirstTrue(d, hit));
    }
    std::size_t j = whole;
    while (x[j] != b) ++j;
    return j;
}

void AddScaled(double* c, const double* x, std::size_t count, double s) {
    const D d;
    const V vs = hn::Set(d, s);
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + L <= count; k += L) hn::StoreU(hn::Add(hn::LoadU(d, c + k), hn::Mul(vs, hn::LoadU(d, x + k))), d, c + k);
    for (; k < count; ++k) c[k] = c[k] + s * x[k];
}

void Divide(const double* x, std::size_t count, double den, double* out) {
    const D d;
    const V vden = hn::Set(d, den);
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + L <= count; k += L) hn::StoreU(hn::Div(hn::LoadU(d, x + k), vden), d, out + k);
    for (; k < count; ++k) out[k] = x[k] / den;
}

// The models' columns in vectors of lanes, all of them advancing together so
// that their chains of additions overlap; columns left over (none where the
// lanes divide kModels) one at a time.
void Extrapolations(const double* coef_t, double* work_t, std::size_t length, std::uint64_t steps, double* out) {
    const D d;
    constexpr std::size_t W = kModels;
    const std::size_t L = hn::Lanes(d);
    const std::size_t vectors = L <= W ? W / L : 0;
    const std::size_t rest = vectors * L;
    std::size_t r0 = 0;  // the oldest row of the window
    for (std::uint64_t s = 0; s < steps; ++s) {
        V acc[W];
        for (std::size_t v = 0; v < vectors; ++v) acc[v] = hn::Zero(d);
        double acc1[W];
        for (std::size_t j = rest; j < W; ++j) acc1[j] = 0.0;
        for (std::size_t k = 1; k <= length; ++k) {
            const double* w = work_t + (r0 + length - k) * W;
            const double* c = coef_t + (k - 1) * W;
            for (std::size_t v = 0; v < vectors; ++v)
                acc[v] = hn::Add(acc[v], hn::Mul(hn::LoadU(d, w + v * L), hn::LoadU(d, c + v * L)));
            for (std::size_t j = rest; j < W; ++j) acc1[j] = acc1[j] + w[j] * c[j];
        }
        if (r0 + length == 2 * length) {
            // Out of room: the newest length - 1 rows move to the start.
            std::memmove(work_t, work_t + (r0 + 1) * W, (length - 1) * W * sizeof(double));
            r0 = static_cast<std::size_t>(-1);
        }
        double* q = work_t + (r0 + length) * W;
        for (std::size_t v = 0; v < vectors; ++v) hn::StoreU(acc[v], d, q + v * L);
        for (std::size_t j = rest; j < W; ++j) q[j] = acc1[j];
        ++r0;
    }
    std::memcpy(out, work_t + (r0 + length - 1) * W, W * sizeof(double));
}

}  // namespace lumenfold::core::spectral::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::spectral {

HWY_EXPORT(Projections);
HWY_EXPORT(AllPolePowers);
HWY_EXPORT(LagCorrelations);
HWY_EXPORT(Strongest);
HWY_EXPORT(AddScaled);
HWY_EXPORT(Divide);
HWY_EXPORT(Extrapolations);

void projections(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms, const double* values,
                 double* re, double* im) noexcept {
    HWY_DYNAMIC_DISPATCH(Projections)(cos_t, sin_t, stride, terms, values, re, im);
}
void all_pole_powers(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms,
                     const double* coef, double* power) noexcept {
    HWY_DYNAMIC_DISPATCH(AllPolePowers)(cos_t, sin_t, stride, terms, coef, power);
}
void lag_correlations(const double* w, std::size_t length, std::size_t lags, double n, double sa, double dx,
                      const double* sb, const double* dy, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(LagCorrelations)(w, length, lags, n, sa, dx, sb, dy, out);
}
std::size_t strongest(const double* x, std::size_t count, double& best) noexcept {
    return HWY_DYNAMIC_DISPATCH(Strongest)(x, count, best);
}
void add_scaled(double* c, const double* x, std::size_t count, double s) noexcept {
    HWY_DYNAMIC_DISPATCH(AddScaled)(c, x, count, s);
}
void divide(const double* x, std::size_t count, double den, double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(Divide)(x, count, den, out);
}

void extrapolations(const double* coef_t, double* work_t, std::size_t length, std::uint64_t steps,
                    double* out) noexcept {
    HWY_DYNAMIC_DISPATCH(Extrapolations)(coef_t, work_t, length, steps, out);
}

}  // namespace lumenfold::core::spectral
#endif
