#pragma once

#include <QString>

#include <cstdio>
#include <cstdlib>

// Stops the run on a broken invariant, so libFuzzer keeps the input as a
// crash; says what was checked, where, and what broke it.
#define FUZZ_CHECK_MSG(condition, message)                                                         \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzFail(#condition, __FILE__, __LINE__, (message));                                   \
    } while (0)
#define FUZZ_CHECK(condition) FUZZ_CHECK_MSG(condition, QString())

[[noreturn]] inline void fuzzFail(const char *condition, const char *file, int line,
                                  const QString &message) {
    // Code points as numbers: the text may hold anything.
    QString shown;
    for (const char32_t c : message.toUcs4())
        shown += c >= 0x20 && c < 0x7f ? QString(QChar(char16_t(c)))
                                       : QStringLiteral("\\u{%1}").arg(uint(c), 0, 16);
    std::fprintf(stderr, "\n*** invariant broken: %s\n    at %s:%d\n    %s\n", condition, file,
                 line, shown.toUtf8().constData());
    std::abort();
}
