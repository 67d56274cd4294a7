#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The station's archive: every frame with a UTC time the program received,
// kept once (same symbols, same second), each with every reception of it.
// SQLite by default (a file), PostgreSQL for a team (a postgresql:// URL);
// the same tables in both. Summaries of the channels' levels per minute,
// hour and day are kept as frames arrive, so a chart of any span reads a
// few thousand rows at most.

// Where a frame came from.
struct Reception {
    enum class Kind { File, Recording, Sound, Station };
    Kind kind = Kind::File;
    QString source;   // the file or recording, the sound input, the station
    qint64 line = 0;  // the line in the file or the copied recording; 0 none
    QString callsign; // who received it; empty: this station
    std::optional<double> snrDb;  // audio: in 2,500 Hz
    std::optional<double> toneHz; // audio
};

QString receptionKindName(Reception::Kind kind); // "file", "recording", ...

struct IncomingFrame {
    qint64 time = 0;  // UTC seconds
    QString symbols;  // the 20 characters after the name, as received
    Reception reception;
};

struct StoredReception {
    Reception::Kind kind = Reception::Kind::File;
    QString source;
    qint64 line = 0;
    QString callsign;
    std::optional<double> snrDb;
};

struct StoredFrame {
    qint64 time = 0;
    QString symbols;
    std::vector<StoredReception> receptions; // in the order they were stored
};

// The channels a chart draws: 1 to 14, each a field of 16 levels.
inline constexpr int ArchiveChannels = 14;
// A set bit per level that occurs, per channel (channel 1 first).
using LevelMasks = std::array<quint16, ArchiveChannels>;

// What a stretch of time holds: its frames and the levels they reach.
struct TimeCell {
    qint64 start = 0; // UTC seconds
    qint64 end = 0;   // past the last second
    qint64 frames = 0;
    LevelMasks levels{};
};

// A pass: frames with no pause longer than PassPause between them.
struct Pass {
    qint64 start = 0, end = 0; // first and last frame's time
    qint64 frames = 0;
    std::optional<double> bestSnrDb;
    QStringList stations; // callsigns, this station's as ""
};
inline constexpr qint64 PassPause = 600;

class Archive {
public:
    Archive();
    ~Archive();
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    // kadrin/archive.sqlite in the user's data folder.
    static QString defaultLocation();
    // A file (made with its folder when missing) or postgresql://user@host/db
    // (also ?host=/socket/folder&port=N). An existing file that is not an
    // archive, is damaged or was made by a newer version is left untouched.
    bool open(const QString &where);
    void close();
    bool isOpen() const;
    QString location() const { return location_; }
    // What the last failure was, for the operator: names the archive.
    QString error() const { return error_; }

    struct Counts {
        qint64 added = 0; // frames new to the archive
        qint64 known = 0; // frames it held already (their reception is added)
    };
    // Stores the frames in one transaction: all of them, or none and false.
    // doneKey, when given, is remembered in the same transaction: a source
    // (a network's observation) read to its end.
    bool store(const std::vector<IncomingFrame> &frames, Counts *counts = nullptr,
               const QString &doneKey = QString());
    // Whether a source was stored to its end (see store()).
    bool isDone(const QString &doneKey);

    // The frames from `from` to `to` (UTC seconds, both included) in time
    // order; visit returns false to stop. False on a failure.
    bool forEachFrame(qint64 from, qint64 to,
                      const std::function<bool(const StoredFrame &)> &visit);
    // The first and the last frame's time; nothing when empty.
    std::optional<std::pair<qint64, qint64>> extent();
    // The span cut into `columns` equal cells (the last may be shorter),
    // each with its frames and levels; cells without frames have 0. Reads
    // the frames themselves for short spans, else the summaries.
    bool cells(qint64 from, qint64 to, int columns, std::vector<TimeCell> *cells);
    // The passes that touch the span, in time order.
    bool passes(qint64 from, qint64 to, std::vector<Pass> *passes);
    // The frame nearest to `time`, no farther than `within` seconds.
    std::optional<StoredFrame> nearest(qint64 time, qint64 within);
    // The schema version this program writes.
    static constexpr int SchemaVersion = 2;

private:
    struct Impl;
    bool fail(const QString &what);
    QString location_;
    QString error_;
    std::unique_ptr<Impl> d_;
};
