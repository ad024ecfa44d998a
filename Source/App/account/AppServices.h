// The back-end services of the current environment: where the account API, the package
// stores, the event tracker, the login pages, the dashboard and the update feed live. Pages
// learn the endpoints through the bridge script.
//
// Environments: "production" and "staging" on our own hosts, "local" on 127.0.0.1 for the
// stand-in back end (Tools/backend), and in the enterprise edition "enterprise" on the domain
// the user's organisation runs. The choice is kept in the user defaults; the environment
// variable KORVEL_X_ENVIRONMENT overrides it for one run, and KORVEL_X_LOCAL_BACKEND moves the
// local environment to another loopback port. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx {

class AppServices {
public:
    // Absolute URLs of one environment's services.
    struct Endpoints {
        std::string api;
        std::string publicStore;
        std::string privateStore;
        std::string tracking;
    };

    struct Environment {
        std::string name;  // what the defaults, the project server and the logs call it
        std::string title; // what the chooser shows
        Endpoints endpoints;
        std::string login;                       // the login page, asked for with "mid"
        std::string accountDashboard;            // opened in the browser
        std::optional<std::string> updatesFeed;  // ".../appcast.xml"; none where updates are managed elsewhere
        std::string analytics;                   // the web-analytics collector
        std::string messenger;                   // the support chat's conversation API
        // Where crash reports go: "<scheme>://<public key>@<host>/<project>"; none where
        // reports are not collected.
        std::optional<std::string> crashReportingDSN;
    };

    static constexpr const char* environmentKey = "PDStoreEnvironment";
    static constexpr const char* enterpriseDomainKey = "PDEnterpriseDomain";
    static constexpr const char* environmentVariable = "KORVEL_X_ENVIRONMENT";
    static constexpr const char* localBackendVariable = "KORVEL_X_LOCAL_BACKEND";
    static constexpr const char* defaultLocalBackend = "http://127.0.0.1:4780/";
    // The crash-reporting service: the application's public key, and the Info.json keys of the
    // deployment's host and project for the hosted environments.
    static constexpr const char* crashReportingPublicKey = "4c1e9a07d35b28f6e0a7c9d21b48f3e5";
    static constexpr const char* crashReportingHostKey = "PDCrashReportingHost";
    static constexpr const char* crashReportingProjectKey = "PDCrashReportingProject";

    // The environments a user can choose, in the chooser's order.
    static std::vector<Environment> environments();
    // The environment of this run: the variable, else the stored choice, else production; in
    // the enterprise edition with a stored domain, that domain's.
    static Environment currentEnvironment();
    // Stores the choice; an unknown name is refused (false).
    static bool setCurrentEnvironment(const std::string& name);

    static Endpoints currentEndpoints();
    // The current endpoints as one JSON object ("api", "publicStore", "privateStore",
    // "tracking"); "{}" when they cannot be encoded.
    static std::string endpointsJSON();
    static std::string endpointsJSON(const Endpoints& endpoints);

    static std::string accountDashboardURL();
    static std::optional<std::string> updatesFeedURL();
    static std::optional<std::string> crashReportingDSN();
    // The login page of the current environment for this machine.
    static std::string loginURL(const std::string& machineIdentifier);
    // The signed-in user's record, "studio/me" of the account API.
    static std::string userRecordURL();

    // The enterprise environment on `domain` (a host name, optionally with a port), or none
    // when the text is not one. Loopback hosts are reached over plain HTTP, all others over
    // HTTPS.
    static std::optional<Environment> enterpriseEnvironment(const std::string& domain);
    // "detect.txt" on that domain, which answers enterpriseDetectionAnswer when it runs our
    // back end.
    static std::optional<std::string> enterpriseDetectURL(const std::string& domain);
    static constexpr const char* enterpriseDetectionAnswer = "korvel-enterprise";

    // A modal alert with one radio button per environment; a different choice runs the
    // logout handler first (the old token belongs to the old back end), then is stored.
    static void chooseEnvironment();
    // Run when the user changes the environment and must sign out.
    static void setLogoutHandler(std::function<void()> handler);
};

} // namespace kx
