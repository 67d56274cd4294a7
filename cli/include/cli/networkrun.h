#pragma once

#include "archive/archive.h"
#include "network/networkpasses.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QFuture>
#include <QHash>
#include <QNetworkAccessManager>
#include <QThreadPool>
#include <QUrl>

#include <memory>
#include <optional>

class DecodeRun;
class QCommandLineParser;
struct CopiedLogLine;

// kadrin-decode --network and --shared: the observations the network of
// stations recorded of the satellite, each recording downloaded (into the
// cache) and copied, N at a time; or the frames stations shared with the
// telemetry database. Their lines go through the decode run as a log's do,
// each observation (or the database) as one source, and with --store into
// the archive, each frame received by its station.
class NetworkRun {
public:
    struct Options {
        QUrl network;      // --network URL
        QUrl shared;       // --shared URL
        qint64 norad = 0;
        std::optional<qint64> from, to;
        int jobs = 1;
        qint64 cacheBytes = 2000LL * 1000 * 1000;
        qint64 maxBytes = 500LL * 1000 * 1000;
        QByteArray token; // for --shared
        QString cacheFolder; // empty: the user's cache folder
        bool copy = false;   // the copied lines written (--copy)
    };

    NetworkRun(const Options &options, DecodeRun &run, Archive *archive);
    ~NetworkRun();
    // Lists what is to be read; the decode run's FILE arguments are then
    // what names() gives. False when nothing could be listed (the reason is
    // written).
    bool prepare();
    QList<QByteArray> names() const { return names_; }
    // The decode run's reader of one name: the observation's copied lines,
    // or the shared frames, handed on in order. Recordings are downloaded
    // as they are needed, a few ahead, and copied while the next download:
    // each observation is done (and stored) before the next is waited for.
    bool read(const QByteArray &name);
    // Who received the frame of a line (for the archive), and the key that
    // marks the source done in the archive.
    Reception receptionOf(const QByteArray &name, qint64 line) const;
    QString doneKey(const QByteArray &name) const;
    // Some observation could not be listed, downloaded or copied.
    bool incomplete() const { return incomplete_; }

private:
    struct Item {
        Observation observation;
        QString path;   // the downloaded recording
        QFuture<QList<CopiedLogLine>> copy;
        std::shared_ptr<QString> copyError; // set by the copy
        QString error;  // why it could not be done
    };
    bool prepareObservations();
    bool prepareShared();
    QString doneKeyOf(const Observation &observation) const;
    void fetchAhead(qsizetype upTo);
    HttpClient &client(); // made on first use, its notices on standard error

    Options options_;
    DecodeRun &run_;
    Archive *archive_;
    QNetworkAccessManager network_;
    QThreadPool pool_;
    QList<QByteArray> names_;
    QHash<QByteArray, Item> items_;
    QList<SharedFrame> shared_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<RecordingCache> cache_;
    qsizetype fetched_ = 0; // the observations whose recording was asked for
    qsizetype reading_ = 0; // the observation the decode run reads
    bool incomplete_ = false;
};

// The options of --network and --shared (--norad is the SiDS options').
class NetworkOptions {
public:
    explicit NetworkOptions(QCommandLineParser &parser);
    // After parsing; false with a message for a usage error.
    bool read(const QCommandLineParser &parser, QByteArray *error);
    bool enabled() const { return enabled_; }
    NetworkRun::Options options(std::optional<qint64> from, std::optional<qint64> to, bool copy) const;

private:
    QCommandLineOption network_, shared_, token_, jobs_, cacheMb_, maxMb_;
    bool enabled_ = false;
    NetworkRun::Options options_;
};
