// Locations the tests use: their own source folder (pages, fixtures) and fresh temporary
// folders that are removed when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace kxtest {

// Tests/ of the source tree (from KX_TEST_SOURCE_DIR, set by CTest).
std::filesystem::path testSourceDir();

class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace kxtest
