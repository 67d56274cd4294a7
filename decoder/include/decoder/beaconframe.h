#pragma once

#include <QString>

#include <array>

// The normalised text of a beacon line from the first "KADRIN" to the end of
// the line: exactly 26 characters (Unicode code points), numbered 1 to 26.
// Positions 1-6 hold the satellite's name, 7-26 the twenty symbols.
class BeaconFrame {
public:
    static constexpr int Length = 26;
    static constexpr int NameLength = 6;

    // The character at a 1-based position.
    char32_t at(int position) const { return characters_[position - 1]; }
    void set(int position, char32_t character) { characters_[position - 1] = character; }
    QString text() const;

    bool operator==(const BeaconFrame &other) const { return characters_ == other.characters_; }

private:
    std::array<char32_t, Length> characters_{};
};

// Upper case of one character, never more than one (no "ß" to "SS").
char32_t upperCaseOf(char32_t character);
