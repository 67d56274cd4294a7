#include "logio/logreader.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LogReader::~LogReader() {
    close();
}

bool LogReader::open(const QByteArray &name) {
    close();
    name_ = name;
    offset_ = 0;
    head_.clear();
    tail_.clear();
    atEnd_ = invalidUtf8_ = false;
    decoder_ = QStringDecoder(QStringDecoder::Utf8);
    splitter_.reset();
    if (name == "-") {
        fd_ = STDIN_FILENO;
        ownsFd_ = false;
    } else {
        fd_ = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        ownsFd_ = true;
    }
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error_ = QString::fromLocal8Bit(std::strerror(EISDIR));
        close();
        return false;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
    buffer_.resize(BlockSize);
    return true;
}

void LogReader::close() {
    if (fd_ >= 0 && ownsFd_)
        ::close(fd_);
    fd_ = -1;
}

void LogReader::remember(qint64 n) {
    const char *data = buffer_.constData();
    if (head_.size() < FingerprintSize)
        head_.append(data, qMin(qsizetype(n), FingerprintSize - head_.size()));
    if (n >= FingerprintSize) {
        tail_ = QByteArray(data + n - FingerprintSize, FingerprintSize);
    } else {
        tail_.append(data, qsizetype(n));
        if (tail_.size() > FingerprintSize)
            tail_.remove(0, tail_.size() - FingerprintSize);
    }
}

qint64 LogReader::readBlock() {
    if (fd_ < 0) {
        error_ = QStringLiteral("not open");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), size_t(buffer_.size()));
        if (n >= 0) {
            offset_ += n;
            remember(n);
            return n;
        }
        if (errno != EINTR || (interrupted_ && interrupted_())) {
            error_ = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
    }
}

LogReader::Content LogReader::content() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
        return Content::Kept; // nothing to compare with
    if (info.st_size < offset_)
        return Content::Shorter;
    const auto holds = [this](const QByteArray &bytes, qint64 at) {
        QByteArray now(bytes.size(), Qt::Uninitialized);
        return ::pread(fd_, now.data(), size_t(now.size()), at) == ssize_t(now.size()) &&
               now == bytes;
    };
    return holds(head_, 0) && holds(tail_, offset_ - tail_.size()) ? Content::Kept
                                                                   : Content::Changed;
}

bool LogReader::rewind() {
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    offset_ = 0;
    head_.clear();
    tail_.clear();
    decoder_ = QStringDecoder(QStringDecoder::Utf8);
    splitter_.reset();
    return true;
}

bool LogReader::isOpenFile(const struct stat &info) const {
    return fd_ >= 0 && info.st_dev == device_ && info.st_ino == inode_;
}
