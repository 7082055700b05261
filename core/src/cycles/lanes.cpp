// The lane kernels of the cycles family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/cycles/autocorrelation.hpp"
#include "lumenfold/core/cycles/correlation_cycle.hpp"
#include "lumenfold/core/cycles/griffiths.hpp"
#include "lumenfold/core/cycles/griffiths_spectrum.hpp"
#include "lumenfold/core/cycles/hurst.hpp"
#include "lumenfold/core/cycles/period_basis.hpp"
#include "lumenfold/core/cycles/phasor.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "cycles/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// G vectors of bars from window w on, each lane walking its window as the
// streaming step does. The range and the squares take the same deviations in
// one pass; their chains stay apart, so each keeps its order of additions.
template <std::size_t G>
inline void rescaled_range_groups(const double* w, std::size_t p, double* ratio, double* var) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V n = hn::Set(d, static_cast<double>(p));
    V sum[G];
    for (auto& s : sum) s = hn::Zero(d);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t g = 0; g < G; ++g) sum[g] = hn::Add(sum[g], hn::LoadU(d, w + g * L + i));
    V mean[G], y[G], hi[G], lo[G], squares[G];
    for (std::size_t g = 0; g < G; ++g) {
        mean[g] = hn::Div(sum[g], n);
        y[g] = squares[g] = hn::Zero(d);
        hi[g] = hn::Set(d, -std::numeric_limits<double>::max());
        lo[g] = hn::Set(d, std::numeric_limits<double>::max());
    }
    for (std::size_t i = 0; i < p; ++i) {
        for (std::size_t g = 0; g < G; ++g) {
            const V dev = hn::Sub(hn::LoadU(d, w + g * L + i), mean[g]);
            y[g] = hn::Add(y[g], dev);
            hi[g] = hn::IfThenElse(y[g] > hi[g], y[g], hi[g]);
            lo[g] = hn::IfThenElse(y[g] < lo[g], y[g], lo[g]);
            squares[g] = hn::Add(squares[g], hn::Mul(dev, dev));
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        const V v = hn::Div(squares[g], n);
        hn::StoreU(v, d, var + g * L);
        hn::StoreU(hn::Div(hn::Sub(hi[g], lo[g]), hn::Sqrt(v)), d, ratio + g * L);
    }
}

// Groups of vectors in flight, so that the groups' chains of additions and
// comparisons overlap while each group's five running vectors stay in
// registers: four with AVX-512's 32, three with AVX2's 16, two on the
// narrower sets (where more measured no faster).
constexpr std::size_t kRangeGroups = HWY_TARGET <= HWY_AVX3 ? 4 : HWY_TARGET == HWY_AVX2 ? 3 : 2;

void RescaledRanges(const double* x, std::size_t count, std::size_t p, double* ratio, double* var) {
    constexpr std::size_t G = kRangeGroups;
    const std::size_t L = hn::Lanes(D());
    std::size_t k = 0;
    for (; k + G * L <= count; k += G * L) rescaled_range_groups<G>(x + k, p, ratio + k, var + k);
    // The at most G vectors left at once, the last one partly past count.
    const std::size_t left = (count - k + L - 1) / L;
    [&]<std::size_t... R>(std::index_sequence<R...>) {
        ((left == R + 1 ? rescaled_range_groups<R + 1>(x + k, p, ratio + k, var + k) : void()), ...);
    }(std::make_index_sequence<G>{});
}

void WaveCorrelations(const double* x, std::size_t count, std::size_t p, const double* a, double a_sum,
                      double a_var, const double* b, double b_sum, double b_var, double* corr_a, double* corr_b) {
    const D d;
    const V n = hn::Set(d, static_cast<double>(p));
    auto corr = [&](V sx, V price_var, V sxy, double sum, double var) {
        const V den = hn::Mul(price_var, hn::Set(d, var));
        const V c = hn::Div(hn::Sub(hn::Mul(n, sxy), hn::Mul(sx, hn::Set(d, sum))), hn::Sqrt(den));
        return hn::IfThenElseZero(den > hn::Zero(d), c);
    };
    padded_groups(count, [&](std::size_t k) {
        const double* w = x + k + p - 1;
        V sx = hn::Zero(d), sxx = hn::Zero(d), sxa = hn::Zero(d), sxb = hn::Zero(d);
        for (std::size_t i = 0; i < p; ++i) {
            const V v = hn::LoadU(d, w - i);
            sx = hn::Add(sx, v);
            sxx = hn::Add(sxx, hn::Mul(v, v));
            sxa = hn::Add(sxa, hn::Mul(v, hn::Set(d, a[i])));
            sxb = hn::Add(sxb, hn::Mul(v, hn::Set(d, b[i])));
        }
        const V price_var = hn::Sub(hn::Mul(n, sxx), hn::Mul(sx, sx));
        hn::StoreU(corr(sx, price_var, sxa, a_sum, a_var), d, corr_a + k);
        hn::StoreU(corr(sx, price_var, sxb, b_sum, b_var), d, corr_b + k);
    });
}

void FourBarMeans(const double* x, std::size_t count, double* out) {
    const D d;
    const V four = hn::Set(d, 4.0), three = hn::Set(d, 3.0), ten = hn::Set(d, 10.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V x2 = hn::LoadU(d, x + k + 1);
            const V a = hn::Add(hn::Mul(hn::LoadU(d, x + k + 3), four), hn::Mul(hn::LoadU(d, x + k + 2), three));
            hn::StoreU(hn::Div(hn::Add(hn::Add(a, hn::Add(x2, x2)), hn::LoadU(d, x + k)), ten), d, out + k);
        },
        [&](std::size_t k) {
            out[k] = ((((x[k + 3] * 4.0) + (x[k + 2] * 3.0)) + (x[k + 1] + x[k + 1])) + x[k]) / 10.0;
        });
}

void HilbertFirs(const double* x, std::size_t count, double outer, double inner, double gain, double* out) {
    const D d;
    const V vo = hn::Set(d, outer), vi = hn::Set(d, inner), vg = hn::Set(d, gain);
    lane_groups(
        count,
        [&](std::size_t k) {
            const V a = hn::Add(hn::Mul(hn::LoadU(d, x + k + 6), vo), hn::Mul(hn::LoadU(d, x + k + 4), vi));
            const V b = hn::Sub(hn::Sub(a, hn::Mul(hn::LoadU(d, x + k + 2), vi)), hn::Mul(hn::LoadU(d, x + k), vo));
            hn::StoreU(hn::Mul(vg, b), d, out + k);
        },
        [&](std::size_t k) {
            out[k] = gain * ((((x[k + 6] * outer) + (x[k + 4] * inner)) - (x[k + 2] * inner)) - (x[k] * outer));
        });
}

// The spectral sweeps: sums independent of one another (one per period, one
// per lag) run side by side, one sum per lane.
//
// Four vectors of sums at a time keep their chains of additions in flight
// together; then one vector, then one sum, at a time. sum4(j, L) runs the
// sums of columns j .. j + 4L - 1, sum1(j) those of j .. j + L - 1, one(j)
// column j alone.
template <class Sum4, class Sum1, class One>
inline void column_groups(std::size_t n, Sum4 sum4, Sum1 sum1, One one) {
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
inline void project_columns(const double* c, const double* s, std::size_t stride, std::size_t terms,
                            const double* values, Vec vec, One one) {
    const D d;
    column_groups(
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

void PeriodProjections(const double* cos_t, const double* sin_t, std::size_t stride, std::size_t terms,
                       const double* values, double* re, double* im) {
    const D d;
    project_columns(
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
    project_columns(
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
    column_groups(
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
std::size_t StrongestPower(const double* x, std::size_t count, double& best) {
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

void LmsUpdates(double* c, const double* x, std::size_t count, double s) {
    const D d;
    const V vs = hn::Set(d, s);
    lane_groups(
        count,
        [&](std::size_t k) { hn::StoreU(hn::Add(hn::LoadU(d, c + k), hn::Mul(vs, hn::LoadU(d, x + k))), d, c + k); },
        [&](std::size_t k) { c[k] = c[k] + s * x[k]; });
}

void RelativePowers(const double* x, std::size_t count, double den, double* out) {
    const D d;
    const V vden = hn::Set(d, den);
    lane_groups(
        count, [&](std::size_t k) { hn::StoreU(hn::Div(hn::LoadU(d, x + k), vden), d, out + k); },
        [&](std::size_t k) { out[k] = x[k] / den; });
}

// The models' columns in vectors of lanes, all of them advancing together so
// that their chains of additions overlap; columns left over (none where the
// lanes divide kPredictorModels) one at a time.
void AllPoleExtrapolations(const double* coef_t, double* work_t, std::size_t length, std::uint64_t steps,
                           double* out) {
    const D d;
    constexpr std::size_t W = kPredictorModels;
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

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(rescaled_ranges, RescaledRanges)
LF_DISPATCH(wave_correlations, WaveCorrelations)
LF_DISPATCH(four_bar_means, FourBarMeans)
LF_DISPATCH(hilbert_firs, HilbertFirs)
LF_DISPATCH(period_projections, PeriodProjections)
LF_DISPATCH(all_pole_powers, AllPolePowers)
LF_DISPATCH(lag_correlations, LagCorrelations)
LF_DISPATCH(strongest_power, StrongestPower)
LF_DISPATCH(lms_updates, LmsUpdates)
LF_DISPATCH(relative_powers, RelativePowers)
LF_DISPATCH(all_pole_extrapolations, AllPoleExtrapolations)

}  // namespace lumenfold::core::lanes
#endif
