#include "cwgen/morse.h"

#include <cstring>

namespace cwgen {

namespace {
struct Code {
    char character;
    const char *code;
};

// ITU-R M.1677-1 letters, figures and punctuation, then the usual
// extensions that are not in it (; ! & _ $).
const Code Table[] = {
    {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
    {'F', "..-."},   {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
    {'K', "-.-"},    {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
    {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
    {'U', "..-"},    {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
    {'Z', "--.."},   {'1', ".----"},  {'2', "..---"},  {'3', "...--"},  {'4', "....-"},
    {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},  {'9', "----."},
    {'0', "-----"},  {'.', ".-.-.-"}, {',', "--..--"}, {':', "---..."}, {'?', "..--.."},
    {'\'', ".----."}, {'-', "-....-"}, {'/', "-..-."}, {'(', "-.--."},  {')', "-.--.-"},
    {'"', ".-..-."}, {'=', "-...-"},  {'+', ".-.-."},  {'@', ".--.-."}, {';', "-.-.-."},
    {'!', "-.-.--"}, {'&', ".-..."},  {'_', "..--.-"}, {'$', "...-..-"},
};
} // namespace

QString morseCode(QChar character) {
    const char c = character.toUpper().toLatin1();
    if (c == 0)
        return QString();
    for (const Code &code : Table) {
        if (code.character == c)
            return QString::fromLatin1(code.code);
    }
    return QString();
}

QString morseCodeOf(const QString &unit) {
    if (unit.size() > 2 && unit.front() == QLatin1Char('<') && unit.back() == QLatin1Char('>')) {
        QString code;
        for (qsizetype i = 1; i + 1 < unit.size(); ++i) {
            const QString part = morseCode(unit.at(i));
            if (part.isEmpty())
                return QString();
            code += part;
        }
        return code;
    }
    return unit.size() == 1 ? morseCode(unit.front()) : QString();
}

QString frameText(const QString &symbols) {
    return QStringLiteral("S KADRIN ") + symbols;
}

QString randomFrame(std::mt19937_64 &random) {
    const int count = int(std::strlen(FrameSymbols));
    std::uniform_int_distribution<int> pick(0, count - 1);
    QString symbols;
    for (int i = 0; i < 20; ++i)
        symbols += QLatin1Char(FrameSymbols[pick(random)]);
    return frameText(symbols);
}

} // namespace cwgen
