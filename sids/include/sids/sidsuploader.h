#pragma once

#include "sids/sids.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <deque>

class QNetworkReply;

// Sends frames to the database one request at a time, in the order given,
// and records each answer in the journal. An answer 2xx is a delivery, 4xx a
// rejection (never retried); 5xx, a failed connection or no answer within
// 10 s is tried again after 1 s, 2 s, 4 s ... up to 5 min, the later frames
// waiting behind. With a limit of tries the uploader gives up after that
// many tries of a frame; the frames left stay unsent (a later run sends
// them).
class SidsUploader : public QObject {
    Q_OBJECT
public:
    struct Counts {
        int sent = 0;     // delivered by this run
        int waiting = 0;  // queued or being tried
        int rejected = 0; // by this run
        int earlier = 0;  // already in the journal: not sent again
    };

    SidsUploader(const SidsStation &station, QObject *parent = nullptr);
    // Opens the journal; false with error when it cannot be used.
    bool open(const QString &journalPath, QString *error);
    // 0: try for ever (a run that follows a log).
    void setMaxTries(int tries) { maxTries_ = tries; }

    Counts counts() const { return counts_; }
    bool idle() const { return queue_.empty(); }
    bool gaveUp() const { return gaveUp_; }

public slots:
    // A frame to send, unless the journal has it.
    void send(const BeaconFrame &frame, qint64 time);

signals:
    void countsChanged(const SidsUploader::Counts &counts);
    // A rejection, a failure and its retry, a journal that cannot be written.
    void message(const QString &text);
    // Nothing waits any more (all sent, rejected, or given up).
    void becameIdle();

private:
    struct Item {
        BeaconFrame frame;
        qint64 time = 0;
        int tries = 0;
    };
    void startNext();
    void answered(QNetworkReply *reply);
    void retryLater(const QString &why);
    void done();

    SidsStation station_;
    SidsJournal journal_;
    QNetworkAccessManager network_; // children, so that they move with the uploader
    QTimer retry_;                  // to a thread of its own
    std::deque<Item> queue_;
    QNetworkReply *reply_ = nullptr;
    Counts counts_;
    int maxTries_ = 0;
    bool gaveUp_ = false;
};

Q_DECLARE_METATYPE(SidsUploader::Counts)
