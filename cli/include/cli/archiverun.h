#pragma once

#include "archive/archive.h"
#include "cli/checkedoutput.h"
#include "decoder/frameoutput.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <functional>
#include <optional>
#include <vector>

class DecodeRun;

// kadrin-decode --store: every frame with a UTC time the run decodes goes
// into the archive, in batches of one transaction each, and standard error
// says how many were new and how many known.
class StoreRun {
public:
    StoreRun(Archive &archive, DecodeRun &run, bool audio);
    // Who received the frame of a source's line, where not this station from
    // a file or a recording by that name.
    using ReceptionOf = std::function<Reception(const QByteArray &source, qint64 line)>;
    void setReceptionOf(ReceptionOf receptionOf) { receptionOf_ = std::move(receptionOf); }
    // A source was read to its end: what waits is stored, with the mark
    // that it was (doneKey; none when empty), in one transaction.
    void sourceDone(const QString &doneKey);
    // Stores what is still waiting and says what was stored. False when a
    // batch could not be stored (the message is written).
    bool finish();
    bool failed() const { return failed_; }

private:
    void flush(const QString &doneKey = QString());

    Archive &archive_;
    DecodeRun &run_;
    bool audio_;
    std::vector<IncomingFrame> waiting_;
    Archive::Counts total_;
    qint64 withoutTime_ = 0;
    bool failed_ = false;
    QElapsedTimer sinceFlush_;
    ReceptionOf receptionOf_;
};

// kadrin-decode --stored: the archive's frames from `from` to `to` in time
// order, as --csv (default) or --json rows, each followed by its receptions:
// how many, which sources and which callsigns.
bool printStored(Archive &archive, OutputFormat format, std::optional<qint64> from,
                 std::optional<qint64> to, CheckedOutput &output, qint64 *frames);
