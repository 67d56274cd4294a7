#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class CwCopier;
struct sf_private_tag;

// An audio file read as it comes, any channel count mixed to mono: WAV,
// FLAC, OGG Vorbis, Opus and whatever else libsndfile reads, at 8 kHz to
// 48 kHz.
class AudioFile {
public:
    static constexpr double LowestRate = 8000, HighestRate = 48000;

    AudioFile() = default;
    ~AudioFile();
    AudioFile(const AudioFile &) = delete;
    AudioFile &operator=(const AudioFile &) = delete;

    // Opens the file named by these bytes; false with error() when it is no
    // audio libsndfile can read, holds no samples or has a sample rate
    // outside 8 to 48 kHz.
    bool open(const QByteArray &path);
    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Frames the file says it holds; may be wrong for a damaged file.
    qint64 frames() const { return frames_; }
    qint64 framesRead() const { return framesRead_; }

    // Reads up to count mono samples; 0 at the end, -1 on a read error or
    // when the file ends before the samples its header promised (a
    // truncated file), with error().
    qsizetype read(float *mono, qsizetype count);
    QString error() const { return error_; }

private:
    sf_private_tag *file_ = nullptr;
    double sampleRate_ = 0;
    int channels_ = 0;
    qint64 frames_ = 0;
    qint64 framesRead_ = 0;
    std::vector<float> interleaved_;
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
