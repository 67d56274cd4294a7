#pragma once

#include "sids/sids.h"
#include "sids/sidsuploader.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <memory>

class DecodeRun;

// The SiDS options of kadrin-decode.
class SidsOptions {
public:
    // Adds the options to the parser.
    explicit SidsOptions(QCommandLineParser &parser);
    // Reads them after parsing, and the uploader's timing from the
    // environment (KADRIN_SIDS_ANSWER_MS, KADRIN_SIDS_RETRY_MS); false with a
    // message for a usage error.
    // noradTaken: --norad names the satellite of --network or --shared.
    bool read(const QCommandLineParser &parser, bool formatChosen, QByteArray *error,
              bool noradTaken = false);

    bool enabled() const { return enabled_; }
    bool dryRun() const { return dryRun_; }
    const SidsStation &station() const { return station_; }
    QString journal() const { return journal_; }
    const SidsUploader::Timing &timing() const { return timing_; }

private:
    QCommandLineOption sids_, callsign_, latitude_, longitude_, norad_, journalOption_,
        dryRunOption_;
    bool enabled_ = false;
    bool dryRun_ = false;
    SidsStation station_;
    QString journal_;
    SidsUploader::Timing timing_;
};

// Sends the frames of a run, or prints the requests of a dry run, and says
// on standard error what was and was not sent.
class SidsRun {
public:
    SidsRun(const SidsOptions &options, DecodeRun &run);
    ~SidsRun();
    // Opens the journal; false (with a message) when it cannot be used.
    bool start();
    // Waits for the answers still due (unless the run was stopped by a
    // signal) and prints the summary.
    void finish();
    // Frames that should have been sent remain unsent, or the journal could
    // not be written.
    bool undelivered() const;

private:
    const SidsOptions &options_;
    DecodeRun &run_;
    std::unique_ptr<SidsUploader> uploader_;
    qint64 withoutTime_ = 0;
    qint64 unreadable_ = 0;
    qint64 printed_ = 0;
};
