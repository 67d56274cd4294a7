#pragma once

#include "app/logfile.h"

#include <QObject>
#include <QString>

class BeaconEdit;
class TelemetryHistory;
class QWidget;

// The beacon text as a document: the file it came from, whether it was
// typed or changed since it was opened or saved (the box's undo history
// knows), and the questions and dialogs of Open, Save and Export. Nothing
// the operator typed is thrown away without asking.
class BeaconDocument : public QObject {
    Q_OBJECT
public:
    BeaconDocument(BeaconEdit *edit, QWidget *dialogParent);

    // The absolute path of the file the text came from; empty for typed text.
    QString sourcePath() const { return sourcePath_; }
    // Asks "Save the beacon text?" when the text was typed or changed since
    // it was opened or saved. False when the operator cancels.
    bool keepOrSave();
    // The file to open or follow, chosen once the text is kept or saved;
    // empty when none.
    QString askForLog(const QString &title, const QString &filter = QString());
    // Warns when a log could not be read, and then returns true.
    bool refused(const QString &path, const LoadedLog &log);
    // The log's lines become the box's text, the text of path.
    void show(const QString &path, LoadedLog &log, const QString &status);
    // Save Text As; false when nothing was saved. With keepSource the text
    // stays that of its log (a followed log goes on growing). The name
    // offered for text copied from a recording is the recording's with
    // ".txt"; an audio file is replaced only when the operator says so
    // after being told what it is.
    bool saveAs(bool keepSource = false);
    // Export CSV: what kadrin-decode --csv writes for the same text, the file
    // column naming sourcePath(), or "-" for typed text.
    void exportCsv(const TelemetryHistory &history);
    void warn(const QString &text);
    // The text holds lines that are nowhere else: it asks to be saved.
    void markUnsaved();

signals:
    void status(const QString &text);
    // A file dropped on the window, to open once the text is kept or saved.
    void dropped(const QString &path);

protected:
    // Accepts one local file dropped on the window.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    BeaconEdit *edit_;
    QWidget *parent_;
    QString sourcePath_;
};
