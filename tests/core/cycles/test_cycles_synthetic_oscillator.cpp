// Synthetic oscillator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "lumenfold/core/cycles/synthetic_oscillator.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "cycles/cycles_support.hpp"
#include "support.hpp"

using namespace lumenfold::core;
using lumenfold::test::jagged;
using lumenfold::test::run;

namespace {

// The oscillator written out step by step from its definition, with plain
// containers and its own filters.
class Reference {
public:
    Reference(std::uint64_t lo, std::uint64_t hi) : lo_(lo), hi_(hi), cycle_(lo) {
        const double m = std::floor(std::sqrt(double(lo * hi)));
        band_hp_ = coeffs(double(hi), true);
        band_lp_ = coeffs(double(lo), false);
        ref_ = coeffs(m, true);
        for (int i = 1; i <= 12; ++i) {
            w_.push_back(1.0 - std::cos((i * kTwoPi) / 13.0));
            wsum_ += w_.back();
        }
    }

    double next(double x) {
        ++bars_;
        win_.push_front(x);
        if (win_.size() > 12) win_.pop_back();
        double h = x;
        if (win_.size() == 12) {
            h = 0.0;
            for (int i = 0; i < 12; ++i) h += win_[i] * w_[i];
            h /= wsum_;
        }
        const double hp = bars_ > 3 ? band_hp_[0] * (h - 2 * bx1_ + bx2_) + band_hp_[1] * by1_ + band_hp_[2] * by2_ : 0.0;
        by2_ = by1_, by1_ = hp, bx2_ = bx1_, bx1_ = h;
        const double lp = bars_ >= 4 ? (band_lp_[0] * (hp + lx1_)) * 0.5 + band_lp_[1] * ly1_ + band_lp_[2] * ly2_ : hp;
        ly2_ = ly1_, ly1_ = lp, lx1_ = hp;
        const double i = rms(is_, isum_, lp);
        const double q = rms(qs_, qsum_, i - i1_);
        const double a = (i - i1_) * q, b = i * (q - q1_);
        double cycle = std::fabs(a - b) > 1e-10 ? kTwoPi * (i * i + q * q) / (a - b) : cycle_;
        if (cycle < double(lo_)) cycle = double(lo_);
        if (cycle > double(hi_)) cycle = double(hi_);
        const double rh = bars_ > 3 ? ref_[0] * (x - 2 * rx1_ + rx2_) + ref_[1] * ry1_ + ref_[2] * ry2_ : 0.0;
        ry2_ = ry1_, ry1_ = rh, rx2_ = rx1_, rx1_ = x;
        const double c1 = ref_[0], c2 = ref_[1], c3 = ref_[2];
        const double r = bars_ > 3 ? (1 - c1) * rh + (2 * c1 - c2) * ux1_ - (c1 + c3) * ux2_ + c2 * uy1_ + c3 * uy2_ : rh;
        uy2_ = uy1_, uy1_ = r, ux2_ = ux1_, ux1_ = rh;
        phase_ += kTwoPi / cycle;
        if (r > 0 && r1_ <= 0) {
            phase_ = kPi / cycle;
        } else if (r < 0 && r1_ >= 0) {
            phase_ = kPi / cycle + kPi;
        }
        const double s = std::sin(phase_), w = std::fmod(phase_, kTwoPi);
        double out = s;
        if ((0 < w && w < kPi / 2 && s < out1_) || (kPi < w && w < 1.5 * kPi && s > out1_)) out = out1_;
        i1_ = i, q1_ = q, cycle_ = cycle, r1_ = r, out1_ = out;
        return out;
    }

private:
    static std::vector<double> coeffs(double p, bool high) {
        const double a = std::exp(-4.442212012175967 / p);
        const double c2 = 2 * a * std::cos(4.442212012175967 / p), c3 = -a * a;
        return {high ? (1 + c2 - c3) / 4 : 1 - c2 - c3, c2, c3};
    }
    static double rms(std::deque<double>& win, double& sum, double v) {
        win.push_back(v);
        sum += v * v;
        if (win.size() > 100) {
            sum -= win.front() * win.front();
            win.pop_front();
        }
        const double r = std::sqrt(sum / double(win.size()));
        return r > 1e-10 ? v / r : 0.0;
    }

    std::uint64_t lo_, hi_, bars_ = 0;
    double cycle_;
    std::vector<double> band_hp_, band_lp_, ref_, w_;
    double wsum_ = 0;
    std::deque<double> win_, is_, qs_;
    double isum_ = 0, qsum_ = 0;
    double bx1_ = 0, bx2_ = 0, by1_ = 0, by2_ = 0, lx1_ = 0, ly1_ = 0, ly2_ = 0;
    double rx1_ = 0, rx2_ = 0, ry1_ = 0, ry2_ = 0, ux1_ = 0, ux2_ = 0, uy1_ = 0, uy2_ = 0;
    double i1_ = 0, q1_ = 0, r1_ = 0, phase_ = 0, out1_ = 0;
};

std::vector<double> reference(std::uint64_t lo, std::uint64_t hi, const std::vector<double>& xs) {
    Reference ref(lo, hi);
    std::vector<double> out;
    for (double x : xs) out.push_back(ref.next(x));
    return out;
}

}  // namespace

TEST(SyntheticOscillator, MatchesTheStepByStepDefinition) {
    auto xs = jagged(700);
    for (int i = 0; i < 700; ++i) xs[i] += 6 * std::sin(kTwoPi * i / (14 + (i / 90) * 3));
    for (auto [lo, hi] : {std::pair<std::uint64_t, std::uint64_t>{10, 48}, {8, 8}, {6, 30}, {20, 12}}) {
        const auto got = run(SyntheticOscillator(lo, hi), xs);
        const auto want = reference(lo, hi, xs);
        for (std::size_t i = 0; i < xs.size(); ++i) ASSERT_EQ(got[i], want[i]) << lo << "/" << hi << " bar " << i + 1;
    }
}

TEST(SyntheticOscillator, FreeRunsAtTheLowerBoundOnZeros) {
    const auto out = run(SyntheticOscillator(10, 48), std::vector<double>(40, 0.0));
    double phase = 0.0;
    for (std::size_t k = 0; k < out.size(); ++k) {
        phase = phase + kTwoPi / 10.0;
        EXPECT_EQ(out[k], std::sin(phase)) << "bar " << k + 1;
    }
    // An upper bound below the lower one wins the clamp.
    SyntheticOscillator swapped(20, 12);
    phase = 0.0;
    for (int k = 0; k < 30; ++k) {
        phase = phase + kTwoPi / 12.0;
        EXPECT_EQ(swapped.next(0.0), std::sin(phase));
        EXPECT_EQ(swapped.cycle(), 12.0);
    }
    for (double x : jagged(300)) {
        swapped.next(x);
        EXPECT_EQ(swapped.cycle(), 12.0);
    }
}

TEST(SyntheticOscillator, ReferencePeriodAndDegenerateBounds) {
    EXPECT_EQ(SyntheticOscillator::reference_period(10, 48), 21u);
    EXPECT_EQ(SyntheticOscillator::reference_period(8, 8), 8u);
    EXPECT_EQ(SyntheticOscillator::reference_period(0, 48), 0u);
    for (auto [lo, hi] : {std::pair<std::uint64_t, std::uint64_t>{0, 48}, {10, 0}, {0, 0}}) {
        for (double v : run(SyntheticOscillator(lo, hi), jagged(30))) EXPECT_TRUE(std::isnan(v)) << lo << "/" << hi;
    }
}

TEST(SyntheticOscillator, NanInputHoldsTheCycleAndRunsOn) {
    auto xs = jagged(400);
    xs[200] = kNaN;
    SyntheticOscillator osc(10, 48);
    std::vector<double> cycles;
    for (double x : xs) {
        const double v = osc.next(x);
        EXPECT_FALSE(std::isnan(v));
        cycles.push_back(osc.cycle());
    }
    // At most one more change after the NaN bar, then the cycle holds.
    for (std::size_t i = 203; i < cycles.size(); ++i) EXPECT_EQ(cycles[i], cycles[202]) << i;
}
