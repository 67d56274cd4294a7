#include "cli/decoderun.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void printError(const QByteArray &message) {
    const QByteArray line = "kadrin-decode: " + message + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

namespace {

constexpr qsizetype FlushThreshold = 1 << 20;

QByteArray plural(qint64 count, const char *one, const char *many) {
    return QByteArray::number(count) + ' ' + (count == 1 ? one : many);
}

// SIGINT and SIGTERM end a run with its output complete: a following run
// through the event loop, any other after the block it is reading. Without
// SA_RESTART, a blocking open or read returns EINTR.
int stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int signal) {
    stopRequested = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopPipe[1], &byte, 1);
}

} // namespace

bool DecodeRun::catchStopSignals() {
    if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

int DecodeRun::stopSignal() {
    return stopRequested;
}

DecodeRun::DecodeRun(const Options &options, CheckedOutput &output)
    : options_(options), output_(output), writer_(options.format) {
    writer_.setSignalColumns(options.audio);
    reader_.setInterrupted([] { return stopRequested != 0; });
}

QString DecodeRun::summary() const {
    return QString::fromLatin1(
        plural(frames_, "frame", "frames") + " (" + QByteArray::number(unreadableFrames_) +
        " with unreadable symbols), " + plural(nearMisses_, "near miss", "near misses") + ", " +
        plural(otherLines_, "other line", "other lines"));
}

void DecodeRun::endLine(const LineSignal *signal) {
    const LineVerdict verdict = scanner_.finish();
    ++line_;
    switch (verdict.kind) {
    case LineVerdict::Kind::FrameWithUnreadable:
        ++unreadableFrames_;
        [[fallthrough]];
    case LineVerdict::Kind::Frame:
        ++frames_;
        break;
    case LineVerdict::Kind::NearMiss:
        ++nearMisses_;
        break;
    case LineVerdict::Kind::Other:
        ++otherLines_;
        break;
    }
    writer_.write(output_.buffer(), verdict, frames_, line_, signal);
    if (verdict.isFrame())
        for (const FrameHook &hook : frameHooks_)
            hook(verdict, frames_, signal);
    flushOutput(FlushThreshold);
}

void DecodeRun::restarted(LogReader::Restart why) {
    switch (why) {
    case LogReader::Restart::Truncated:
        printError(currentName_ + ": file truncated; reading it again from its start");
        break;
    case LogReader::Restart::Rewritten:
        printError(currentName_ + ": file rewritten; reading it again from its start");
        break;
    case LogReader::Restart::Replaced:
        printError(currentName_ + ": file replaced; reading the new file from its start");
        break;
    }
    line_ = 0;
}

void DecodeRun::waiting(const QString &why) {
    printError(currentName_ + ": " + why.toLocal8Bit() + "; waiting for the log to come back");
}

bool DecodeRun::flushOutput(qsizetype threshold) {
    if (!output_.flush(threshold) && !outputFailed_) {
        outputFailed_ = true;
        printError("cannot write to standard output: " + output_.error().toLocal8Bit());
    }
    return !outputFailed_;
}

bool DecodeRun::run() {
    writer_.begin(output_.buffer());
    bool ok = true;
    if (options_.follow) {
        ok = follow(options_.files.value(0));
    } else {
        // A signal before a file is opened must not be missed: opening a
        // FIFO waits for its writer, and only a signal during the wait ends it.
        for (const QByteArray &name : options_.files) {
            if (outputFailed_ || stopRequested)
                break;
            ok = readSource(name) && ok;
        }
    }
    return flushOutput(0) && ok;
}

bool DecodeRun::readSource(const QByteArray &name) {
    const QByteArray shownName = name == "-" ? QByteArray("standard input") : name;
    currentName_ = shownName;
    if (fileReader_) {
        writer_.setSource(name);
        line_ = 0;
        return fileReader_(name);
    }
    if (!reader_.open(name)) {
        if (stopRequested)
            return true; // a FIFO without a writer, given up
        printError(shownName + ": cannot read: " + reader_.error().toLocal8Bit());
        return false;
    }
    writer_.setSource(name);
    line_ = 0;
    bool ok = true;
    while (!outputFailed_ && !stopRequested) {
        if (!reader_.readAvailable(*this, LogReader::BlockSize)) {
            if (stopRequested)
                break;
            printError(shownName + ": cannot read: " + reader_.error().toLocal8Bit());
            ok = false;
            break;
        }
        if (reader_.atEnd())
            break;
    }
    if (!stopRequested)
        reader_.finish(*this); // a line cut by the signal is not decoded as if it were whole
    if (reader_.sawInvalidUtf8())
        printError(shownName + ": not valid UTF-8; undecodable bytes read as U+FFFD");
    reader_.close();
    return ok;
}

bool DecodeRun::follow(const QByteArray &name) {
    currentName_ = name;
    LogTail tail(name, *this);
    if (!tail.open()) {
        printError(name + ": cannot read: " + tail.error().toLocal8Bit());
        return false;
    }
    writer_.setSource(name);
    QEventLoop loop;
    bool ok = true;
    bool warnedUtf8 = false;
    const auto warnUtf8 = [&] {
        if (tail.sawInvalidUtf8() && !warnedUtf8) {
            warnedUtf8 = true;
            printError(name + ": not valid UTF-8; undecodable bytes read as U+FFFD");
        }
    };
    // The tail reads a slice at a time, so that a signal is answered during
    // a long catch-up.
    connect(&tail, &LogTail::readDone, &loop, [&](bool atEnd) {
        warnUtf8();
        if (!flushOutput(atEnd ? 0 : FlushThreshold) || stopRequested)
            loop.quit();
        else if (atEnd)
            emit caughtUp();
    });
    connect(&tail, &LogTail::failed, &loop, [&](const QString &error) {
        printError(name + ": cannot read: " + error.toLocal8Bit());
        ok = false;
        loop.quit();
    });
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    tail.follow();
    loop.exec();
    // What arrived since the last look, and a last line without its line
    // end, are decoded as a run without --follow decodes them.
    if (ok && !outputFailed_ && !tail.finish()) {
        printError(name + ": cannot read: " + tail.error().toLocal8Bit());
        ok = false;
    }
    warnUtf8();
    return ok;
}
