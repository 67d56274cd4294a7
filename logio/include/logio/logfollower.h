#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Says when a followed file may hold more: on every change the system
// reports for the file or its folder (a rotated log is a new file under the
// same name), and at least every half second for file systems that report
// nothing.
class LogFollower : public QObject {
    Q_OBJECT
public:
    explicit LogFollower(const QString &path, QObject *parent = nullptr);

signals:
    void mayHaveGrown();

private:
    void watch();

    QString path_;
    QFileSystemWatcher watcher_;
    QTimer poll_;
};
