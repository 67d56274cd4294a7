#include "cwaudio/audiofile.h"

#include <sndfile.h>

AudioFile::~AudioFile() {
    if (file_)
        sf_close(file_);
}

bool AudioFile::open(const QByteArray &path) {
    SF_INFO info{};
    file_ = sf_open(path.constData(), SFM_READ, &info);
    if (!file_) {
        error_ = QString::fromLocal8Bit(sf_strerror(nullptr));
        return false;
    }
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    return true;
}

qsizetype AudioFile::read(float *mono, qsizetype count) {
    interleaved_.resize(size_t(count) * size_t(channels_));
    const sf_count_t got = sf_readf_float(file_, interleaved_.data(), count);
    if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
        error_ = QString::fromLocal8Bit(sf_strerror(file_));
        return -1;
    }
    for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (int c = 0; c < channels_; ++c)
            sum += interleaved_[size_t(i * channels_ + c)];
        mono[i] = sum / float(channels_);
    }
    return qsizetype(got);
}
