#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CwCopier;
struct sf_private_tag;

// An audio file read as it comes, any channel count mixed to mono: WAV,
// FLAC, OGG Vorbis, Opus and whatever else libsndfile reads, at 8 kHz to
// 48 kHz. A FIFO is read as a stream.
class AudioFile {
public:
    static constexpr double LowestRate = 8000, HighestRate = 48000;

    AudioFile();
    ~AudioFile();
    AudioFile(const AudioFile &) = delete;
    AudioFile &operator=(const AudioFile &) = delete;

    // The suffixes of the recordings this class reads ("wav", ...), and
    // whether a file's name has one of them.
    static const QStringList &audioSuffixes();
    static bool isAudioName(const QString &path);

    // Opens the file named by these bytes; false with error() when it is no
    // audio libsndfile can read, holds no samples or has a sample rate
    // outside 8 to 48 kHz. Opening a FIFO waits for its writer; a signal
    // ends the wait (error() then says "Interrupted system call").
    bool open(const QByteArray &path);
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Frames the file says it holds; -1 when that is not known (a stream,
    // or an OGG or Opus file cut short).
    qint64 frames() const { return frames_; }
    qint64 framesRead() const { return framesRead_; }
    // What was wrong with a file that is read all the same: a WAV header
    // that gives no length, as a recorder that was killed leaves it; empty
    // for a sound file.
    QString note() const { return note_; }
    // Samples that were no number (NaN) or infinite, read as silence, and
    // what to say of them ("1 sample was no number ..."); empty for none.
    qint64 unreadableSamples() const { return unreadable_; }
    QString unreadableNote() const;

    // Reads up to count mono samples; 0 at the end, -1 on a read error or
    // when the file ends before the samples its header promised (a
    // truncated file), with error().
    qsizetype read(float *mono, qsizetype count);
    QString error() const { return error_; }

private:
    struct Window;
    bool openUnsizedWav(const QByteArray &path, int format);

    sf_private_tag *file_ = nullptr;
    std::unique_ptr<Window> window_; // the samples of a WAV whose header gives no length
    bool regular_ = false;
    double sampleRate_ = 0;
    int channels_ = 0;
    qint64 frames_ = 0;
    qint64 framesRead_ = 0;
    qint64 unreadable_ = 0;
    std::vector<float> interleaved_;
    QString note_;
    QString error_;
};

// How copying a whole file went.
struct FileCopy {
    bool readError = false; // see AudioFile::error(); what came before was copied
    bool stopped = false;   // afterBlock said to stop
    bool silent = false;    // nothing but silence was read
};

// Feeds the rest of the file to the copier block by block, handing each
// block on to afterBlock, which stops the copy by returning false; then
// finishes the copier unless stopped.
FileCopy copyAudioFile(AudioFile &audio, CwCopier &copier,
                       const std::function<bool(const float *, qsizetype)> &afterBlock);

// "1:05" for 65 seconds, "10:00:31" from an hour on.
QByteArray clockDuration(double seconds);
