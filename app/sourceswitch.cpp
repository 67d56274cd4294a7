#include "app/sourceswitch.h"

#include "app/audiosession.h"
#include "app/beacondocument.h"
#include "app/followsession.h"
#include "app/networkpasses.h"
#include "archive/archivewriter.h"
#include "cwaudio/audiofile.h"

#include <QFileInfo>

#include <QMainWindow>

SourceSwitch::SourceSwitch(const Configuration &configuration, BeaconDocument *document,
                           QMainWindow *window)
    : QObject(window), document_(document), following_(new FollowSession(configuration, this)),
      audio_(new AudioSession(window)),
      archive_(new ArchiveWriter(configuration.archive.isEmpty() ? Archive::defaultLocation()
                                                                 : configuration.archive,
                                 this)),
      network_(new NetworkPasses(configuration, window)) {
    connect(network_, &NetworkPasses::status, this, &SourceSwitch::status);
    connect(network_, &NetworkPasses::failed, document_, &BeaconDocument::warn, Qt::QueuedConnection);
    connect(network_, &NetworkPasses::finished, this, [this](const QString &summary) {
        emit status(QStringLiteral("Network passes: ") + summary);
    });
    // The first failure is told in a message, later ones on the status line:
    // the frames go on arriving in the box all the same.
    connect(archive_, &ArchiveWriter::failed, this, [this](const QString &message) {
        if (std::exchange(archiveWarned_, true))
            return emit status(message);
        document_->warn(message + QStringLiteral(". Received frames are still shown and kept in "
                                                 "the box, but not in the archive."));
    }, Qt::QueuedConnection);
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

void SourceSwitch::keep(const QString &path, const std::vector<QString> &lines, bool recording) {
    Reception source;
    source.kind = recording ? Reception::Kind::Recording : Reception::Kind::File;
    source.source = QFileInfo(path).absoluteFilePath();
    std::vector<std::optional<LineSignal>> audio;
    if (recording)
        for (const QString &line : lines)
            audio.push_back(audio_->signalOf(line));
    archive_->storeLines(source, 1, QStringList(lines.begin(), lines.end()), audio);
}

void SourceSwitch::openLog(const QString &path) {
    LoadedLog log = readLogFile(path);
    if (document_->refused(path, log))
        return;
    keep(path, log.lines, false);
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
    keep(path, log.lines, false);
    followed_ = QFileInfo(path).absoluteFilePath();
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
    keep(path, log.lines, true);
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

void SourceSwitch::share(const TelemetryHistory &history, int first, const QStringList &lines) {
    following_->share(history, first, int(lines.size()));
    if (!following_->active() && !audio_->listening())
        return;
    Reception source;
    source.kind = following_->active() ? Reception::Kind::File : Reception::Kind::Sound;
    source.source = following_->active() ? followed_ : audio_->listenSession().sourceName();
    std::vector<std::optional<LineSignal>> audio;
    for (const QString &line : lines)
        audio.push_back(audio_->signalOf(line));
    archive_->storeLines(source, first + 1, lines, audio);
}
