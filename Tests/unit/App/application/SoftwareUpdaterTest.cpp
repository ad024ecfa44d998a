// The update feed read as hostile text, versions compared, and the updater's schedule run on
// a clock of the test's against the stand-in back end's feed.
#include <gtest/gtest.h>

#include <map>

#include "App/application/SoftwareUpdater.h"
#include "support/Spin.h"
#include "support/StandInBackend.h"
#include "support/TestPaths.h"

using kx::Appcast;
using kx::SoftwareUpdater;

namespace {

std::string feed(const std::string& items)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:s=\"urn:x\"><channel><title>t</title>" + items
        + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& shortVersion, const std::string& url)
{
    return "<item><title>Korvel X " + shortVersion + "</title><s:version>" + version + "</s:version><s:shortVersionString>"
        + shortVersion + "</s:shortVersionString><enclosure url=\"" + url + "\" length=\"0\"/></item>";
}

// Hours pass at once: timers fire when the test moves the clock past them.
class TestClock : public SoftwareUpdater::Clock {
public:
    struct Pending : kx::MainQueue::Timer {
        double due;
        std::function<void()> work;
        bool cancelled = false;
        void cancel() override { cancelled = true; }
        bool isCancelled() const override { return cancelled; }
    };

    double now() const override { return now_; }
    std::shared_ptr<kx::MainQueue::Timer> after(double seconds, std::function<void()> work) override
    {
        auto timer = std::make_shared<Pending>();
        timer->due = now_ + seconds;
        timer->work = std::move(work);
        timers_.push_back(timer);
        return timer;
    }
    // The delays from now of the timers still waiting, soonest first.
    std::vector<double> waiting() const
    {
        std::vector<double> delays;
        for (const auto& timer : timers_) {
            if (!timer->cancelled && timer->work)
                delays.push_back(timer->due - now_);
        }
        std::sort(delays.begin(), delays.end());
        return delays;
    }
    // Moves the clock on, firing what falls due in order.
    void advance(double seconds)
    {
        const double end = now_ + seconds;
        for (;;) {
            std::shared_ptr<Pending> next;
            for (const auto& timer : timers_) {
                if (!timer->cancelled && timer->work && timer->due <= end && (!next || timer->due < next->due))
                    next = timer;
            }
            if (!next)
                break;
            now_ = next->due;
            std::exchange(next->work, nullptr)();
        }
        now_ = end;
    }

private:
    double now_ = 1'800'000'000.0;
    std::vector<std::shared_ptr<Pending>> timers_;
};

struct Shown {
    std::vector<std::string> updates;
    int upToDate = 0;
    int failures = 0;
};

struct UpdaterFixture {
    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults{folder / "defaults.json"};
    std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
    Shown shown;
    std::vector<SoftwareUpdater::CheckKind> finished;
    std::unique_ptr<SoftwareUpdater> updater;

    explicit UpdaterFixture(const std::string& currentVersion = "1")
    {
        SoftwareUpdater::Presenter presenter;
        presenter.updateAvailable = [this](const Appcast::Item& update) { shown.updates.push_back(update.shortVersion); };
        presenter.upToDate = [this] { ++shown.upToDate; };
        presenter.failed = [this](const kx::Error&) { ++shown.failures; };
        updater = std::make_unique<SoftwareUpdater>(defaults, clock, currentVersion, presenter);
        updater->checkDidFinish = [this](SoftwareUpdater::CheckKind kind, const auto&) { finished.push_back(kind); };
    }
    void lastCheckHoursAgo(double hours) { defaults.setDouble(SoftwareUpdater::lastCheckTimeKey, clock->now() - hours * 3600); }
    bool waitForChecks(std::size_t count)
    {
        return kxtest::spinUntil([&] { return finished.size() >= count; }, std::chrono::seconds(20));
    }
};

kxtest::StandInBackend& backend()
{
    static kxtest::StandInBackend* server = [] {
        auto* started = new kxtest::StandInBackend();
        EXPECT_TRUE(started->start());
        return started;
    }();
    return *server;
}

void announce(const std::string& version, const std::string& shortVersion)
{
    backend().request("POST", "_test/appcast", nlohmann::json{{"version", version}, {"shortVersion", shortVersion}}.dump());
}

} // namespace

TEST(Appcast, ItemsWithABuildVersionAndAnAcceptableLinkAreRead)
{
    const auto appcast = Appcast::parse(feed(item("7", "1.2.0", "https://downloads.example.com/k-1.2.0.tar.gz")
                                             + item("", "1.3.0", "https://downloads.example.com/k.tar.gz")
                                             + item("9", "2.0.0", "http://downloads.example.com/k-2.tar.gz")
                                             + item("8", "1.4.0", "http://127.0.0.1:4780/k-1.4.tar.gz")
                                             + item("10", "3.0.0", "https://user:pw@downloads.example.com/k.tar.gz")
                                             + "<item><title>no enclosure</title><s:version>11</s:version></item>"));
    ASSERT_TRUE(appcast.isSuccess()) << appcast.error().localizedFailureReason;
    ASSERT_EQ(appcast.value().items().size(), 2u);
    EXPECT_EQ(appcast.value().items()[0].shortVersion, "1.2.0");
    EXPECT_EQ(appcast.value().newestItemAbove("7")->version, "8");
    EXPECT_FALSE(appcast.value().newestItemAbove("8"));
    EXPECT_FALSE(appcast.value().newestItemAbove("100"));
}

TEST(Appcast, AFeedThatIsNotOneIsAnError)
{
    for (const std::string& text : {std::string(), std::string("not xml"), std::string("<rss><channel><item>"),
                                    std::string("<!DOCTYPE x [<!ENTITY a \"aaaa\">]><rss>&a;</rss>"),
                                    feed(std::string(Appcast::maximumSize, ' '))})
        EXPECT_TRUE(Appcast::parse(text).isFailure()) << text.substr(0, 60);
    std::string many;
    for (std::size_t i = 0; i <= Appcast::maximumItems; ++i)
        many += "<item></item>";
    EXPECT_TRUE(Appcast::parse(feed(many)).isFailure());
}

TEST(Appcast, VersionsCompareByTheirParts)
{
    EXPECT_EQ(Appcast::compareVersions("1.10", "1.9"), 1);
    EXPECT_EQ(Appcast::compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(Appcast::compareVersions("2", "10"), -1);
    EXPECT_EQ(Appcast::compareVersions("1.0b1", "1.0"), -1);
    EXPECT_EQ(Appcast::compareVersions("1.0b2", "1.0b10"), -1);
    EXPECT_EQ(Appcast::compareVersions("007", "7"), 0);
    EXPECT_EQ(Appcast::compareVersions("99999999999999999999999", "1"), 1);
}

TEST(SoftwareUpdater, WithUpdatesDisabledOnlyTheQuietInformationCheckRuns)
{
    announce("2", "1.1.0");
    UpdaterFixture fixture;
    fixture.defaults.setString(SoftwareUpdater::feedURLKey, "https://elsewhere.example.com/appcast.xml");
    fixture.updater->setUp(true, backend().url() + "appcast.xml");
    EXPECT_TRUE(fixture.defaults.objectForKey(SoftwareUpdater::feedURLKey).is_null());
    EXPECT_FALSE(fixture.updater->automaticallyChecksForUpdates());
    EXPECT_EQ(fixture.clock->waiting(), std::vector<double>{10.0});
    fixture.clock->advance(10);
    ASSERT_TRUE(fixture.waitForChecks(1));
    EXPECT_EQ(fixture.finished[0], SoftwareUpdater::CheckKind::informationOnly);
    ASSERT_TRUE(fixture.updater->availableUpdate());
    EXPECT_EQ(fixture.updater->availableUpdate()->shortVersion, "1.1.0");
    EXPECT_TRUE(fixture.shown.updates.empty());
    fixture.clock->advance(48 * 3600);
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(fixture.finished.size(), 1u);
}

TEST(SoftwareUpdater, ALastCheckAnHourAgoChecksInTheBackgroundAfterAMinute)
{
    announce("2", "1.1.0");
    UpdaterFixture fixture;
    fixture.lastCheckHoursAgo(1);
    fixture.updater->setUp(false, backend().url() + "appcast.xml");
    EXPECT_TRUE(fixture.updater->automaticallyChecksForUpdates());
    // The background check a minute from now, the automatic one when four hours are up.
    EXPECT_EQ(fixture.clock->waiting(), (std::vector<double>{60.0, 3 * 3600.0}));
    fixture.clock->advance(60);
    ASSERT_TRUE(fixture.waitForChecks(1));
    EXPECT_EQ(fixture.finished[0], SoftwareUpdater::CheckKind::background);
    EXPECT_EQ(fixture.shown.updates, std::vector<std::string>{"1.1.0"});
    // The check just made moves the automatic one four hours on.
    EXPECT_EQ(fixture.clock->waiting(), std::vector<double>{4 * 3600.0});
    EXPECT_DOUBLE_EQ(*fixture.updater->lastUpdateCheckDate(), fixture.clock->now());
}

TEST(SoftwareUpdater, WithNoCheckYetTheFirstWaitsAMinute)
{
    announce("2", "1.1.0");
    UpdaterFixture fixture;
    fixture.updater->setUp(false, backend().url() + "appcast.xml");
    EXPECT_TRUE(fixture.updater->automaticallyChecksForUpdates());
    EXPECT_EQ(fixture.clock->waiting(), (std::vector<double>{60.0, 4 * 3600.0}));
    fixture.clock->advance(59);
    kxtest::spinFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(fixture.finished.empty());
    EXPECT_FALSE(fixture.updater->isChecking());
    fixture.clock->advance(1);
    ASSERT_TRUE(fixture.waitForChecks(1));
    EXPECT_EQ(fixture.finished[0], SoftwareUpdater::CheckKind::background);
    EXPECT_EQ(fixture.clock->waiting(), std::vector<double>{4 * 3600.0});
}

TEST(SoftwareUpdater, ALastCheckFiveHoursAgoIsDueAtOnceAndRepeatsEveryFourHours)
{
    announce("1", "1.0.0");
    UpdaterFixture fixture;
    fixture.lastCheckHoursAgo(5);
    fixture.updater->setUp(false, backend().url() + "appcast.xml");
    EXPECT_EQ(fixture.clock->waiting(), std::vector<double>{0.0});
    fixture.clock->advance(0);
    ASSERT_TRUE(fixture.waitForChecks(1));
    fixture.clock->advance(4 * 3600);
    ASSERT_TRUE(fixture.waitForChecks(2));
    // Up to date: a background check shows nothing.
    EXPECT_EQ(fixture.shown.upToDate, 0);
    EXPECT_TRUE(fixture.shown.updates.empty());
}

TEST(SoftwareUpdater, TheMenuCommandShowsEveryOutcome)
{
    announce("1", "1.0.0");
    UpdaterFixture fixture;
    fixture.updater->setFeedURL(backend().url() + "appcast.xml");
    fixture.updater->checkForUpdates();
    ASSERT_TRUE(fixture.waitForChecks(1));
    EXPECT_EQ(fixture.shown.upToDate, 1);

    announce("3", "2.0.0");
    fixture.updater->checkForUpdates();
    ASSERT_TRUE(fixture.waitForChecks(2));
    EXPECT_EQ(fixture.shown.updates, std::vector<std::string>{"2.0.0"});

    fixture.updater->setFeedURL(backend().url() + "no-such-feed.xml");
    fixture.updater->checkForUpdates();
    ASSERT_TRUE(fixture.waitForChecks(3));
    EXPECT_EQ(fixture.shown.failures, 1);
    announce("1", "1.0.0");
}
