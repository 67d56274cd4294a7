#pragma once

#include "decoder/lines.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <sys/types.h>

// Reads a beacon log, a file or standard input, in blocks and hands on its
// lines piece by piece, so that a line of any length is never held whole:
// bytes that are not UTF-8 read as U+FFFD, and lines end as lines.h says.
// Follows a file that grows: what is appended is read by the next call, and
// a file that got shorter (truncated) or whose name now names another file
// (rotated) is read again from its start.
class LogReader {
public:
    static constexpr qint64 BlockSize = 256 * 1024;

    enum class Restart { Truncated, Replaced };

    // What the reader hands on; any type with these members:
    //   void text(QStringView piece);   characters of the current line
    //   void lineEnd();                 the current line is complete
    //   void restarted(Restart why);    the file is read again from its start
    LogReader() = default;
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;
    ~LogReader();

    // Opens the file named by these bytes; "-" is standard input. False,
    // with error(), when it cannot be opened or is a directory.
    bool open(const QByteArray &name);
    void close();

    // Reads what the file holds now, up to maxBytes (all of it when 0), and
    // hands it on. With follow, at the end of the file a truncated or
    // replaced file is noticed and read again from its start. Returns false
    // when an error stopped the reading (error() says which).
    template <typename Sink>
    bool readAvailable(Sink &sink, qint64 maxBytes = 0, bool follow = false);
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

private:
    // Reads one block into buffer_; 0 at the end, -1 on error.
    qint64 readBlock();
    // Whether the file was truncated or replaced; reopens or rewinds it.
    bool restartNeeded(Restart &why);
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
    bool atEnd_ = false;
    bool invalidUtf8_ = false;
    QString error_;
    QByteArray buffer_;
    QStringDecoder decoder_{QStringDecoder::Utf8};
    LineSplitter splitter_;
};

template <typename Sink> bool LogReader::readAvailable(Sink &sink, qint64 maxBytes, bool follow) {
    qint64 total = 0;
    atEnd_ = false;
    for (;;) {
        const qint64 n = readBlock();
        if (n < 0)
            return false;
        if (n == 0) {
            Restart why;
            if (follow && restartNeeded(why)) {
                finish(sink); // what the old content ended with is a line
                decoder_ = QStringDecoder(QStringDecoder::Utf8);
                sink.restarted(why);
                continue;
            }
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
