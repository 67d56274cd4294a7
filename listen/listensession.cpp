#include "listen/listensession.h"

#include "cwaudio/recordingtime.h"
#include "listen/audiosource.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <cmath>
#include <utility>

CopiedLogLine CopiedLogLine::of(const CopiedLine &copy, std::optional<double> seconds) {
    return {timedLogLine(seconds, copy.text), copy.snrDb, copy.toneHz};
}

ListenSession::ListenSession(QObject *parent)
    : QObject(parent), folder_(defaultFolder()),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    figuresTimer_.setInterval(1000);
    connect(&figuresTimer_, &QTimer::timeout, this, [this] { emit figuresChanged(figures()); });
}

ListenSession::~ListenSession() {
    // The line under way still goes into the listen log; whoever listened
    // may be half destroyed by now, so nobody is told.
    blockSignals(true);
    stop();
}

QString ListenSession::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kadrin");
}

bool ListenSession::start(std::unique_ptr<AudioSource> source, QString *error) {
    stop();
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("The folder for the listen log cannot be made: %1").arg(folder_);
        return false;
    }
    AudioSource *raw = source.get();
    connect(raw, &AudioSource::samples, this, &ListenSession::feed);
    connect(raw, &AudioSource::failed, this, [this](const QString &why) {
        end();
        emit failed(why);
    });
    if (!raw->start(error))
        return false;
    source_ = std::move(source);
    rate_ = source_->sampleRate();
    copier_ = std::make_unique<CwCopier>(rate_);
    copier_->setLineHandler([this](const CopiedLine &line) { copied(line); });
    samplesIn_ = 0;
    firstSampleMs_ = clock_();
    logBroken_ = false;
    logPath_ = logPathAt(firstSampleMs_);
    figuresTimer_.start();
    emit activeChanged(true);
    return true;
}

void ListenSession::stop() {
    if (!source_)
        return;
    source_->stop();
    end();
}

void ListenSession::end() {
    if (!copier_)
        return;
    figuresTimer_.stop();
    // The source goes once control is back in the event loop: end() may be
    // called from one of its own signals.
    if (source_) {
        disconnect(source_.get(), nullptr, this, nullptr);
        source_.release()->deleteLater();
    }
    copier_->finish();
    const CopyFigures last = copier_->figures();
    copier_.reset();
    log_.close();
    handOn();
    emit figuresChanged(last);
    emit activeChanged(false);
}

QString ListenSession::sourceName() const {
    return source_ ? source_->name() : QString();
}

QString ListenSession::logPath() const {
    return logPath_;
}

CopyFigures ListenSession::figures() const {
    return copier_ ? copier_->figures() : CopyFigures();
}

void ListenSession::feed(const QList<float> &mono) {
    if (!copier_)
        return;
    samplesIn_ += mono.size();
    const qint64 late = clock_() - firstSampleMs_ - qint64(double(samplesIn_) * 1000 / rate_);
    if (late > 2000)
        firstSampleMs_ += late;
    emit samples(mono, rate_);
    copier_->feed(mono.constData(), mono.size());
    handOn();
}

void ListenSession::handOn() {
    // Told once the copier is done: whoever is told may open a dialog, whose
    // event loop brings more audio to feed.
    const QList<CopiedLogLine> lines = std::exchange(pending_, {});
    const QString logError = std::exchange(pendingLogError_, {});
    if (!logError.isEmpty())
        emit logFailed(logError);
    for (const CopiedLogLine &line : lines)
        emit lineCopied(line);
}

void ListenSession::copied(const CopiedLine &copy) {
    const qint64 msecs = firstSampleMs_ + qint64(std::llround(copy.start * 1000));
    const CopiedLogLine line = CopiedLogLine::of(copy, double(msecs) / 1000.0);
    QString error;
    if (writeLog(line.line, msecs, &error)) {
        logBroken_ = false;
    } else if (!logBroken_) {
        logBroken_ = true;
        pendingLogError_ = error;
    }
    pending_.append(line);
}

QString ListenSession::logPathAt(qint64 msecs) const {
    return QDir(folder_).filePath(
        QStringLiteral("listen-%1.log")
            .arg(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd"))));
}

bool ListenSession::writeLog(const QString &line, qint64 msecs, QString *error) {
    const QString path = logPathAt(msecs);
    if (path != log_.fileName() || !log_.isOpen()) {
        log_.close();
        log_.setFileName(path);
        if (!log_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *error = QStringLiteral("%1: %2").arg(path, log_.errorString());
            return false;
        }
    }
    logPath_ = path;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (log_.write(bytes) != bytes.size() || !log_.flush()) {
        *error = QStringLiteral("%1: %2").arg(path, log_.errorString());
        log_.close();
        return false;
    }
    return true;
}
