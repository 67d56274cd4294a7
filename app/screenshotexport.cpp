#include "app/screenshotexport.h"

#include <QProcess>
#include <QSaveFile>

ScreenshotExport::ScreenshotExport() : today_(&QDate::currentDate) {}

QString ScreenshotExport::savePath(const QString &imageDirectory) const {
    return imageDirectory + QLatin1String("kadrin_") +
           today_().toString(QStringLiteral("ddMMyyyy")) + QLatin1String(".bmp");
}

bool ScreenshotExport::saveBitmap(const QImage &image, const QString &path, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!image.save(&file, "BMP")) {
        *error = file.error() != QFileDevice::NoError
                     ? file.errorString()
                     : QStringLiteral("the picture could not be written");
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
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
