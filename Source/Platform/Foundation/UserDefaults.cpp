#include "Platform/Foundation/UserDefaults.h"

#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include <glib.h>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace {

struct KeyObserver {
    std::function<void()> handler;
};

// Writes run one at a time, in order, off the calling thread.
ThreadPool& writerQueue()
{
    static auto* queue = new ThreadPool(1, "kx-defaults");
    return *queue;
}

} // namespace

struct UserDefaults::State {
    std::filesystem::path file;
    mutable std::mutex mutex;
    nlohmann::json stored = nlohmann::json::object();
    nlohmann::json registered = nlohmann::json::object();
    std::map<std::string, std::vector<std::shared_ptr<KeyObserver>>> observers;
    std::uint64_t changeCount = 0;  // changes made
    std::uint64_t writtenCount = 0; // changes on disk
    std::mutex writeMutex; // one writer at a time, so an older snapshot never lands last
    bool mayWrite = true;  // false when a settings file exists that this run could not read

    void load()
    {
        std::error_code ec;
        const bool present = std::filesystem::exists(file, ec) || ec;
        auto text = FileSystem::readFile(file);
        if (!text) {
            // A file that is there but cannot be read (permissions, I/O) holds the user's
            // settings all the same: never replace it with what this run knows.
            if (present) {
                mayWrite = false;
                g_warning("The settings file %s cannot be read; changes are not saved in this run", file.c_str());
            }
            return;
        }
        auto parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
        if (parsed.is_object()) {
            stored = std::move(parsed);
            return;
        }
        // Keep an unreadable file for the user instead of overwriting it with the next write.
        std::filesystem::rename(file, file.string() + ".unreadable", ec);
        if (ec) {
            mayWrite = false;
            g_warning("The settings file %s cannot be read nor kept aside; changes are not saved in this run",
                      file.c_str());
            return;
        }
        g_warning("The settings file %s cannot be read; it was kept as %s.unreadable", file.c_str(), file.c_str());
    }

    bool write()
    {
        std::lock_guard writing(writeMutex);
        if (!mayWrite)
            return false;
        std::string text;
        std::uint64_t count;
        {
            std::lock_guard lock(mutex);
            if (writtenCount == changeCount)
                return true;
            // Text that is not UTF-8 (a file name, say) is written with replacement
            // characters rather than throwing on the writer thread.
            text = stored.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
            count = changeCount;
        }
        if (auto error = FileSystem::atomicWrite(file, text + "\n")) {
            g_warning("Cannot save the settings: %s", error->localizedDescription.c_str());
            return false;
        }
        std::lock_guard lock(mutex);
        writtenCount = std::max(writtenCount, count);
        return true;
    }
};

namespace {

class DefaultsObservation final : public UserDefaults::Observation {
public:
    DefaultsObservation(std::weak_ptr<UserDefaults::State> state, std::string key, std::shared_ptr<KeyObserver> observer)
        : state_(std::move(state))
        , key_(std::move(key))
        , observer_(std::move(observer))
    {
    }
    ~DefaultsObservation() override
    {
        auto state = state_.lock();
        if (!state)
            return;
        std::lock_guard lock(state->mutex);
        auto it = state->observers.find(key_);
        if (it != state->observers.end()) {
            std::erase(it->second, observer_);
            if (it->second.empty())
                state->observers.erase(it);
        }
    }

private:
    std::weak_ptr<UserDefaults::State> state_;
    std::string key_;
    std::shared_ptr<KeyObserver> observer_;
};

} // namespace

UserDefaults& UserDefaults::standard()
{
    static auto* defaults = [] {
        const Bundle& bundle = Bundle::main();
        std::string identifier = bundle.bundleIdentifier();
        if (identifier.empty())
            identifier = "com.korvel.x";
        auto* instance = new UserDefaults(FileSystem::configHome() / identifier / "defaults.json");
        if (auto path = bundle.pathForResource("DefaultPreferences", "json")) {
            auto text = FileSystem::readFile(*path);
            auto parsed = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
            if (parsed.is_object())
                instance->registerDefaults(parsed);
        }
        return instance;
    }();
    return *defaults;
}

UserDefaults::UserDefaults(std::filesystem::path file)
    : state_(std::make_shared<State>())
{
    state_->file = std::move(file);
    state_->load();
}

UserDefaults::~UserDefaults()
{
    synchronize();
}

const std::filesystem::path& UserDefaults::file() const
{
    return state_->file;
}

void UserDefaults::registerDefaults(const nlohmann::json& object)
{
    if (!object.is_object())
        return;
    std::lock_guard lock(state_->mutex);
    for (auto it = object.begin(); it != object.end(); ++it)
        state_->registered[it.key()] = it.value();
}

nlohmann::json UserDefaults::objectForKey(const std::string& key) const
{
    std::lock_guard lock(state_->mutex);
    if (auto it = state_->stored.find(key); it != state_->stored.end())
        return *it;
    if (auto it = state_->registered.find(key); it != state_->registered.end())
        return *it;
    return nullptr;
}

bool UserDefaults::boolForKey(const std::string& key) const
{
    auto value = objectForKey(key);
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_number())
        return value.get<double>() != 0;
    if (value.is_string()) { // as settings written by hand often are
        auto text = value.get<std::string>();
        return text == "YES" || text == "yes" || text == "true" || text == "1";
    }
    return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const
{
    auto value = objectForKey(key);
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
            return 0;
        return static_cast<std::int64_t>(d);
    }
    if (value.is_boolean())
        return value.get<bool>() ? 1 : 0;
    return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const
{
    auto value = objectForKey(key);
    if (value.is_number())
        return value.get<double>();
    if (value.is_boolean())
        return value.get<bool>() ? 1 : 0;
    return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    auto value = objectForKey(key);
    if (value.is_string())
        return value.get<std::string>();
    return std::nullopt;
}

void UserDefaults::setObject(const std::string& key, nlohmann::json value)
{
    std::vector<std::shared_ptr<KeyObserver>> toTell;
    {
        std::lock_guard lock(state_->mutex);
        if (value.is_null())
            state_->stored.erase(key);
        else
            state_->stored[key] = std::move(value);
        ++state_->changeCount;
        if (auto it = state_->observers.find(key); it != state_->observers.end())
            toTell = it->second;
    }
    writerQueue().async(ifAlive(state_, &State::write));
    for (auto& observer : toTell)
        observer->handler();
}

bool UserDefaults::synchronize()
{
    return state_->write();
}

UserDefaults::Token UserDefaults::observe(const std::string& key, std::function<void()> handler)
{
    auto observer = std::make_shared<KeyObserver>(KeyObserver{std::move(handler)});
    {
        std::lock_guard lock(state_->mutex);
        state_->observers[key].push_back(observer);
    }
    return std::make_unique<DefaultsObservation>(state_, key, std::move(observer));
}

} // namespace kx
