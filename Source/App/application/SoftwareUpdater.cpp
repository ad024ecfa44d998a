#include "App/application/SoftwareUpdater.h"

#include <algorithm>

#include "App/shell/AppInfo.h"
#include "App/shell/ModalAlert.h"
#include "App/shell/RKLog.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

class SystemClock : public SoftwareUpdater::Clock {
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    std::shared_ptr<MainQueue::Timer> after(double seconds, std::function<void()> work) override
    {
        const auto delay = std::chrono::milliseconds(static_cast<long long>(std::max(0.0, seconds) * 1000.0));
        return MainQueue::after(delay, std::move(work));
    }
};

HttpSession::Configuration feedConfiguration()
{
    HttpSession::Configuration configuration;
    configuration.maximumBodySize = Appcast::maximumSize;
    configuration.maximumRedirects = 5;
    configuration.userAgent = AppInfo::current()->userAgent();
    return configuration;
}

} // namespace

std::shared_ptr<SoftwareUpdater::Clock> SoftwareUpdater::Clock::system()
{
    return std::make_shared<SystemClock>();
}

SoftwareUpdater::Presenter SoftwareUpdater::Presenter::alerts()
{
    Presenter presenter;
    presenter.updateAvailable = [](const Appcast::Item& update) {
        const auto info = AppInfo::current();
        const std::string name = info->displayName().value_or("Korvel X");
        auto alert = ModalAlert::alertWithMessageText(
            "A new version of " + name + " is available!", "Download", std::string("Remind Me Later"), std::nullopt,
            name + " " + update.shortVersion + " is now available—you have " + info->shortVersion()
                + ". Download it from " + update.downloadURL + " and install it as you installed this version.");
        alert->setAlertStyle(Alert::Style::informational);
        alert->beginSheetModal(nullptr, [url = update.downloadURL](Alert::ModalResponse response) {
            if (response == Alert::firstButtonReturn)
                Workspace::shared().openURL(url);
        });
    };
    presenter.upToDate = [] {
        const auto info = AppInfo::current();
        auto alert = ModalAlert::alertWithMessageText("You're up to date!", "OK", std::nullopt, std::nullopt,
                                                      info->displayName().value_or("Korvel X") + " " + info->shortVersion()
                                                          + " is currently the newest version available.");
        alert->setAlertStyle(Alert::Style::informational);
        alert->beginSheetModal(nullptr, [](Alert::ModalResponse) {});
    };
    presenter.failed = [](const Error& error) {
        auto alert = ModalAlert::alertWithMessageText("Update Error!", "OK", std::nullopt, std::nullopt,
                                                      "An error occurred in retrieving update information ("
                                                          + error.localizedDescription + "). Please try again later.");
        alert->beginSheetModal(nullptr, [](Alert::ModalResponse) {});
    };
    return presenter;
}

SoftwareUpdater& SoftwareUpdater::shared()
{
    static SoftwareUpdater* updater = new SoftwareUpdater(
        UserDefaults::standard(), Clock::system(),
        AppInfo::current()->bundle().stringForInfoKey("CFBundleVersion").value_or("0"), Presenter::alerts());
    return *updater;
}

SoftwareUpdater::SoftwareUpdater(UserDefaults& defaults, std::shared_ptr<Clock> clock, std::string currentVersion,
                                 Presenter presenter)
    : defaults_(defaults)
    , clock_(std::move(clock))
    , currentVersion_(std::move(currentVersion))
    , presenter_(std::move(presenter))
    , session_(feedConfiguration())
{
}

SoftwareUpdater::~SoftwareUpdater()
{
    if (automaticTimer_)
        automaticTimer_->cancel();
    for (auto& timer : delayedChecks_)
        timer->cancel();
    if (task_)
        task_->cancel();
}

void SoftwareUpdater::setUp(bool updatesDisabled, const std::optional<std::string>& feedURL)
{
    defaults_.removeObject(feedURLKey);
    if (feedURL)
        setFeedURL(feedURL);
    if (updatesDisabled) {
        setAutomaticallyChecksForUpdates(false);
        scheduleCheck(10.0, CheckKind::informationOnly);
        return;
    }
    setUpdateCheckInterval(defaultUpdateCheckInterval);
    setAutomaticallyChecksForUpdates(true);
    // No check yet counts as one made just now: the first check waits a minute too.
    const auto last = lastUpdateCheckDate();
    const double sinceLastCheck = last ? clock_->now() - *last : 0.0;
    if (sinceLastCheck < defaultUpdateCheckInterval)
        scheduleCheck(60.0, CheckKind::background);
}

void SoftwareUpdater::setUpdateCheckInterval(double seconds)
{
    interval_ = std::max(60.0, seconds);
    if (automatic_)
        scheduleAutomaticCheck();
}

void SoftwareUpdater::setAutomaticallyChecksForUpdates(bool automatic)
{
    automatic_ = automatic;
    if (automatic_) {
        scheduleAutomaticCheck();
    } else if (automaticTimer_) {
        automaticTimer_->cancel();
        automaticTimer_.reset();
    }
}

std::optional<double> SoftwareUpdater::lastUpdateCheckDate() const
{
    const auto value = defaults_.objectForKey(lastCheckTimeKey);
    if (!value.is_number())
        return std::nullopt;
    return value.get<double>();
}

void SoftwareUpdater::scheduleAutomaticCheck()
{
    if (automaticTimer_)
        automaticTimer_->cancel();
    // Due once the interval has passed since the last check; at once when it has already.
    // No check yet, or a clock set back, counts as a check just made (the launch's own
    // delayed check comes first).
    const auto last = lastUpdateCheckDate();
    const double now = clock_->now();
    const double delay = last && *last <= now ? std::max(0.0, *last + interval_ - now) : interval_;
    automaticTimer_ = clock_->after(delay, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired())
            check(CheckKind::background);
    });
}

void SoftwareUpdater::scheduleCheck(double seconds, CheckKind kind)
{
    std::erase_if(delayedChecks_, [](const auto& timer) { return timer->isCancelled(); });
    auto timer = clock_->after(seconds, [this, kind, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired())
            check(kind);
    });
    delayedChecks_.push_back(std::move(timer));
}

void SoftwareUpdater::checkForUpdates()
{
    check(CheckKind::interactive);
}

void SoftwareUpdater::checkForUpdatesInBackground()
{
    check(CheckKind::background);
}

void SoftwareUpdater::checkForUpdateInformation()
{
    check(CheckKind::informationOnly);
}

void SoftwareUpdater::check(CheckKind kind)
{
    if (task_) {
        // The user asked while a quiet check runs: that check's outcome is shown.
        if (kind == CheckKind::interactive)
            runningKind_ = kind;
        return;
    }
    if (!feedURL_) {
        RKLog("No update check: this environment has no update feed", RKLogKind::general);
        if (kind == CheckKind::interactive && presenter_.failed)
            presenter_.failed(Error("KXUpdaterErrorDomain", 1, "There is no update feed."));
        return;
    }
    runningKind_ = kind;
    HttpSession::Request request;
    request.url = *feedURL_;
    request.timeout = std::chrono::seconds(60);
    task_ = session_.dataTask(std::move(request), [this, alive = std::weak_ptr<bool>(alive_)](Result<HttpSession::Response, Error> answer) {
        if (!alive.expired())
            finish(runningKind_, std::move(answer));
    });
    task_->resume();
}

void SoftwareUpdater::finish(CheckKind kind, Result<HttpSession::Response, Error> answer)
{
    task_.reset();
    defaults_.setDouble(lastCheckTimeKey, clock_->now());
    std::optional<Error> error;
    std::optional<Appcast::Item> update;
    if (answer.isFailure()) {
        error = answer.error();
    } else if (answer.value().statusCode != 200) {
        error = Error("KXUpdaterErrorDomain", answer.value().statusCode,
                      "The update feed answered " + std::to_string(answer.value().statusCode) + ".");
    } else {
        auto appcast = Appcast::parse(answer.value().body);
        if (appcast.isFailure())
            error = appcast.error();
        else
            update = appcast.value().newestItemAbove(currentVersion_);
    }
    if (error) {
        RKLog("Update check failed: " + error->localizedDescription, RKLogKind::general);
    } else {
        available_ = update;
        RKLog(update ? "Update check: version " + update->shortVersion + " is available" : std::string("Update check: up to date"), RKLogKind::general);
    }
    if (kind == CheckKind::interactive) {
        if (error && presenter_.failed)
            presenter_.failed(*error);
        else if (update && presenter_.updateAvailable)
            presenter_.updateAvailable(*update);
        else if (!error && presenter_.upToDate)
            presenter_.upToDate();
    } else if (kind == CheckKind::background && update && presenter_.updateAvailable) {
        presenter_.updateAvailable(*update);
    }
    if (automatic_)
        scheduleAutomaticCheck();
    if (checkDidFinish)
        checkDidFinish(kind, error ? std::nullopt : update);
}

} // namespace kx
