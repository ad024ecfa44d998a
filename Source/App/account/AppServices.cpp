#include "App/account/AppServices.h"

#include <cstdlib>

#include <glib.h>
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "App/shell/AppInfo.h"
#include "App/shell/ModalAlert.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/UserDefaults.h"

namespace kx {

namespace {

std::function<void()>& logoutHandler()
{
    static std::function<void()> handler;
    return handler;
}

AppServices::Environment hosted(std::string name, std::string title, const std::string& domain)
{
    AppServices::Environment environment;
    environment.name = std::move(name);
    environment.title = std::move(title);
    environment.endpoints = {
        "https://api." + domain + "/",
        "https://store." + domain + "/",
        "https://private-store." + domain + "/",
        "https://events." + domain + "/track",
    };
    environment.login = "https://" + domain + "/login";
    environment.accountDashboard = "https://" + domain + "/dashboard";
    environment.updatesFeed = "https://updates." + domain + "/appcast.xml";
    environment.analytics = "https://events." + domain + "/collect";
    environment.messenger = "https://api." + domain + "/messenger/";
    const Bundle& bundle = AppInfo::current()->bundle();
    const auto host = bundle.stringForInfoKey(AppServices::crashReportingHostKey);
    const auto project = bundle.stringForInfoKey(AppServices::crashReportingProjectKey);
    if (host && project)
        environment.crashReportingDSN = "https://" + std::string(AppServices::crashReportingPublicKey) + "@" + *host + "/" + *project;
    return environment;
}

// Every service below one base URL, as the stand-in and an enterprise server lay them out.
AppServices::Environment underOneRoot(std::string name, std::string title, const std::string& base)
{
    AppServices::Environment environment;
    environment.name = std::move(name);
    environment.title = std::move(title);
    environment.endpoints = {base + "api/", base + "store/", base + "private-store/", base + "track"};
    environment.login = base + "login";
    environment.accountDashboard = base + "dashboard";
    environment.updatesFeed = base + "appcast.xml";
    environment.analytics = base + "collect";
    environment.messenger = base + "api/messenger/";
    return environment;
}

bool isLoopback(const std::string& host)
{
    return host == "127.0.0.1" || host == "localhost" || host == "::1" || host == "[::1]";
}

// The variable's URL when it is plain HTTP on a loopback host, else the default: the local
// environment must never send the token anywhere but this machine.
std::string localBackend()
{
    const char* value = std::getenv(AppServices::localBackendVariable);
    if (!value || !*value)
        return AppServices::defaultLocalBackend;
    GUri* uri = g_uri_parse(value, G_URI_FLAGS_NONE, nullptr);
    std::string result;
    if (uri && g_strcmp0(g_uri_get_scheme(uri), "http") == 0 && g_uri_get_host(uri)
        && isLoopback(g_uri_get_host(uri)) && !g_uri_get_query(uri) && !g_uri_get_userinfo(uri)) {
        result = value;
        if (result.back() != '/')
            result += '/';
    }
    if (uri)
        g_uri_unref(uri);
    if (result.empty()) {
        static bool told = false;
        if (!std::exchange(told, true))
            RKLog(std::string("Ignoring ") + AppServices::localBackendVariable + ": not an http URL on this machine", RKLogKind::general);
        return AppServices::defaultLocalBackend;
    }
    return result;
}

} // namespace

std::vector<AppServices::Environment> AppServices::environments()
{
    const std::string local = localBackend();
    auto standIn = underOneRoot("local", "Local (stand-in back end on this machine)", local);
    // The stand-in takes crash reports too: "http://<key>@127.0.0.1:<port>/1".
    standIn.crashReportingDSN = "http://" + std::string(crashReportingPublicKey) + "@" + local.substr(7, local.size() - 8) + "/1";
    return {
        hosted("production", "Production", "korvel.com"),
        hosted("staging", "Staging", "staging.korvel.com"),
        std::move(standIn),
    };
}

AppServices::Environment AppServices::currentEnvironment()
{
    if (AppInfo::current()->isEnterprise()) {
        if (auto domain = UserDefaults::standard().stringForKey(enterpriseDomainKey)) {
            if (auto environment = enterpriseEnvironment(*domain))
                return *environment;
        }
    }
    std::optional<std::string> name;
    if (const char* variable = std::getenv(environmentVariable); variable && *variable)
        name = variable;
    else
        name = UserDefaults::standard().stringForKey(environmentKey);
    auto all = environments();
    if (name) {
        for (auto& environment : all) {
            if (environment.name == *name)
                return environment;
        }
    }
    return all.front();
}

bool AppServices::setCurrentEnvironment(const std::string& name)
{
    for (const auto& environment : environments()) {
        if (environment.name == name) {
            UserDefaults::standard().setString(environmentKey, name);
            return true;
        }
    }
    return false;
}

AppServices::Endpoints AppServices::currentEndpoints()
{
    return currentEnvironment().endpoints;
}

std::string AppServices::endpointsJSON()
{
    return endpointsJSON(currentEndpoints());
}

std::string AppServices::endpointsJSON(const Endpoints& endpoints)
{
    try {
        return nlohmann::json{
            {"api", endpoints.api},
            {"publicStore", endpoints.publicStore},
            {"privateStore", endpoints.privateStore},
            {"tracking", endpoints.tracking},
        }.dump();
    } catch (const nlohmann::json::exception&) {
        return "{}"; // text that is not UTF-8
    }
}

std::string AppServices::accountDashboardURL()
{
    return currentEnvironment().accountDashboard;
}

std::optional<std::string> AppServices::updatesFeedURL()
{
    return currentEnvironment().updatesFeed;
}

std::optional<std::string> AppServices::crashReportingDSN()
{
    return currentEnvironment().crashReportingDSN;
}

std::string AppServices::loginURL(const std::string& machineIdentifier)
{
    char* escaped = g_uri_escape_string(machineIdentifier.c_str(), nullptr, false);
    std::string url = currentEnvironment().login + "?mid=" + escaped;
    g_free(escaped);
    return url;
}

std::string AppServices::userRecordURL()
{
    return currentEndpoints().api + "studio/me";
}

std::optional<AppServices::Environment> AppServices::enterpriseEnvironment(const std::string& domain)
{
    // A host name of letters, digits, dots and hyphens, an optional port: nothing that could
    // add a path, credentials or another scheme to the URLs made from it.
    if (domain.empty() || domain.size() > 253)
        return std::nullopt;
    const auto colon = domain.find(':');
    const std::string host = domain.substr(0, colon);
    if (host.empty() || host.front() == '.' || host.front() == '-')
        return std::nullopt;
    for (char c : host) {
        if (!g_ascii_isalnum(c) && c != '.' && c != '-')
            return std::nullopt;
    }
    if (colon != std::string::npos) {
        const std::string port = domain.substr(colon + 1);
        if (port.empty() || port.size() > 5)
            return std::nullopt;
        for (char c : port) {
            if (!g_ascii_isdigit(c))
                return std::nullopt;
        }
        if (std::stoi(port) < 1 || std::stoi(port) > 65535)
            return std::nullopt;
    }
    std::string lower = domain;
    for (char& c : lower)
        c = g_ascii_tolower(c);
    const std::string scheme = isLoopback(host) ? "http://" : "https://";
    auto environment = underOneRoot("enterprise", "Enterprise", scheme + lower + "/");
    environment.updatesFeed.reset(); // the organisation manages its updates
    return environment;
}

std::optional<std::string> AppServices::enterpriseDetectURL(const std::string& domain)
{
    auto environment = enterpriseEnvironment(domain);
    if (!environment)
        return std::nullopt;
    return environment->login.substr(0, environment->login.size() - std::string("login").size()) + "detect.txt";
}

void AppServices::chooseEnvironment()
{
    const auto all = environments();
    const std::string current = currentEnvironment().name;
    auto alert = ModalAlert::alertWithMessageText("Choose the back-end environment", "OK", std::string("Cancel"),
                                                  std::nullopt,
                                                  "Korvel X signs in to and talks with the environment you choose.");
    alert->setAlertStyle(Alert::Style::informational);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    std::vector<GtkWidget*> buttons;
    GSList* group = nullptr;
    for (const auto& environment : all) {
        GtkWidget* button = gtk_radio_button_new_with_label(group, environment.title.c_str());
        group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(button));
        gtk_widget_set_name(button, environment.name.c_str());
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), environment.name == current);
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        buttons.push_back(button);
    }
    gtk_widget_show_all(box);
    alert->setAccessoryView(box);
    if (alert->runModal() != Alert::firstButtonReturn)
        return;
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(buttons[i])))
            continue;
        const std::string& chosen = all[i].name;
        if (chosen == current && UserDefaults::standard().stringForKey(environmentKey) == chosen)
            return;
        if (chosen != current && logoutHandler())
            logoutHandler()();
        setCurrentEnvironment(chosen);
        RKLog("Back-end environment: " + chosen, RKLogKind::general);
        return;
    }
}

void AppServices::setLogoutHandler(std::function<void()> handler)
{
    logoutHandler() = std::move(handler);
}

} // namespace kx
