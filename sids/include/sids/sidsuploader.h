#pragma once

#include "sids/sids.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <deque>

class QNetworkReply;

// Sends frames to the database one request at a time, in the order given,
// and records each answer in the journal. An answer 2xx is a delivery, 4xx a
// rejection (never retried); a 3xx is not followed: it is reported with its
// Location and counted as a rejection, and not journalled, so that a later
// run with the corrected URL sends the frame. 5xx, a failed connection or a
// request not answered in full within 10 s is tried again after 1 s, 2 s,
// 4 s ... up to 5 min, the later frames waiting behind. At most 64 KiB of an
// answer is read. With a limit of tries the uploader gives up after that
// many tries of a frame; the frames left stay unsent (a later run sends
// them). A journal that cannot be written stops all sending (stopped()).
class SidsUploader : public QObject {
    Q_OBJECT
public:
    struct Counts {
        int sent = 0;     // delivered by this run
        int waiting = 0;  // queued or being tried
        int rejected = 0; // by this run, redirects included
        int earlier = 0;  // already in the journal: not sent again
    };
    // How long the uploader waits. The defaults are the product's; tests
    // shorten them.
    struct Timing {
        int answerMs = 10'000;        // one request, from sending to the answer's end
        int firstDelayMs = 1'000;     // before the second try, doubled for each further one
        int longestDelayMs = 300'000; // the longest wait between tries
    };
    static constexpr qint64 AnswerLimit = 64 * 1024; // bytes of an answer that are read

    SidsUploader(const SidsStation &station, QObject *parent = nullptr);
    // Opens the journal; false with error when it cannot be used.
    bool open(const QString &journalPath, QString *error);
    // 0: try for ever (a run that follows a log).
    void setMaxTries(int tries) { maxTries_ = tries; }
    void setTiming(const Timing &timing) { timing_ = timing; }

    Counts counts() const;
    bool idle() const { return queue_.empty(); }
    bool gaveUp() const { return gaveUp_; }
    bool hasStopped() const { return stopped_; }

public slots:
    // A frame to send, unless the journal has it.
    void send(const BeaconFrame &frame, qint64 time);

signals:
    void countsChanged(const SidsUploader::Counts &counts);
    // A rejection, a redirect, a failure and its retry.
    void message(const QString &text);
    // Nothing waits any more (all sent, rejected, or given up).
    void becameIdle();
    // The journal could not be written: nothing more is sent by this
    // uploader, the frames given stay waiting. Emitted once, with why.
    void stopped(const QString &why);

private:
    struct Item {
        BeaconFrame frame;
        qint64 time = 0;
        int tries = 0;
    };
    void startNext();
    void readAnswer(QNetworkReply *reply);
    void answered(QNetworkReply *reply);
    void judge(QNetworkReply *reply);
    void timedOut();
    void retryLater(const QString &why);
    void done();

    SidsStation station_;
    SidsJournal journal_;
    QNetworkAccessManager network_; // children, so that they move with the uploader
    QTimer retry_;                  // to a thread of its own
    QTimer deadline_;
    std::deque<Item> queue_;
    QNetworkReply *reply_ = nullptr;
    QByteArray answer_; // of reply_, at most AnswerLimit bytes
    Timing timing_;
    int sent_ = 0;
    int rejected_ = 0;
    int earlier_ = 0;
    int maxTries_ = 0;
    bool gaveUp_ = false;
    bool stopped_ = false;
};

Q_DECLARE_METATYPE(SidsUploader::Counts)
