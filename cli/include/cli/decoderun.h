#pragma once

#include "cli/checkedoutput.h"
#include "decoder/frameoutput.h"
#include "decoder/linescanner.h"
#include "logio/logreader.h"
#include "logio/logtail.h"

#include <QList>
#include <QObject>

#include <functional>
#include <vector>

// One run of kadrin-decode: reads each FILE in turn, judges every line and
// writes what the chosen output form asks for; with follow, goes on reading
// the one FILE as it grows until SIGINT or SIGTERM.
class DecodeRun final : public QObject, public LogTail::Sink {
    Q_OBJECT
public:
    struct Options {
        OutputFormat format = OutputFormat::Report;
        bool follow = false;
        bool audio = false;      // lines copied from audio: CSV and JSON give their signal
        QList<QByteArray> files; // as given: bytes, "-" for standard input
    };
    // Called for every frame after its output is written: the frame's
    // verdict, its record number and, for a line copied from audio, what
    // the audio said of it. currentName() and currentLine() tell where the
    // line was read.
    using FrameHook = std::function<void(const LineVerdict &, qint64, const LineSignal *)>;

    DecodeRun(const Options &options, CheckedOutput &output);
    OutputBuffer &output() { return output_.buffer(); }
    void addFrameHook(FrameHook hook) { frameHooks_.push_back(std::move(hook)); }
    const QByteArray &currentName() const { return currentName_; }
    qint64 currentLine() const { return line_; }
    // Reads each FILE with this instead of the log reader (kadrin-decode
    // --audio): it hands the file's lines on through text() and lineEnd()
    // and is false when the file could not be read.
    using FileReader = std::function<bool(const QByteArray &name)>;
    void setFileReader(FileReader reader) { fileReader_ = std::move(reader); }
    // The FILE arguments, when they are known only after the options (the
    // observations of kadrin-decode --network).
    void setFiles(const QList<QByteArray> &files) { options_.files = files; }

    // Decodes everything; with follow, returns when a signal ends the run.
    // False when a file could not be read or the output failed.
    bool run();
    // Writes what the output holds now; false once a write has failed.
    bool flushNow() { return flushOutput(0); }
    bool outputFailed() const { return outputFailed_; }

    // From now on SIGINT and SIGTERM end the run through stopSignal() (a
    // wait for a FIFO's writer or for input is cut short) instead of
    // ending the program with its output unwritten. False when they cannot
    // be caught.
    static bool catchStopSignals();
    // The signal that asked the run to stop; 0 while none has.
    static int stopSignal();
    qint64 frames() const { return frames_; }
    qint64 nearMisses() const { return nearMisses_; }
    bool following() const { return options_.follow; }
    // "26 frames (2 with unreadable symbols), 3 near misses, 5 other lines"
    QString summary() const;

    // What the log reader and the log tail hand on.
    void text(QStringView piece) override { scanner_.add(piece); }
    void lineEnd() override { endLine(nullptr); }
    // The end of a line copied from audio, and what the audio said of it.
    void lineEnd(const LineSignal &signal) { endLine(&signal); }
    void restarted(LogReader::Restart why) override;
    void waiting(const QString &why) override;

signals:
    // The run is following and has read what the file holds.
    void caughtUp();

private:
    void endLine(const LineSignal *signal);
    bool readSource(const QByteArray &name);
    bool follow(const QByteArray &name);
    bool flushOutput(qsizetype threshold);

    Options options_;
    CheckedOutput &output_;
    FrameWriter writer_;
    LineScanner scanner_;
    LogReader reader_;
    std::vector<FrameHook> frameHooks_;
    FileReader fileReader_;
    QByteArray currentName_;
    qint64 line_ = 0;
    qint64 frames_ = 0;
    qint64 unreadableFrames_ = 0;
    qint64 nearMisses_ = 0;
    qint64 otherLines_ = 0;
    bool outputFailed_ = false;
};

// Writes "kadrin-decode: " and the message to standard error.
void printError(const QByteArray &message);
