#include "App/application/MoveToApplicationsFolder.h"

#include <unistd.h>

#include <gio/gio.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "App/shell/ModalAlert.h"
#include "App/shell/RKLog.h"
#include "App/application/InstallCopy.h"
#include "App/application/Relaunch.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr const char* failureMessage = "Could not move to Applications folder";
// pkexec's exit statuses: the dialog was dismissed; not authorised (or pkexec failed).
constexpr int pkexecDismissed = 126;
constexpr int pkexecRefused = 127;

bool isBlank(const std::string& text)
{
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::optional<fs::path> resolved(const fs::path& path)
{
    return FileSystem::realPath(path);
}

// The executable inside what was moved: the folder's korvel-x, or the image file itself.
fs::path executableIn(const fs::path& destination, bool isAppImage)
{
    return isAppImage ? destination : destination / "korvel-x";
}

enum class Privileged { done, cancelled, failed };

// One pkexec call of the fixed helper: one prompt, and the helper copies beside the
// destination before it replaces it.
Privileged installWithAdministratorRights(const MoveToApplicationsFolder::Environment& environment, const fs::path& source,
                                          const fs::path& destination)
{
    if (environment.pkexec.empty() || isBlank(source.string()) || isBlank(destination.string())
        || !ApplicationsFolder::hasOurName(destination))
        return Privileged::failed;
    std::vector<const char*> argv;
    for (const auto& word : environment.pkexec)
        argv.push_back(word.c_str());
    argv.push_back(environment.installHelper.c_str());
    argv.push_back(source.c_str());
    argv.push_back(destination.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    auto process = GObjectRef<GSubprocess>::adopt(g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_NONE, &error));
    if (!process) {
        RKLog(std::string("pkexec could not be started: ") + (error ? error->message : ""), RKLogKind::general);
        g_clear_error(&error);
        return Privileged::failed;
    }
    if (!g_subprocess_wait(process.get(), nullptr, &error)) {
        g_clear_error(&error);
        return Privileged::failed;
    }
    if (!g_subprocess_get_if_exited(process.get()))
        return Privileged::failed;
    const int status = g_subprocess_get_exit_status(process.get());
    if (status == 0)
        return Privileged::done;
    if (status == pkexecDismissed)
        return Privileged::cancelled;
    if (status == pkexecRefused)
        RKLog("pkexec refused the administrator rights", RKLogKind::general);
    return Privileged::failed;
}

// Copies beside the destination first; only a complete copy replaces the old one, which goes
// to the trash.
bool installAsUser(const MoveToApplicationsFolder::Environment& environment, const fs::path& source,
                   const fs::path& destination)
{
    std::string pattern = FileSystem::temporaryPattern(destination);
    if (!::mkdtemp(pattern.data())) {
        RKLog("ERROR -- Could not copy '" + source.string() + "' to '" + destination.string() + "' (" + std::strerror(errno) + ")", RKLogKind::general);
        return false;
    }
    const fs::path staging = pattern;
    auto cleanUp = [&staging] {
        std::error_code ignored;
        fs::remove_all(staging, ignored);
    };
    const fs::path copy = staging / destination.filename();
    if (auto error = InstallCopy::copyReplacing(source, copy)) {
        RKLog("ERROR -- Could not copy '" + source.string() + "' to '" + destination.string() + "' ("
                  + error->localizedFailureReason + ")", RKLogKind::general);
        cleanUp();
        return false;
    }
    if (FileSystem::existsWithoutFollowing(destination) && !(environment.trash && environment.trash(destination))) {
        cleanUp();
        return false;
    }
    if (auto error = InstallCopy::swapInto(copy, destination)) {
        RKLog("ERROR -- Could not copy '" + source.string() + "' to '" + destination.string() + "' ("
                  + error->localizedFailureReason + ")", RKLogKind::general);
        cleanUp();
        return false;
    }
    cleanUp();
    return true;
}

bool trashPath(const fs::path& path)
{
    if (auto error = FileSystem::trash(path)) {
        RKLog("ERROR -- Could not trash '" + path.string() + "'", RKLogKind::general);
        return false;
    }
    return true;
}

} // namespace

MoveToApplicationsFolder::Outcome MoveToApplicationsFolder::moveIfNecessary(Environment& environment)
{
    if (environment.defaults && environment.defaults->boolForKey(alertSuppressKey))
        return Outcome::notOffered;

    // What would move: our dedicated folder, or the image file we run from.
    const bool isAppImage = environment.appImage.has_value();
    fs::path item;
    if (isAppImage) {
        std::error_code error;
        if (!environment.appImage->is_absolute() || !fs::is_regular_file(fs::symlink_status(*environment.appImage, error))
            || !ApplicationsFolder::hasOurName(*environment.appImage)
            || ApplicationsFolder::bundleIdentifier(environment.bundlePath) != environment.bundleIdentifier)
            return Outcome::notOffered;
        item = environment.appImage->lexically_normal();
    } else {
        if (!environment.bundlePath.is_absolute() || !ApplicationsFolder::isOurBundle(environment.bundlePath, environment.bundleIdentifier))
            return Outcome::notOffered;
        item = environment.bundlePath.lexically_normal();
    }
    if (item.filename().empty())
        item = item.parent_path();

    const bool nested = !isAppImage && ApplicationsFolder::isNested(item);
    if (!nested && ApplicationsFolder::isInApplicationsFolder(item, environment.applicationFolders))
        return Outcome::notOffered;

    const auto diskImage = ApplicationsFolder::diskImageHolding(item.parent_path(), environment.mountInfo, environment.sysBlock);

    // The user's own folder when it already holds applications, else the system's.
    fs::path target;
    bool userFolder = false;
    std::error_code error;
    if (fs::is_directory(environment.userApplicationsFolder, error)
        && ApplicationsFolder::holdsAnyApplication(environment.userApplicationsFolder)) {
        target = resolved(environment.userApplicationsFolder).value_or(environment.userApplicationsFolder);
        userFolder = true;
    } else {
        target = resolved(environment.localApplicationsFolder).value_or(environment.localApplicationsFolder);
    }
    const fs::path destination = target / item.filename();
    auto writable = [&environment](const fs::path& path) {
        return environment.isWritable ? environment.isWritable(path) : ::access(path.c_str(), W_OK) == 0;
    };
    const bool needsAuthorization = !writable(target) || (FileSystem::existsWithoutFollowing(destination) && !writable(destination));

    Offer offer;
    offer.messageText = userFolder ? "Move to Applications folder in your Home folder?" : "Move to Applications folder?";
    offer.informativeText = "I can move myself to the Applications folder if you'd like.";
    if (needsAuthorization) {
        offer.informativeText += " Note that this will require an administrator password.";
    } else {
        for (const auto& downloads : environment.downloadsFolders) {
            if (!downloads.empty() && ApplicationsFolder::beginsWithPath(item, downloads)) {
                offer.informativeText += " This will keep your Downloads folder uncluttered.";
                break;
            }
        }
    }
    const Answer answer = environment.ask ? environment.ask(offer) : Answer{};
    if (!answer.move) {
        if (answer.suppress && environment.defaults)
            environment.defaults->setBool(alertSuppressKey, true);
        return Outcome::declined;
    }

    RKLog("INFO -- Moving myself to the Applications folder", RKLogKind::general);
    auto fail = [&environment] {
        if (environment.showFailure)
            environment.showFailure(failureMessage);
        return Outcome::failed;
    };

    if (needsAuthorization) {
        switch (installWithAdministratorRights(environment, item, destination)) {
        case Privileged::cancelled:
            RKLog("INFO -- Not moving because user canceled authorization", RKLogKind::general);
            return Outcome::cancelled;
        case Privileged::failed:
            RKLog("ERROR -- Could not copy myself to /Applications with authorization", RKLogKind::general);
            return fail();
        case Privileged::done:
            break;
        }
    } else {
        if (FileSystem::existsWithoutFollowing(destination)) {
            const fs::path runningExecutable = executableIn(destination, isAppImage);
            if (!isAppImage && runningCopy(runningExecutable, environment.processes)) {
                RKLog("INFO -- Switching to an already running version", RKLogKind::general);
                if (environment.switchToRunningCopy)
                    environment.switchToRunningCopy(runningExecutable);
                if (environment.exit)
                    environment.exit();
                return Outcome::switchedToRunningCopy;
            }
        }
        if (!installAsUser(environment, item, destination)) {
            RKLog("ERROR -- Could not copy myself to " + destination.string(), RKLogKind::general);
            return fail();
        }
    }

    // The old copy goes, unless it lies inside another application or on a disk image.
    if (!nested && !diskImage) {
        std::error_code removeError;
        fs::remove_all(item, removeError);
        if (removeError) {
            RKLog("WARNING -- Could not delete '" + item.string() + "': " + removeError.message(), RKLogKind::general);
            if (!(environment.trash && environment.trash(item)))
                RKLog("WARNING -- Could not delete application after moving it to Applications folder", RKLogKind::general);
        }
    }
    if (environment.relaunch)
        environment.relaunch(executableIn(destination, isAppImage), nested ? std::nullopt : diskImage);
    if (environment.exit)
        environment.exit();
    return Outcome::moved;
}

std::optional<pid_t> MoveToApplicationsFolder::runningCopy(const fs::path& executable, const fs::path& processes)
{
    const auto wanted = resolved(executable);
    if (!wanted)
        return std::nullopt;
    const pid_t self = ::getpid();
    std::error_code error;
    for (fs::directory_iterator it(processes, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code linkError;
        const fs::path exe = fs::read_symlink(it->path() / "exe", linkError);
        if (linkError || exe != *wanted)
            continue;
        const pid_t pid = pid_t(std::stol(name));
        if (pid != self)
            return pid;
    }
    return std::nullopt;
}

MoveToApplicationsFolder::Environment MoveToApplicationsFolder::Environment::current()
{
    Environment environment;
    const fs::path executable = Bundle::executablePath();
    environment.bundlePath = executable.parent_path();
    if (const char* image = std::getenv("APPIMAGE"); image && *image)
        environment.appImage = fs::path(image);
    environment.bundleIdentifier = Bundle::main().bundleIdentifier();
    const fs::path home = g_get_home_dir();
    environment.userApplicationsFolder = home / "Applications";
    environment.localApplicationsFolder = "/opt";
    environment.applicationFolders = {environment.userApplicationsFolder, "/opt", "/usr", "/usr/local", "/app", "/snap"};
    if (const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
        environment.downloadsFolders.push_back(downloads);
    environment.downloadsFolders.push_back(home / "Downloads");
    if (auto helper = Bundle::main().pathForResource("korvel-x-install-helper", ""))
        environment.installHelper = *helper;
    environment.defaults = &UserDefaults::standard();
    environment.isWritable = [](const fs::path& path) { return ::access(path.c_str(), W_OK) == 0; };
    environment.ask = [](const Offer& offer) {
        auto alert = Alert::make();
        alert->setMessageText(offer.messageText);
        alert->setInformativeText(offer.informativeText);
        alert->addButton("Move to Applications Folder");
        alert->addButton("Do Not Move").setKeyEquivalent("\x1b");
        alert->setShowsSuppressionButton(true);
        const auto response = alert->runModal();
        return Answer{response == Alert::firstButtonReturn, alert->suppressionButtonState()};
    };
    environment.showFailure = [](const std::string& message) {
        auto alert = ModalAlert::alertWithMessageText(message, "OK", std::nullopt, std::nullopt, "");
        alert->runModal();
    };
    environment.trash = trashPath;
    environment.relaunch = [](const fs::path& moved, const std::optional<ApplicationsFolder::DiskImage>& image) {
        Relaunch::start(moved, image);
    };
    environment.switchToRunningCopy = [](const fs::path& running) {
        // Started again, the copy hands this launch to the one that runs.
        const char* argv[] = {running.c_str(), nullptr};
        GError* error = nullptr;
        auto process = GObjectRef<GSubprocess>::adopt(g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_NONE, &error));
        g_clear_error(&error);
    };
    // Nothing of the launch may run on, and the libraries' exit handlers are not needed: the
    // settings are written and the process ends.
    environment.exit = [] {
        UserDefaults::standard().synchronize();
        std::fflush(nullptr);
        ::_exit(0);
    };
    return environment;
}

void MoveToApplicationsFolder::moveIfNecessary()
{
    auto environment = Environment::current();
    moveIfNecessary(environment);
}

} // namespace kx
