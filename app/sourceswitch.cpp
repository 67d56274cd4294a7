#include "app/sourceswitch.h"

#include "app/audiosession.h"
#include "app/beacondocument.h"
#include "app/followsession.h"
#include "cwaudio/audiofile.h"

#include <QMainWindow>

SourceSwitch::SourceSwitch(const Configuration &configuration, BeaconDocument *document,
                           QMainWindow *window)
    : QObject(window), document_(document), following_(new FollowSession(configuration, this)),
      audio_(new AudioSession(window)) {
    connect(following_, &FollowSession::linesArrived, this, &SourceSwitch::linesArrived);
    connect(following_, &FollowSession::status, this, &SourceSwitch::status);
    connect(following_, &FollowSession::failed, document_, &BeaconDocument::warn);
    connect(following_, &FollowSession::activeChanged, this, &SourceSwitch::followingChanged);
    connect(audio_, &AudioSession::linesArrived, this, &SourceSwitch::linesArrived);
    connect(audio_, &AudioSession::recordingCopied, this, &SourceSwitch::showRecording);
    connect(audio_, &AudioSession::status, following_, &FollowSession::setStatusPrefix);
    connect(audio_, &AudioSession::note, this, &SourceSwitch::status);
    connect(audio_, &AudioSession::linesOnlyInBox, document_, &BeaconDocument::markUnsaved);
    // Shown from the event loop, never from inside the audio's own signals:
    // the audio goes on being read (and copied lines go on arriving) while
    // the message is open.
    connect(audio_, &AudioSession::failed, document_, &BeaconDocument::warn, Qt::QueuedConnection);
    connect(audio_, &AudioSession::listeningChanged, this, [this](bool active) {
        // Heard frames are shared as followed ones are.
        if (active)
            following_->startSharing(QString());
        else if (!following_->active())
            following_->stopSharing();
        emit listeningChanged(active);
    });
    audio_->showSignalIn(window);
}

void SourceSwitch::stopOthers() {
    if (audio_->listening())
        audio_->stopListening();
    audio_->cancelRecording();
    following_->stop();
}

void SourceSwitch::openLog(const QString &path) {
    LoadedLog log = readLogFile(path);
    if (document_->refused(path, log))
        return;
    stopOthers();
    document_->show(path, log, QLatin1String("Opened ") + path);
}

bool SourceSwitch::followLog(const QString &path) {
    LoadedLog log = following_->start(path);
    if (document_->refused(path, log))
        return false;
    if (audio_->listening()) {
        audio_->stopListening();
        following_->setStatusPrefix(QLatin1String("Following ") + path);
    }
    audio_->cancelRecording();
    document_->show(path, log, QLatin1String("Following ") + path);
    emit followed();
    return true;
}

void SourceSwitch::openRecording(const QString &path) {
    audio_->openRecording(path);
}

void SourceSwitch::openDropped(const QString &path) {
    if (AudioFile::isAudioName(path))
        openRecording(path);
    else
        openLog(path);
}

void SourceSwitch::showRecording(const QString &path, const QStringList &lines,
                                 const QString &status) {
    // The text may have been typed in while the recording was copied: kept,
    // the copy waits until the recording is opened again.
    if (!document_->keepOrSave())
        return audio_->keepCopy(path, lines, status);
    stopOthers();
    LoadedLog log;
    log.lines.assign(lines.begin(), lines.end());
    document_->show(path, log, status);
}

void SourceSwitch::askForLog() {
    const QString path = document_->askForLog(QStringLiteral("Open Log"));
    if (!path.isEmpty())
        openLog(path);
}

void SourceSwitch::toggleFollowing() {
    if (following_->active())
        return following_->stop();
    const QString path = document_->askForLog(QStringLiteral("Follow Log"));
    if (!path.isEmpty())
        followLog(path);
}

void SourceSwitch::askForRecording() {
    const QString path =
        document_->askForLog(QStringLiteral("Open Recording"), AudioSession::audioFilter());
    if (!path.isEmpty())
        openRecording(path);
}

void SourceSwitch::toggleListening() {
    if (audio_->listening())
        return audio_->stopListening();
    std::unique_ptr<AudioSource> input = audio_->chooseInput();
    if (!input)
        return;
    // One live source at a time: the box grows from the audio alone.
    following_->stop();
    audio_->cancelRecording();
    audio_->listen(std::move(input));
}

void SourceSwitch::share(const TelemetryHistory &history, int first, int count) {
    following_->share(history, first, count);
}
