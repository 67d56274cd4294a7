#pragma once

#include <QString>

// ITU Morse: the text of a keyed pattern of dots and dashes (".-" gives
// "A"); prosigns in angle brackets ("...-.-" gives "<SK>"); an empty string
// for a pattern that is no character.
QString morseText(const QString &pattern);

// The pattern of one beacon symbol (a character of "24678ACDFGJLPQYZ").
QString morsePattern(QChar symbol);
