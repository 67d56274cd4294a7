#include "cwaudio/audiofile.h"

#include "cwaudio/cwcopier.h"

#include <QFile>
#include <QRegularExpression>

#include <sndfile.h>

AudioFile::~AudioFile() {
    if (file_)
        sf_close(file_);
}

bool AudioFile::open(const QByteArray &path) {
    QFile probe(QFile::decodeName(path));
    if (!probe.open(QIODevice::ReadOnly)) {
        error_ = probe.errorString();
        return false;
    }
    probe.close();
    SF_INFO info{};
    file_ = sf_open(path.constData(), SFM_READ, &info);
    if (!file_) {
        error_ = QStringLiteral("not an audio file that can be read (%1)")
                     .arg(QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    if (channels_ < 1 || frames_ <= 0) {
        error_ = QStringLiteral("holds no audio");
        return false;
    }
    // A WAV cut short still opens; its header says how long it should be.
    char log[4096] = {};
    sf_command(file_, SFC_GET_LOG_INFO, log, sizeof log);
    const QRegularExpressionMatch cut =
        QRegularExpression(QStringLiteral(R"(data : (\d+) \(should be (\d+)\))"))
            .match(QString::fromLatin1(log));
    if (cut.hasMatch() && cut.captured(1).toLongLong() > cut.captured(2).toLongLong()) {
        error_ = QStringLiteral("truncated: it holds %1 of the %2 bytes of audio its header gives")
                     .arg(cut.captured(2), cut.captured(1));
        return false;
    }
    if (sampleRate_ < LowestRate || sampleRate_ > HighestRate) {
        error_ = QStringLiteral("sample rate %1 Hz; 8,000 to 48,000 Hz can be copied")
                     .arg(sampleRate_);
        return false;
    }
    return true;
}

qsizetype AudioFile::read(float *mono, qsizetype count) {
    if (!file_)
        return -1;
    interleaved_.resize(size_t(count) * size_t(channels_));
    const sf_count_t got = sf_readf_float(file_, interleaved_.data(), count);
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
        error_ = QStringLiteral("damaged audio after %1 s (%2)")
                     .arg(double(framesRead_) / sampleRate_, 0, 'f', 1)
                     .arg(QString::fromLocal8Bit(sf_strerror(file_)));
        return -1;
    }
    if (got == 0 && count > 0 && framesRead_ < frames_) {
        error_ = QStringLiteral("truncated: it ends after %1 s of the %2 s it should hold")
                     .arg(double(framesRead_) / sampleRate_, 0, 'f', 1)
                     .arg(double(frames_) / sampleRate_, 0, 'f', 1);
        return -1;
    }
    for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (int c = 0; c < channels_; ++c)
            sum += interleaved_[size_t(i * channels_ + c)];
        mono[i] = sum / float(channels_);
    }
    framesRead_ += got;
    return qsizetype(got);
}

FileCopy copyAudioFile(AudioFile &audio, CwCopier &copier,
                       const std::function<bool(const float *, qsizetype)> &afterBlock) {
    FileCopy copy;
    std::vector<float> block(8192);
    float peak = 0;
    for (;;) {
        const qsizetype got = audio.read(block.data(), qsizetype(block.size()));
        if (got < 0)
            copy.readError = true;
        if (got <= 0)
            break;
        for (qsizetype i = 0; i < got; ++i)
            peak = std::max(peak, std::abs(block[size_t(i)]));
        copier.feed(block.data(), got);
        if (!afterBlock(block.data(), got)) {
            copy.stopped = true;
            return copy;
        }
    }
    copier.finish();
    copy.silent = !copy.readError && peak < 1e-5f;
    return copy;
}
