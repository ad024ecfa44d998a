// The desktop entry and the mime package: what they say, how the executable's path is quoted,
// and that they are written only when they change.
#include <gtest/gtest.h>

#include <glib.h>

#include "App/shell/application/DesktopIntegration.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::DesktopIntegration;

namespace {

DesktopIntegration::Configuration configuration(const fs::path& dataHome, const fs::path& executable)
{
    kx::Bundle bundle(kxtest::testSourceDir().parent_path() / "Resources");
    DesktopIntegration::Configuration result;
    result.applicationId = "com.korvel.x.beta";
    result.name = "Korvel X Beta";
    result.executable = executable;
    result.entryTemplate = kx::FileSystem::readFile(*bundle.pathForResource("korvel-x.desktop", "in", "desktop")).value();
    result.mimePackage = kx::FileSystem::readFile(*bundle.pathForResource("korvel-x-mime", "xml", "desktop")).value();
    result.dataHome = dataHome;
    return result;
}

// The program an entry's Exec line starts, read as the desktop reads it.
std::string programOf(const std::string& entry)
{
    GKeyFile* file = g_key_file_new();
    EXPECT_TRUE(g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr));
    char* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
    g_key_file_free(file);
    std::string line = exec ? exec : "";
    g_free(exec);
    // Field codes first ("%%" is a percent sign), then the quoting.
    std::string expanded;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 1 < line.size()) {
            if (line[i + 1] == '%')
                expanded += '%';
            ++i;
            continue;
        }
        expanded += line[i];
    }
    int argc = 0;
    char** argv = nullptr;
    EXPECT_TRUE(g_shell_parse_argv(expanded.c_str(), &argc, &argv, nullptr)) << expanded;
    std::string program = argc > 0 ? argv[0] : "";
    g_strfreev(argv);
    return program;
}

} // namespace

TEST(DesktopIntegration, TheEntryStartsThisExecutableWhateverItsPath)
{
    kxtest::TemporaryDirectory data;
    for (const std::string path : {"/opt/korvel-x/korvel-x", "/home/ada/My Apps/korvel-x 'beta'/korvel-x",
                                   "/tmp/a\"b`c$d\\e%f%%g;h/korvel-x", "/tmp/ünïcode/korvel-x"}) {
        auto entry = DesktopIntegration::desktopEntry(configuration(data.path(), path));
        ASSERT_TRUE(entry.isSuccess()) << path;
        EXPECT_EQ(programOf(entry.value()), path);
        EXPECT_NE(entry.value().find("Name=Korvel X Beta\n"), std::string::npos);
        EXPECT_NE(entry.value().find("MimeType=x-scheme-handler/korvel-x;application/x-korvelx;\n"), std::string::npos);
        EXPECT_NE(entry.value().find("StartupWMClass=com.korvel.x.beta\n"), std::string::npos);
        EXPECT_EQ(entry.value().find('@'), std::string::npos) << "a placeholder is left";
    }
}

TEST(DesktopIntegration, APathAnEntryCannotHoldIsRefused)
{
    kxtest::TemporaryDirectory data;
    EXPECT_TRUE(DesktopIntegration::desktopEntry(configuration(data.path(), "/tmp/a\nExec=evil/korvel-x")).isFailure());
    EXPECT_TRUE(DesktopIntegration::desktopEntry(configuration(data.path(), "relative/korvel-x")).isFailure());
    EXPECT_FALSE(DesktopIntegration::writeFiles(configuration(data.path(), "/tmp/a\rb/korvel-x")));
    EXPECT_FALSE(fs::exists(data / "applications"));
}

TEST(DesktopIntegration, FilesAreWrittenPerChannelAndOnlyWhenTheyChange)
{
    kxtest::TemporaryDirectory data;
    const auto config = configuration(data.path(), "/opt/korvel-x-beta/korvel-x");
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    const fs::path entry = data / "applications" / "com.korvel.x.beta.desktop";
    const fs::path mime = data / "mime" / "packages" / "com.korvel.x.beta.xml";
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_EQ(kx::FileSystem::readFile(mime), config.mimePackage);
    EXPECT_NE(config.mimePackage.find("<glob pattern=\"*.korvelx\"/>"), std::string::npos);

    const auto written = fs::last_write_time(entry);
    const auto inode = fs::status(entry).permissions();
    EXPECT_FALSE(DesktopIntegration::writeIfChanged(entry, kx::FileSystem::readFile(entry).value()).value());
    EXPECT_EQ(fs::last_write_time(entry), written);
    EXPECT_EQ(fs::status(entry).permissions(), inode);

    auto moved = config;
    moved.executable = "/home/ada/Applications/korvel-x-beta/korvel-x";
    ASSERT_TRUE(DesktopIntegration::writeFiles(moved));
    EXPECT_EQ(programOf(kx::FileSystem::readFile(entry).value()), moved.executable.string());
}
