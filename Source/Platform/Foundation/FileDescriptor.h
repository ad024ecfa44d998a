// An open file descriptor that closes when its holder goes, and writing a whole buffer to one.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <utility>

namespace kx {

// -1 holds none. Moves, never copies.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : fd_(fd)
    {
    }
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : fd_(std::exchange(other.fd_, -1))
    {
    }
    // Closes the one held before.
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// Writes all `size` bytes, again where a write was interrupted or wrote part: 0, or the errno
// of the failure (EIO for a write that wrote nothing). Allocates nothing, so a signal handler
// may use it.
inline int writeAll(int fd, const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, next, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace kx
