// The spectral measures against verbatim copies of their steps as they were
// before their sums moved into SIMD lanes (and the autocorrelation's lagged
// sums were kept from earlier bars): the same outputs, bit for bit (every NaN
// alike), on every instruction set, over series with ties, signed zeros, NaN
// and infinities, for sizes around the lane widths.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "lumenfold/core/cycles/autocorrelation.hpp"
#include "lumenfold/core/cycles/griffiths_dominant_cycle.hpp"
#include "lumenfold/core/cycles/griffiths_spectrum.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "support.hpp"

namespace lumenfold::test {
namespace {

using core::HighPass;
using lumenfold::Panic;
using core::Projection;
using core::RingBuffer;
using core::SuperSmoother;
using core::to_f64;
using core::UltimateSmoother;
using core::kTwoPi;

// ---- the steps as they were ----
namespace before {

class Autocorrelation {
public:
    Autocorrelation(std::uint64_t length, std::uint64_t num_lags)
        : window_(history(length, num_lags)), w_(length + num_lags), length_(length), num_lags_(num_lags) {}

    std::vector<double> next(double x) {
        window_.push_front(smoother_.next(x));
        if (window_.len() > length_ + num_lags_) window_.pop_back();

        std::vector<double> out(num_lags_, 0.0);
        if (num_lags_ == 0) return out;
        if (length_ == 0) {
            out[0] = 1.0;
            return out;
        }
        // The history read once, newest first, zeros before the first input.
        const std::uint64_t held = length_ + num_lags_;
        for (std::uint64_t i = 0; i < held; ++i) w_[i] = window_.get_or(i, 0.0);
        const double n = to_f64(length_);
        // The lag-0 segment is the same for every lag.
        double sa = 0.0;
        double saa = 0.0;
        for (std::uint64_t i = 0; i < length_; ++i) {
            const double a = w_[i];
            sa = sa + a;
            saa = saa + a * a;
        }
        const double dx = saa * n - sa * sa;
        if (!(dx > 0.0)) {
            out[0] = 1.0;
            return out;
        }
        // Each lag's sums run in their own order; four lags advance side by side.
        for (std::uint64_t k = 0; k < num_lags_; k += 4) {
            const std::uint64_t m = std::min<std::uint64_t>(4, num_lags_ - k);
            double sb[4] = {};
            double sab[4] = {};
            double sbb[4] = {};
            for (std::uint64_t i = 0; i < length_; ++i) {
                const double a = w_[i];
                for (std::uint64_t g = 0; g < m; ++g) {
                    const double b = w_[i + k + g];
                    sb[g] = sb[g] + b;
                    sab[g] = sab[g] + a * b;
                    sbb[g] = sbb[g] + b * b;
                }
            }
            for (std::uint64_t g = 0; g < m; ++g) {
                const double dy = sbb[g] * n - sb[g] * sb[g];
                if (dy > 0.0) {
                    out[k + g] = (sab[g] * n - sa * sb[g]) / std::sqrt(dx * dy);
                } else if (k + g == 0) {
                    out[0] = 1.0;
                }
            }
        }
        return out;
    }

private:
    // length + num_lags values are kept; a sum that wraps cannot be sized.
    static std::uint64_t history(std::uint64_t length, std::uint64_t num_lags) {
        if (length + num_lags < length) throw Panic("capacity overflow");
        return length + num_lags;
    }

    RingBuffer window_;  // smoothed values, newest first
    std::vector<double> w_;  // the window copied out for the sums
    std::uint64_t length_;
    std::uint64_t num_lags_;
    UltimateSmoother smoother_{20};
};

class PeriodBasis {
public:
    // Periods lower..=upper (none when lower > upper), `terms` terms each,
    // the first of index `first`.
    PeriodBasis(std::uint64_t lower, std::uint64_t upper, std::uint64_t first, std::uint64_t terms)
        : lower_(lower), upper_(upper), first_(first), terms_(terms) {
        if (lower > upper) return;
        const std::uint64_t span = upper - lower;  // periods - 1, never wraps
        if (span >= kMaxTabulated || (terms != 0 && span + 1 > kMaxTabulated / terms)) return;
        const std::uint64_t periods = span + 1;
        table_.resize(periods * terms * 2);
        for (std::uint64_t j = 0; j < periods; ++j) {
            double* row = table_.data() + j * terms * 2;
            for (std::uint64_t i = 0; i < terms; ++i) {
                const double t = angle(lower + j, first + i);
                row[2 * i] = std::cos(t);
                row[2 * i + 1] = std::sin(t);
            }
        }
        tabulated_ = true;
    }

    // Calls f(p, projection of value(i), i = 0..terms-1) for every period p,
    // lowest first. Each sum runs in its own order; tabulated periods are
    // taken four at a time so that their sums advance side by side.
    template <class Value, class F>
    void each(Value&& value, F&& f) const {
        if (lower_ > upper_) return;
        if (!tabulated_) {
            for (std::uint64_t p = lower_;; ++p) {
                double re = 0.0;
                double im = 0.0;
                for (std::uint64_t i = 0; i < terms_; ++i) {
                    const double v = value(i);
                    const double t = angle(p, first_ + i);
                    re = re + v * std::cos(t);
                    im = im + v * std::sin(t);
                }
                f(p, Projection{re, im});
                if (p == upper_) break;
            }
            return;
        }
        const std::uint64_t periods = upper_ - lower_ + 1;
        const std::uint64_t stride = terms_ * 2;
        std::uint64_t j = 0;
        for (; j + 4 <= periods; j += 4) {
            const double* row = table_.data() + j * stride;
            double re[4] = {0.0, 0.0, 0.0, 0.0};
            double im[4] = {0.0, 0.0, 0.0, 0.0};
            for (std::uint64_t i = 0; i < terms_; ++i) {
                const double v = value(i);
                for (int g = 0; g < 4; ++g) {
                    re[g] = re[g] + v * row[g * stride + 2 * i];
                    im[g] = im[g] + v * row[g * stride + 2 * i + 1];
                }
            }
            for (int g = 0; g < 4; ++g) f(lower_ + j + g, Projection{re[g], im[g]});
        }
        for (; j < periods; ++j) {
            const double* row = table_.data() + j * stride;
            double re = 0.0;
            double im = 0.0;
            for (std::uint64_t i = 0; i < terms_; ++i) {
                const double v = value(i);
                re = re + v * row[2 * i];
                im = im + v * row[2 * i + 1];
            }
            f(lower_ + j, Projection{re, im});
        }
    }

    // The angle of term k at the period: (k·2pi)/period.
    static double angle(std::uint64_t period, std::uint64_t k) noexcept {
        return (to_f64(k) * kTwoPi) / to_f64(period);
    }

private:
    // Up to 2^16 (cos, sin) pairs: 1 MiB.
    static constexpr std::uint64_t kMaxTabulated = std::uint64_t{1} << 16;

    std::uint64_t lower_;
    std::uint64_t upper_;
    std::uint64_t first_;
    std::uint64_t terms_;
    bool tabulated_ = false;
    std::vector<double> table_;  // per period, per term: cos, sin
};

class GriffithsFilter {
public:
    GriffithsFilter(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : window_(length_plus_one(length)),
          coef_(length + 1, 0.0),
          length_(length),
          mu_(1.0 / to_f64(length)),
          high_pass_(upper_bound),
          smoother_(lower_bound) {}

    // Filters, normalises and stores x; true once the window holds `length`
    // values (always for length 0), when the predictor may adapt.
    bool push(double x) noexcept {
        const double h = high_pass_.next(x);
        const double s = smoother_.next(h);
        const double decayed = 0.991 * peak_;
        // A NaN s fails the test and leaves the decayed peak.
        peak_ = std::fabs(s) > decayed ? std::fabs(s) : decayed;
        const double v = peak_ == 0.0 ? 0.0 : s / peak_;
        window_.push_front(v);
        if (window_.len() > length_) window_.pop_back();
        return window_.len() >= length_;
    }

    // One LMS step: predicts the newest value from the ones before it and
    // moves every coefficient along its input by mu·error. Needs a full window.
    void adapt() noexcept {
        double pred = 0.0;
        for (std::uint64_t k = 1; k <= length_; ++k) pred = pred + coef_[k] * input(length_ - k);
        const double step = mu_ * (input(length_) - pred);
        for (std::uint64_t k = 1; k <= length_; ++k) coef_[k] = coef_[k] + step * input(length_ - k);
    }

    // Entry k (0..length) of the oldest-first window vector: 0 for k = 0, the
    // oldest value for k = 1, the newest for k = length.
    double input(std::uint64_t k) const noexcept { return k == 0 ? 0.0 : window_[length_ - k]; }

    // The coefficients, index 0 unused.
    const std::vector<double>& coefficients() const noexcept { return coef_; }
    std::uint64_t length() const noexcept { return length_; }

private:
    // The window's requested capacity, length + 1; a length whose vectors of
    // length + 1 doubles cannot exist fails here instead of wrapping to 0.
    static std::uint64_t length_plus_one(std::uint64_t length) {
        if (length >= static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(double)) throw Panic("capacity overflow");
        return length + 1;
    }

    RingBuffer window_;         // normalised values, newest first, at most `length`
    std::vector<double> coef_;  // LMS coefficients, index 0..length
    std::uint64_t length_;
    double mu_;
    HighPass high_pass_;
    SuperSmoother smoother_;
    double peak_ = 0.1;
};
class GriffithsSweep {
public:
    GriffithsSweep(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : filter_(lower_bound, upper_bound, length),
          basis_(lower_bound, upper_bound, 1, length),
          lower_bound_(lower_bound),
          upper_bound_(upper_bound) {}

    // The filter's push and, once it is trained, its adaptation: true when
    // the model has adapted on this bar.
    bool next(double x) noexcept {
        if (!filter_.push(x)) return false;
        filter_.adapt();
        return true;
    }

    // Calls f(period, power) for every period, lowest first.
    template <class F>
    void sweep(F&& f) const {
        const std::vector<double>& coef = filter_.coefficients();
        basis_.each([&coef](std::uint64_t i) { return coef[i + 1]; }, [&f](std::uint64_t p, Projection c) {
            const double one_minus_re = 1.0 - c.re;
            f(p, 0.1 / (c.im * c.im + one_minus_re * one_minus_re));
        });
    }

    std::uint64_t lower_bound() const noexcept { return lower_bound_; }
    std::uint64_t upper_bound() const noexcept { return upper_bound_; }

private:
    GriffithsFilter filter_;
    PeriodBasis basis_;  // cos and sin of (k·2pi)/p, k = 1..length
    std::uint64_t lower_bound_;
    std::uint64_t upper_bound_;
};

class GriffithsDominantCycle {
public:
    GriffithsDominantCycle(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : model_(lower_bound, upper_bound, length), cycle_(to_f64(lower_bound + upper_bound) * 0.5) {}

    double next(double x) {
        if (!model_.next(x)) return cycle_;
        double best = 0.0;
        double candidate = cycle_;
        model_.sweep([&](std::uint64_t p, double power) {
            if (power > best) {
                best = power;
                candidate = to_f64(p);
            }
        });
        const double prev = cycle_;
        if (candidate > prev + 2.0) {
            cycle_ = prev + 2.0;
        } else if (candidate < prev - 2.0) {
            cycle_ = prev - 2.0;
        } else {
            cycle_ = candidate;
        }
        return cycle_;
    }

private:
    GriffithsSweep model_;
    double cycle_;  // the last output
};

class GriffithsSpectrum {
public:
    GriffithsSpectrum(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length)
        : model_(lower_bound, upper_bound, length) {}

    std::vector<double> next(double x) {
        const bool adapted = model_.next(x);
        std::vector<double> out(model_.upper_bound() - model_.lower_bound() + 1, 0.0);
        if (!adapted || out.empty()) return out;  // empty: no period, or 2^64 of them
        double best = 0.0;
        model_.sweep([&](std::uint64_t p, double power) {
            out[p - model_.lower_bound()] = power;
            if (power > best) best = power;
        });
        for (double& v : out) v = best == 0.0 ? 0.0 : v / best;
        return out;
    }

private:
    GriffithsSweep model_;
};
class GriffithsPredictor {
public:
    GriffithsPredictor(std::uint64_t lower_bound, std::uint64_t upper_bound, std::uint64_t length,
                       std::uint64_t bars_fwd)
        : filter_(lower_bound, upper_bound, length), bars_fwd_(bars_fwd), work_(length + 1, 0.0) {}

    double next(double x) {
        if (!filter_.push(x)) return 0.0;
        filter_.adapt();
        if (bars_fwd_ == 0) return 0.0;
        const std::uint64_t n = filter_.length();
        for (std::uint64_t k = 0; k <= n; ++k) work_[k] = filter_.input(k);
        const std::vector<double>& coef = filter_.coefficients();
        double q = 0.0;
        for (std::uint64_t step = 0; step < bars_fwd_; ++step) {
            // coef[1] meets the newest value.
            q = 0.0;
            for (std::uint64_t k = 1; k <= n; ++k) q = q + work_[n + 1 - k] * coef[k];
            for (std::uint64_t i = 1; i < n; ++i) work_[i] = work_[i + 1];
            work_[n] = q;
        }
        return q;
    }

private:
    GriffithsFilter filter_;
    std::uint64_t bars_fwd_;
    std::vector<double> work_;  // the window vector, extended by the predictions
};

}  // namespace before

// Series of three kinds: a random walk, a walk with rare special values, and
// values drawn from a handful (ties, zeros of both signs).
std::vector<double> series(std::size_t n, int kind, std::mt19937_64& rng) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double specials[] = {std::nan(""), kInf, -kInf, 0.0, -0.0};
    const double few[] = {1.0, 2.0, 0.0, -0.0, 2.0, 1.0, 3.5};
    std::uniform_real_distribution<double> step(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 199);
    std::vector<double> xs;
    double level = 50.0;
    for (std::size_t t = 0; t < n; ++t) {
        level += step(rng);
        double v = level;
        if (kind == 1 && pick(rng) < 3) v = specials[pick(rng) % 5];
        if (kind == 2) v = few[pick(rng) % 7];
        xs.push_back(v);
    }
    return xs;
}

std::uint64_t bits(double v) { return std::isnan(v) ? 0x7ff8000000000000u : std::bit_cast<std::uint64_t>(v); }
std::vector<std::uint64_t> bits(const std::vector<double>& v) {
    std::vector<std::uint64_t> out;
    for (double x : v) out.push_back(bits(x));
    return out;
}

// Runs `check(rng)` on every instruction set the lanes are compiled for.
template <class F>
void on_every_target(F check) {
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::mt19937_64 rng(11);
        SCOPED_TRACE(hwy::TargetName(target));
        check(rng);
    }
    hwy::SetSupportedTargetsForTest(0);
}

template <class Old, class New>
void same_outputs(Old old, New now, const std::vector<double>& xs) {
    for (std::size_t t = 0; t < xs.size(); ++t) ASSERT_EQ(bits(old.next(xs[t])), bits(now.next(xs[t]))) << "bar " << t;
}

TEST(SpectralLanes, AutocorrelationAsBefore) {
    on_every_target([](std::mt19937_64& rng) {
        for (std::uint64_t length : {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 20, 33}) {
            for (std::uint64_t lags : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 48}) {
                for (int kind = 0; kind < 3; ++kind) {
                    SCOPED_TRACE(testing::Message() << length << " " << lags << " kind " << kind);
                    same_outputs(before::Autocorrelation(length, lags), core::EhlersAutocorrelation(length, lags),
                                 series(150, kind, rng));
                }
            }
        }
    });
}

// Bounds (lower, upper) giving 0 (lower = upper + 1) to 40 periods, and one
// sweep too large to tabulate its angles.
TEST(SpectralLanes, GriffithsAsBefore) {
    on_every_target([](std::mt19937_64& rng) {
        std::vector<std::array<std::uint64_t, 3>> cases;
        for (std::uint64_t lower : {0, 1, 10}) {
            for (std::uint64_t periods : {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 40}) {
                // 0..2^64-1 would sweep 2^64 periods.
                if (lower == 0 && periods == 0) continue;
                for (std::uint64_t length : {0, 1, 2, 3, 5, 8, 9, 16, 17, 20}) {
                    cases.push_back({lower, lower + periods - 1, length});
                }
            }
        }
        for (auto [lo, hi, len] : cases) {
            for (int kind = 0; kind < 3; ++kind) {
                SCOPED_TRACE(testing::Message() << lo << ".." << hi << " length " << len << " kind " << kind);
                const auto xs = series(120, kind, rng);
                same_outputs(before::GriffithsDominantCycle(lo, hi, len), core::GriffithsDominantCycle(lo, hi, len), xs);
                same_outputs(before::GriffithsSpectrum(lo, hi, len), core::GriffithsSpectrum(lo, hi, len), xs);
                for (std::uint64_t fwd : {0, 1, 3}) {
                    same_outputs(before::GriffithsPredictor(lo, hi, len, fwd), core::GriffithsPredictor(lo, hi, len, fwd),
                                xs);
                }
            }
        }
        const auto xs = series(40, 1, rng);
        same_outputs(before::GriffithsSpectrum(6, 3000, 24), core::GriffithsSpectrum(6, 3000, 24), xs);
    });
}

// The strongest value against the running maximum it stands for, over
// values with ties, zeros, NaN and infinities.
TEST(SpectralLanes, StrongestIsTheRunningMaximum) {
    on_every_target([](std::mt19937_64& rng) {
        constexpr double kInf = std::numeric_limits<double>::infinity();
        const double pool[] = {0.0, -0.0, 0.1, 0.25, 0.25, 3.0, kInf, std::nan(""), -1.0};
        std::uniform_int_distribution<int> pick(0, 8);
        for (std::size_t n = 0; n <= 40; ++n) {
            for (int round = 0; round < 20; ++round) {
                std::vector<double> x(n);
                for (double& v : x) v = pool[pick(rng)];
                double best = 0.0;
                std::size_t at = n;
                for (std::size_t j = 0; j < n; ++j) {
                    if (x[j] > best) best = x[j], at = j;
                }
                double got = -1.0;
                ASSERT_EQ(core::lanes::strongest_power(x.data(), n, got), at) << n;
                ASSERT_EQ(bits(got), bits(best)) << n;
            }
        }
    });
}

// A spectrum too wide to size has no row length, and its batch form fails
// as the step does, but only once there is a bar (an empty series gives
// nothing); a wide one that can be sized keeps its length.
TEST(SpectralLanes, UnsizableRowsFailOnTheFirstBar) {
    const std::vector<double> one(1, 0.0);
    std::vector<std::vector<double>> out(1);
    core::GriffithsSpectrum wrapped(20, 18, 5);
    EXPECT_EQ(wrapped.batch_row_length(), 0u);
    wrapped.batch(core::PlainRows(out.data()), core::PlainSeries(std::span(one).first(0)));
    expect_panic([&] { wrapped.batch(core::PlainRows(out.data()), core::PlainSeries(one)); }, "capacity overflow");
    expect_panic([&] { wrapped.next(0.0); }, "capacity overflow");
    EXPECT_EQ(core::GriffithsSpectrum(1, std::uint64_t{1} << 32, 5).batch_row_length(), std::uint64_t{1} << 32);
}

}  // namespace
}  // namespace lumenfold::test
