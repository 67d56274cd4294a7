#pragma once

#include <QAudioDevice>
#include <QAudioFormat>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAudioSource;
class QIODevice;

// Live audio, mono samples as they arrive: the sound card, or any other
// stream of PCM. Everything runs in the thread the source lives in.
class AudioSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QString name() const = 0;
    // Samples a second; known once started.
    virtual double sampleRate() const = 0;
    // False with *error when the audio cannot be had.
    virtual bool start(QString *error) = 0;
    virtual void stop() = 0;

signals:
    // Mono samples, full scale 1.
    void samples(const QList<float> &mono);
    // The audio stopped coming for this reason; nothing more is sent.
    void failed(const QString &why);
};

// PCM in a QAudioFormat read from a QIODevice as it becomes readable: what
// a sound card delivers, or a pipe. The end of the stream is a failure
// ("the audio stream ended"), as a live source is not meant to end.
class PcmStream : public AudioSource {
    Q_OBJECT
public:
    // Reads device, which must outlive the stream or be deleted with it.
    PcmStream(const QString &name, QIODevice *device, const QAudioFormat &format,
              QObject *parent = nullptr);

    QString name() const override { return name_; }
    double sampleRate() const override { return format_.sampleRate(); }
    bool start(QString *error) override;
    void stop() override;

protected:
    void setDevice(QIODevice *device, const QAudioFormat &format);

private:
    void readAvailable();
    void ended();

    QString name_;
    QPointer<QIODevice> device_;
    QAudioFormat format_;
    QByteArray partial_; // bytes of a frame not complete yet
    bool running_ = false;
};

// An audio input of the machine through Qt Multimedia, at its preferred
// rate when that is 8 to 48 kHz (else 48 or 8 kHz), mono when it can.
class SoundCard : public PcmStream {
    Q_OBJECT
public:
    explicit SoundCard(const QAudioDevice &device, QObject *parent = nullptr);
    ~SoundCard() override;

    bool start(QString *error) override;
    void stop() override;

private:
    QAudioDevice device_;
    QAudioSource *source_ = nullptr;
    QElapsedTimer quiet_; // since the last samples
};

// Mixes interleaved PCM frames of a format to mono floats, appended to mono.
void appendMono(const char *data, qsizetype frames, const QAudioFormat &format, QList<float> &mono);
