#include "support/TestPaths.h"

#include <cstdlib>
#include <stdexcept>

#include <glib.h>

namespace kxtest {

std::filesystem::path testSourceDir()
{
    if (const char* dir = std::getenv("KX_TEST_SOURCE_DIR"))
        return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path();
}

TemporaryDirectory::TemporaryDirectory()
{
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

} // namespace kxtest
