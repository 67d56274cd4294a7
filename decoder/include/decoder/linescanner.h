#pragma once

#include "decoder/beaconframe.h"

#include <QStringView>

#include <optional>

// What one input line is, for the decode pass and for the operator.
struct LineVerdict {
    enum class Kind : quint8 {
        Other,               // no "KADRIN" in the line (empty lines included)
        Frame,               // a frame whose 17 fields all read
        FrameWithUnreadable, // a frame with symbols outside their field's table
        NearMiss,            // holds "KADRIN" but is no frame
    };
    // Why a near miss is no frame.
    enum class Miss : quint8 { None, NoS, TooFewSymbols, TextAfterFrame };

    Kind kind = Kind::Other;
    Miss miss = Miss::None;
    quint8 symbols = 0;         // TooFewSymbols: the symbols after the name, 0 to 19
    std::optional<qint64> time; // frames: the UTC time the line starts with
    std::optional<BeaconFrame> frame;

    bool isFrame() const { return kind == Kind::Frame || kind == Kind::FrameWithUnreadable; }
};

// Reads one line at a time, character by character, so a line of any length
// is judged without holding it: blanks (U+0020) removed and letters
// upper-cased, a line carries a frame when it contains "SKADRIN" and the text
// from its first "KADRIN" to the end is exactly 26 characters. Text in front
// is ignored; if it starts with a time, a frame keeps that time.
class LineScanner {
public:
    static constexpr char32_t Name[] = U"KADRIN";

    // More characters of the current line (never a line break).
    void add(QStringView piece);
    // The verdict on the characters added since the last call; starts the
    // next line.
    LineVerdict finish();

    // The verdict on one whole line.
    static LineVerdict judge(QStringView line) {
        LineScanner scanner;
        scanner.add(line);
        return scanner.finish();
    }

private:
    static constexpr int TimePrefixLength = 64;

    void take(char32_t c) {
        if (c == U' ')
            return;
        c = c < 0x80 ? ((c >= U'a' && c <= U'z') ? c - 0x20 : c) : upperCaseOf(c);
        if (nameFound_) {
            if (collected_ < BeaconFrame::Length)
                frame_.set(++collected_, c);
            else
                overflow_ = true;
        }
        // "KADRIN" has no prefix that is also its suffix, so a failed match
        // can only restart at a "K".
        if (c == Name[matched_]) {
            if (matched_ == 0)
                matchAfterS_ = previous_ == U'S';
            if (++matched_ == BeaconFrame::NameLength)
                nameMatched();
        } else if (c == Name[0]) {
            matched_ = 1;
            matchAfterS_ = previous_ == U'S';
        } else {
            matched_ = 0;
        }
        previous_ = c;
    }
    void nameMatched();

    BeaconFrame frame_;
    int collected_ = 0;       // characters of the candidate, once the name was found
    bool overflow_ = false;   // the candidate ran on past 26 characters
    bool nameFound_ = false;  // "KADRIN" seen
    bool nameAfterS_ = false; // "SKADRIN" seen
    int matched_ = 0;         // characters of "KADRIN" matched so far
    bool matchAfterS_ = false;
    char32_t previous_ = 0;
    char16_t pendingHigh_ = 0; // a high surrogate waiting for its pair
    int prefixLength_ = 0;
    std::array<char16_t, TimePrefixLength> prefix_{}; // the line's first characters, as typed
};

// Where the 26 characters of a line's frame stand in the line as typed:
// the UTF-16 index of each position (1 to 26, at index position - 1). Only
// for a line that carries a frame.
std::array<int, BeaconFrame::Length> frameColumns(QStringView line);

// The wording of a verdict, as kadrin-decode --status writes it after
// "FILE:LINE: ": "frame 7", "frame 8 with unreadable symbols: position 10
// '#'", "near miss: 19 symbols, 20 needed", "other". record is the frame's
// number.
QString verdictText(const LineVerdict &verdict, qint64 record);
// "19 symbols, 20 needed", "text after the 20th symbol", "no S before KADRIN"
QString nearMissText(const LineVerdict &verdict);
// "position 10 '#'" or "positions 10 '#', 24 'X'"; empty when all fields read.
QString unreadableText(const BeaconFrame &frame);
