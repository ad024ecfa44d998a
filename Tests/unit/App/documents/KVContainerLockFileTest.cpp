// The lock file between instances, with real second processes: a copy of the test helper
// (whose name contains "korvel"), a program of another name, ended processes and zombies.
#include "unit/App/documents/ContainerTestSupport.h"

#include <csignal>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include "App/documents/container/KVContainerLockFile.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"

using namespace kx;

using namespace containertest;

namespace {

class KVContainerLockFileTest : public ContainerTest {
protected:
    fs::path project = temp / "project";
    void SetUp() override
    {
        ContainerTest::SetUp();
        fs::create_directories(project);
    }
    std::string lockText() { return readFile(project / ".korvel-lock").value_or("<none>"); }
    std::shared_ptr<KVDocumentContainer> makeOver(const fs::path& folder)
    {
        return KVDocumentContainer::make(std::make_shared<KVDocumentArchive>(folder, "com.korvel.projectfolder", false, std::nullopt, false));
    }
    void expectInUse(const fs::path& folder)
    {
        try {
            makeOver(folder);
            ADD_FAILURE() << "the folder was taken from a live instance";
        } catch (const KVDocumentError& error) {
            EXPECT_EQ(error.code(), KVDocumentError::Code::containerAlreadyInUse);
            EXPECT_EQ(error.failureReason(), "The document is already open in another Korvel X instance.");
        }
    }
    const std::string ourId = std::to_string(::getpid());
    // `sleep` copied under a name with "korvel" in it.
    std::string sleeperInstance()
    {
        gchar* sleepProgram = g_find_program_in_path("sleep");
        const fs::path copy = temp / "korvel-x-sleeper";
        EXPECT_TRUE(sleepProgram);
        if (sleepProgram)
            fs::copy_file(sleepProgram, copy);
        g_free(sleepProgram);
        fs::permissions(copy, fs::perms::owner_all);
        return copy.string();
    }
};

TEST_F(KVContainerLockFileTest, StaleLocksAreTakenOver)
{
    // An ended process.
    pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    kxtest::waitForChild(ended);
    for (const std::string& text : {std::to_string(ended), std::string("not a number"), std::string(""), std::string("99999999999"),
                                    std::string("0"), std::string("-1"), std::string("\xff\xfe")}) {
        writeFile(project / ".korvel-lock", text);
        auto container = makeOver(project);
        EXPECT_EQ(lockText(), ourId) << "for " << text;
    }
}

TEST_F(KVContainerLockFileTest, OurOwnIdIsStaleAndSaidSo)
{
    kxtest::LogCapture log;
    writeFile(project / ".korvel-lock", " \n" + ourId + "\n");
    {
        auto container = makeOver(project);
        EXPECT_EQ(lockText(), ourId);
    }
    // Ours without a word: the file held, left empty by a full disk, and a lock gone with its
    // folder (an untitled document's working folder goes first).
    {
        auto container = makeOver(project);
        fs::resize_file(project / ".korvel-lock", 0);
    }
    EXPECT_FALSE(fs::exists(project / ".korvel-lock"));
    fs::create_directories(temp / "gone");
    {
        auto container = makeOver(temp / "gone");
        fs::remove_all(temp / "gone");
    }
    // Going, a container leaves a lock that is not its own alone.
    {
        auto container = makeOver(project);
        writeFile(project / ".korvel-lock", "12345");
    }
    EXPECT_EQ(lockText(), "12345");
    const auto messages = log.lines();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "warning: the .korvel-lock file is our own, assuming it is stale"), messages.end());
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "warning: the .korvel-lock file is not ours, ignoring"), 1);
}

TEST_F(KVContainerLockFileTest, AProcessOfAnotherProgramDoesNotHoldIt)
{
    gchar* sleepProgram = g_find_program_in_path("sleep");
    ASSERT_TRUE(sleepProgram);
    kxtest::ChildProcess other({sleepProgram, "30"});
    g_free(sleepProgram);
    ASSERT_FALSE(KVContainerLockFile::isLiveKorvelProcess(other.pid()));
    writeFile(project / ".korvel-lock", std::to_string(other.pid()));
    auto container = makeOver(project);
    EXPECT_EQ(lockText(), ourId);
}

TEST_F(KVContainerLockFileTest, ALiveInstanceKeepsItsLockByItsIdAlone)
{
    // A copy of a program under a name with "korvel" in it, that does not lock the file: the
    // id in the text is all that tells.
    kxtest::ChildProcess instance({sleeperInstance(), "30"});
    ASSERT_TRUE(kxtest::spinUntil([&] { return KVContainerLockFile::isLiveKorvelProcess(instance.pid()); }));
    writeFile(project / ".korvel-lock", std::to_string(instance.pid()) + "\n");
    // Refused, the lock was never ours: nothing is given back, and nothing is said of it.
    kxtest::LogCapture log;
    expectInUse(project);
    EXPECT_FALSE(log.contains("warning: the .korvel-lock file is not ours, ignoring"));
    EXPECT_EQ(lockText(), std::to_string(instance.pid()) + "\n");

    // Once it ended (and before it is reaped, a zombie) the lock is stale.
    ::kill(instance.pid(), SIGKILL);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !KVContainerLockFile::isLiveKorvelProcess(instance.pid()); }));
    auto container = makeOver(project);
    EXPECT_EQ(lockText(), ourId);
}

TEST_F(KVContainerLockFileTest, TwoProcessesNeverShareAFolder)
{
    kxtest::ChildProcess holder({kxtest::testHelperProgram(), "hold-folder", project.string()});
    ASSERT_EQ(holder.readLine().value_or(""), "held");
    EXPECT_EQ(lockText(), std::to_string(holder.pid()));
    expectInUse(project);
    // Even with its id gone from the file, the file lock it holds keeps the folder its own.
    writeFile(project / ".korvel-lock", "junk");
    expectInUse(project);
    EXPECT_EQ(holder.waitForExit(), 0);

    auto container = makeOver(project);
    EXPECT_EQ(lockText(), ourId);
    kxtest::ChildProcess second({kxtest::testHelperProgram(), "hold-folder", project.string()});
    EXPECT_EQ(second.readLine().value_or(""), "in-use");
    EXPECT_EQ(second.waitForExit(), 3);
}

TEST_F(KVContainerLockFileTest, TwoProcessesNeverShareAWorkingFolder)
{
    const std::string uuid = kx::Uuid::make();
    // A fresh folder is locked as soon as it is made.
    kxtest::ChildProcess holder({kxtest::testHelperProgram(), "hold-uuid", (temp / "cache").string(), uuid});
    ASSERT_EQ(holder.readLine().value_or(""), "held");
    try {
        makeContainer(uuid);
        ADD_FAILURE() << "two instances share a working folder";
    } catch (const KVDocumentError& error) {
        EXPECT_EQ(error.code(), KVDocumentError::Code::containerAlreadyInUse);
    }
    EXPECT_EQ(holder.waitForExit(), 0);
    auto container = makeContainer(uuid);
    EXPECT_EQ(readFile(container->projectDirectory() / ".korvel-lock"), ourId);

    // A read replaces the project folder with a new copy: the lock goes along.
    writeProject(temp / "source");
    container->read(KVDocumentArchive(temp / "source", "com.korvel.projectfolder", false, std::nullopt, false),
                    KVDocumentContainer::ArchiveRelation::copy());
    EXPECT_EQ(readFile(container->projectDirectory() / ".korvel-lock"), ourId);
    kxtest::ChildProcess second({kxtest::testHelperProgram(), "hold-uuid", (temp / "cache").string(), uuid});
    EXPECT_EQ(second.readLine().value_or(""), "in-use");
    drop(container);
}

TEST_F(KVContainerLockFileTest, ALinkInPlaceOfTheLockIsNeverWrittenThrough)
{
    writeFile(temp / "victim", "precious");
    fs::create_symlink(temp / "victim", project / ".korvel-lock");
    {
        auto container = makeOver(project);
        EXPECT_FALSE(fs::is_symlink(project / ".korvel-lock"));
        EXPECT_EQ(lockText(), ourId);
    }
    EXPECT_EQ(readFile(temp / "victim"), "precious");
}

TEST_F(KVContainerLockFileTest, AReadOnlyFolderStillHonoursALiveLock)
{
    kxtest::ChildProcess instance({sleeperInstance(), "30"});
    ASSERT_TRUE(kxtest::spinUntil([&] { return KVContainerLockFile::isLiveKorvelProcess(instance.pid()); }));
    // Nothing here can be written, as on a disk mounted read-only: the lock's text alone tells.
    for (const auto& [text, expected] : {std::pair{std::to_string(instance.pid()), 3}, std::pair{std::string("junk"), 0}}) {
        fs::permissions(project, fs::perms::owner_all);
        fs::remove(project / ".korvel-lock");
        writeFile(project / ".korvel-lock", text);
        fs::permissions(project / ".korvel-lock", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        fs::permissions(project, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
        // Permissions do not bind the superuser: the lock is taken in a child that gives up
        // root's rights (it enters the folder first, since those above it may be closed to it).
        // 0 taken, 3 in use, 2 rights kept, 1 another failure.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(project.c_str()) != 0)
                ::_exit(1);
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::setuid(0) == 0))
                ::_exit(2);
            try {
                KVContainerLockFile::acquire(".");
                ::_exit(0);
            } catch (const KVDocumentError& error) {
                ::_exit(error.code() == KVDocumentError::Code::containerAlreadyInUse ? 3 : 1);
            } catch (...) {
                ::_exit(1);
            }
        }
        ASSERT_GT(child, 0);
        const int status = kxtest::waitForChild(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected) << "wait status " << status << " for " << text;
        EXPECT_EQ(lockText(), text);
    }
    fs::permissions(project, fs::perms::owner_all);
}

} // namespace
