#pragma once

#include "decoder/outputbuffer.h"

#include <QString>

// Standard output with every write checked: a full disk, a closed output or
// a broken pipe (with SIGPIPE ignored) is an error the program reports, not
// lost output. With SIGPIPE in force a closed pipe ends the program at once,
// as usual.
class CheckedOutput {
public:
    // Makes sure descriptors 0 to 2 are open, so that no file opened later
    // takes one of their numbers. A closed standard output stays unwritable.
    static void guardStandardDescriptors();

    OutputBuffer &buffer() { return buffer_; }
    // Writes the buffer out once it holds threshold bytes or more (0: now).
    // False once a write has failed; error() names the cause.
    bool flush(qsizetype threshold = 0);
    bool failed() const { return !error_.isEmpty(); }
    QString error() const { return error_; }

private:
    OutputBuffer buffer_;
    QString error_;
};
