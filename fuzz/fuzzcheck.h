#pragma once

#include <QList>
#include <QString>

#include <cstdio>
#include <cstdlib>

// Stops the run on a broken invariant, so libFuzzer keeps the input as a
// crash. Named after what was checked, with the place in this file.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzFail(#condition, __FILE__, __LINE__, QString());                                   \
    } while (0)

// The same, with the values that broke it.
#define FUZZ_CHECK_MSG(condition, message)                                                         \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzFail(#condition, __FILE__, __LINE__, (message));                                   \
    } while (0)

[[noreturn]] inline void fuzzFail(const char *condition, const char *file, int line,
                                  const QString &message) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n    at %s:%d\n", condition, file, line);
    if (!message.isEmpty())
        std::fprintf(stderr, "    %s\n", message.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

// A text, printable for a failure message: printable ASCII as it is, any
// other code point as \u{...}.
inline QString describe(const QString &text) {
    QString out = QStringLiteral("\"");
    for (const char32_t c : text.toUcs4()) {
        if (c >= 0x20 && c < 0x7f && c != U'\\')
            out += QChar(char16_t(c));
        else
            out += QStringLiteral("\\u{%1}").arg(
                QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    return out + QLatin1Char('"');
}
