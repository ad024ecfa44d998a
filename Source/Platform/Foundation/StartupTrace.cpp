#include "Platform/Foundation/StartupTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kx::StartupTrace {

namespace {

// Opened once, on the first mark; -1 without the variable or when the file cannot be opened.
// A link in its place is not followed.
int traceFile()
{
    static const int fd = [] {
        const char* path = std::getenv(variable);
        if (!path || !*path)
            return -1;
        return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    }();
    return fd;
}

} // namespace

void mark(std::string_view name)
{
    const int fd = traceFile();
    if (fd < 0)
        return;
    std::string line = std::to_string(g_get_monotonic_time()) + ' ';
    for (char c : name.substr(0, 200))
        line += c == '\n' || c == '\r' ? ' ' : c;
    line += '\n';
    // One write of O_APPEND: lines of several threads do not interleave.
    (void)!::write(fd, line.data(), line.size());
}

} // namespace kx::StartupTrace
