#include "listen/audiosource.h"

#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

template <typename T>
void mix(const char *data, qsizetype frames, int channels, float scale, float offset,
         QList<float> &mono) {
    const qsizetype first = mono.size();
    mono.resize(first + frames);
    float *out = mono.data() + first;
    const float gain = scale / float(channels);
    for (qsizetype i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c) {
            T v;
            std::memcpy(&v, data + (i * channels + c) * qsizetype(sizeof(T)), sizeof(T));
            if constexpr (std::is_floating_point_v<T>)
                if (!std::isfinite(v))
                    v = 0; // a dropout, not a sample that would poison the copier's filters
            sum += float(v) - offset;
        }
        out[i] = sum * gain;
    }
}

} // namespace

void appendMono(const char *data, qsizetype frames, const QAudioFormat &format,
                QList<float> &mono) {
    const int channels = format.channelCount();
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8:
        return mix<quint8>(data, frames, channels, 1.0f / 128, 128, mono);
    case QAudioFormat::Int16:
        return mix<qint16>(data, frames, channels, 1.0f / 32768, 0, mono);
    case QAudioFormat::Int32:
        return mix<qint32>(data, frames, channels, 1.0f / 2147483648.0f, 0, mono);
    case QAudioFormat::Float:
        return mix<float>(data, frames, channels, 1.0f, 0, mono);
    default:
        return;
    }
}

PcmStream::PcmStream(const QString &name, QIODevice *device, const QAudioFormat &format,
                     QObject *parent)
    : AudioSource(parent), name_(name), device_(device), format_(format) {}

void PcmStream::setDevice(QIODevice *device, const QAudioFormat &format) {
    device_ = device;
    format_ = format;
}

bool PcmStream::start(QString *error) {
    if (!device_ || !device_->isReadable()) {
        *error = QStringLiteral("%1: the audio cannot be read").arg(name_);
        return false;
    }
    if (format_.bytesPerFrame() <= 0 || format_.sampleRate() < 8000 ||
        format_.sampleRate() > 48000) {
        *error = QStringLiteral("%1: the audio format is not one the copier reads "
                                "(8 to 48 kHz, 8, 16 or 32 bit)")
                     .arg(name_);
        return false;
    }
    running_ = true;
    partial_.clear();
    connect(device_, &QIODevice::readyRead, this, &PcmStream::readAvailable);
    connect(device_, &QIODevice::readChannelFinished, this, &PcmStream::ended);
    readAvailable();
    return true;
}

void PcmStream::stop() {
    running_ = false;
    if (device_)
        disconnect(device_, nullptr, this, nullptr);
}

void PcmStream::readAvailable() {
    if (!running_ || !device_)
        return;
    const int frameBytes = format_.bytesPerFrame();
    for (;;) {
        const QByteArray got = device_->read(64 * 1024);
        if (got.isEmpty())
            break;
        partial_.append(got);
        const qsizetype frames = partial_.size() / frameBytes;
        if (frames == 0)
            continue;
        QList<float> mono;
        mono.reserve(frames);
        appendMono(partial_.constData(), frames, format_, mono);
        partial_.remove(0, frames * frameBytes);
        emit samples(mono);
        if (!running_)
            return;
    }
}

void PcmStream::ended() {
    if (!running_)
        return;
    readAvailable();
    stop();
    emit failed(QStringLiteral("%1: the audio stream ended").arg(name_));
}

SoundCard::SoundCard(const QAudioDevice &device, QObject *parent)
    : PcmStream(device.description(), nullptr, {}, parent), device_(device) {}

SoundCard::~SoundCard() {
    SoundCard::stop();
}

bool SoundCard::start(QString *error) {
    if (device_.isNull()) {
        *error = QStringLiteral("There is no audio input on this machine.");
        return false;
    }
    QAudioFormat format = device_.preferredFormat();
    if (format.sampleRate() < 8000 || format.sampleRate() > 48000)
        format.setSampleRate(format.sampleRate() > 48000 ? 48000 : 8000);
    if (device_.minimumChannelCount() <= 1)
        format.setChannelCount(1);
    if (!device_.isFormatSupported(format)) {
        format.setSampleRate(48000);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
    }
    if (!device_.isFormatSupported(format)) {
        *error = QStringLiteral("%1: the audio input offers no format the copier reads "
                                "(8 to 48 kHz, 8, 16 or 32 bit)")
                     .arg(name());
        return false;
    }
    source_ = new QAudioSource(device_, format, this);
    QIODevice *io = source_->start();
    if (!io || source_->error() != QAudio::NoError) {
        *error = QStringLiteral("%1: the audio input cannot be opened").arg(name());
        delete source_;
        source_ = nullptr;
        return false;
    }
    setDevice(io, format);
    connect(source_, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && source_ && source_->error() != QAudio::NoError) {
            stop();
            emit failed(QStringLiteral("%1: the audio input stopped delivering audio").arg(name()));
        }
    });
    // An input unplugged or removed: the sound server may move the stream
    // to another input without a word, and the list of inputs may change
    // without a signal, so it is looked at every second; and an input that
    // goes quiet (no samples at all for 3 s) has stopped.
    auto *watch = new QTimer(source_);
    watch->setInterval(1000);
    connect(watch, &QTimer::timeout, this, [this] {
        bool present = false;
        for (const QAudioDevice &input : QMediaDevices::audioInputs())
            present = present || input.id() == device_.id();
        const QString why = !present ? QStringLiteral("the audio input is gone")
                            : quiet_.isValid() && quiet_.elapsed() > 3000
                                ? QStringLiteral("the audio input delivers no audio")
                                : QString();
        if (why.isEmpty())
            return;
        stop();
        emit failed(QStringLiteral("%1: %2").arg(name(), why));
    });
    watch->start();
    quiet_.start();
    connect(this, &AudioSource::samples, this, [this] { quiet_.start(); });
    return PcmStream::start(error);
}

void SoundCard::stop() {
    PcmStream::stop();
    if (!source_)
        return;
    QAudioSource *source = source_;
    source_ = nullptr;
    quiet_.invalidate();
    // Stopped from the event loop: stop() may be called from inside the
    // input's own signal, and the sound server's stream must not go away
    // under the code that sent it.
    QMetaObject::invokeMethod(
        source,
        [source] {
            source->stop();
            source->deleteLater();
        },
        Qt::QueuedConnection);
}
