#include "cwaudio/morse.h"

#include <QHash>

namespace {

struct Code {
    const char *text;
    const char *pattern;
};

// ITU-R M.1677 characters, then the usual prosigns that are not already a
// character (AR is "+", BT "=", KN "(", AS "&").
constexpr Code Codes[] = {
    {"A", ".-"},      {"B", "-..."},    {"C", "-.-."},    {"D", "-.."},     {"E", "."},
    {"F", "..-."},    {"G", "--."},     {"H", "...."},    {"I", ".."},      {"J", ".---"},
    {"K", "-.-"},     {"L", ".-.."},    {"M", "--"},      {"N", "-."},      {"O", "---"},
    {"P", ".--."},    {"Q", "--.-"},    {"R", ".-."},     {"S", "..."},     {"T", "-"},
    {"U", "..-"},     {"V", "...-"},    {"W", ".--"},     {"X", "-..-"},    {"Y", "-.--"},
    {"Z", "--.."},    {"0", "-----"},   {"1", ".----"},   {"2", "..---"},   {"3", "...--"},
    {"4", "....-"},   {"5", "....."},   {"6", "-...."},   {"7", "--..."},   {"8", "---.."},
    {"9", "----."},   {".", ".-.-.-"},  {",", "--..--"},  {"?", "..--.."},  {"'", ".----."},
    {"!", "-.-.--"},  {"/", "-..-."},   {"(", "-.--."},   {")", "-.--.-"},  {"&", ".-..."},
    {":", "---..."},  {";", "-.-.-."},  {"=", "-...-"},   {"+", ".-.-."},   {"-", "-....-"},
    {"_", "..--.-"},  {"\"", ".-..-."}, {"$", "...-..-"}, {"@", ".--.-."},  {"<SK>", "...-.-"},
    {"<KA>", "-.-.-"}, {"<SN>", "...-."}, {"<HH>", "........"}, {"<SOS>", "...---..."},
};

const QHash<QString, QString> &table() {
    static const QHash<QString, QString> byPattern = [] {
        QHash<QString, QString> map;
        for (const Code &code : Codes)
            map.insert(QString::fromLatin1(code.pattern), QString::fromLatin1(code.text));
        return map;
    }();
    return byPattern;
}

} // namespace

QString morseText(const QString &pattern) { return table().value(pattern); }

QString morsePattern(QChar symbol) {
    for (const Code &code : Codes) {
        if (code.text[1] == 0 && QChar::fromLatin1(code.text[0]) == symbol)
            return QString::fromLatin1(code.pattern);
    }
    return {};
}
