#include "logio/logfollower.h"

#include <QFileInfo>

LogFollower::LogFollower(const QString &path, QObject *parent) : QObject(parent), path_(path) {
    watch();
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
        watch(); // a replaced file drops out of the watch list
        emit mayHaveGrown();
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        watch();
        emit mayHaveGrown();
    });
    connect(&poll_, &QTimer::timeout, this, &LogFollower::mayHaveGrown);
    poll_.start(500);
}

void LogFollower::watch() {
    if (!watcher_.files().contains(path_) && QFileInfo::exists(path_))
        watcher_.addPath(path_);
    const QString folder = QFileInfo(path_).absolutePath();
    if (!watcher_.directories().contains(folder))
        watcher_.addPath(folder);
}
