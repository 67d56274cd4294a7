#pragma once

#include <QString>

#include <random>

namespace cwgen {

// The 16 symbols of a beacon frame, level 0 to 15 in this order.
inline constexpr char FrameSymbols[] = "24678ACDFGJLPQYZ";

// The ITU code of one character, dots and dashes (".-" for "A"); empty when
// the character has none. Letters are taken in either case.
QString morseCode(QChar character);

// The code of one written unit of text: a character, or a prosign in angle
// brackets whose letters are keyed without letter gaps ("<SK>" gives
// "...-.-"). Empty when a character in it has no code.
QString morseCodeOf(const QString &unit);

// A beacon frame as it is keyed: "S KADRIN " and the 20 given symbols.
QString frameText(const QString &symbols);
// A frame of 20 symbols drawn evenly from FrameSymbols.
QString randomFrame(std::mt19937_64 &random);

} // namespace cwgen
