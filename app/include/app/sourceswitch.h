#pragma once

#include "app/configuration.h"

#include <QObject>
#include <QString>
#include <QStringList>

class ArchiveWriter;
class AudioSession;
class NetworkPasses;
class BeaconDocument;
class FollowSession;
class QMainWindow;
class TelemetryHistory;

// Where the box's text comes from, one source at a time: a log opened or
// followed, a recording copied, or an audio input listened to. Starting one
// stops the others. Lines received arrive through linesArrived; frames
// followed or heard are shared with the telemetry database when conf.ini
// names one. Nothing received is lost: a copy that cannot replace the text
// (the operator keeps it) stays at hand.
class SourceSwitch : public QObject {
    Q_OBJECT
public:
    SourceSwitch(const Configuration &configuration, BeaconDocument *document, QMainWindow *window);

    FollowSession &following() { return *following_; }
    AudioSession &audio() { return *audio_; }
    // Keeps every frame received with a UTC time (not typed text).
    ArchiveWriter &archive() { return *archive_; }
    // File, Network Passes...: the network's recordings and shared frames.
    NetworkPasses &networkPasses() { return *network_; }

    // As Open Log, Follow Log and Open Recording do, without asking first.
    void openLog(const QString &path);
    bool followLog(const QString &path); // false when it cannot be read
    void openRecording(const QString &path);
    // A file dropped on the window: a log or a recording, by its name.
    void openDropped(const QString &path);

    // The File menu: asks what to open, or stops what runs.
    void askForLog();
    void toggleFollowing();
    void askForRecording();
    void toggleListening();

    // The lines from `first` on of the store just arrived from the source:
    // their frames are shared and kept in the archive.
    void share(const TelemetryHistory &history, int first, const QStringList &lines);

signals:
    void linesArrived(const QStringList &lines);
    void status(const QString &text);
    // A log is followed from now on: its end is to be kept in sight.
    void followed();
    void followingChanged(bool active);
    void listeningChanged(bool active);

private:
    void showRecording(const QString &path, const QStringList &lines, const QString &status);
    void stopOthers(); // before a log or a recording replaces the text
    void keep(const QString &path, const std::vector<QString> &lines, bool recording);

    BeaconDocument *document_;
    FollowSession *following_;
    AudioSession *audio_;
    ArchiveWriter *archive_;
    NetworkPasses *network_;
    QString followed_; // the log followed, for its receptions
    bool archiveWarned_ = false;
};
