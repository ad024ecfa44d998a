// One file of the static server's folder, opened once for one request. What the request path
// names is opened without following a link at the last step, and then the open descriptor
// itself is checked: where the kernel says it lies (through /proc/self/fd) must be inside the
// folder, and it must be a regular file (a folder stands for its "index.html"). Everything sent
// is read from that descriptor, so a path swapped for a link after the check changes nothing,
// and a FIFO or a device is never read.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace kx {

class AppServerFile {
public:
    enum class Outcome {
        file,      // a regular file inside the folder: `descriptor()` and `status()`
        redirect,  // a folder asked for without its trailing "/"
        forbidden, // a link at the last step, a file outside the folder, not a regular file
        notFound,
        unavailable // the process (or the system) has no descriptor or memory left to open it
    };

    // `relative`: the request path below the folder, without "." or ".." segments; `asFolder`:
    // whether the request path ends with "/".
    static AppServerFile open(const std::filesystem::path& folder, const std::string& relative, bool asFolder);

    AppServerFile(AppServerFile&& other) noexcept;
    AppServerFile& operator=(AppServerFile&& other) noexcept;
    AppServerFile(const AppServerFile&) = delete;
    AppServerFile& operator=(const AppServerFile&) = delete;
    ~AppServerFile();

    Outcome outcome() const { return outcome_; }
    int descriptor() const { return fd_; }
    const struct stat& status() const { return status_; }
    // The name the file was asked for by (for its content type).
    const std::string& name() const { return name_; }

private:
    explicit AppServerFile(Outcome outcome)
        : outcome_(outcome)
    {
    }

    Outcome outcome_;
    int fd_ = -1;
    struct stat status_ { };
    std::string name_;
};

} // namespace kx
