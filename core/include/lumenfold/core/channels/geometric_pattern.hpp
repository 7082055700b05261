// Geometric pattern scanner: flags and head-and-shoulders patterns in a
// stream of (high, low) bars, every threshold scaled by the scanner's own
// average true range.
//
// A flag is a strong three-bar move (the pole) followed by at least
// `min_flag_bars` bars of shallow counter-drift; it is reported once, on the
// bar whose high (bull) or low (bear), or midpoint, breaks beyond the pole's
// end. A head-and-shoulders is five alternating swing points of the embedded
// market-structure tracker with similar shoulders, a flat enough neckline and
// a tall enough head; it is reported once, on the bar whose midpoint crosses
// the neckline, and forgotten 60 bars after its right shoulder. The bar's
// midpoint stands in for its close. Pattern ids count up from 1 across both
// kinds (flags take theirs at breakout, head-and-shoulders at detection).
// `swing_strength` is the tracker's; the thresholds and the ATR period are
// the defaults of GeometricPatternConfig. Each bar reports the tracker's state
// and the patterns that broke out on it; no warm-up placeholder.
//
// Memory stays bounded on a long stream: only the last dozen bars can still
// be read (the pole search looks ten starts back), because every queued pole
// and active flag carries its own running extreme and counts. Queued poles
// that can never form a flag are dropped, and the sets of used poles and
// accepted patterns forget entries no later bar can look up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lumenfold/core/channels/market_structure.hpp"

namespace lumenfold::core {

struct GeometricPatternConfig {
    double pole_min_atr = 1.0;               // least three-bar move strength, in ATR
    double max_flag_retracement_pct = 61.8;  // deepest pullback into the pole, in percent of it
    std::uint64_t min_flag_bars = 4;         // bars after the pole before a flag can form
    double shoulder_tolerance = 0.02;        // largest shoulder difference relative to the head
    double min_hs_height_atr = 1.5;          // least head height over the neckline, in ATR
    double min_hs_score = 60.0;              // least accepted quality score
    std::uint64_t min_hs_span_bars = 10;     // least bars from left to right shoulder
    double max_neckline_angle_deg = 30.0;    // neckline angle at which its flatness scores 0
    std::uint64_t atr_period = 14;
    std::uint32_t time_symmetry_weight_pct = 50;  // 0 gives the full 20 points
};

struct ThreeBarMove {
    std::uint64_t start;
    std::uint64_t end;  // start + 2
    bool is_bull;
    double strength;
};

// A flag at its breakout: its id, bull or bear, the pole's first and last bar
// and the flag's first bar (bars counted from 0), the number of bars processed
// at the breakout, the pole's length in price and in ATR, breakout_confirmed
// (always true) and the bar's midpoint as the breakout price.
struct FlagPatternOutput {
    std::uint32_t id;
    bool is_bull;
    std::uint64_t pole_start_bar;
    std::uint64_t pole_end_bar;
    std::uint64_t flag_start_bar;
    std::uint64_t flag_end_bar;  // bars processed at the breakout
    double pole_length;
    double pole_length_atr;
    bool breakout_confirmed;
    double breakout_price;
};

// A head-and-shoulders at its neckline break: its id, whether it is a top
// (bearish), the head's height over the neckline in price and in ATR, its
// quality score from 0 to 100 and breakout_confirmed (always true).
struct HsPatternOutput {
    std::uint32_t id;
    bool is_bearish;
    double height;
    double height_atr;
    double score;
    bool breakout_confirmed;
};

// One bar of the scanner: the state of its market-structure tracker and the
// flag and the head-and-shoulders that broke out on this bar, if any.
struct GeometricNextOutput {
    MarketStructureOutput market_structure;
    std::optional<FlagPatternOutput> flag;  // the flag that broke out on this bar
    std::optional<HsPatternOutput> hs;      // the head-and-shoulders that broke out on this bar
};

class GeometricPatternScanner {
public:
    explicit GeometricPatternScanner(std::uint64_t swing_strength)
        : GeometricPatternScanner(swing_strength, GeometricPatternConfig{}) {}
    GeometricPatternScanner(std::uint64_t swing_strength, const GeometricPatternConfig& config);

    GeometricNextOutput next(double high, double low);

    // The move over bars start .. start + 2 with the current ATR, if it is a
    // pole. Only the last 16 bars are held: an older start panics.
    std::optional<ThreeBarMove> evaluate_three_bar_move(std::uint64_t start) const;

    // Quality score, 0 to 100, of a head-and-shoulders candidate.
    double compute_hs_score(std::uint64_t left_bar, std::uint64_t head_bar, std::uint64_t right_bar,
                            double left_price, double right_price, double head_price, double slope,
                            double height) const noexcept;

    double atr() const noexcept { return atr_; }
    std::uint64_t bar_count() const noexcept { return n_; }
    const GeometricPatternConfig& config() const noexcept { return config_; }
    // Elements the scanner's containers have room for: constant on a long
    // stream once its patterns have reached their usual numbers.
    std::size_t footprint() const noexcept;

private:
    static constexpr std::uint64_t kHeld = 16;  // bars of history kept

    struct Bar {
        double high;
        double low;
        double mid;
    };
    struct PoleKey {
        std::uint64_t start;
        std::uint64_t end;
        bool operator==(const PoleKey&) const = default;
    };
    // The running extreme since a pole's end and the bar counts after it.
    struct Drift {
        double extreme;
        std::uint32_t counter;     // bars drifting against the pole
        std::uint32_t with_trend;  // bars moving with it
    };
    struct PendingPole {
        PoleKey key;
        bool is_bull;
        double strength;  // of its three-bar move, whatever the ATR
        double pole_high;
        double pole_low;
        Drift drift;  // over the bars after `key.end` seen so far
        double order_key;
    };
    struct Flag {
        PoleKey key;
        std::uint64_t flag_start;
        std::uint64_t last_examined;
        double pole_high;
        double pole_low;
        double pole_length;
        Drift drift;
        bool is_bull;
    };
    struct Swing {
        std::uint64_t bar;
        double price;
        bool is_high;
    };
    struct Triple {
        std::uint64_t left;
        std::uint64_t head;
        std::uint64_t right;
        bool operator==(const Triple&) const = default;
    };
    // The parts of a three-bar move that do not depend on the ATR.
    struct Move {
        double strength;
        bool has_direction;
        bool is_bull;
    };
    // A window of five swings that passes every test not involving the ATR.
    struct HsCandidate {
        Triple bars;
        double left_price;
        double right_price;
        double head_price;
        double slope;
        double intercept;
        double height;
        bool top;
        bool detected;  // accepted already (its swings stay in the list, so it stays accepted)
    };
    struct HsPattern {
        Triple bars;
        double slope;
        double intercept;
        double height;
        double height_atr;
        double score;
        std::uint32_t id;
        bool is_bearish;
        std::uint64_t last_examined;
    };

    const Bar& bar(std::uint64_t i) const;
    const Move& move_at(std::uint64_t start) const;
    Move measure_move(std::uint64_t start) const;
    void find_hs_candidates();
    void update_atr(double tr) noexcept;
    void offer_swing(const SwingPoint& p);
    void search_pole();
    static bool take_bar(const Bar& b, const Bar& prev, std::uint64_t j, std::uint64_t end, bool is_bull,
                         Drift& d) noexcept;
    bool past_retracement(bool is_bull, double pole_high, double pole_low, double pole_length,
                          double extreme) const noexcept;
    bool hopeless(const PendingPole& p) const noexcept;
    void form_flag();
    std::optional<FlagPatternOutput> update_flags(double high, double low, double mid);
    void detect_hs();
    std::optional<HsPatternOutput> update_hs(double mid);
    void forget_detected(const MarketStructureOutput& ms);
    bool used(const PoleKey& k) const noexcept;
    std::uint32_t take_id() noexcept { return next_id_++; }

    MarketStructure market_;
    std::array<Bar, kHeld> bars_{};    // bar i at slot i % kHeld
    std::array<Move, kHeld> moves_{};  // the move starting at bar i at slot i % kHeld, once complete
    std::vector<Swing> swings_;
    std::uint64_t swings_version_ = 0;      // changes whenever the swing list does
    std::uint64_t candidates_version_ = 0;  // swing list version the candidates were found for
    std::vector<HsCandidate> candidates_;
    struct Offered {
        SwingPoint swing;
        std::uint64_t version;  // swing list version right after it was offered
    };
    std::optional<Offered> offered_[2];  // the last swing offered of each kind (high first)
    std::vector<Flag> flags_;
    std::vector<HsPattern> patterns_;
    std::vector<PendingPole> pending_;
    std::vector<PoleKey> used_;       // poles whose flag broke out and a later bar may look up
    std::vector<Triple> detected_;    // accepted patterns whose left shoulder may still be seen
    std::size_t detected_kept_ = 0;   // detected_ size after the last forgetting
    std::vector<bool> scratch_;       // removal marks of one pass
    GeometricPatternConfig config_;
    std::uint64_t n_ = 0;
    double atr_ = 1.0;
    std::uint32_t next_id_ = 1;
};

}  // namespace lumenfold::core
