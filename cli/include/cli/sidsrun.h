#pragma once

#include "sids/sids.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <memory>

class DecodeRun;
class SidsUploader;

// The SiDS options of kadrin-decode.
class SidsOptions {
public:
    // Adds the options to the parser.
    explicit SidsOptions(QCommandLineParser &parser);
    // Reads them after parsing; false with a message for a usage error.
    bool read(const QCommandLineParser &parser, bool formatChosen, QByteArray *error);

    bool enabled() const { return enabled_; }
    bool dryRun() const { return dryRun_; }
    const SidsStation &station() const { return station_; }
    QString journal() const { return journal_; }

private:
    QCommandLineOption sids_, callsign_, latitude_, longitude_, norad_, journalOption_,
        dryRunOption_;
    bool enabled_ = false;
    bool dryRun_ = false;
    SidsStation station_;
    QString journal_;
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
    // signal) and prints the summary. False when the journal failed.
    bool finish();
    // Frames that should have been sent remain unsent.
    bool undelivered() const;

private:
    const SidsOptions &options_;
    DecodeRun &run_;
    std::unique_ptr<SidsUploader> uploader_;
    qint64 withoutTime_ = 0;
    qint64 unreadable_ = 0;
    qint64 printed_ = 0;
    bool failed_ = false;
};
