// The desktop entry, its icon and the mime package: what they say, how the executable's path
// is quoted, that they are written only when they change and never through a planted link,
// and which copies write an entry of their own at all.
#include <gtest/gtest.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>

#include "App/application/ApplicationIcon.h"
#include "App/application/DesktopIntegration.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::ApplicationIcon;
using kx::DesktopIntegration;
using Placement = DesktopIntegration::Placement;

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
    result.icon = *bundle.pathForResource("AppIcon", "svg", "images");
    result.dataHome = dataHome;
    return result;
}

// A user's data home, a system data folder and a packaged folder, all temporary, and programs
// in them.
struct Desktop {
    kxtest::TemporaryDirectory root;
    fs::path data = root / "home-data";
    fs::path system = root / "system-share";
    fs::path packaged = root / "usr";

    Desktop() { fs::create_directories(data); }
    DesktopIntegration::Configuration configuration(const fs::path& executable) const
    {
        auto result = ::configuration(data, executable);
        result.systemDataDirs = {system};
        result.packagedFolders = {packaged};
        return result;
    }
    fs::path program(const std::string& relative) const
    {
        const fs::path path = root / relative;
        kxtest::writeFile(path, "#!/bin/sh\n");
        return path;
    }
    void systemEntryStarting(const std::string& exec, const std::string& id = "com.korvel.x.beta") const
    {
        kxtest::writeFile(system / "applications" / (id + ".desktop"), "[Desktop Entry]\nType=Application\nName=K\nExec=" + exec + "\n");
    }
    fs::path entry() const { return data / "applications" / "com.korvel.x.beta.desktop"; }
    fs::path svg() const { return data / ApplicationIcon::scalablePath("com.korvel.x.beta"); }
    fs::path png(int size) const { return data / ApplicationIcon::pngPath("com.korvel.x.beta", size); }
};

bool isLink(const fs::path& path)
{
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
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
        EXPECT_NE(entry.value().find("Icon=com.korvel.x.beta\n"), std::string::npos);
        EXPECT_EQ(DesktopIntegration::programOfEntry(entry.value()), fs::path(path));
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
    const fs::path entry = data / DesktopIntegration::entryPath(config);
    const fs::path mime = data / DesktopIntegration::mimePackagePath(config);
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_EQ(kx::FileSystem::readFile(mime), config.mimePackage);
    EXPECT_NE(config.mimePackage.find("<glob pattern=\"*.korvelx\"/>"), std::string::npos);

    const auto written = fs::last_write_time(entry);
    const auto inode = fs::status(entry).permissions();
    EXPECT_FALSE(DesktopIntegration::writeIfChanged(data.path(), DesktopIntegration::entryPath(config), kx::FileSystem::readFile(entry).value()).value());
    EXPECT_EQ(fs::last_write_time(entry), written);
    EXPECT_EQ(fs::status(entry).permissions(), inode);

    auto moved = config;
    moved.executable = "/home/ada/Applications/korvel-x-beta/korvel-x";
    ASSERT_TRUE(DesktopIntegration::writeFiles(moved));
    EXPECT_EQ(programOf(kx::FileSystem::readFile(entry).value()), moved.executable.string());
}

TEST(DesktopIntegration, TheIconGoesIntoTheUsersThemeAndTheEntryNamesIt)
{
    Desktop desktop;
    const auto config = desktop.configuration(desktop.program("opt/korvel-x-beta/korvel-x"));
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_EQ(kx::FileSystem::readFile(desktop.svg()), kx::FileSystem::readFile(config.icon));
    for (int size : ApplicationIcon::pngSizes()) {
        GError* error = nullptr;
        GdkPixbuf* png = gdk_pixbuf_new_from_file(desktop.png(size).c_str(), &error);
        ASSERT_TRUE(png) << size << ": " << (error ? error->message : "");
        EXPECT_EQ(gdk_pixbuf_get_width(png), size);
        EXPECT_EQ(gdk_pixbuf_get_height(png), size);
        g_object_unref(png);
    }
    // The theme is marked changed; an unchanged icon is not written again.
    const auto written = fs::last_write_time(desktop.png(48));
    const fs::path hicolor = desktop.data / "icons" / "hicolor";
    fs::last_write_time(hicolor, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto marked = fs::last_write_time(hicolor);
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_EQ(fs::last_write_time(desktop.png(48)), written);
    EXPECT_EQ(fs::last_write_time(hicolor), marked);
    // A missing size is drawn again, and the theme marked.
    fs::remove(desktop.png(256));
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_TRUE(fs::is_regular_file(desktop.png(256)));
    EXPECT_NE(fs::last_write_time(hicolor), marked);
}

TEST(DesktopIntegration, LinksPlantedInTheUsersFoldersAreNeverFollowed)
{
    Desktop desktop;
    const fs::path victims = desktop.root / "victims";
    kxtest::writeFile(victims / "bashrc", "mine");
    fs::create_directories(victims / "folder");
    // A link where a folder of the theme should be, links where the entry and a PNG go.
    fs::create_directories(desktop.data / "icons" / "hicolor");
    fs::create_directory_symlink(victims / "folder", desktop.data / "icons" / "hicolor" / "scalable");
    fs::create_directories(desktop.entry().parent_path());
    fs::create_symlink(victims / "bashrc", desktop.entry());
    fs::create_directories(desktop.png(48).parent_path());
    fs::create_symlink(victims / "bashrc", desktop.png(48));

    const auto config = desktop.configuration(desktop.program("opt/korvel-x-beta/korvel-x"));
    EXPECT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_EQ(kx::FileSystem::readFile(victims / "bashrc"), "mine");
    EXPECT_TRUE(fs::is_empty(victims / "folder"));
    // The link in the entry's place is not ours to replace, nor to write through; the linked
    // folder was not used.
    EXPECT_TRUE(isLink(desktop.entry()));
    EXPECT_TRUE(isLink(desktop.data / "icons" / "hicolor" / "scalable"));

    // With the theme's folder itself a link, nothing is written into it either.
    kxtest::TemporaryDirectory other;
    fs::create_directories(other / "data" / "icons");
    fs::create_directory_symlink(victims / "folder", other / "data" / "icons" / "hicolor");
    auto moved = config;
    moved.dataHome = other / "data";
    EXPECT_FALSE(ApplicationIcon::install(moved.dataHome, moved.applicationId, moved.icon));
    EXPECT_TRUE(fs::is_empty(victims / "folder"));
}

TEST(DesktopIntegration, ACopyThatASystemEntryCoversWritesNoEntryOfItsOwn)
{
    Desktop desktop;
    const fs::path program = desktop.program("opt/korvel-x/korvel-x");
    const auto config = desktop.configuration(program);
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::write);

    // A system entry of the same id that starts another program does not cover this one.
    desktop.systemEntryStarting("/opt/elsewhere/korvel-x %U");
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::write);
    // One that starts this program does, quoted, behind "env" or through a link.
    desktop.systemEntryStarting("env GDK_BACKEND=x11 \"" + program.string() + "\" %U");
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::leave);
    fs::create_symlink(program, desktop.root / "korvel-x-link");
    desktop.systemEntryStarting((desktop.root / "korvel-x-link").string());
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::leave);
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_FALSE(fs::exists(desktop.data / "applications"));
    EXPECT_FALSE(fs::exists(desktop.data / "icons"));
    EXPECT_FALSE(fs::exists(desktop.data / "mime"));

    // A copy in a packaged folder never writes one, entry or not, also when reached by a link.
    const fs::path packaged = desktop.program("usr/lib/korvel-x/korvel-x");
    EXPECT_EQ(DesktopIntegration::placement(desktop.configuration(packaged)), Placement::leave);
    fs::create_symlink(packaged, desktop.root / "packaged-link");
    EXPECT_EQ(DesktopIntegration::placement(desktop.configuration(desktop.root / "packaged-link")), Placement::leave);
    // A program named without a folder is looked up where the desktop looks.
    char* shell = g_find_program_in_path("sh");
    ASSERT_TRUE(shell);
    EXPECT_EQ(DesktopIntegration::programOfEntry("[Desktop Entry]\nExec=sh -c true\n"), fs::path(shell));
    g_free(shell);
    EXPECT_FALSE(DesktopIntegration::programOfEntry("[Desktop Entry]\nExec=no-such-program-of-ours %U\n"));
    EXPECT_FALSE(DesktopIntegration::programOfEntry("[Desktop Entry]\nExec=\"unterminated\n"));
}

TEST(DesktopIntegration, AnEntryOfTheUsersOwnIsNeverWrittenOver)
{
    Desktop desktop;
    const auto config = desktop.configuration(desktop.program("downloads/korvel-x/korvel-x"));
    const std::string mine = "[Desktop Entry]\nType=Application\nName=My Korvel\nExec=env GDK_SCALE=2 /opt/k/korvel-x\n";
    kxtest::writeFile(desktop.entry(), mine);
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::keep);
    // Launch after launch.
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_EQ(kx::FileSystem::readFile(desktop.entry()), mine);
    // What else tells the desktop of the program is written.
    EXPECT_TRUE(fs::exists(desktop.svg()));
    EXPECT_EQ(kx::FileSystem::readFile(desktop.data / DesktopIntegration::mimePackagePath(config)), config.mimePackage);
    // Once the user's entry has gone, ours takes its place.
    fs::remove(desktop.entry());
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::write);
    ASSERT_TRUE(DesktopIntegration::writeFiles(config));
    EXPECT_EQ(DesktopIntegration::programOfEntry(kx::FileSystem::readFile(desktop.entry()).value()), config.executable);
    EXPECT_EQ(DesktopIntegration::placement(config), Placement::write);
}

TEST(DesktopIntegration, OnlyAnEntryThatOpensKorvelLinksIsMadeTheirHandler)
{
    // In the desktop's own folders, before anything asks the desktop of its programs.
    const fs::path applications = kx::FileSystem::dataHome() / "applications";
    kxtest::writeFile(applications / "com.korvel.x.mine.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nExec=true\n");
    kxtest::writeFile(applications / "com.korvel.x.ours.desktop",
                      "[Desktop Entry]\nType=Application\nName=Ours\nExec=true %u\nMimeType=x-scheme-handler/korvel-x;\n");
    const auto handlerIs = [](const std::string& id) {
        const auto list = kx::FileSystem::readFile(kx::FileSystem::configHome() / "mimeapps.list").value_or("");
        return list.find("x-scheme-handler/korvel-x=" + id + ".desktop") != std::string::npos;
    };
    auto config = configuration(kx::FileSystem::dataHome(), "/opt/korvel-x/korvel-x");
    config.applicationId = "com.korvel.x.mine";
    DesktopIntegration::becomeDefaultSchemeHandler(config);
    EXPECT_FALSE(handlerIs("com.korvel.x.mine"));
    config.applicationId = "com.korvel.x.ours";
    DesktopIntegration::becomeDefaultSchemeHandler(config);
    EXPECT_TRUE(handlerIs("com.korvel.x.ours"));
}

TEST(DesktopIntegration, AnEntryOfOursForAProgramGoneOrPackagedIsRemovedAndNothingElse)
{
    Desktop desktop;
    const fs::path packaged = desktop.program("usr/bin/korvel-x");
    const auto installed = desktop.configuration(packaged);
    const auto writeEntryFor = [&](const fs::path& program) {
        auto config = desktop.configuration(program);
        ASSERT_TRUE(kx::FileSystem::atomicWrite(desktop.entry(), DesktopIntegration::desktopEntry(config).value()) == std::nullopt);
    };

    // Ours, for a copy that was deleted: removed with its icon.
    const fs::path downloaded = desktop.program("downloads/korvel-x/korvel-x");
    ASSERT_TRUE(DesktopIntegration::writeFiles(desktop.configuration(downloaded)));
    ASSERT_TRUE(fs::exists(desktop.svg()));
    fs::remove_all(downloaded.parent_path());
    EXPECT_EQ(DesktopIntegration::placement(installed), Placement::remove);
    EXPECT_TRUE(DesktopIntegration::writeFiles(installed));
    EXPECT_FALSE(fs::exists(desktop.entry()));
    EXPECT_FALSE(fs::exists(desktop.svg()));
    EXPECT_FALSE(fs::exists(desktop.png(48)));

    // Ours, for the packaged program itself (an earlier launch wrote it): removed.
    writeEntryFor(packaged);
    EXPECT_EQ(DesktopIntegration::placement(installed), Placement::remove);

    // Ours, for another copy that still exists: that copy's entry stays.
    writeEntryFor(desktop.program("home/Applications/korvel-x/korvel-x"));
    EXPECT_EQ(DesktopIntegration::placement(installed), Placement::leave);
    EXPECT_TRUE(DesktopIntegration::writeFiles(installed));
    EXPECT_TRUE(fs::exists(desktop.entry()));

    // The user's own entry (not marked as ours), even for a program that is gone: stays.
    kxtest::writeFile(desktop.entry(), "[Desktop Entry]\nType=Application\nName=Mine\nExec=/gone/korvel-x\n");
    EXPECT_EQ(DesktopIntegration::placement(installed), Placement::leave);
    // A link planted in place of the entry is not read through, nor removed.
    const fs::path elsewhere = desktop.root / "elsewhere.desktop";
    kx::FileSystem::atomicWrite(elsewhere, DesktopIntegration::desktopEntry(desktop.configuration("/gone/korvel-x")).value());
    fs::remove(desktop.entry());
    fs::create_symlink(elsewhere, desktop.entry());
    EXPECT_EQ(DesktopIntegration::placement(installed), Placement::leave);
    EXPECT_TRUE(DesktopIntegration::writeFiles(installed));
    EXPECT_TRUE(isLink(desktop.entry()));
    EXPECT_TRUE(fs::exists(elsewhere));
}
