// The lane kernels of the filters family, compiled once per instruction set
// and dispatched at run time. Plain multiplies and adds only (the build never
// contracts them).
#include "lumenfold/core/filters/dsma.hpp"
#include "lumenfold/core/filters/ehlers_filter.hpp"
#include "lumenfold/core/filters/frama.hpp"
#include "lumenfold/core/filters/noise_elimination.hpp"
#include "lumenfold/core/filters/projected_moving_average.hpp"
#include "lumenfold/core/filters/recursive_median.hpp"
#include "lumenfold/core/filters/truncated_bandpass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filters/lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "framework/dispatch.hpp"
#include "lumenfold/core/framework/lane_ops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lumenfold::core::lanes::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void EhlersFilterOutputs(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t top = 2 * p - 2;
    lane_groups(
        count,
        [&](std::size_t k) {
            const double* w = x + k;
            V num = hn::Zero(d), den = hn::Zero(d);
            for (std::size_t c = 0; c < p; ++c) {
                const V wc = hn::LoadU(d, w + top - c);
                V coef = hn::Zero(d);
                for (std::size_t j = 1; j < p; ++j) {
                    const V diff = hn::Sub(wc, hn::LoadU(d, w + top - c - j));
                    coef = hn::Add(coef, hn::Mul(diff, diff));
                }
                num = hn::Add(num, hn::Mul(wc, coef));
                den = hn::Add(den, coef);
            }
            const V newest = hn::LoadU(d, w + top);
            hn::StoreU(hn::IfThenElse(den == hn::Zero(d), newest, hn::Div(num, den)), d, out + k);
        },
        [&](std::size_t k) {
            const double* w = x + k;
            double num = 0.0, den = 0.0;
            for (std::size_t c = 0; c < p; ++c) {
                const double wc = w[top - c];
                double coef = 0.0;
                for (std::size_t j = 1; j < p; ++j) {
                    const double diff = wc - w[top - c - j];
                    coef = coef + diff * diff;
                }
                num = num + wc * coef;
                den = den + coef;
            }
            out[k] = den == 0.0 ? w[top] : num / den;
        });
}

inline V truncated_bandpass_one(const double* w, std::size_t p, V a, V b, V s1) {
    const D d;
    V t1 = hn::Zero(d), t2 = hn::Zero(d);
    for (std::size_t c = p; c-- > 0;) {
        const V diff = hn::Sub(hn::LoadU(d, w + p + 1 - c), hn::LoadU(d, w + p - 1 - c));
        const V t = hn::Sub(hn::Add(hn::Mul(a, t1), hn::Mul(b, diff)), hn::Mul(s1, t2));
        t2 = t1;
        t1 = t;
    }
    return t1;
}

// Each bar's recursion runs over its own window from a zero state; four
// vectors of bars keep four recursions in flight.
void TruncatedBandpassOutputs(const double* x, std::size_t count, std::size_t p, double a, double b, double s1,
                              double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    const V va = hn::Set(d, a), vb = hn::Set(d, b), vs1 = hn::Set(d, s1);
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V t1[4], t2[4];
        for (auto& t : t1) t = hn::Zero(d);
        for (auto& t : t2) t = hn::Zero(d);
        for (std::size_t c = p; c-- > 0;) {
            for (std::size_t g = 0; g < 4; ++g) {
                const double* w = x + k + g * L;
                const V diff = hn::Sub(hn::LoadU(d, w + p + 1 - c), hn::LoadU(d, w + p - 1 - c));
                const V t = hn::Sub(hn::Add(hn::Mul(va, t1[g]), hn::Mul(vb, diff)), hn::Mul(vs1, t2[g]));
                t2[g] = t1[g];
                t1[g] = t;
            }
        }
        for (std::size_t g = 0; g < 4; ++g) hn::StoreU(t1[g], d, out + k + g * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) { hn::StoreU(truncated_bandpass_one(x + k + j, p, va, vb, vs1), d, out + k + j); },
        [&](std::size_t j) {
            const double* w = x + k + j;
            double t1 = 0.0, t2 = 0.0;
            for (std::size_t c = p; c-- > 0;) {
                const double t = ((a * t1) + (b * (w[p + 1 - c] - w[p - 1 - c]))) - (s1 * t2);
                t2 = t1;
                t1 = t;
            }
            out[k + j] = t1;
        });
}

void ProjectedMeans(const double* x, std::size_t count, std::size_t p, double sum_x, double denom, double* pma,
                    double* slope) {
    const D d;
    const double nf = static_cast<double>(p);
    const V vnf = hn::Set(d, nf), vsum_x = hn::Set(d, sum_x), vdenom = hn::Set(d, denom), half = hn::Set(d, 0.5);
    lane_groups(
        count,
        [&](std::size_t k) {
            V sum_y = hn::Zero(d), sum_xy = hn::Zero(d);
            for (std::size_t j = 0; j < p; ++j) {
                const V w = hn::LoadU(d, x + k + p - 1 - j);
                sum_y = hn::Add(sum_y, w);
                sum_xy = hn::Add(sum_xy, hn::Mul(w, hn::Set(d, static_cast<double>(j + 1))));
            }
            const V s = denom == 0.0 ? hn::Zero(d)
                                     : hn::Div(hn::Neg(hn::Sub(hn::Mul(sum_xy, vnf), hn::Mul(sum_y, vsum_x))), vdenom);
            hn::StoreU(hn::Add(hn::Div(sum_y, vnf), hn::Mul(hn::Mul(s, vnf), half)), d, pma + k);
            hn::StoreU(s, d, slope + k);
        },
        [&](std::size_t k) {
            double sum_y = 0.0, sum_xy = 0.0;
            for (std::size_t j = 0; j < p; ++j) {
                const double w = x[k + p - 1 - j];
                sum_y = sum_y + w;
                sum_xy = sum_xy + w * static_cast<double>(j + 1);
            }
            const double s = denom == 0.0 ? 0.0 : -((sum_xy * nf) - (sum_y * sum_x)) / denom;
            pma[k] = (sum_y / nf) + ((s * nf) * 0.5);
            slope[k] = s;
        });
}

// Four vectors of bars keep four chains of additions in flight.
void SumsOfSquares(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const std::size_t L = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + 4 * L <= count; k += 4 * L) {
        V a[4];
        for (auto& v : a) v = hn::Zero(d);
        for (std::size_t i = p; i-- > 0;) {
            for (std::size_t g = 0; g < 4; ++g) {
                const V v = hn::LoadU(d, x + k + g * L + i);
                a[g] = hn::Add(a[g], hn::Mul(v, v));
            }
        }
        for (std::size_t g = 0; g < 4; ++g) hn::StoreU(a[g], d, out + k + g * L);
    }
    lane_groups(
        count - k,
        [&](std::size_t j) {
            V a = hn::Zero(d);
            for (std::size_t i = p; i-- > 0;) {
                const V v = hn::LoadU(d, x + k + j + i);
                a = hn::Add(a, hn::Mul(v, v));
            }
            hn::StoreU(a, d, out + k + j);
        },
        [&](std::size_t j) {
            double a = 0.0;
            for (std::size_t i = p; i-- > 0;) a = a + x[k + j + i] * x[k + j + i];
            out[k + j] = a;
        });
}

void RankChanges(const double* x, std::size_t count, std::size_t p, double* out) {
    const D d;
    const V zero = hn::Zero(d), one = hn::Set(d, 1.0);
    const auto vote = [&](V newer, V older) {
        const V diff = hn::Sub(older, newer);
        return hn::Sub(hn::IfThenElseZero(diff < zero, one), hn::IfThenElseZero(diff > zero, one));
    };
    const auto vote1 = [](double newer, double older) {
        const double diff = older - newer;
        return static_cast<double>(diff < 0.0) - static_cast<double>(diff > 0.0);
    };
    lane_groups(
        count,
        [&](std::size_t k) {
            const V newest = hn::LoadU(d, x + k + p), oldest = hn::LoadU(d, x + k);
            V acc = zero;
            for (std::size_t i = 1; i < p; ++i) {
                const V v = hn::LoadU(d, x + k + p - i);
                acc = hn::Sub(hn::Add(acc, vote(newest, v)), vote(v, oldest));
            }
            hn::StoreU(acc, d, out + k);
        },
        [&](std::size_t k) {
            double acc = 0.0;
            for (std::size_t i = 1; i < p; ++i) acc = (acc + vote1(x[k + p], x[k + p - i])) - vote1(x[k + p - i], x[k]);
            out[k] = acc;
        });
}

void WindowPartExtremes(const double* high, const double* low, std::size_t count, std::size_t width, std::size_t from,
                    std::size_t to, double* highest, double* lowest) {
    const D d;
    const double most = std::numeric_limits<double>::max();
    lane_groups(
        count,
        [&](std::size_t k) {
            V hi = hn::Set(d, -most), lo = hn::Set(d, most);
            for (std::size_t i = from; i < to; ++i) {
                const V h = hn::LoadU(d, high + k + width - 1 - i), l = hn::LoadU(d, low + k + width - 1 - i);
                hi = hn::IfThenElse(h > hi, h, hi);
                lo = hn::IfThenElse(l < lo, l, lo);
            }
            hn::StoreU(hi, d, highest + k);
            hn::StoreU(lo, d, lowest + k);
        },
        [&](std::size_t k) {
            double hi = -most, lo = most;
            for (std::size_t i = from; i < to; ++i) {
                const double h = high[k + width - 1 - i], l = low[k + width - 1 - i];
                hi = h > hi ? h : hi;
                lo = l < lo ? l : lo;
            }
            highest[k] = hi;
            lowest[k] = lo;
        });
}

// The median of five by ranks, free of branches: for each pair of values the
// one comparison that tells which goes first, each value's rank counting the
// values before it, then the value of rank 2 selected. x_j (j newer) counts
// before x_i when it orders strictly first, after it otherwise (ties keep the
// newer first); NaN orders after every number.
void MediansOfFive(const double* x, std::size_t count, double* out) {
    const D d;
    const V one = hn::Set(d, 1.0), two = hn::Set(d, 2.0);
    lane_groups(
        count,
        [&](std::size_t k) {
            V w[5], rank[5];
            hn::Mask<D> nan[5];
            for (std::size_t i = 0; i < 5; ++i) {
                w[i] = hn::LoadU(d, x + k + 4 - i);
                nan[i] = hn::IsNaN(w[i]);
                rank[i] = hn::Zero(d);
            }
            for (std::size_t i = 0; i < 5; ++i)
                for (std::size_t j = i + 1; j < 5; ++j) {
                    const auto first = hn::Or(w[j] < w[i], hn::AndNot(nan[j], nan[i]));
                    rank[i] = hn::Add(rank[i], hn::IfThenElseZero(first, one));
                    rank[j] = hn::Add(rank[j], hn::IfThenZeroElse(first, one));
                }
            V median = w[0];
            for (std::size_t i = 1; i < 5; ++i) median = hn::IfThenElse(rank[i] == two, w[i], median);
            hn::StoreU(median, d, out + k);
        },
        [&](std::size_t k) {
            double w[5];
            int rank[5] = {0, 0, 0, 0, 0};
            for (std::size_t i = 0; i < 5; ++i) w[i] = x[k + 4 - i];
            for (std::size_t i = 0; i < 5; ++i)
                for (std::size_t j = i + 1; j < 5; ++j) {
                    const bool first = (w[j] < w[i]) | (!std::isnan(w[j]) & std::isnan(w[i]));
                    rank[i] += first;
                    rank[j] += !first;
                }
            double median = w[0];
            for (std::size_t i = 1; i < 5; ++i) median = select(rank[i] == 2, w[i], median);
            out[k] = median;
        });
}

}  // namespace lumenfold::core::lanes::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lumenfold::core::lanes {

LF_DISPATCH(ehlers_filter_outputs, EhlersFilterOutputs)
LF_DISPATCH(truncated_bandpass_outputs, TruncatedBandpassOutputs)
LF_DISPATCH(projected_means, ProjectedMeans)
LF_DISPATCH(sums_of_squares, SumsOfSquares)
LF_DISPATCH(rank_changes, RankChanges)
LF_DISPATCH(window_part_extremes, WindowPartExtremes)
LF_DISPATCH(medians_of_five, MediansOfFive)

}  // namespace lumenfold::core::lanes
#endif
