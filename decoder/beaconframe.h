#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The normalised text of one beacon line from the first "KADRIN" to the
// end of the line: exactly 26 characters (Unicode code points), numbered
// 1 to 26. Positions 1-6 hold the satellite's name, 7-26 the symbols.
class BeaconFrame {
public:
    static constexpr int Length = 26;

    // Recognises the frame of one beacon line, given without its line
    // break: blanks (U+0020) removed, letters upper-cased one character to
    // one character, "SKADRIN" present, and the text from the first
    // "KADRIN" exactly 26 characters long. Nothing when the line holds no
    // frame.
    static std::optional<BeaconFrame> recognize(QStringView line);

    // The character at a 1-based position.
    char32_t at(int position) const { return characters_[position - 1]; }
    QString text() const;

    bool operator==(const BeaconFrame &other) const { return characters_ == other.characters_; }

private:
    std::array<char32_t, Length> characters_{};
};

// Upper case of one character, never more than one (no "ß" to "SS").
char32_t upperCaseOf(char32_t character);
