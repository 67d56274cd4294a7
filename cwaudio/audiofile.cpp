#include "cwaudio/audiofile.h"

#include "cwaudio/cwcopier.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A WAV data size that says "not known yet": what a recorder writes before
// it knows the length, and leaves when it is killed.
constexpr qint64 UnknownWavSize = 0xFFFFFFFFLL;

const char *const WrongHeader =
    "its header gives no length of the audio (a recording not closed properly); "
    "read to the end of the file";

// Where the samples of a WAV start whose data chunk says it is empty while
// bytes follow it; -1 for any other file.
qint64 unsizedWavData(const QByteArray &path) {
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = file.read(64 * 1024);
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return -1;
    for (qsizetype at = 12; at + 8 <= head.size();) {
        quint32 size = 0;
        std::memcpy(&size, head.constData() + at + 4, 4); // little-endian, as x86 and ARM are
        if (head.mid(at, 4) == "data")
            return size == 0 && at + 8 < file.size() ? at + 8 : -1;
        at += 8 + qsizetype(size) + (size & 1);
    }
    return -1;
}

} // namespace

// The bytes of a file from one place to its end, as libsndfile's virtual
// file: the samples of a WAV whose header gives no length, read as raw.
struct AudioFile::Window {
    QFile file;
    qint64 start = 0;
    qint64 position = 0;

    qint64 length() const { return file.size() - start; }
    static Window &of(void *user) { return *static_cast<Window *>(user); }
    static sf_count_t lengthOf(void *user) { return of(user).length(); }
    static sf_count_t tell(void *user) { return of(user).position; }
    static sf_count_t seek(sf_count_t offset, int whence, void *user) {
        Window &w = of(user);
        const qint64 base = whence == SEEK_CUR ? w.position : whence == SEEK_END ? w.length() : 0;
        w.position = std::clamp<qint64>(base + offset, 0, w.length());
        return w.position;
    }
    static sf_count_t read(void *data, sf_count_t count, void *user) {
        Window &w = of(user);
        if (!w.file.seek(w.start + w.position))
            return 0;
        const qint64 got = w.file.read(static_cast<char *>(data), count);
        w.position += std::max<qint64>(got, 0);
        return std::max<qint64>(got, 0);
    }
    static sf_count_t write(const void *, sf_count_t, void *) { return 0; }
};

AudioFile::AudioFile() = default;

AudioFile::~AudioFile() {
    if (file_)
        sf_close(file_);
}

const QStringList &AudioFile::audioSuffixes() {
    static const QStringList suffixes = {QStringLiteral("wav"), QStringLiteral("flac"),
                                         QStringLiteral("ogg"), QStringLiteral("oga"),
                                         QStringLiteral("opus")};
    return suffixes;
}

bool AudioFile::isAudioName(const QString &path) {
    return audioSuffixes().contains(QFileInfo(path).suffix().toLower());
}

QString AudioFile::unreadableNote() const {
    if (unreadable_ == 0)
        return QString();
    return QStringLiteral("%1 %2 no number (NaN or infinite) and read as silence")
        .arg(unreadable_)
        .arg(unreadable_ == 1 ? QStringLiteral("sample was") : QStringLiteral("samples were"));
}

bool AudioFile::open(const QByteArray &path) {
    // One descriptor, opened once: a FIFO's writer sees one reader.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        error_ = QString::fromLocal8Bit(std::strerror(fd < 0 ? errno : EISDIR));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    regular_ = S_ISREG(info.st_mode);
    SF_INFO sf{};
    file_ = sf_open_fd(fd, SFM_READ, &sf, SF_TRUE);
    if (!file_) {
        error_ = QStringLiteral("not an audio file that can be read (%1)")
                     .arg(QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    sampleRate_ = sf.samplerate;
    channels_ = sf.channels;
    // libsndfile gives the largest count there is when the length is not
    // known: an OGG or Opus file without its last page, or a stream.
    frames_ = sf.frames >= SF_COUNT_MAX / 8 ? -1 : sf.frames;
    char log[4096] = {};
    sf_command(file_, SFC_GET_LOG_INFO, log, sizeof log);
    if (frames_ == 0 && regular_ && (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
        !openUnsizedWav(path, sf.format))
        return false;
    if (channels_ < 1 || frames_ == 0) {
        error_ = QStringLiteral("holds no audio");
        return false;
    }
    // A WAV cut short still opens; its header says how long it should be.
    const QRegularExpressionMatch cut =
        QRegularExpression(QStringLiteral(R"(data : (\d+) \(should be (\d+)\))"))
            .match(QString::fromLatin1(log));
    if (cut.hasMatch() && cut.captured(1).toLongLong() == UnknownWavSize) {
        note_ = QLatin1String(WrongHeader);
    } else if (cut.hasMatch() && cut.captured(1).toLongLong() > cut.captured(2).toLongLong()) {
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

bool AudioFile::openUnsizedWav(const QByteArray &path, int format) {
    const qint64 start = unsizedWavData(path);
    if (start < 0)
        return true; // truly empty
    auto window = std::make_unique<Window>();
    window->file.setFileName(QFile::decodeName(path));
    window->start = start;
    if (!window->file.open(QIODevice::ReadOnly))
        return true;
    SF_VIRTUAL_IO io{&Window::lengthOf, &Window::seek, &Window::read, &Window::write, &Window::tell};
    SF_INFO raw{};
    raw.samplerate = int(sampleRate_);
    raw.channels = channels_;
    raw.format = SF_FORMAT_RAW | (format & SF_FORMAT_SUBMASK) | SF_ENDIAN_LITTLE;
    SNDFILE *samples = sf_open_virtual(&io, SFM_READ, &raw, window.get());
    if (!samples)
        return true; // a coding raw audio cannot have: as empty as it says
    sf_close(file_);
    file_ = samples;
    window_ = std::move(window);
    frames_ = raw.frames;
    note_ = QLatin1String(WrongHeader);
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
    if (got == 0 && count > 0 && frames_ > 0 && framesRead_ < frames_) {
        error_ = QStringLiteral("truncated: it ends after %1 s of the %2 s it should hold")
                     .arg(double(framesRead_) / sampleRate_, 0, 'f', 1)
                     .arg(double(frames_) / sampleRate_, 0, 'f', 1);
        return -1;
    }
    // A file of unknown length that is no stream lost its end.
    if (got == 0 && count > 0 && frames_ < 0 && regular_) {
        error_ = QStringLiteral("truncated after %1 s").arg(std::llround(double(framesRead_) / sampleRate_));
        return -1;
    }
    if (channels_ == 1) {
        for (sf_count_t i = 0; i < got; ++i) {
            const float v = interleaved_[size_t(i)];
            mono[i] = std::isfinite(v) ? v : 0.0f;
        }
        for (sf_count_t i = 0; i < got; ++i)
            unreadable_ += !std::isfinite(interleaved_[size_t(i)]);
        framesRead_ += got;
        return qsizetype(got);
    }
    for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (int c = 0; c < channels_; ++c) {
            float v = interleaved_[size_t(i * channels_ + c)];
            if (!std::isfinite(v)) {
                v = 0; // a dropout, not a sample that would poison every filter after it
                ++unreadable_;
            }
            sum += v;
        }
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
        // In lanes: one running maximum is a chain the processor waits on.
        float lanes[8] = {};
        qsizetype i = 0;
        for (; i + 8 <= got; i += 8)
            for (int j = 0; j < 8; ++j)
                lanes[j] = std::max(lanes[j], std::abs(block[size_t(i + j)]));
        for (; i < got; ++i)
            lanes[0] = std::max(lanes[0], std::abs(block[size_t(i)]));
        for (float lane : lanes)
            peak = std::max(peak, lane);
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

QByteArray clockDuration(double seconds) {
    const qint64 s = qint64(std::llround(seconds));
    const auto twoDigits = [](qint64 n) { return QByteArray::number(n).rightJustified(2, '0'); };
    if (s < 3600)
        return QByteArray::number(s / 60) + ':' + twoDigits(s % 60);
    return QByteArray::number(s / 3600) + ':' + twoDigits(s / 60 % 60) + ':' + twoDigits(s % 60);
}
