#include "CurrentDirectory.h"

#include "Errors.h"

#include <cerrno>
#include <climits>
#include <unistd.h>
#include <vector>

namespace CurrentDirectory {

void set(const std::string& path)
{
    if (::chdir(path.c_str()) != 0)
        throw EInOutError::fromErrno(errno);
}

std::string get()
{
    std::vector<char> buffer(PATH_MAX);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            throw EInOutError::fromErrno(errno);
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string withSeparator(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path;
    return path + '/';
}

}
