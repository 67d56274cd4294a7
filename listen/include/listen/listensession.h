#pragma once

#include "cwaudio/cwcopier.h"
#include "listen/audiosource.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>


// One line copied from audio, as the input box and the log hold it.
struct CopiedLogLine {
    QString line; // "2026-12-05 21:07:53  S KADRIN 28CAA22221238CC22FFF"
    double snrDb = 0;
    double toneHz = 0;

    // The copied line with its time (UTC seconds of its first element), if known.
    static CopiedLogLine of(const CopiedLine &copy, std::optional<double> seconds);
};

// Listening: copies CW from a live audio source. Each line, as soon as its
// transmission has ended, gets the UTC time of its first element: the
// clock's time when listening started plus the samples before it (the
// sound card's own clock; when the audio falls more than 2 s behind the
// clock, samples were lost and the clock's word is taken). It is appended, flushed, to the day's listen log in the folder
// (listen-YYYY-MM-DD.log, the UTC date of the line), so nothing copied is
// lost when the program ends, whatever way.
class ListenSession : public QObject {
    Q_OBJECT
public:
    explicit ListenSession(QObject *parent = nullptr);
    ~ListenSession() override;

    // The data folder's kadrin/ folder, where the listen logs go.
    static QString defaultFolder();
    void setFolder(const QString &folder) { folder_ = folder; }
    // Milliseconds since 1970, UTC; the system clock unless set.
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
    // How often figuresChanged is sent (1,000 ms unless set).
    void setFiguresInterval(int ms) { figuresTimer_.setInterval(ms); }

    // Starts listening to source, which the session owns from now on; false
    // with *error when it cannot start (the source is deleted then).
    bool start(std::unique_ptr<AudioSource> source, QString *error);
    // Stops listening; the transmission under way is copied as it stands.
    void stop();
    bool active() const { return bool(source_); }
    QString sourceName() const;
    // The listen log written last, or the one the next line goes to.
    QString logPath() const;
    // False once a line could not be written to the listen log, until one is.
    bool logWorks() const { return !logBroken_; }
    CopyFigures figures() const;

signals:
    void lineCopied(const CopiedLogLine &line);
    // Every block of audio, for whoever shows the signal.
    void samples(const QList<float> &mono, double sampleRate);
    void figuresChanged(const CopyFigures &figures);
    // A copied line could not be written to the listen log (said once until
    // a write works again); the line is still handed on.
    void logFailed(const QString &why);
    // Listening stopped because the source failed.
    void failed(const QString &why);
    void activeChanged(bool active);

private:
    void feed(const QList<float> &mono);
    void copied(const CopiedLine &line);
    bool writeLog(const QString &line, qint64 msecs, QString *error);
    QString logPathAt(qint64 msecs) const; // the listen log of that UTC day
    void end();
    void handOn();

    QString folder_;
    std::function<qint64()> clock_;
    std::unique_ptr<AudioSource> source_;
    std::unique_ptr<CwCopier> copier_;
    double rate_ = 0;
    qint64 samplesIn_ = 0;
    qint64 firstSampleMs_ = 0; // the clock's time of the first sample
    QFile log_;
    QString logPath_;
    bool logBroken_ = false;
    QTimer figuresTimer_;
    QList<CopiedLogLine> pending_; // copied, written, not handed on yet
    QString pendingLogError_;
};
