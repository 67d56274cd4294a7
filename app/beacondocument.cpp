#include "app/beacondocument.h"

#include "app/beaconedit.h"
#include "cwaudio/audiofile.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>

BeaconDocument::BeaconDocument(BeaconEdit *edit, QWidget *dialogParent)
    : QObject(dialogParent), edit_(edit), parent_(dialogParent) {
    parent_->setAcceptDrops(true);
    parent_->installEventFilter(this);
}

bool BeaconDocument::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return false;
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop && keepOrSave())
        emit dropped(urls.first().toLocalFile());
    return true;
}

void BeaconDocument::warn(const QString &text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, parent_);
    box.exec();
}

bool BeaconDocument::keepOrSave() {
    if (!edit_->isModified())
        return true;
    QMessageBox box(QMessageBox::Question, parent_->windowTitle(),
                    QStringLiteral("Save the beacon text?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent_);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return saveAs();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

QString BeaconDocument::askForLog(const QString &title, const QString &filter) {
    if (!keepOrSave())
        return QString();
    return QFileDialog::getOpenFileName(parent_, title, sourcePath_, filter);
}

bool BeaconDocument::refused(const QString &path, const LoadedLog &log) {
    if (log.error.isEmpty())
        return false;
    warn(QStringLiteral("%1: %2").arg(path, log.error));
    return true;
}

void BeaconDocument::show(const QString &path, LoadedLog &log, const QString &text) {
    sourcePath_ = QFileInfo(path).absoluteFilePath();
    edit_->setLines(std::move(log.lines));
    emit status(text + (log.invalidUtf8 ? QLatin1String("; bytes that are not UTF-8 read as U+FFFD")
                                        : QString()));
}

void BeaconDocument::markUnsaved() {
    edit_->setModified(true);
}

bool BeaconDocument::saveAs(bool keepSource) {
    const bool fromRecording = AudioFile::isAudioName(sourcePath_);
    const QFileInfo source(sourcePath_);
    const QString offered =
        fromRecording ? source.dir().filePath(source.completeBaseName() + QStringLiteral(".txt"))
                      : sourcePath_;
    const QString path =
        QFileDialog::getSaveFileName(parent_, QStringLiteral("Save Text As"), offered);
    if (path.isEmpty())
        return false;
    if (AudioFile::isAudioName(path) && QFileInfo::exists(path)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Save Text As"),
                        QStringLiteral("%1 is %2. Replace the recording by the beacon text?")
                            .arg(path, QFileInfo(path) == source
                                           ? QStringLiteral("the recording this text was copied from")
                                           : QStringLiteral("a recording, not text")),
                        QMessageBox::Yes | QMessageBox::No, parent_);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return false;
    }
    QString error;
    if (!writeWholeFile(path, edit_->toPlainText().toUtf8(), &error)) {
        warn(QStringLiteral("The beacon text could not be saved as\n%1\n\n%2").arg(path, error));
        return false;
    }
    edit_->setModified(false);
    if (!keepSource)
        sourcePath_ = QFileInfo(path).absoluteFilePath();
    emit status(QLatin1String("Saved ") + path);
    return true;
}

void BeaconDocument::exportCsv(const TelemetryHistory &history) {
    const QString path = QFileDialog::getSaveFileName(parent_, QStringLiteral("Export CSV"));
    if (path.isEmpty())
        return;
    const QString file = sourcePath_.isEmpty() ? QStringLiteral("-") : sourcePath_;
    QString error;
    if (writeWholeFile(path, csvOf(history, file), &error))
        emit status(QLatin1String("Exported ") + path);
    else
        warn(QStringLiteral("The CSV could not be written to\n%1\n\n%2").arg(path, error));
}
