#pragma once

#include <QDate>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>

// Saving the picture of the main window and handing it to the converter
// that makes a PNG of it.
class ScreenshotExport {
public:
    using DateSource = std::function<QDate()>;

    ScreenshotExport();
    // Where today's date comes from; replaceable for tests.
    void setDateSource(DateSource today) { today_ = std::move(today); }

    // imageDirectory, "kadrin_", the date of this moment as DDMMYYYY, ".bmp".
    QString savePath(const QString &imageDirectory) const;

    // Writes image as a Windows bitmap, replacing a file of that name. The
    // file appears whole or not at all; on failure error tells why.
    static bool saveBitmap(const QImage &image, const QString &path, QString *error);

    // The converter and its fixed command line, the path as one argument.
    static QString converterProgram() { return QStringLiteral("nconvert"); }
    static QStringList converterArguments(const QString &path);
    // Starts the converter without waiting; false when it cannot be started.
    static bool startConverter(const QString &path);

    // What a click on the screenshot button did.
    struct Outcome {
        QString path;
        QString error; // why the bitmap was not written; empty when it was
        bool converterStarted = false;

        // "<path> saved", or "Not saved: <path>"
        QString status() const;
        // What a message box must tell; empty when all went well.
        QString problem() const;
    };
    // Saves the picture at savePath(imageDirectory) and, once it is written,
    // starts the converter on it.
    Outcome take(const QImage &picture, const QString &imageDirectory) const;

private:
    DateSource today_;
};
