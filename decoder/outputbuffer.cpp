#include "decoder/outputbuffer.h"

#include <algorithm>

void OutputBuffer::grow(qsizetype needed) {
    const qsizetype used = size();
    const qsizetype capacity = std::max<qsizetype>(Initial, 2 * (used + needed));
    std::unique_ptr<char[]> bigger(new char[size_t(capacity)]);
    if (used > 0)
        std::memcpy(bigger.get(), data_.get(), size_t(used));
    data_ = std::move(bigger);
    next_ = data_.get() + used;
    end_ = data_.get() + capacity;
}

void OutputBuffer::appendNumber(qint64 value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    if (end_ - next_ < n)
        grow(n);
    while (n > 0)
        *next_++ = digits[--n];
}
