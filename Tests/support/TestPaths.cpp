#include "support/TestPaths.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <glib.h>

// Defined by the AddressSanitizer runtime only.
extern "C" void __asan_init() __attribute__((weak));

namespace kxtest {

void writeFile(const std::filesystem::path& path, const std::string& data)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string testHelperProgram()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "korvel-x-test-helper").string();
}

bool underAddressSanitizer()
{
    // The tests' own objects are not instrumented (the same objects serve both variants), so
    // the runtime, not a macro, tells.
    return __asan_init != nullptr;
}

std::filesystem::path testSourceDir()
{
    if (const char* dir = std::getenv("KX_TEST_SOURCE_DIR"))
        return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path();
}

TemporaryDirectory::TemporaryDirectory()
{
    // KX_TEST_TMPDIR: a folder of the tests' own instead of the system's, which may hold
    // hundreds of entries that a file panel lists when a path through it is typed.
    if (const char* parent = std::getenv("KX_TEST_TMPDIR"); parent && *parent) {
        std::string pattern = std::string(parent) + "/kxtest-XXXXXX";
        if (g_mkdir_with_parents(parent, 0700) != 0 || !g_mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder in " + std::string(parent) + ": " + g_strerror(errno));
        path_ = pattern;
        return;
    }
    GError* error = nullptr;
    gchar* dir = g_dir_make_tmp("kxtest-XXXXXX", &error);
    if (!dir) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot make a temporary folder: " + message);
    }
    path_ = dir;
    g_free(dir);
}

TemporaryDirectory::~TemporaryDirectory()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TemporaryHome::TemporaryHome()
{
    setenv("HOME", folder_.path().c_str(), 1);
    for (const auto& [variable, name] : {std::pair{"XDG_CONFIG_HOME", ".config"}, std::pair{"XDG_CACHE_HOME", ".cache"},
                                         std::pair{"XDG_DATA_HOME", ".local/share"}, std::pair{"XDG_STATE_HOME", ".local/state"}}) {
        std::filesystem::create_directories(folder_ / name);
        setenv(variable, (folder_ / name).c_str(), 1);
    }
}

TemporaryHome::~TemporaryHome() = default;

} // namespace kxtest
