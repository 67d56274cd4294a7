#include "cli/checkedoutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void CheckedOutput::guardStandardDescriptors() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Standard output is opened for reading only: writing to it fails as
        // writing to a closed descriptor does.
        const int placeholder = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
        if (placeholder >= 0 && placeholder != fd) {
            ::dup2(placeholder, fd);
            ::close(placeholder);
        }
    }
}

bool CheckedOutput::flush(qsizetype threshold) {
    if (failed()) {
        buffer_.clear();
        return false;
    }
    if (buffer_.isEmpty() || buffer_.size() < threshold)
        return true;
    const char *data = buffer_.data();
    qsizetype left = buffer_.size();
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error_ = QString::fromLocal8Bit(std::strerror(errno));
            buffer_.clear();
            return false;
        }
        data += written;
        left -= written;
    }
    buffer_.clear();
    return true;
}
