#include "App/welcome/WelcomePageBridge.h"

#include <glib.h>

#include <iostream>

#include "App/account/Experiments.h"
#include "App/account/KorvelTracking.h"
#include "App/shell/RKLog.h"
#include "App/welcome/WelcomeDocumentHook.h"
#include "App/web/WebViewController.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

constexpr const char* exampleExtension = "korvelx";
constexpr const char* tutorialExtension = "korveltutorial";

// The page's text on one line of our output: control characters would start lines of their own.
std::string printable(const std::string& text)
{
    std::string shown = text;
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return shown;
}

Error notFound(const std::string& fileName)
{
    return Error("NSCocoaErrorDomain", -1100,
                 "The file \u201c" + printable(fileName) + "\u201d couldn\u2019t be opened because there is no such file.");
}

void reportFailure(const std::string& name, const Error& error)
{
    std::cout << "Cannot open example: " << printable(name) << " " << error.localizedDescription << std::endl;
}

} // namespace

WelcomePageBridge::Environment WelcomePageBridge::Environment::standard()
{
    Environment environment;
    environment.track = [](const std::string& event, const nlohmann::json& data) {
        KorvelTracking::shared().track(event, data);
    };
    environment.selections = [] { return Experiments::selections(); };
    environment.openURL = [](const std::string& url) { return Workspace::shared().openURL(url); };
    environment.openExample = &WelcomePageBridge::openExample;
    environment.openTutorial = &WelcomePageBridge::openTutorial;
    environment.defaults = &UserDefaults::standard();
    return environment;
}

WelcomePageBridge::WelcomePageBridge(Environment environment, std::function<void(std::string script)> evaluateJavaScript,
                                     std::function<void()> closeWindow)
    : environment_(std::move(environment))
    , evaluateJavaScript_(std::move(evaluateJavaScript))
    , closeWindow_(std::move(closeWindow))
{
}

void WelcomePageBridge::handleBridgeMethod(const std::string& method, const nlohmann::json& arguments)
{
    const std::string* text = arguments.is_string() ? &arguments.get_ref<const std::string&>() : nullptr;
    if (method == MetricsIPCMetricsUIInteraction) {
        if (text && environment_.track)
            environment_.track(MetricsKeysEventNameUIInteraction,
                               {{MetricsKeysElementIdentifier, *text}, {MetricsKeysPage, MetricsKeysPageWelcomeWindow}});
    } else if (method == "link") {
        if (!text || text->empty() || !environment_.openURL)
            return;
        // The page is no judge of what the desktop may open: files and other handlers stay shut.
        if (!isOpenableLink(*text)) {
            RKLog("The start page asked to open a link that is not a web or mail link", RKLogKind::general);
            return;
        }
        environment_.openURL(*text);
    } else if (method == "openExample") {
        if (!text || !environment_.openExample)
            return;
        environment_.openExample(*text, [alive = std::weak_ptr<int>(alive_), close = closeWindow_](std::optional<Error> error) {
            if (!error && !alive.expired() && close)
                close();
        });
    } else if (method == "openTutorial") {
        if (!text || !environment_.openTutorial)
            return;
        environment_.openTutorial(*text, [alive = std::weak_ptr<int>(alive_), close = closeWindow_](std::optional<Error> error) {
            if (!error && !alive.expired() && close)
                close();
        });
    } else if (method == ABTestIPCEventTestShown) {
        if (!text || !environment_.selections || !environment_.track)
            return;
        const auto selections = environment_.selections();
        if (auto variant = selections.find(*text); variant != selections.end())
            environment_.track(MetricsKeysEventNameTestShown,
                               {{MetricsKeysEventParamTestName, *text}, {MetricsKeysEventParamTestGroup, variant->second}});
    } else if (method == "ready") {
        const bool dismissed = environment_.defaults && environment_.defaults->boolForKey(UserDefaultsDismissedTutorialCTA);
        nlohmann::json selections = nlohmann::json::object();
        if (environment_.selections) {
            for (const auto& [experiment, variant] : environment_.selections())
                selections[experiment] = variant;
        }
        ipcCallWithArray(ABTestIPCSet, {selections, nlohmann::json{{ABTestKeyDismissedTutorialCTA, dismissed}}});
    } else if (method == "dismissTutorialCta") {
        if (environment_.defaults)
            environment_.defaults->setBool(UserDefaultsDismissedTutorialCTA, true);
    }
}

std::string WelcomePageBridge::ipcCallScript(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments)
{
    return "window." + name + " && window." + name + "(" + WebViewController::javaScriptArguments(arguments) + ")";
}

void WelcomePageBridge::ipcCallWithArray(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments)
{
    if (evaluateJavaScript_)
        evaluateJavaScript_(ipcCallScript(name, arguments));
}

void WelcomePageBridge::reportExperimentShown()
{
    handleBridgeMethod(ABTestIPCEventTestShown, ABTestExperimentWelcomeWindowSketch);
}

bool WelcomePageBridge::isOpenableLink(const std::string& url)
{
    // A URL has no spaces or control characters (GLib's parser lets some through).
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return false;
    }
    return g_uri_is_valid(url.c_str(), G_URI_FLAGS_NONE, nullptr) && WebViewController::opensNewWindowRequestInSystem(url);
}

std::string WelcomePageBridge::deletingPathExtension(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot <= start)
        return name;
    return name.substr(0, dot);
}

std::string WelcomePageBridge::capitalized(const std::string& text)
{
    if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr))
        return text;
    std::string result;
    bool wordStart = true;
    for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        const gunichar shown = c == ' ' ? c : wordStart ? g_unichar_totitle(c) : g_unichar_tolower(c);
        char buffer[6];
        result.append(buffer, std::size_t(g_unichar_to_utf8(shown, buffer)));
        wordStart = c == ' ';
    }
    return result;
}

std::string WelcomePageBridge::exampleDisplayName(const std::string& base)
{
    std::string name = base;
    constexpr std::string_view prefix = "example-";
    for (std::size_t at = name.find(prefix); at != std::string::npos; at = name.find(prefix, at))
        name.erase(at, prefix.size());
    return capitalized(name) + " example";
}

std::filesystem::path WelcomePageBridge::examplesFolder()
{
    return Bundle::main().resourcePath() / "WelcomeWindow" / "examples";
}

std::filesystem::path WelcomePageBridge::tutorialsFolder()
{
    return Bundle::main().resourcePath() / "WelcomeWindow" / "tutorials";
}

Result<std::filesystem::path, Error> WelcomePageBridge::resourceURL(const std::filesystem::path& folder, const std::string& name,
                                                                  const std::string& extension)
{
    using Answer = Result<std::filesystem::path, Error>;
    const std::string base = deletingPathExtension(name);
    const std::string fileName = base + "." + extension;
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos
        || name.find('\0') != std::string::npos)
        return Answer::failure(notFound(fileName));
    // A link inside the folder may point anywhere: what counts is where it leads.
    const std::optional<std::filesystem::path> realFolder = FileSystem::realPath(folder);
    const std::optional<std::filesystem::path> realFile = FileSystem::realPath(folder / fileName);
    if (!realFolder || !realFile || *realFile == *realFolder || !FileSystem::isInside(*realFile, *realFolder)
        || !(std::filesystem::is_regular_file(*realFile) || std::filesystem::is_directory(*realFile)))
        return Answer::failure(notFound(fileName));
    return Answer::success(*realFile);
}

void WelcomePageBridge::openExample(const std::string& name, Completion completion)
{
    const auto url = resourceURL(examplesFolder(), name, exampleExtension);
    std::optional<Error> error;
    if (url.isFailure()) {
        error = url.error();
    } else {
        auto& open = WelcomeDocumentHook::shared().openTemplate;
        error = open ? open(url.value(), exampleDisplayName(deletingPathExtension(name))) : WelcomeDocumentHook::unavailableError();
    }
    if (error)
        reportFailure(name, *error);
    if (completion)
        completion(std::move(error));
}

void WelcomePageBridge::openTutorial(const std::string& name, Completion completion)
{
    const auto url = resourceURL(tutorialsFolder(), name, tutorialExtension);
    if (url.isFailure()) {
        reportFailure(name, url.error());
        if (completion)
            completion(url.error());
        return;
    }
    auto& open = WelcomeDocumentHook::shared().openDocument;
    if (!open) {
        if (completion)
            completion(WelcomeDocumentHook::unavailableError());
        return;
    }
    // Once, whatever the document controller does with it.
    auto once = std::make_shared<Completion>(std::move(completion));
    open(url.value(), true, [once](std::optional<Error> error) {
        if (Completion handler = std::exchange(*once, nullptr))
            handler(std::move(error));
    });
}

} // namespace kx
