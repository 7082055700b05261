// The pattern scanner against a plain transcription that keeps every bar,
// every queued pole and every used pole and accepted pattern for ever and
// rescans the bars after each pole on every bar: outputs must agree to the
// bit on random walks, NaN bars included.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "lumenfold/core/channels/geometric_pattern.hpp"
#include "lumenfold/core/channels/market_structure.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/num.hpp"

using namespace lumenfold::core;

namespace {

class Transcription {
public:
    Transcription(std::uint64_t s, GeometricPatternConfig c) : ms_(s), c_(c) {}

    GeometricNextOutput next(double h, double l) {
        ++n_;
        const double m = (h + l) * 0.5;
        const double pc = n_ == 1 ? m : mids_.back();
        highs_.push_back(h);
        lows_.push_back(l);
        mids_.push_back(m);
        const double tr = true_range(h, l, pc);
        const std::uint64_t p = std::max<std::uint64_t>(c_.atr_period, 1);
        if (n_ == 1) {
            atr_ = tr;
        } else if (n_ <= p) {
            atr_ = (tr + atr_ * double(n_ - 1)) / double(n_);
        } else {
            const double a = 1.0 / double(p);
            atr_ = tr * a + (1.0 - a) * atr_;
        }
        atr_ = max_num(atr_, 1e-8);
        GeometricNextOutput out{ms_.next(h, l), std::nullopt, std::nullopt};
        if (out.market_structure.last_swing_high) offer(*out.market_structure.last_swing_high);
        if (out.market_structure.last_swing_low) offer(*out.market_structure.last_swing_low);
        search();
        out.flag = flags(h, l, m);
        out.hs = hs(m);
        return out;
    }

private:
    struct Pole {
        std::uint64_t start, end;
        bool bull;
    };
    struct Flag {
        std::uint64_t start, end, flag_start, last;
        double ph, pl, len, extreme;
        std::uint64_t counter, with;
        bool bull;
    };
    struct Hs {
        std::uint64_t ls, head, rs;
        double slope, intercept, height, height_atr, score;
        std::uint32_t id;
        bool bearish;
        std::uint64_t last;
    };

    void offer(const SwingPoint& p) {
        for (const SwingPoint& s : swings_) {
            if (s.bar == p.bar && s.is_high == p.is_high) return;
        }
        if (swings_.empty() || swings_.back().is_high != p.is_high) {
            swings_.push_back(p);
            if (swings_.size() > 80) swings_.erase(swings_.begin(), swings_.begin() + 20);
        } else if (p.is_high ? p.price >= swings_.back().price : p.price <= swings_.back().price) {
            swings_.pop_back();
            swings_.push_back(p);
        }
    }

    std::optional<std::pair<bool, double>> move(std::uint64_t i) const {
        if (!(i + 2 < highs_.size())) return std::nullopt;
        double bull = 0.0, bear = 0.0;
        for (std::uint64_t k = i; k < i + 3; ++k) {
            const double mid = (highs_[k] + lows_[k]) * 0.5, half = (highs_[k] - lows_[k]) * 0.5;
            if (mids_[k] >= mid) {
                bull += half + (mids_[k] - mid);
            } else {
                bear += half + (mid - mids_[k]);
            }
        }
        const double total = (highs_[i] - lows_[i]) + (highs_[i + 1] - lows_[i + 1]) + (highs_[i + 2] - lows_[i + 2]);
        const double strength = max_num(max_num(bull, bear), total);
        if (strength < c_.pole_min_atr * atr_) return std::nullopt;
        if (highs_[i + 2] > highs_[i] && bull >= bear) return std::pair{true, strength};
        if (lows_[i + 2] < lows_[i] && bear > bull) return std::pair{false, strength};
        return std::nullopt;
    }

    void search() {
        if (n_ < 3) return;
        std::optional<std::pair<std::uint64_t, std::pair<bool, double>>> best;
        for (std::uint64_t i = n_ >= 12 ? n_ - 12 : 0; i <= n_ - 3; ++i) {
            const auto mv = move(i);
            if (mv && (!best || mv->second > best->second.second)) best = std::pair{i, *mv};
        }
        if (!best) return;
        const std::uint64_t s = best->first;
        if (used_.count({s, s + 2})) return;
        for (const Pole& p : pending_) {
            if (p.start == s && p.end == s + 2) return;
        }
        pending_.push_back({s, s + 2, best->second.first});
    }

    double retracement(bool bull, double ph, double pl, double len, double extreme) const {
        return bull ? (ph - extreme) / len * 100.0 : (extreme - pl) / len * 100.0;
    }

    std::optional<FlagPatternOutput> flags(double h, double l, double m) {
        std::vector<std::pair<double, Pole>> keyed;
        for (const Pole& p : pending_) {
            const auto mv = move(p.start);
            keyed.push_back({mv ? mv->second : 0.0, p});
        }
        const auto stronger = [](const auto& a, const auto& b) { return a.first > b.first; };
        if (keyed.size() < 21) {
            for (std::size_t i = 1; i < keyed.size(); ++i) {
                for (std::size_t j = i; j > 0 && stronger(keyed[j], keyed[j - 1]); --j) {
                    std::swap(keyed[j], keyed[j - 1]);
                }
            }
        } else {
            std::stable_sort(keyed.begin(), keyed.end(), stronger);
        }
        const std::uint64_t cur = n_ - 1;
        bool formed = false;
        pending_.clear();
        for (const auto& [key, p] : keyed) {
            const bool used = used_.count({p.start, p.end}) != 0;
            if (formed || used) {
                if (!used) pending_.push_back(p);
                continue;
            }
            const bool active = std::any_of(fl_.begin(), fl_.end(),
                                            [&](const Flag& f) { return f.start == p.start && f.end == p.end; });
            const double ph = p.bull ? highs_[p.end] : highs_[p.start];
            const double pl = p.bull ? lows_[p.start] : lows_[p.end];
            if (active || ph - pl == 0.0 || cur <= p.end || cur - p.end < c_.min_flag_bars) {
                pending_.push_back(p);
                continue;
            }
            const double len = std::fabs(ph - pl);
            double extreme = p.bull ? kMaxF64 : -kMaxF64;
            for (std::uint64_t j = p.end + 1; j <= cur; ++j) {
                if (p.bull ? lows_[j] < extreme : highs_[j] > extreme) extreme = p.bull ? lows_[j] : highs_[j];
            }
            std::uint64_t counter = 0, with = 0;
            for (std::uint64_t j = p.end + 2; j <= cur; ++j) {
                counter += p.bull ? highs_[j] < highs_[j - 1] : lows_[j] > lows_[j - 1];
                with += p.bull ? lows_[j] > lows_[j - 1] : highs_[j] < highs_[j - 1];
            }
            if (retracement(p.bull, ph, pl, len, extreme) > c_.max_flag_retracement_pct || counter < with) {
                pending_.push_back(p);
                continue;
            }
            fl_.push_back({p.start, p.end, p.end + 1, cur, ph, pl, len, extreme, counter, with, p.bull});
            formed = true;
        }

        std::optional<FlagPatternOutput> out;
        std::vector<Flag> kept;
        for (Flag& f : fl_) {
            if (f.last == cur) {
                kept.push_back(f);
                continue;
            }
            if (f.bull ? (h > f.ph || m > f.ph) : (l < f.pl || m < f.pl)) {
                used_.insert({f.start, f.end});
                out = FlagPatternOutput{next_id_++, f.bull, f.start, f.end, f.flag_start,
                                        n_, f.len, f.len / atr_, true, m};
                continue;
            }
            if (f.bull ? l < f.extreme : h > f.extreme) f.extreme = f.bull ? l : h;
            if (retracement(f.bull, f.ph, f.pl, f.len, f.extreme) > c_.max_flag_retracement_pct) continue;
            f.counter += f.bull ? highs_[cur] < highs_[cur - 1] : lows_[cur] > lows_[cur - 1];
            f.with += f.bull ? lows_[cur] > lows_[cur - 1] : highs_[cur] < highs_[cur - 1];
            if (f.counter < f.with) continue;
            f.last = cur;
            kept.push_back(f);
        }
        fl_ = kept;
        return out;
    }

    double score(std::uint64_t lb, std::uint64_t hb, std::uint64_t rb, double ls, double rs, double head,
                 double slope, double height) const {
        const double d = std::fabs(ls - rs) / max_num(std::fabs(head), 1e-8);
        double total = max_num(1.0 - d / c_.shoulder_tolerance, 0.0) * 30.0;
        double ts = 0.0;
        if (hb > lb && rb > hb) ts = double(std::min(hb - lb, rb - hb)) / double(std::max(hb - lb, rb - hb));
        total += c_.time_symmetry_weight_pct == 0 ? 20.0 : ts * (double(c_.time_symmetry_weight_pct) / 100.0) * 20.0;
        const double angle = std::fabs(std::atan(slope) * 57.29577951308232);
        if (angle <= c_.max_neckline_angle_deg) total += (1.0 - angle / c_.max_neckline_angle_deg) * 20.0;
        total += min_num((height / atr_) / c_.min_hs_height_atr * 30.0, 30.0);
        return min_num(total, 100.0);
    }

    std::optional<HsPatternOutput> hs(double m) {
        for (std::size_t k = 0; swings_.size() >= 5 && k + 5 <= swings_.size(); ++k) {
            const SwingPoint* s = &swings_[k];
            const bool top = s[0].is_high && !s[1].is_high && s[2].is_high && !s[3].is_high && s[4].is_high;
            if (!top && !(!s[0].is_high && s[1].is_high && !s[2].is_high && s[3].is_high && !s[4].is_high)) continue;
            if ((s[4].bar >= s[0].bar ? s[4].bar - s[0].bar : 0) < c_.min_hs_span_bars) continue;
            if (detected_.count({s[0].bar, s[2].bar, s[4].bar})) continue;
            const double ls = s[0].price, head = s[2].price, rs = s[4].price;
            if (top ? (head <= ls || rs >= head) : (head >= ls || rs <= head)) continue;
            const double ratio = top ? std::fabs(ls - rs) / head : std::fabs(ls - rs) / max_num(std::fabs(head), 1e-8);
            if (ratio > c_.shoulder_tolerance) continue;
            const double b2 = double(s[1].bar), b4 = double(s[3].bar);
            if (std::fabs(b4 - b2) < 1e-8) continue;
            const double slope = (s[3].price - s[1].price) / (b4 - b2);
            const double intercept = s[1].price - slope * b2;
            const double neck = slope * double(s[2].bar) + intercept;
            const double height = top ? head - neck : neck - head;
            if (height < c_.min_hs_height_atr * atr_) continue;
            const double sc = score(s[0].bar, s[2].bar, s[4].bar, ls, rs, head, slope, height);
            if (sc < c_.min_hs_score) continue;
            detected_.insert({s[0].bar, s[2].bar, s[4].bar});
            pats_.push_back(
                {s[0].bar, s[2].bar, s[4].bar, slope, intercept, height, height / atr_, sc, next_id_++, top, n_});
        }
        std::optional<HsPatternOutput> out;
        std::vector<Hs> kept;
        for (Hs& p : pats_) {
            if (p.last != n_) {
                p.last = n_;
                const double neck = p.slope * double(n_) + p.intercept;
                if (p.bearish ? m < neck : m > neck) {
                    out = HsPatternOutput{p.id, p.bearish, p.height, p.height_atr, p.score, true};
                    continue;
                }
                if ((n_ >= p.rs ? n_ - p.rs : 0) > 60) continue;
            }
            kept.push_back(p);
        }
        pats_ = kept;
        return out;
    }

    MarketStructure ms_;
    GeometricPatternConfig c_;
    std::vector<double> highs_, lows_, mids_;
    std::vector<SwingPoint> swings_;
    std::vector<Pole> pending_;
    std::vector<Flag> fl_;
    std::vector<Hs> pats_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> used_;
    std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> detected_;
    std::uint64_t n_ = 0;
    double atr_ = 1.0;
    std::uint32_t next_id_ = 1;
};

// Every field of one output as raw bits, absent parts marked.
std::vector<std::uint64_t> bits(const GeometricNextOutput& o) {
    std::vector<std::uint64_t> v;
    const auto put = [&](auto... xs) { (v.push_back(static_cast<std::uint64_t>(xs)), ...); };
    const auto f = [&](double x) { v.push_back(std::bit_cast<std::uint64_t>(x)); };
    const MarketStructureOutput& s = o.market_structure;
    put(s.bias, s.swing_depth_used, s.bar_index);
    for (const auto& sw : {s.last_swing_high, s.last_swing_low}) {
        put(sw.has_value());
        if (sw) put(sw->bar, std::bit_cast<std::uint64_t>(sw->price), sw->is_high);
    }
    put(s.current_flip.has_value());
    if (const auto& c = s.current_flip) {
        put(c->is_bearish, c->bar, c->structure_strength);
        f(c->price);
    }
    put(o.flag.has_value());
    if (const auto& g = o.flag) {
        put(g->id, g->is_bull, g->pole_start_bar, g->pole_end_bar, g->flag_start_bar, g->flag_end_bar,
            g->breakout_confirmed);
        f(g->pole_length);
        f(g->pole_length_atr);
        f(g->breakout_price);
    }
    put(o.hs.has_value());
    if (const auto& h = o.hs) {
        put(h->id, h->is_bearish, h->breakout_confirmed);
        f(h->height);
        f(h->height_atr);
        f(h->score);
    }
    return v;
}

struct Walk {
    std::uint64_t seed;
    std::uint64_t swing_strength;
    GeometricPatternConfig config;
    double nan_share;  // of bars with a NaN high or low
};

}  // namespace

TEST(GeometricPatternScanner, MatchesTranscriptionKeepingEverything) {
    GeometricPatternConfig loose;
    loose.min_flag_bars = 0;
    loose.atr_period = 0;
    loose.max_flag_retracement_pct = 90.0;
    loose.min_hs_score = 40.0;
    loose.time_symmetry_weight_pct = 0;
    GeometricPatternConfig strict;
    strict.pole_min_atr = 2.5;
    strict.min_flag_bars = 9;
    strict.max_flag_retracement_pct = 30.0;
    const Walk walks[] = {{1, 2, {}, 0.0}, {2, 1, {}, 0.0}, {3, 3, {}, 0.0},
                          {4, 2, loose, 0.0}, {5, 1, strict, 0.0}, {6, 2, {}, 0.01}};
    for (const Walk& w : walks) {
        GeometricPatternScanner scanner(w.swing_strength, w.config);
        Transcription ref(w.swing_strength, w.config);
        std::mt19937_64 rng(w.seed);
        std::normal_distribution<double> step(0.0, 1.0);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        double price = 100.0;
        std::uint64_t flags = 0, patterns = 0;
        for (int i = 0; i < 1500; ++i) {
            price += step(rng);
            double h = price + u(rng), l = price - u(rng);
            if (u(rng) < w.nan_share) (u(rng) < 0.5 ? h : l) = kNaN;
            const GeometricNextOutput got = scanner.next(h, l);
            ASSERT_EQ(bits(got), bits(ref.next(h, l))) << "walk " << w.seed << " bar " << i;
            flags += got.flag.has_value();
            patterns += got.hs.has_value();
        }
        // The walks exercise both stages.
        EXPECT_GT(flags, 5u) << w.seed;
        EXPECT_GT(patterns, 5u) << w.seed;
    }
}
