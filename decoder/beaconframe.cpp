#include "decoder/beaconframe.h"

#include <QChar>

char32_t upperCaseOf(char32_t character) {
    if (character < 0x80)
        return (character >= U'a' && character <= U'z') ? character - 0x20 : character;
    return QChar::toUpper(character);
}

QString BeaconFrame::text() const {
    return QString::fromUcs4(characters_.data(), Length);
}
