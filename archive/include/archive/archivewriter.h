#pragma once

#include "archive/archive.h"
#include "decoder/frameoutput.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QThread;

// Stores frames into the archive from a thread of its own, so the window
// never waits for the disk or the server. Batches are stored in the order
// they were handed over; each is one transaction.
class ArchiveWriter : public QObject {
    Q_OBJECT
public:
    // Opens the archive at `location` in the writer's thread; failed()
    // tells when it cannot be used.
    explicit ArchiveWriter(const QString &location, QObject *parent = nullptr);
    // Stores what was handed over before it returns.
    ~ArchiveWriter() override;

    QString location() const { return location_; }
    // The frames with a UTC time among the lines, numbered from firstLine,
    // each received from `source` (its line set to the line's number).
    // `audio` gives each audio line's SNR and tone (none for others).
    void storeLines(const Reception &source, qint64 firstLine, const QStringList &lines,
                    const std::vector<std::optional<LineSignal>> &audio = {});
    void store(std::vector<IncomingFrame> frames);
    // Blocks until everything handed over is stored (tests, closing).
    void wait();

signals:
    // A batch was stored: how many frames were new and how many known.
    void stored(qint64 added, qint64 known);
    // Storing failed; what was handed over since is not stored.
    void failed(const QString &message);

private:
    void storeNow(Archive &archive, const std::vector<IncomingFrame> &frames); // in thread_

    QString location_;
    QThread *thread_ = nullptr;
    QObject *worker_ = nullptr; // lives in thread_
    std::shared_ptr<Archive> archive_; // used in thread_ only
};
