#include "lumenfold/core/channels/geometric_pattern.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"

namespace lumenfold::core {

namespace {

constexpr std::size_t kMaxSwings = 80;
constexpr std::size_t kSwingTrim = 20;
constexpr std::uint64_t kPoleLookback = 12;  // the pole search starts at most this many bars back
constexpr std::uint64_t kHsExpiry = 60;      // bars after the right shoulder a pattern is tracked
constexpr double kTiny = 1e-8;

std::uint64_t sub_or_zero(std::uint64_t a, std::uint64_t b) noexcept { return a >= b ? a - b : 0; }

void count_up(std::uint32_t& c, bool b) noexcept {
    if (b && c != std::numeric_limits<std::uint32_t>::max()) ++c;
}

// Removes the elements marked in `drop` (parallel flags), keeping the order.
template <class T>
void remove_marked(std::vector<T>& v, const std::vector<bool>& drop) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!drop[i]) v[w++] = v[i];
    }
    v.resize(w);
}

}  // namespace

GeometricPatternScanner::GeometricPatternScanner(std::uint64_t swing_strength, const GeometricPatternConfig& config)
    : market_(swing_strength), config_(config) {
    swings_.reserve(kMaxSwings + 1);
}

const GeometricPatternScanner::Bar& GeometricPatternScanner::bar(std::uint64_t i) const {
    if (i >= n_ || n_ - i > kHeld) throw Panic("bar " + std::to_string(i) + " is no longer held");
    return bars_[i % kHeld];
}

std::size_t GeometricPatternScanner::footprint() const noexcept {
    return bars_.size() + moves_.size() + swings_.capacity() + candidates_.capacity() + flags_.capacity()
           + patterns_.capacity() + pending_.capacity() + used_.capacity() + detected_.capacity()
           + scratch_.capacity();
}

GeometricNextOutput GeometricPatternScanner::next(double high, double low) {
    ++n_;
    const double mid = (high + low) * 0.5;
    const double prev_mid = n_ == 1 ? mid : bar(n_ - 2).mid;
    bars_[(n_ - 1) % kHeld] = {high, low, mid};
    if (n_ >= 3) moves_[(n_ - 3) % kHeld] = measure_move(n_ - 3);
    update_atr(true_range(high, low, prev_mid));

    GeometricNextOutput out{market_.next(high, low), std::nullopt, std::nullopt};
    const MarketStructureOutput& ms = out.market_structure;
    if (ms.last_swing_high) offer_swing(*ms.last_swing_high);
    if (ms.last_swing_low) offer_swing(*ms.last_swing_low);

    // Queued poles (all ending before this bar) see the new bar; those that
    // can no longer form a flag go.
    if (!pending_.empty()) {
        const Bar& cur = bar(n_ - 1);
        const Bar& prev = bar(n_ - 2);
        std::size_t w = 0;
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            PendingPole& p = pending_[i];
            if (take_bar(cur, prev, n_ - 1, p.key.end, p.is_bull, p.drift) && hopeless(p)) continue;
            if (w != i) pending_[w] = p;
            ++w;
        }
        pending_.resize(w);
    }

    search_pole();
    form_flag();
    out.flag = update_flags(high, low, mid);
    detect_hs();
    out.hs = update_hs(mid);
    forget_detected(ms);
    return out;
}

void GeometricPatternScanner::update_atr(double tr) noexcept {
    const std::uint64_t p = config_.atr_period == 0 ? 1 : config_.atr_period;
    if (n_ == 1) {
        atr_ = tr;
    } else if (n_ <= p) {
        atr_ = (tr + atr_ * to_f64(n_ - 1)) / to_f64(n_);
    } else {
        const double alpha = 1.0 / to_f64(p);
        atr_ = tr * alpha + (1.0 - alpha) * atr_;
    }
    atr_ = max_num(atr_, kTiny);
}

// Swing list: alternating highs and lows, each confirmed swing held once. A
// swing of the newest entry's kind replaces it when at least as extreme.
// The tracker offers the same swing on many bars: offered again to an
// unchanged list, it changes nothing (it is held now or was refused).
void GeometricPatternScanner::offer_swing(const SwingPoint& p) {
    std::optional<Offered>& last = offered_[p.is_high ? 0 : 1];
    if (last && last->version == swings_version_ && last->swing.bar == p.bar
        && std::bit_cast<std::uint64_t>(last->swing.price) == std::bit_cast<std::uint64_t>(p.price)) {
        return;
    }
    last = Offered{p, swings_version_};
    for (const Swing& s : swings_) {
        if (s.bar == p.bar && s.is_high == p.is_high) return;
    }
    if (swings_.empty() || swings_.back().is_high != p.is_high) {
        swings_.push_back({p.bar, p.price, p.is_high});
        if (swings_.size() > kMaxSwings) swings_.erase(swings_.begin(), swings_.begin() + kSwingTrim);
    } else if (Swing& newest = swings_.back(); p.is_high ? p.price >= newest.price : p.price <= newest.price) {
        newest = {p.bar, p.price, p.is_high};
    } else {
        return;
    }
    last->version = ++swings_version_;
}

// Bar by bar, the stored midpoint stands in for the close; strength is the
// largest of the two sums and the total range.
GeometricPatternScanner::Move GeometricPatternScanner::measure_move(std::uint64_t start) const {
    double bull = 0.0;
    double bear = 0.0;
    for (std::uint64_t k = start; k <= start + 2; ++k) {
        const Bar& b = bar(k);
        const double m = (b.high + b.low) * 0.5;
        const double half = (b.high - b.low) * 0.5;
        if (b.mid >= m) {
            bull = bull + (half + (b.mid - m));
        } else {
            bear = bear + (half + (m - b.mid));
        }
    }
    const Bar& b0 = bar(start);
    const Bar& b1 = bar(start + 1);
    const Bar& b2 = bar(start + 2);
    const double total = (b0.high - b0.low) + (b1.high - b1.low) + (b2.high - b2.low);
    const double strength = max_num(max_num(bull, bear), total);
    if (b2.high > b0.high && bull >= bear) return {strength, true, true};
    if (b2.low < b0.low && bear > bull) return {strength, true, false};
    return {strength, false, false};
}

const GeometricPatternScanner::Move& GeometricPatternScanner::move_at(std::uint64_t start) const {
    bar(start);  // held?
    return moves_[start % kHeld];
}

std::optional<ThreeBarMove> GeometricPatternScanner::evaluate_three_bar_move(std::uint64_t start) const {
    if (start >= n_ || n_ - start <= 2) return std::nullopt;
    const Move& mv = move_at(start);
    if (mv.strength < config_.pole_min_atr * atr_ || !mv.has_direction) return std::nullopt;
    return ThreeBarMove{start, start + 2, mv.is_bull, mv.strength};
}

// The strongest move starting in the last ten possible bars (ties keep the
// earlier start) joins the queue unless it is queued or used already.
void GeometricPatternScanner::search_pole() {
    if (n_ < 3) return;
    std::optional<ThreeBarMove> best;
    for (std::uint64_t i = sub_or_zero(n_, kPoleLookback); i <= n_ - 3; ++i) {
        const auto mv = evaluate_three_bar_move(i);
        if (mv && (!best || mv->strength > best->strength)) best = mv;
    }
    if (!best) return;
    const PoleKey key{best->start, best->end};
    if (used(key)) return;
    for (const PendingPole& p : pending_) {
        if (p.key == key) return;
    }
    PendingPole p{key, best->is_bull, best->strength, 0.0, 0.0, {}, 0.0};
    p.pole_high = best->is_bull ? bar(key.end).high : bar(key.start).high;
    p.pole_low = best->is_bull ? bar(key.start).low : bar(key.end).low;
    p.drift = {best->is_bull ? kMaxF64 : -kMaxF64, 0, 0};
    for (std::uint64_t j = key.end + 1; j < n_; ++j) take_bar(bar(j), bar(j - 1), j, key.end, p.is_bull, p.drift);
    // A pole that can never form a flag is invisible to every later result.
    if (!hopeless(p)) pending_.push_back(p);
}

// Takes bar j (after the pole's end bar) into the running extreme, and from
// the second bar after the pole on into the counts; tells whether the
// extreme moved.
bool GeometricPatternScanner::take_bar(const Bar& b, const Bar& prev, std::uint64_t j, std::uint64_t end, bool is_bull,
                                       Drift& d) noexcept {
    if (j <= end) return false;
    const bool moved = is_bull ? b.low < d.extreme : b.high > d.extreme;
    if (moved) d.extreme = is_bull ? b.low : b.high;
    if (j < end + 2) return moved;
    if (is_bull) {
        count_up(d.counter, b.high < prev.high);
        count_up(d.with_trend, b.low > prev.low);
    } else {
        count_up(d.counter, b.low > prev.low);
        count_up(d.with_trend, b.high < prev.high);
    }
    return moved;
}

bool GeometricPatternScanner::past_retracement(bool is_bull, double pole_high, double pole_low, double pole_length,
                                               double extreme) const noexcept {
    const double r = is_bull ? (pole_high - extreme) / pole_length * 100.0 : (extreme - pole_low) / pole_length * 100.0;
    return r > config_.max_flag_retracement_pct;
}

// A pole whose high equals its low never forms a flag, nor one pulled back
// beyond the limit: its extreme only moves further away.
bool GeometricPatternScanner::hopeless(const PendingPole& p) const noexcept {
    if (p.pole_high - p.pole_low == 0.0) return true;
    return past_retracement(p.is_bull, p.pole_high, p.pole_low, std::fabs(p.pole_high - p.pole_low), p.drift.extreme);
}

bool GeometricPatternScanner::used(const PoleKey& k) const noexcept {
    return std::find(used_.begin(), used_.end(), k) != used_.end();
}

// Examines the queued poles strongest first and forms at most one flag.
void GeometricPatternScanner::form_flag() {
    const double threshold = config_.pole_min_atr * atr_;
    for (PendingPole& p : pending_) p.order_key = p.strength < threshold ? 0.0 : p.strength;
    // Stable insertion sort, strongest first: a pole moves ahead only past a
    // strictly smaller key, so NaN keys stay put. The queue stays in this order
    // from bar to bar, so the sort is near-linear.
    for (std::size_t i = 1; i < pending_.size(); ++i) {
        if (!(pending_[i - 1].order_key < pending_[i].order_key)) continue;
        const PendingPole x = pending_[i];
        std::size_t j = i;
        while (j > 0 && pending_[j - 1].order_key < x.order_key) {
            pending_[j] = pending_[j - 1];
            --j;
        }
        pending_[j] = x;
    }

    const std::uint64_t cur = n_ - 1;
    bool formed = false;
    std::size_t w = 0;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        const PendingPole& p = pending_[i];
        bool keep = !used(p.key);
        if (keep && !formed) {
            const bool flag_active =
                std::any_of(flags_.begin(), flags_.end(), [&](const Flag& f) { return f.key == p.key; });
            const double length = std::fabs(p.pole_high - p.pole_low);
            // A queued pole's pole length is never 0 and its pullback never
            // beyond the limit: such poles are dropped as soon as they are.
            const bool ready = !flag_active && cur > p.key.end && cur - p.key.end >= config_.min_flag_bars
                               && !(p.drift.counter < p.drift.with_trend);
            if (ready) {
                flags_.push_back({p.key, p.key.end + 1, cur, p.pole_high, p.pole_low, length, p.drift, p.is_bull});
                formed = true;
                keep = false;
            }
        }
        if (keep) pending_[w++] = p;
    }
    pending_.resize(w);

    // No queued pole is used now, and later searches start at n - 11 or later.
    std::erase_if(used_, [&](const PoleKey& k) { return k.start + (kPoleLookback - 1) < n_; });
}

std::optional<FlagPatternOutput> GeometricPatternScanner::update_flags(double high, double low, double mid) {
    const std::uint64_t cur = n_ - 1;
    std::optional<FlagPatternOutput> out;
    std::vector<bool>& drop = scratch_;
    drop.assign(flags_.size(), false);
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        Flag& f = flags_[i];
        if (f.last_examined == cur) continue;
        const bool breakout = f.is_bull ? (high > f.pole_high || mid > f.pole_high)
                                        : (low < f.pole_low || mid < f.pole_low);
        if (breakout) {
            if (!used(f.key)) used_.push_back(f.key);
            drop[i] = true;
            out = FlagPatternOutput{take_id(), f.is_bull, f.key.start, f.key.end, f.flag_start, n_, f.pole_length,
                                    f.pole_length / atr_, true, mid};
            continue;
        }
        take_bar(bar(cur), bar(cur - 1), cur, f.key.end, f.is_bull, f.drift);
        if (past_retracement(f.is_bull, f.pole_high, f.pole_low, f.pole_length, f.drift.extreme)
            || f.drift.counter < f.drift.with_trend) {
            drop[i] = true;
        } else {
            f.last_examined = cur;
        }
    }
    remove_marked(flags_, drop);
    return out;
}

// Windows of five swings passing every test that does not involve the ATR,
// oldest first; found again only when the swing list changes.
void GeometricPatternScanner::find_hs_candidates() {
    candidates_version_ = swings_version_;
    candidates_.clear();
    for (std::size_t k = 0; k + 5 <= swings_.size(); ++k) {
        const Swing* s = &swings_[k];
        const bool top = s[0].is_high && !s[1].is_high && s[2].is_high && !s[3].is_high && s[4].is_high;
        const bool inverse = !s[0].is_high && s[1].is_high && !s[2].is_high && s[3].is_high && !s[4].is_high;
        if (!top && !inverse) continue;
        if (sub_or_zero(s[4].bar, s[0].bar) < config_.min_hs_span_bars) continue;
        const double ls = s[0].price;
        const double head = s[2].price;
        const double rs = s[4].price;
        if (top ? (head <= ls || rs >= head) : (head >= ls || rs <= head)) continue;
        const double ratio = top ? std::fabs(ls - rs) / head : std::fabs(ls - rs) / max_num(std::fabs(head), kTiny);
        if (ratio > config_.shoulder_tolerance) continue;
        const double b2 = to_f64(s[1].bar);
        const double b4 = to_f64(s[3].bar);
        if (std::fabs(b4 - b2) < kTiny) continue;
        const double slope = (s[3].price - s[1].price) / (b4 - b2);
        const double intercept = s[1].price - slope * b2;
        const double neck = slope * to_f64(s[2].bar) + intercept;
        const double height = top ? head - neck : neck - head;
        const Triple bars{s[0].bar, s[2].bar, s[4].bar};
        const bool detected = std::find(detected_.begin(), detected_.end(), bars) != detected_.end();
        candidates_.push_back({bars, ls, rs, head, slope, intercept, height, top, detected});
    }
}

void GeometricPatternScanner::detect_hs() {
    if (candidates_version_ != swings_version_) find_hs_candidates();
    for (const HsCandidate& c : candidates_) {
        if (c.detected || c.height < config_.min_hs_height_atr * atr_) continue;
        const double score = compute_hs_score(c.bars.left, c.bars.head, c.bars.right, c.left_price, c.right_price,
                                              c.head_price, c.slope, c.height);
        if (score < config_.min_hs_score) continue;
        detected_.push_back(c.bars);
        for (HsCandidate& other : candidates_) other.detected = other.detected || other.bars == c.bars;
        patterns_.push_back({c.bars, c.slope, c.intercept, c.height, c.height / atr_, score, take_id(), c.top, n_});
    }
}

double GeometricPatternScanner::compute_hs_score(std::uint64_t left_bar, std::uint64_t head_bar,
                                                 std::uint64_t right_bar, double left_price, double right_price,
                                                 double head_price, double slope, double height) const noexcept {
    const double d = std::fabs(left_price - right_price) / max_num(std::fabs(head_price), kTiny);
    const double shoulder = max_num(1.0 - d / config_.shoulder_tolerance, 0.0);
    double score = shoulder * 30.0;

    double ts = 0.0;
    if (head_bar > left_bar && right_bar > head_bar) {
        const std::uint64_t a = head_bar - left_bar;
        const std::uint64_t b = right_bar - head_bar;
        ts = to_f64(std::min(a, b)) / to_f64(std::max(a, b));
    }
    const std::uint32_t weight = config_.time_symmetry_weight_pct;
    score = score + (weight == 0 ? 20.0 : ts * (static_cast<double>(weight) / 100.0) * 20.0);

    const double angle = std::fabs(std::atan(slope) * kRadToDeg);
    if (angle <= config_.max_neckline_angle_deg) score = score + (1.0 - angle / config_.max_neckline_angle_deg) * 20.0;

    score = score + min_num(height / atr_ / config_.min_hs_height_atr * 30.0, 30.0);
    return min_num(score, 100.0);
}

std::optional<HsPatternOutput> GeometricPatternScanner::update_hs(double mid) {
    std::optional<HsPatternOutput> out;
    std::vector<bool>& drop = scratch_;
    drop.assign(patterns_.size(), false);
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
        HsPattern& p = patterns_[i];
        if (p.last_examined == n_) continue;
        p.last_examined = n_;
        const double neck = p.slope * to_f64(n_) + p.intercept;
        if (p.is_bearish ? mid < neck : mid > neck) {
            out = HsPatternOutput{p.id, p.is_bearish, p.height, p.height_atr, p.score, true};
            drop[i] = true;
        } else if (sub_or_zero(n_, p.bars.right) > kHsExpiry) {
            drop[i] = true;
        }
    }
    remove_marked(patterns_, drop);
    return out;
}

// An accepted pattern is looked up only while its left shoulder's swing can
// be in the list: every later entry is a swing held now, the tracker's last
// swing of a kind, or one confirmed later (bar n - s or after).
void GeometricPatternScanner::forget_detected(const MarketStructureOutput& ms) {
    if (detected_.size() < 2 * detected_kept_ + 16) return;
    std::uint64_t oldest = sub_or_zero(n_, market_.swing_strength());
    for (const Swing& s : swings_) oldest = std::min(oldest, s.bar);
    if (ms.last_swing_high) oldest = std::min(oldest, ms.last_swing_high->bar);
    if (ms.last_swing_low) oldest = std::min(oldest, ms.last_swing_low->bar);
    std::erase_if(detected_, [&](const Triple& t) { return t.left < oldest; });
    detected_kept_ = detected_.size();
}

}  // namespace lumenfold::core
