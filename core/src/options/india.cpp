// The lot-size table and its case-insensitive lookup.
#include "lumenfold/core/options/india.hpp"

#include <cstddef>

namespace lumenfold::core::options {

namespace {

struct LotSize {
    std::string_view symbol;
    std::uint32_t units;
};

constexpr LotSize kLotSizes[] = {
    {"NIFTY", 50}, {"BANKNIFTY", 15}, {"FINNIFTY", 40}, {"MIDCPNIFTY", 75}, {"SENSEX", 10},
};

// The longest symbol: a longer upper-cased text cannot match.
constexpr std::size_t kLongestSymbol = 10;

// The upper case of one code point when it is ASCII text; nullptr when it is
// not. Besides ASCII, exactly these code points upper-case to ASCII letters.
const char* ascii_upper(char32_t c) noexcept {
    switch (c) {
        case 0x00DF: return "SS";   // sharp s
        case 0x0131: return "I";    // dotless i
        case 0x017F: return "S";    // long s
        case 0xFB00: return "FF";   // ligatures
        case 0xFB01: return "FI";
        case 0xFB02: return "FL";
        case 0xFB03: return "FFI";
        case 0xFB04: return "FFL";
        case 0xFB05: return "ST";
        case 0xFB06: return "ST";
        default: return nullptr;
    }
}

// Decodes one UTF-8 sequence at `i`; false for an invalid one (overlong
// forms, surrogates, values above U+10FFFF, truncated or stray bytes).
bool decode_utf8(std::string_view s, std::size_t& i, char32_t& out) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        out = b0;
        ++i;
        return true;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, min = 0x80, out = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, min = 0x800, out = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, min = 0x10000, out = b0 & 0x07;
    } else {
        return false;
    }
    if (s.size() - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return false;
        out = (out << 6) | (b & 0x3F);
    }
    if (out < min || out > 0x10FFFF || (out >= 0xD800 && out <= 0xDFFF)) return false;
    i += len;
    return true;
}

}  // namespace

std::optional<std::uint32_t> nse_lot_size(std::string_view symbol) noexcept {
    // Only an all-ASCII upper case can equal a table symbol, so a code point
    // whose upper case is not ASCII ends the search.
    char upper[kLongestSymbol];
    std::size_t len = 0;
    const auto append = [&](std::string_view part) {
        if (part.size() > kLongestSymbol - len) return false;
        for (char ch : part) upper[len++] = ch;
        return true;
    };
    for (std::size_t i = 0; i < symbol.size();) {
        char32_t c;
        if (!decode_utf8(symbol, i, c)) return std::nullopt;
        if (c < 0x80) {
            const char ch = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            if (!append(std::string_view(&ch, 1))) return std::nullopt;
        } else {
            const char* mapped = ascii_upper(c);
            if (mapped == nullptr || !append(mapped)) return std::nullopt;
        }
    }
    const std::string_view text(upper, len);
    for (const LotSize& entry : kLotSizes)
        if (entry.symbol == text) return entry.units;
    return std::nullopt;
}

}  // namespace lumenfold::core::options
