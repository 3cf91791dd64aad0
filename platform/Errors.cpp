#include "Errors.h"

#include <cerrno>
#include <climits>
#include <cstdint>

std::string ioErrorText(int code)
{
    switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
    }
}

int ioCodeFromErrno(int err)
{
    switch (err) {
    case ENOENT: return 2;
    case ENAMETOOLONG: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS: return 5;
    case ENOSPC: return 101;
    default: return err;
    }
}

EInOutError::EInOutError(int code)
    : Exception(ioErrorText(code))
    , m_code(code)
{
}

EInOutError EInOutError::fromErrno(int err)
{
    return EInOutError(ioCodeFromErrno(err));
}

int StrToInt(const std::string& text)
{
    auto fail = [&]() -> int { throw EConvertError("'" + text + "' is not a valid integer value"); };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return fail();
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return fail();
        value = value * base + digit;
        if (value > int64_t(INT_MAX) + 1)
            return fail();
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return fail();
    return int(value);
}
