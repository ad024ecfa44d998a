// The offer to move into an application folder, carried out on folders the test makes: the
// user's Applications folder, a stand-in for /opt, Downloads, a disk image, with the install
// helper run by stand-ins for pkexec.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include <nlohmann/json.hpp>

#include "App/application/MoveToApplicationsFolder.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/Process.h"
#include "support/ChildProcess.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace fs = std::filesystem;
using kx::MoveToApplicationsFolder;
using Outcome = MoveToApplicationsFolder::Outcome;

namespace {

constexpr const char* identifier = "com.korvel.x";

void write(const fs::path& file, const std::string& text)
{
    ASSERT_FALSE(kx::FileSystem::atomicWrite(file, text).has_value());
}

fs::path makeBundle(const fs::path& folder, const std::string& version = "1")
{
    write(folder / "Resources" / "Info.json", nlohmann::json{{"CFBundleIdentifier", identifier}, {"CFBundleVersion", version}}.dump());
    write(folder / "korvel-x", "#!/bin/sh\n");
    fs::permissions(folder / "korvel-x", fs::perms::owner_all);
    return folder;
}

fs::path script(const fs::path& file, const std::string& body)
{
    kx::FileSystem::atomicWrite(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
    return file;
}

struct Machine {
    kxtest::TemporaryDirectory root;
    fs::path home = root / "home";
    fs::path downloads = home / "Downloads";
    fs::path opt = root / "opt";
    std::unique_ptr<kx::UserDefaults> defaults = std::make_unique<kx::UserDefaults>(root / "defaults.json");
    MoveToApplicationsFolder::Environment environment;

    // What the move did outside itself.
    std::vector<MoveToApplicationsFolder::Offer> offers;
    std::vector<std::string> failures;
    std::vector<fs::path> trashed;
    std::vector<std::pair<fs::path, std::optional<kx::ApplicationsFolder::DiskImage>>> relaunched;
    std::vector<fs::path> switched;
    int exits = 0;
    std::set<fs::path> readOnly;
    MoveToApplicationsFolder::Answer answer{true, false};

    Machine()
    {
        fs::create_directories(downloads);
        fs::create_directories(opt);
        environment.bundleIdentifier = identifier;
        environment.userApplicationsFolder = home / "Applications";
        environment.localApplicationsFolder = opt;
        environment.applicationFolders = {home / "Applications", opt, root / "usr"};
        environment.downloadsFolders = {downloads};
        environment.mountInfo = root / "mountinfo";
        write(environment.mountInfo, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
        environment.sysBlock = root / "block";
        environment.installHelper = kxtest::testSourceDir().parent_path() / "Resources" / "korvel-x-install-helper";
        environment.pkexec = {script(root / "pkexec", "exec \"$@\"").string()};
        environment.defaults = defaults.get();
        environment.isWritable = [this](const fs::path& path) { return !readOnly.count(path); };
        environment.ask = [this](const MoveToApplicationsFolder::Offer& offer) {
            offers.push_back(offer);
            return answer;
        };
        environment.showFailure = [this](const std::string& message) { failures.push_back(message); };
        environment.trash = [this](const fs::path& path) {
            trashed.push_back(path);
            std::error_code error;
            fs::remove_all(path, error);
            return !error;
        };
        environment.relaunch = [this](const fs::path& executable, const auto& image) { relaunched.emplace_back(executable, image); };
        environment.switchToRunningCopy = [this](const fs::path& executable) { switched.push_back(executable); };
        environment.exit = [this] { ++exits; };
    }

    Outcome runFrom(const fs::path& bundle)
    {
        environment.bundlePath = bundle;
        return MoveToApplicationsFolder::moveIfNecessary(environment);
    }
    void userApplicationsHoldAnApplication() { makeBundle(home / "Applications" / "Other"); }
};

} // namespace

TEST(MoveToApplicationsFolder, FromDownloadsIntoTheUsersApplicationsFolder)
{
    Machine machine;
    machine.userApplicationsHoldAnApplication();
    const auto bundle = makeBundle(machine.downloads / "korvel-x-1.0");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::moved);
    ASSERT_EQ(machine.offers.size(), 1u);
    EXPECT_EQ(machine.offers[0].messageText, "Move to Applications folder in your Home folder?");
    EXPECT_EQ(machine.offers[0].informativeText,
              "I can move myself to the Applications folder if you'd like. This will keep your Downloads folder uncluttered.");
    const auto moved = machine.home / "Applications" / "korvel-x-1.0";
    EXPECT_TRUE(fs::exists(moved / "Resources" / "Info.json"));
    EXPECT_FALSE(fs::exists(bundle));
    ASSERT_EQ(machine.relaunched.size(), 1u);
    EXPECT_EQ(machine.relaunched[0].first, moved / "korvel-x");
    EXPECT_FALSE(machine.relaunched[0].second);
    EXPECT_EQ(machine.exits, 1);
    EXPECT_TRUE(machine.failures.empty());
}

TEST(MoveToApplicationsFolder, AnOlderCopyGoesToTheTrashOnlyOnceTheNewOneIsComplete)
{
    Machine machine;
    machine.userApplicationsHoldAnApplication();
    const auto old = makeBundle(machine.home / "Applications" / "korvel-x", "0");
    write(old / "only-in-the-old", "x");
    // A path with a single quote, which the old relaunch script quoted.
    const auto bundle = makeBundle(machine.downloads / "it's new" / "korvel-x", "2");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::moved);
    EXPECT_EQ(machine.trashed, std::vector<fs::path>{old});
    EXPECT_FALSE(fs::exists(old / "only-in-the-old"));
    EXPECT_NE(kx::FileSystem::readFile(old / "Resources" / "Info.json")->find("\"2\""), std::string::npos);
    ASSERT_EQ(machine.relaunched.size(), 1u);
    EXPECT_EQ(machine.relaunched[0].first, old / "korvel-x");
    for (const auto& entry : fs::directory_iterator(machine.home / "Applications"))
        EXPECT_NE(entry.path().filename().string().front(), '.') << "a temporary copy is left";
}

TEST(MoveToApplicationsFolder, WithoutAUsersFolderTheSystemFolderTakesItWithOnePkexecCall)
{
    Machine machine;
    fs::create_directories(machine.home / "Applications"); // there, but holding no application
    machine.readOnly.insert(machine.opt);
    const auto log = machine.root / "pkexec.log";
    machine.environment.pkexec = {script(machine.root / "pkexec", "echo \"$@\" >> '" + log.string() + "'\nexec \"$@\"").string()};
    const auto bundle = makeBundle(machine.downloads / "korvel-x");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::moved);
    EXPECT_EQ(machine.offers[0].messageText, "Move to Applications folder?");
    EXPECT_EQ(machine.offers[0].informativeText,
              "I can move myself to the Applications folder if you'd like. Note that this will require an administrator password.");
    EXPECT_EQ(kx::FileSystem::readFile(log),
              machine.environment.installHelper.string() + " " + bundle.string() + " " + (machine.opt / "korvel-x").string() + "\n");
    EXPECT_TRUE(fs::exists(machine.opt / "korvel-x" / "Resources" / "Info.json"));
    EXPECT_FALSE(fs::exists(bundle));
    EXPECT_EQ(machine.relaunched.size(), 1u);
}

TEST(MoveToApplicationsFolder, ADismissedPasswordDialogOnlyLogsAndARefusalSaysSo)
{
    Machine machine;
    machine.readOnly.insert(machine.opt);
    const auto bundle = makeBundle(machine.downloads / "korvel-x");
    machine.environment.pkexec = {script(machine.root / "dismissed", "exit 126").string()};
    EXPECT_EQ(machine.runFrom(bundle), Outcome::cancelled);
    EXPECT_TRUE(machine.failures.empty());
    machine.environment.pkexec = {script(machine.root / "refused", "exit 127").string()};
    EXPECT_EQ(machine.runFrom(bundle), Outcome::failed);
    machine.environment.pkexec = {(machine.root / "no-pkexec-here").string()};
    EXPECT_EQ(machine.runFrom(bundle), Outcome::failed);
    // The helper's own failure: a destination whose name is not ours never gets a copy.
    machine.environment.pkexec = {script(machine.root / "pkexec", "exec \"$@\"").string()};
    machine.environment.installHelper = script(machine.root / "failing-helper", "exit 1");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::failed);
    EXPECT_EQ(machine.failures, std::vector<std::string>(3, "Could not move to Applications folder"));
    EXPECT_TRUE(fs::exists(bundle / "korvel-x"));
    EXPECT_FALSE(fs::exists(machine.opt / "korvel-x"));
    EXPECT_TRUE(machine.relaunched.empty());
    EXPECT_EQ(machine.exits, 0);
}

TEST(MoveToApplicationsFolder, TheHelperCopiesBesideTheDestinationAndRefusesOtherNames)
{
    Machine machine;
    const auto helper = machine.environment.installHelper.string();
    const auto bundle = makeBundle(machine.downloads / "korvel-x");
    auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), helper);
        return kxtest::runProgram(std::move(arguments)).status;
    };
    EXPECT_NE(run({bundle.string(), (machine.opt / "bin").string()}), 0);
    EXPECT_NE(run({bundle.string(), "relative/korvel-x"}), 0);
    EXPECT_NE(run({(machine.downloads / "loose").string(), (machine.opt / "korvel-x").string()}), 0);
    EXPECT_NE(run({bundle.string(), (machine.root / "missing" / "korvel-x").string()}), 0);
    EXPECT_FALSE(fs::exists(machine.opt / "bin"));
    const auto existing = makeBundle(machine.opt / "korvel-x", "0");
    EXPECT_EQ(run({bundle.string(), existing.string()}), 0);
    EXPECT_NE(kx::FileSystem::readFile(existing / "Resources" / "Info.json")->find("\"1\""), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(machine.opt), fs::directory_iterator()), 1);
}

TEST(MoveToApplicationsFolder, NoOfferInAnApplicationFolderNorForAFolderThatIsNotOurs)
{
    Machine machine;
    EXPECT_EQ(machine.runFrom(makeBundle(machine.opt / "korvel-x")), Outcome::notOffered);
    EXPECT_EQ(machine.runFrom(makeBundle(machine.home / "Applications" / "korvel-x")), Outcome::notOffered);
    EXPECT_EQ(machine.runFrom(makeBundle(machine.home / "stuff" / "Applications" / "korvel-x")), Outcome::notOffered);
    // A loose program: the folder is not ours to move.
    write(machine.downloads / "bin" / "korvel-x", "");
    EXPECT_EQ(machine.runFrom(machine.downloads / "bin"), Outcome::notOffered);
    write(machine.downloads / "korvel-x-loose" / "korvel-x", "");
    EXPECT_EQ(machine.runFrom(machine.downloads / "korvel-x-loose"), Outcome::notOffered);
    EXPECT_TRUE(machine.offers.empty());
    // A folder beside /opt whose name only begins like it gets the offer.
    machine.answer = {false, false};
    EXPECT_EQ(machine.runFrom(makeBundle(machine.root / "optx" / "korvel-x")), Outcome::declined);
    EXPECT_EQ(machine.offers.size(), 1u);
}

TEST(MoveToApplicationsFolder, ASuppressedOfferIsNeverMadeAgain)
{
    Machine machine;
    const auto bundle = makeBundle(machine.downloads / "korvel-x");
    machine.answer = {false, false};
    EXPECT_EQ(machine.runFrom(bundle), Outcome::declined);
    machine.answer = {false, true};
    EXPECT_EQ(machine.runFrom(bundle), Outcome::declined);
    EXPECT_TRUE(machine.defaults->boolForKey(MoveToApplicationsFolder::alertSuppressKey));
    EXPECT_EQ(machine.runFrom(bundle), Outcome::notOffered);
    EXPECT_EQ(machine.offers.size(), 2u);
    EXPECT_TRUE(fs::exists(bundle));
}

TEST(MoveToApplicationsFolder, InsideAnotherApplicationTheOldCopyStays)
{
    Machine machine;
    makeBundle(machine.downloads / "Suite");
    const auto bundle = makeBundle(machine.downloads / "Suite" / "Tools" / "korvel-x");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::moved);
    EXPECT_TRUE(fs::exists(bundle / "korvel-x"));
    EXPECT_TRUE(fs::exists(machine.opt / "korvel-x" / "korvel-x"));
}

TEST(MoveToApplicationsFolder, FromADiskImageTheImageIsLeftAndNamedForDetaching)
{
    Machine machine;
    const auto media = machine.root / "media" / "Korvel X";
    write(machine.environment.mountInfo, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n80 22 7:3 / " + machine.root.path().string()
                                             + "/media/Korvel\\040X ro - iso9660 /dev/loop3 ro\n");
    write(machine.environment.sysBlock / "loop3" / "loop" / "backing_file", (machine.downloads / "korvel-x.iso").string() + "\n");
    const auto bundle = makeBundle(media / "korvel-x");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::moved);
    EXPECT_TRUE(fs::exists(bundle / "korvel-x"));
    ASSERT_EQ(machine.relaunched.size(), 1u);
    ASSERT_TRUE(machine.relaunched[0].second);
    EXPECT_EQ(machine.relaunched[0].second->device, "/dev/loop3");
    EXPECT_EQ(machine.relaunched[0].second->backingFile, machine.downloads / "korvel-x.iso");
}

TEST(MoveToApplicationsFolder, ACopyThatAlreadyRunsThereIsBroughtUpInstead)
{
    Machine machine;
    machine.userApplicationsHoldAnApplication();
    const auto installed = machine.home / "Applications" / "korvel-x";
    makeBundle(installed);
    fs::remove(installed / "korvel-x");
    fs::copy_file("/bin/sleep", installed / "korvel-x");
    kx::Process running({{(installed / "korvel-x").string(), "30"}, {}, {}});
    ASSERT_TRUE(running.launch().isSuccess());
    ASSERT_TRUE(kxtest::spinUntil([&] { return MoveToApplicationsFolder::runningCopy(installed / "korvel-x").has_value(); }));

    const auto bundle = makeBundle(machine.downloads / "korvel-x");
    EXPECT_EQ(machine.runFrom(bundle), Outcome::switchedToRunningCopy);
    EXPECT_EQ(machine.switched, std::vector<fs::path>{installed / "korvel-x"});
    EXPECT_EQ(machine.exits, 1);
    EXPECT_TRUE(fs::exists(bundle));
    EXPECT_TRUE(machine.trashed.empty());
    running.terminate();
}

TEST(MoveToApplicationsFolder, AnAppImageMovesAsItsFile)
{
    Machine machine;
    machine.userApplicationsHoldAnApplication();
    const auto mounted = makeBundle(machine.root / "mount" / "usr" / "lib" / "korvel-x");
    const auto image = machine.downloads / "Korvel-X-1.0-x86_64.AppImage";
    write(image, "ELF...");
    machine.environment.appImage = image;
    EXPECT_EQ(machine.runFrom(mounted), Outcome::moved);
    EXPECT_EQ(kx::FileSystem::readFile(machine.home / "Applications" / image.filename()), "ELF...");
    EXPECT_FALSE(fs::exists(image));
    ASSERT_EQ(machine.relaunched.size(), 1u);
    EXPECT_EQ(machine.relaunched[0].first, machine.home / "Applications" / image.filename());

    // An image of another name is not ours to move.
    write(machine.downloads / "tool.AppImage", "ELF");
    machine.environment.appImage = machine.downloads / "tool.AppImage";
    EXPECT_EQ(machine.runFrom(mounted), Outcome::notOffered);
}
