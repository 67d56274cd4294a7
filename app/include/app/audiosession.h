#pragma once

#include "decoder/frameoutput.h"
#include "listen/audiosource.h"
#include "listen/listensession.h"
#include "listen/recordingcopy.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QDockWidget;
class QMainWindow;
class QProgressDialog;
class QWidget;
class WaterfallView;

// The window's audio: Listen (a live source copied line by line) and Open
// Recording (a file copied in the background with progress and Cancel).
// Remembers each copied line's SNR and tone for its tooltip.
class AudioSession : public QObject {
    Q_OBJECT
public:
    explicit AudioSession(QWidget *dialogParent);

    // The sound card to listen to, asked of the operator (the default input
    // preselected); null when there is none or the operator cancels, after
    // saying why.
    std::unique_ptr<AudioSource> chooseInput();
    // Starts listening to source; false after saying why.
    bool listen(std::unique_ptr<AudioSource> source);
    void stopListening();
    bool listening() const { return listen_.active(); }
    ListenSession &listenSession() { return listen_; }

    // Copies a recording; recordingCopied follows unless it is cancelled.
    // The copy of a recording kept by keepCopy() and not changed since
    // arrives at once.
    void openRecording(const QString &path);
    // Cancels a recording still being copied: its lines never arrive.
    void cancelRecording();
    // Keeps a copy the operator did not let replace the text, until the
    // recording is opened again; the status line says so.
    void keepCopy(const QString &path, const QStringList &lines, const QString &status);

    // "SNR -7.9 dB, tone 801 Hz" for a line copied from audio; empty for any other.
    QString noteOf(const QString &line) const;
    std::optional<LineSignal> signalOf(const QString &line) const;

    // The picture of the signal: a panel docked under the window's own
    // area, shown (the window growing by its height) when audio comes.
    void showSignalIn(QMainWindow *window);
    WaterfallView *waterfall() const { return waterfall_; }

    static QString audioFilter();

signals:
    void linesArrived(const QStringList &lines);
    // A recording copied: its lines (the last one empty) for the input box.
    void recordingCopied(const QString &path, const QStringList &lines, const QString &status);
    // What listening does, for the status line (the sharing counts follow).
    void status(const QString &text);
    // A one-off message for the status line: a recording's progress or end.
    void note(const QString &text);
    // Copied lines could not be written to the listen log: the box holds
    // the only copy, to be saved like typed text.
    void linesOnlyInBox();
    void failed(const QString &text);
    void listeningChanged(bool active);
    // The audio, for the picture of the signal; rate 0 ends a stream.
    void signalStarted(double sampleRate);
    void samples(const QList<float> &mono);
    void toneChanged(double hz);

private:
    void remember(const CopiedLogLine &line);
    void copied(const RecordingResult &result);
    QString figuresText(const CopyFigures &figures) const;
    static double shownTone(const CopyFigures &figures);
    QString whereLinesGo() const;
    void fitWindow(QMainWindow *window);

    QWidget *parent_;
    ListenSession listen_;
    RecordingCopy recording_;
    QPointer<QProgressDialog> progress_;
    QHash<QString, LineSignal> signal_; // copied line: its tone and SNR
    struct KeptCopy {
        QString path;
        QDateTime modified; // of the recording when it was copied
        QStringList lines;
        QString status;
    } kept_;
    bool streamShown_ = false;
    QDockWidget *dock_ = nullptr;
    WaterfallView *waterfall_ = nullptr;
    int innerHeight_ = 0; // of the window's own area, before the panel was first shown
};
