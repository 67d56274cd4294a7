#pragma once

#include "decoder/lines.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <functional>

#include <sys/stat.h>

// Reads a beacon log, a file or standard input, in blocks and hands on its
// lines piece by piece, so that a line of any length is never held whole:
// bytes that are not UTF-8 read as U+FFFD, and lines end as lines.h says.
// What is appended to a file is read by the next call; LogTail builds on
// this to follow a log that grows, is truncated, rewritten or rotated.
class LogReader {
public:
    static constexpr qint64 BlockSize = 256 * 1024;

    // Why a followed file is read again from its start: it got shorter, its
    // name names another file now, or what was read before has changed.
    enum class Restart { Truncated, Replaced, Rewritten };
    // What was read of the file compared with what it holds now.
    enum class Content { Kept, Shorter, Changed };
    // Bytes compared at the start of the file and before the reading position.
    static constexpr qsizetype FingerprintSize = 1024;

    // What the reader hands on; any type with these members:
    //   void text(QStringView piece);   characters of the current line
    //   void lineEnd();                 the current line is complete
    LogReader() = default;
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;
    ~LogReader();

    // Opens the file named by these bytes; "-" is standard input. False,
    // with error(), when it cannot be opened or is a directory.
    bool open(const QByteArray &name);
    void close();
    // Asked when a blocking read is interrupted by a signal: true gives the
    // read up (an error, "Interrupted system call"); else it is tried again.
    void setInterrupted(std::function<bool()> interrupted) { interrupted_ = std::move(interrupted); }

    // Reads what the file holds now, up to maxBytes (all of it when 0), and
    // hands it on. Returns false when an error stopped the reading (error()
    // says which).
    template <typename Sink> bool readAvailable(Sink &sink, qint64 maxBytes = 0);
    // At the end of the input: a last line without line break is complete.
    template <typename Sink> void finish(Sink &sink) {
        if (splitter_.inLine())
            sink.lineEnd();
        splitter_.reset();
    }

    // A line has begun and not ended yet.
    bool inLine() const { return splitter_.inLine(); }
    // The last read reached the end of what the file holds.
    bool atEnd() const { return atEnd_; }
    QString error() const { return error_; }
    // Some bytes were not UTF-8 and were read as U+FFFD.
    bool sawInvalidUtf8() const { return invalidUtf8_; }

    // Whether the open file still holds what was read from it: the same
    // size at least, the same first bytes and the same bytes before the
    // reading position.
    Content content() const;
    // Reads the open file again from its start; finish() the last line first.
    bool rewind();
    // Bytes read from the file since it was opened or rewound.
    qint64 offset() const { return offset_; }
    // Whether info (from stat) describes the open file.
    bool isOpenFile(const struct stat &info) const;

private:
    // Reads one block into buffer_; 0 at the end, -1 on error.
    qint64 readBlock();
    // Keeps the fingerprint of the n bytes just read.
    void remember(qint64 n);
    template <typename Sink> void handOn(Sink &sink, QStringView text) {
        splitter_.feed(
            text, [&sink](QStringView piece) { sink.text(piece); }, [&sink] { sink.lineEnd(); });
    }

    int fd_ = -1;
    bool ownsFd_ = false;
    QByteArray name_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    qint64 offset_ = 0;
    QByteArray head_; // the first bytes of the file, up to FingerprintSize
    QByteArray tail_; // the bytes before offset_, up to FingerprintSize
    bool atEnd_ = false;
    bool invalidUtf8_ = false;
    QString error_;
    std::function<bool()> interrupted_;
    QByteArray buffer_;
    QStringDecoder decoder_{QStringDecoder::Utf8};
    LineSplitter splitter_;
};

template <typename Sink> bool LogReader::readAvailable(Sink &sink, qint64 maxBytes) {
    qint64 total = 0;
    atEnd_ = false;
    for (;;) {
        const qint64 n = readBlock();
        if (n < 0)
            return false;
        if (n == 0) {
            atEnd_ = true;
            return true;
        }
        const QString text = decoder_(QByteArrayView(buffer_.constData(), n));
        invalidUtf8_ = invalidUtf8_ || decoder_.hasError();
        handOn(sink, text);
        total += n;
        if (maxBytes > 0 && total >= maxBytes)
            return true;
    }
}
