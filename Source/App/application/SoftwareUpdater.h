// Update checks. Linux installs come from a package or an archive, so the updater never
// replaces the running program: it reads the environment's update feed, compares the newest
// version with this build and tells the user of a newer one with its download link.
//
// It keeps the schedule itself: the time of the last check (user default "SULastCheckTime",
// seconds since 1970), a repeating automatic check every `updateCheckInterval` while automatic
// checks are on, and checks asked for after a delay. Kinds of check: interactive (the menu
// command: every outcome is shown), background (only a newer version is shown) and
// information only (nothing is shown). Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/application/Appcast.h"
#include "Platform/Foundation/HttpSession.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class SoftwareUpdater {
public:
    enum class CheckKind { interactive, background, informationOnly };

    // Time and timers, replaceable so that a schedule of hours can be tested at once.
    class Clock {
    public:
        virtual ~Clock() = default;
        virtual double now() const = 0; // seconds since 1970
        virtual std::shared_ptr<MainQueue::Timer> after(double seconds, std::function<void()> work) = 0;
        static std::shared_ptr<Clock> system();
    };

    // How the outcome of a check reaches the user.
    struct Presenter {
        std::function<void(const Appcast::Item& update)> updateAvailable;
        std::function<void()> upToDate;
        std::function<void(const Error& error)> failed;
        static Presenter alerts();
    };

    static constexpr const char* lastCheckTimeKey = "SULastCheckTime";
    static constexpr const char* feedURLKey = "SUFeedURL";
    static constexpr double defaultUpdateCheckInterval = 14400.0; // 4 hours

    static SoftwareUpdater& shared();

    SoftwareUpdater(UserDefaults& defaults, std::shared_ptr<Clock> clock, std::string currentVersion, Presenter presenter);
    ~SoftwareUpdater();
    SoftwareUpdater(const SoftwareUpdater&) = delete;
    SoftwareUpdater& operator=(const SoftwareUpdater&) = delete;

    // What the application does once a user's settings are known: forgets a stored feed
    // address, takes the environment's feed, and with updates disabled only asks for the
    // update information 10 s later; otherwise checks automatically every 4 hours and, when
    // the last check is less than 4 hours old or there was none, checks in the background
    // 60 s later.
    void setUp(bool updatesDisabled, const std::optional<std::string>& feedURL);

    void setFeedURL(std::optional<std::string> url) { feedURL_ = std::move(url); }
    const std::optional<std::string>& feedURL() const { return feedURL_; }
    void setUpdateCheckInterval(double seconds);
    double updateCheckInterval() const { return interval_; }
    void setAutomaticallyChecksForUpdates(bool automatic);
    bool automaticallyChecksForUpdates() const { return automatic_; }
    std::optional<double> lastUpdateCheckDate() const;

    void checkForUpdates(); // interactive
    void checkForUpdatesInBackground();
    void checkForUpdateInformation();
    // Runs a check of `kind` after `seconds`.
    void scheduleCheck(double seconds, CheckKind kind);

    bool isChecking() const { return task_ != nullptr; }
    // The newest version above this build that the last completed check found.
    const std::optional<Appcast::Item>& availableUpdate() const { return available_; }
    // Told after each completed check (tests and logs).
    std::function<void(CheckKind kind, const std::optional<Appcast::Item>& update)> checkDidFinish;

private:
    void check(CheckKind kind);
    void finish(CheckKind kind, Result<HttpSession::Response, Error> answer);
    void scheduleAutomaticCheck();

    UserDefaults& defaults_;
    std::shared_ptr<Clock> clock_;
    std::string currentVersion_;
    Presenter presenter_;
    HttpSession session_;
    std::optional<std::string> feedURL_;
    double interval_ = defaultUpdateCheckInterval;
    bool automatic_ = false;
    std::shared_ptr<HttpSession::Task> task_;
    CheckKind runningKind_ = CheckKind::background;
    std::shared_ptr<MainQueue::Timer> automaticTimer_;
    std::vector<std::shared_ptr<MainQueue::Timer>> delayedChecks_;
    std::optional<Appcast::Item> available_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kx
