#pragma once

#include <array>

// The sixteen telemetry symbols in level order: a symbol's level is its
// place in this list, "2" is level 0 and "Z" level 15.
inline constexpr std::array<char, 16> SymbolAlphabet = {'2', '4', '6', '7', '8', 'A', 'C', 'D',
                                                        'F', 'G', 'J', 'L', 'P', 'Q', 'Y', 'Z'};

namespace detail {
constexpr std::array<signed char, 128> makeLevelTable() {
    std::array<signed char, 128> levels{};
    for (auto &level : levels)
        level = -1;
    for (int i = 0; i < int(SymbolAlphabet.size()); ++i)
        levels[static_cast<unsigned char>(SymbolAlphabet[i])] = static_cast<signed char>(i);
    return levels;
}
inline constexpr std::array<signed char, 128> LevelOfAscii = makeLevelTable();
} // namespace detail

// Level 0..15 of a symbol, or -1 for any character outside the alphabet.
// One table look-up; symbols are compared exactly (the frame is upper-cased).
constexpr int symbolLevel(char32_t symbol) {
    return symbol < 128 ? detail::LevelOfAscii[symbol] : -1;
}
