// The conf.ini reader over arbitrary bytes. Whatever the file holds, reading
// it must not crash, must give the same settings every time, and can only
// take its image directory from the file itself: one line's value, without
// the blanks around it and never running over a line end.

#include "app/configuration.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

void checkImageDirectory(const QString &directory, const Configuration &defaults,
                         const QString &text) {
    if (directory == defaults.imageDirectory)
        return;
    const QString context = QLatin1String("image directory ") + describe(directory);
    // Read as UTF-8 the same way the reader does; a byte-order mark at the
    // start cannot be part of a value, whether it is dropped or not.
    FUZZ_CHECK_MSG(text.contains(directory), context + QLatin1String(" is not in the file"));
    FUZZ_CHECK_MSG(!directory.startsWith(QLatin1Char(' ')) && !directory.endsWith(QLatin1Char(' ')),
                   context);
    FUZZ_CHECK_MSG(!directory.contains(QLatin1Char('\n')) && !directory.contains(QLatin1Char('\r')),
                   context);
}

void checkOne(const QByteArray &content, const QString &text, const Configuration &defaults) {
    const Configuration result = parseConfiguration(content, defaults);
    checkImageDirectory(result.imageDirectory, defaults, text);

    // Without a "SCREENSHOT" key anywhere the button keeps its default.
    if (!text.contains(QLatin1String("SCREENSHOT"), Qt::CaseInsensitive))
        FUZZ_CHECK(result.screenshotButtonVisible == defaults.screenshotButtonVisible);
    // Without any "=" no line sets anything.
    if (!text.contains(QLatin1Char('=')))
        FUZZ_CHECK(result.imageDirectory == defaults.imageDirectory);

    const Configuration again = parseConfiguration(content, defaults);
    FUZZ_CHECK_MSG(again.imageDirectory == result.imageDirectory,
                   describe(result.imageDirectory) + QLatin1String(", then ") +
                       describe(again.imageDirectory));
    FUZZ_CHECK(again.screenshotButtonVisible == result.screenshotButtonVisible);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The input bytes themselves, with no terminating zero after them, so a
    // read past the end is caught.
    const QByteArray content =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(content);

    // The defaults the window starts from (no prefix, button shown), then
    // the other way round.
    checkOne(content, text, Configuration{QString(), true});
    checkOne(content, text, Configuration{QStringLiteral("screenshots/"), false});
    return 0;
}
