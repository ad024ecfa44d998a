// The start page's requests and the start window's calls into the page. The page posts named
// messages (method and one argument) on the "_webkit" handler; the window answers by calling a
// page function with JSON arguments. Examples and tutorials are packages among the start
// page's resources, opened by name through the document controller.
//
// Everything the page sends is hostile: names never leave their resource folder, and only web
// and mail links reach the desktop. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class UserDefaults;

// Names and texts shared with the page, the tracker and the experiments.
inline constexpr const char* MetricsIPCMetricsUIInteraction = "metricsUIInteraction";
inline constexpr const char* ABTestIPCEventTestShown = "abTestShown";
inline constexpr const char* ABTestIPCSet = "_setABtests";
inline constexpr const char* MetricsKeysEventNameUIInteraction = "ui_interaction";
inline constexpr const char* MetricsKeysElementIdentifier = "id";
inline constexpr const char* MetricsKeysPage = "page";
inline constexpr const char* MetricsKeysPageWelcomeWindow = "welcome-window";
inline constexpr const char* MetricsKeysEventNameTestShown = "ab_test_shown";
inline constexpr const char* MetricsKeysEventParamTestName = "testName";
inline constexpr const char* MetricsKeysEventParamTestGroup = "testGroup";
inline constexpr const char* ABTestExperimentWelcomeWindowSketch = "welcomeWindowSketch";
inline constexpr const char* ABTestKeyDismissedTutorialCTA = "dismissedTutorialCTA";
inline constexpr const char* UserDefaultsDismissedTutorialCTA = "UserDefaultsDismissedTutorialCTA";

class WelcomePageBridge {
public:
    // Called once; none means the document opened.
    using Completion = std::function<void(std::optional<Error> error)>;

    // What the bridge reaches outside the page. `standard()` is the process's own.
    struct Environment {
        std::function<void(const std::string& event, const nlohmann::json& data)> track;
        std::function<std::map<std::string, std::string>()> selections;
        // Hands a web or mail link to the desktop.
        std::function<bool(const std::string& url)> openURL;
        std::function<void(const std::string& name, Completion completion)> openExample;
        std::function<void(const std::string& name, Completion completion)> openTutorial;
        UserDefaults* defaults = nullptr;
        static Environment standard();
    };

    // `evaluateJavaScript` runs a script in the page (later, without answer); `closeWindow`
    // closes the start window after an example or tutorial opened.
    WelcomePageBridge(Environment environment, std::function<void(std::string script)> evaluateJavaScript,
                      std::function<void()> closeWindow);

    Environment& environment() { return environment_; }

    // One request of the page; unknown methods and arguments of the wrong type are ignored.
    void handleBridgeMethod(const std::string& method, const nlohmann::json& arguments);
    // Calls the page function `name` with the arguments, when the page defines it.
    void ipcCallWithArray(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments);
    // The experiment report of a window put on screen.
    void reportExperimentShown();

    // The script of such a call: "window.NAME && window.NAME(ARGS)", an argument without a
    // JSON form passed as null.
    static std::string ipcCallScript(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments);
    // Whether the page's "link" may go to the desktop: web and mail links only.
    static bool isOpenableLink(const std::string& url);

    // Opens the example `name` (with or without ".korvelx") from the start page's examples as a
    // new untitled document; the completion is called before this returns.
    static void openExample(const std::string& name, Completion completion);
    // Opens the tutorial `name` (with or without ".korveltutorial"); the completion may be
    // called later.
    static void openTutorial(const std::string& name, Completion completion);

    // The package for `name` with `extension` in `folder`: refused when the name is empty,
    // holds "/" or ".." or a NUL, or when the package (its links resolved) is not a file or
    // folder inside the folder; "not found" also when it does not exist.
    static Result<std::filesystem::path, Error> resourceURL(const std::filesystem::path& folder, const std::string& name,
                                                            const std::string& extension);
    // The name without its path extension ("a.b" -> "a", ".hidden" stays).
    static std::string deletingPathExtension(const std::string& name);
    // "example-landing" -> "Landing example".
    static std::string exampleDisplayName(const std::string& base);
    // The first letter of each space-separated word upper case, the rest lower case.
    static std::string capitalized(const std::string& text);
    // The folders of the start page's examples and tutorials.
    static std::filesystem::path examplesFolder();
    static std::filesystem::path tutorialsFolder();

private:
    Environment environment_;
    std::function<void(std::string script)> evaluateJavaScript_;
    std::function<void()> closeWindow_;
    // Completions that come later do nothing once the bridge is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kx
