// Errors carried as C++ exceptions. Messages are UTF-8 text, ready for the
// general error report.
#pragma once

#include <stdexcept>
#include <string>

// The general error type: every failure the programs report derives from it.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input/output failure with an operating-system style error code
// (2 file not found, 3 invalid filename, 4 too many open files,
// 5 access denied, 100 read beyond end, 101 disk full, 106 invalid numeric
// input, anything else "I/O error %d").
class EInOutError : public Exception {
public:
    explicit EInOutError(int code);
    int code() const { return m_code; }

    // The error for the current errno (or the given one).
    static EInOutError fromErrno(int err);

private:
    int m_code;
};

// A text that should have been a whole number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The text shown for an input/output error code.
std::string ioErrorText(int code);

// errno to the system's error codes: ENOENT 2, ENAMETOOLONG 3,
// EMFILE/ENFILE 4, EACCES/EPERM/EROFS 5, ENOSPC 101; others unchanged.
int ioCodeFromErrno(int err);

// A decimal (or $-prefixed hexadecimal) 32-bit integer with optional leading
// blanks and sign; anything else raises "'%s' is not a valid integer value".
int StrToInt(const std::string& text);
