#include "app/screenshotexport.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

bool isSymbolicLink(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Why a write failed: Qt's text, or the system's when Qt has none.
QString reasonOf(const QFileDevice &file, int savedErrno) {
    const QString text = file.errorString();
    if (savedErrno != 0 && (text.isEmpty() || text == QLatin1String("Unknown error")))
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    return text;
}

} // namespace

ScreenshotExport::ScreenshotExport() : today_(&QDate::currentDate) {}

QString ScreenshotExport::savePath(const QString &imageDirectory) const {
    return imageDirectory + QLatin1String("kadrin_") +
           today_().toString(QStringLiteral("ddMMyyyy")) + QLatin1String(".bmp");
}

bool ScreenshotExport::saveBitmap(const QImage &image, const QString &path, QString *error) {
    // A symbolic link of that name would make the save replace the file it
    // points to (the name is predictable; the folder may be shared).
    const QString linkRefused =
        QStringLiteral("%1 is a symbolic link; nothing was written.").arg(path);
    if (isSymbolicLink(path)) {
        *error = linkRefused;
        return false;
    }
    QByteArray bitmap;
    QBuffer buffer(&bitmap);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "BMP")) {
        *error = QStringLiteral("the picture could not be made");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = reasonOf(file, errno);
        return false;
    }
    errno = 0;
    if (file.write(bitmap) != bitmap.size() || !file.flush()) {
        *error = reasonOf(file, errno);
        file.cancelWriting();
        return false;
    }
    if (isSymbolicLink(path)) { // placed while the file was written
        file.cancelWriting();
        *error = linkRefused;
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *error = reasonOf(file, errno);
        return false;
    }
    return true;
}

QStringList ScreenshotExport::converterArguments(const QString &path) {
    return {QStringLiteral("-out"),         QStringLiteral("png"),
            QStringLiteral("-transpcolor"), QStringLiteral("240"),
            QStringLiteral("240"),          QStringLiteral("240"),
            QStringLiteral("-colors"),      QStringLiteral("256"),
            QStringLiteral("-crop"),        QStringLiteral("1"),
            QStringLiteral("110"),          QStringLiteral("652"),
            QStringLiteral("646"),          QStringLiteral("-quiet"),
            QStringLiteral("-D"),           path};
}

bool ScreenshotExport::startConverter(const QString &path) {
    return QProcess::startDetached(converterProgram(), converterArguments(path));
}

ScreenshotExport::Outcome ScreenshotExport::take(const QImage &picture,
                                                 const QString &imageDirectory) const {
    Outcome outcome;
    outcome.path = savePath(imageDirectory);
    if (saveBitmap(picture, outcome.path, &outcome.error))
        outcome.converterStarted = startConverter(outcome.path);
    return outcome;
}

QString ScreenshotExport::Outcome::status() const {
    return error.isEmpty() ? path + QLatin1String(" saved") : QLatin1String("Not saved: ") + path;
}

QString ScreenshotExport::Outcome::problem() const {
    if (!error.isEmpty())
        return QStringLiteral("The screenshot could not be saved as\n%1\n\n%2").arg(path, error);
    return converterStarted ? QString() : QStringLiteral("nconvert.exe not found");
}
