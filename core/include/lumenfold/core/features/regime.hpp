// Market regimes and their one-hot feature vectors for models. A regime is
// Bull, Bear, Neutral, Undefined or Other(k) for a state index k of a model
// with more than two states.
//
// Regimes are numbered two ways: the regime model's per-bar code
// (regime_code: Undefined 0, Bull 1, Bear 2, Neutral 3) and the id read by the
// feature function (regime_from_id: Bull 0, Bear 1, Neutral 2, Undefined 3);
// both give Other(k) as k + 4.
//
// So a code c of 1 to 3 is the id c - 1, and code 0 the id 3.
#pragma once

#include <array>
#include <cstdint>

namespace lumenfold::core {

struct MarketRegime {
    enum class Kind : std::uint8_t { Bull, Bear, Neutral, Undefined, Other };
    Kind kind;
    std::uint8_t state = 0;  // the state index of Other

    // State 0 is Bull, state 1 Bear, any other Other(k), k truncated to 8 bits.
    static constexpr MarketRegime from_state(std::uint64_t k) noexcept {
        if (k == 0) return {Kind::Bull};
        if (k == 1) return {Kind::Bear};
        return {Kind::Other, static_cast<std::uint8_t>(k)};
    }

    bool operator==(const MarketRegime&) const = default;
};

// The code of the regime model's `next`.
inline std::int32_t regime_code(MarketRegime r) noexcept {
    switch (r.kind) {
        case MarketRegime::Kind::Undefined: return 0;
        case MarketRegime::Kind::Bull: return 1;
        case MarketRegime::Kind::Bear: return 2;
        case MarketRegime::Kind::Neutral: return 3;
        case MarketRegime::Kind::Other: break;
    }
    return std::int32_t{r.state} + 4;
}

// Ids 0 to 3 are Bull, Bear, Neutral, Undefined; id >= 4 is Other((id - 4) mod 256).
inline MarketRegime regime_from_id(std::uint32_t id) noexcept {
    switch (id) {
        case 0: return {MarketRegime::Kind::Bull};
        case 1: return {MarketRegime::Kind::Bear};
        case 2: return {MarketRegime::Kind::Neutral};
        case 3: return {MarketRegime::Kind::Undefined};
        default: return {MarketRegime::Kind::Other, static_cast<std::uint8_t>(id - 4)};
    }
}

// The id numbering of regime_from_id.
inline std::int32_t regime_label(MarketRegime r) noexcept {
    return r.kind == MarketRegime::Kind::Other ? std::int32_t{r.state} + 4 : static_cast<std::int32_t>(r.kind);
}

// Five slots, one of them 1.0: Bull 0, Bear 1, Neutral 2, Undefined 3;
// Other(k) sets slot k for k < 4, else slot 4.
inline std::array<double, 5> regime_to_features(MarketRegime r) noexcept {
    std::array<double, 5> v{};
    const std::uint8_t k = r.kind == MarketRegime::Kind::Other ? r.state : static_cast<std::uint8_t>(r.kind);
    v[k < 4 ? k : 4] = 1.0;
    return v;
}

struct RegimeFeatures {
    std::array<double, 5> regime_vector;
    std::int32_t regime_label;
};

// The feature vector and label of a regime given by its id: five slots, 1.0 in
// the regime's (Bull 0, Bear 1, Neutral 2, Undefined 3, Other(k) slot k for
// k < 4, else slot 4) and 0.0 elsewhere, and the label, the id of the regime
// (ids above 259 wrap, Other((id - 4) mod 256)).
inline RegimeFeatures regime_features(std::uint32_t regime_id) noexcept {
    const MarketRegime r = regime_from_id(regime_id);
    return {regime_to_features(r), regime_label(r)};
}

}  // namespace lumenfold::core
