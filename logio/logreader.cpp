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

qint64 LogReader::readBlock() {
    if (fd_ < 0) {
        error_ = QStringLiteral("not open");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), size_t(buffer_.size()));
        if (n >= 0) {
            offset_ += n;
            return n;
        }
        if (errno != EINTR) {
            error_ = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
    }
}

bool LogReader::restartNeeded(Restart &why) {
    if (!ownsFd_)
        return false;
    struct stat now {};
    if (::stat(name_.constData(), &now) != 0)
        return false; // gone for the moment (being rotated): keep the old file
    if (now.st_dev != device_ || now.st_ino != inode_) {
        const int fd = ::open(name_.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd_);
        fd_ = fd;
        device_ = now.st_dev;
        inode_ = now.st_ino;
        offset_ = 0;
        why = Restart::Replaced;
        return true;
    }
    if (now.st_size < offset_) {
        if (::lseek(fd_, 0, SEEK_SET) != 0)
            return false;
        offset_ = 0;
        why = Restart::Truncated;
        return true;
    }
    return false;
}
