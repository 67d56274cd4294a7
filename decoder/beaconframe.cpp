#include "decoder/beaconframe.h"

#include <QChar>

namespace {
constexpr char32_t Name[] = U"KADRIN";
constexpr int NameLength = 6;
// A shorter line (in UTF-16 units, never fewer than code points) cannot
// hold a frame.
constexpr int ShortestFrameLine = BeaconFrame::Length;
} // namespace

char32_t upperCaseOf(char32_t character) {
    if (character < 0x80)
        return (character >= U'a' && character <= U'z') ? character - 0x20 : character;
    return QChar::toUpper(character);
}

std::optional<BeaconFrame> BeaconFrame::recognize(QStringView line) {
    if (line.size() < ShortestFrameLine)
        return std::nullopt;

    // One walk over the normalised line. "KADRIN" has no prefix that is also
    // its suffix, so a failed match can only restart at a "K".
    BeaconFrame frame;
    int collected = 0; // characters of the candidate, once the name was found
    bool nameFound = false;
    bool nameAfterS = false; // "SKADRIN" seen anywhere in the line
    int matched = 0;         // characters of "KADRIN" matched so far
    bool matchAfterS = false;
    char32_t previous = 0;

    const QChar *p = line.data();
    const QChar *const end = p + line.size();
    while (p != end) {
        char32_t c = p->unicode();
        ++p;
        if (QChar::isHighSurrogate(c) && p != end && p->isLowSurrogate()) {
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), p->unicode());
            ++p;
        }
        if (c == U' ')
            continue;
        c = upperCaseOf(c);

        if (nameFound) {
            if (collected == Length)
                return std::nullopt; // the candidate runs on past 26 characters
            frame.characters_[collected++] = c;
        }

        if (c == Name[matched]) {
            if (matched == 0)
                matchAfterS = previous == U'S';
            if (++matched == NameLength) {
                if (!nameFound) {
                    nameFound = true;
                    for (int i = 0; i < NameLength; ++i)
                        frame.characters_[i] = Name[i];
                    collected = NameLength;
                }
                nameAfterS = nameAfterS || matchAfterS;
                matched = 0;
            }
        } else if (c == Name[0]) {
            matched = 1;
            matchAfterS = previous == U'S';
        } else {
            matched = 0;
        }
        previous = c;
    }

    if (!nameFound || !nameAfterS || collected != Length)
        return std::nullopt;
    return frame;
}

QString BeaconFrame::text() const {
    return QString::fromUcs4(characters_.data(), Length);
}
