// The launch's default settings and web analytics: the shipped defaults registered, the
// data-collection switch of the bundle honoured, the analytics site configured with its
// periodic events and the launch events, and the machine's model for the support chat.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

class PDGoogleAnalytics;

class UsageMetrics {
public:
    static constexpr const char* dataCollectionDisabledKey = "PDDataCollectionDisabled";
    static constexpr const char* closeAlwaysConfirmsChangesKey = "NSCloseAlwaysConfirmsChanges";
    static constexpr const char* siteId = "UA-52918364-7";
    static constexpr const char* firstLaunchKey = "firstlaunch";

    // Registers the bundle's DefaultPreferences.json, forgets "NSCloseAlwaysConfirmsChanges"
    // and, when the bundle says data collection is disabled, stores that for good.
    static void setUpDefaults(const Bundle& bundle, UserDefaults& defaults);

    // Data collection is off when the user defaults say so, or when the bundle does (which
    // `setUpDefaults` only stores later in the launch).
    static bool isDataCollectionDisabled(const Bundle& bundle, const UserDefaults& defaults);

    // Switches the tracker off when data collection is disabled; otherwise configures it,
    // starts the periodic events and sends the launch events. `firstLaunch` runs when this is
    // the user's first launch. `isActive` answers whether the application is active.
    static void setUpMetrics(PDGoogleAnalytics& analytics, const Bundle& bundle, UserDefaults& defaults,
                             const std::function<void()>& firstLaunch, std::function<bool()> isActive);

    // "<vendor> <product>" from the firmware's DMI table under `dmiFolder`, else the kernel's
    // machine name.
    static std::string deviceModel(const std::filesystem::path& dmiFolder = "/sys/class/dmi/id");
};

} // namespace kx
