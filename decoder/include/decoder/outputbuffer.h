#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>
#include <memory>

// Output bytes collected before they are written: plain appends, with no
// allocation once the buffer has grown, for a million rows a second.
class OutputBuffer {
public:
    OutputBuffer() { grow(Initial); }

    void append(const char *data, qsizetype size) {
        if (end_ - next_ < size)
            grow(size);
        char *to = next_; // a local pointer: stores through char * may alias next_
        if (size <= 16) {
            // Most pieces are a few bytes: a call to memcpy costs more.
            for (qsizetype i = 0; i < size; ++i)
                to[i] = data[i];
        } else {
            std::memcpy(to, data, size_t(size));
        }
        next_ = to + size;
    }
    void append(QByteArrayView bytes) { append(bytes.data(), bytes.size()); }
    void append(char c) {
        if (next_ == end_)
            grow(1);
        *next_++ = c;
    }
    template <size_t N> void append(const char (&literal)[N]) { append(literal, qsizetype(N - 1)); }
    // A non-negative decimal number.
    void appendNumber(qint64 value);
    // Room for n more bytes, to be written directly; commit() says where the
    // written bytes end.
    char *reserve(qsizetype n) {
        if (end_ - next_ < n)
            grow(n);
        return next_;
    }
    void commit(char *end) { next_ = end; }

    OutputBuffer &operator+=(QByteArrayView bytes) {
        append(bytes);
        return *this;
    }
    OutputBuffer &operator+=(char c) {
        append(c);
        return *this;
    }
    template <size_t N> OutputBuffer &operator+=(const char (&literal)[N]) {
        append(literal);
        return *this;
    }

    const char *data() const { return data_.get(); }
    qsizetype size() const { return next_ - data_.get(); }
    bool isEmpty() const { return size() == 0; }
    void clear() { next_ = data_.get(); }

private:
    static constexpr qsizetype Initial = 2 << 20;
    void grow(qsizetype needed);

    std::unique_ptr<char[]> data_;
    char *next_ = nullptr;
    char *end_ = nullptr;
};
