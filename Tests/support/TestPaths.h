// Locations the tests use: their own source folder (pages, fixtures) and fresh temporary
// folders that are removed when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace kxtest {

// Writes `data` to the file at `path`, making its missing parent folders.
void writeFile(const std::filesystem::path& path, const std::string& data);

// korvel-x-test-helper beside the running test program: the sanitized programs have their own.
std::string testHelperProgram();

// True in the test programs built over the sanitized libraries.
bool underAddressSanitizer();

// Tests/ of the source tree (from KX_TEST_SOURCE_DIR, set by CTest).
std::filesystem::path testSourceDir();

// A home of the test program's own: HOME and the XDG folders of settings, caches, data and
// state point into a temporary folder while the object lives, so that nothing a test does (a
// file moved to the Trash, a setting, a cache) reaches the real user's folders. The first
// thing each test program's main makes.
class TemporaryHome;

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

class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TemporaryDirectory folder_;
};

} // namespace kxtest
