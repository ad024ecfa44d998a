// Settings with plain string keys. A lookup finds the stored value first, then the
// registration domain (the shipped defaults and `registerDefaults`). Stored values persist as
// one JSON object written atomically; safe to use from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {

class UserDefaults {
public:
    // Removes its observer when destroyed.
    class Observation {
    public:
        virtual ~Observation() = default;
    };
    using Token = std::unique_ptr<Observation>;

    // $XDG_CONFIG_HOME/<bundle identifier>/defaults.json, with the registration domain loaded
    // from the bundle's DefaultPreferences.json.
    static UserDefaults& standard();

    // Defaults persisted in `file` (created with its folder on the first write).
    explicit UserDefaults(std::filesystem::path file);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& file() const;

    // Merges the members of `object` into the registration domain. Registered values are
    // never written to the file.
    void registerDefaults(const nlohmann::json& object);

    // The stored value, else the registered one, else null.
    nlohmann::json objectForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;             // booleans and numbers (non-zero)
    std::int64_t integerForKey(const std::string& key) const;  // numbers (truncated) and booleans; else 0
    double doubleForKey(const std::string& key) const;         // numbers and booleans; else 0
    std::optional<std::string> stringForKey(const std::string& key) const;

    // Stores `value` (null removes the key) and tells the key's observers.
    void setObject(const std::string& key, nlohmann::json value);
    void setBool(const std::string& key, bool value) { setObject(key, value); }
    void setInteger(const std::string& key, std::int64_t value) { setObject(key, value); }
    void setDouble(const std::string& key, double value) { setObject(key, value); }
    void setString(const std::string& key, const std::string& value) { setObject(key, value); }
    void removeObject(const std::string& key) { setObject(key, nullptr); }

    // Writes pending changes now; false (and the file unchanged) when writing failed. Changes
    // are otherwise written shortly after they are made, off the main thread.
    bool synchronize();

    // Calls `handler` after the value of `key` changed through this object (stored or removed),
    // on the thread that changed it. Not called for registrations.
    [[nodiscard]] Token observe(const std::string& key, std::function<void()> handler);

    struct State; // the implementation's, shared with outstanding observations

private:
    std::shared_ptr<State> state_;
};

} // namespace kx
