// One project server per document: runs the Node.js program of Resources/server with its
// command line and environment, learns its URL from the first state line on standard output,
// then talks to it over socket.io with the document's authorization token. Commands wait in
// one queue until the socket is connected. Changes are announced by notifications whose
// object is the controller. Main thread only.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/server/ServerCommand.h"
#include "App/server/ServerState.h"

namespace kx {

class Process;
class SocketIOClient;
struct Notification;

// Posted (coalesced per controller, once the main loop is idle) after `state` changed,
// including when `stop()` cleared it.
inline constexpr const char* ServerControllerStateDidUpdate = "ServerControllerStateDidUpdateNotification";
// Posted after `previewData` changed.
inline constexpr const char* ServerControllerPreviewDataDidUpdate = "ServerControllerPreviewDataDidUpdateNotification";
// Posted when the server asks its clients to reload the preview.
inline constexpr const char* ServerControllerPreviewShouldReload = "ServerControllerPreviewShouldReloadNotification";
// Posted for each output line of the server: user info {"log": text}, or {"log": record} for
// an error record (`ServerError`).
inline constexpr const char* ServerControllerDidReceiveLog = "ServerControllerDidReceiveLogNotification";
// Posted by a document's device manager after it read a device catalogue.
inline constexpr const char* DevicesChangeNotification = "DeviceManager.DevicesChangeNotification";

class ServerController {
public:
    // Everything the server's command line and environment are made of.
    struct Configuration {
        std::string nodePath = "node";
        std::filesystem::path scriptPath;     // the program, Resources/server/index.js
        std::filesystem::path staticPath;     // the application's resources, "/_app/resources/"
        std::filesystem::path cachePath;      // the server's own caches
        std::filesystem::path yarnLinkFolder; // the installed library
        std::string apiURL = defaultAPIURL;   // the back end
        std::string apiToken;                 // the signed-in user's token for the back end
        std::string environmentName = "production";
        std::vector<int> corsPorts; // pages from these local ports may call the server
        std::optional<std::string> author;
        bool isEnterprise = false; // no live sharing in the enterprise edition
        bool discoverProxy = true;

        static constexpr const char* defaultAPIURL = "https://api.korvel.com/";

        // The application's: resources of the main bundle, caches under the user's cache folder
        // and the static local web server's port when it runs.
        static Configuration standard();
    };

    using CompletionHandler = std::function<void(std::optional<std::string> serverURL)>;

    ServerController();
    explicit ServerController(Configuration configuration);
    ~ServerController();
    ServerController(const ServerController&) = delete;
    ServerController& operator=(const ServerController&) = delete;

    // Starts the server once; `completionHandler` gets its URL, or nullopt when it could not
    // start (or was stopped first).
    void start(const std::string& authorizationToken, CompletionHandler completionHandler);
    // Clears the state, drops the connection and ends the process; nothing when not running.
    void stop();

    // Called with the exit status when the process ends without `stop()`.
    std::function<void(int exitCode)> crashHandler;

    // The controller that posted `notification` when its sender is a live project server
    // controller, null for any other sender. Main thread only.
    static ServerController* sender(const Notification& notification);
    // Whether this controller posted `notification`.
    bool isSender(const Notification& notification) const;

    const std::optional<std::string>& currentServerURL() const { return serverURL_; }
    const std::optional<ServerState>& state() const { return state_; }
    const std::optional<std::string>& previewData() const { return previewData_; }
    bool isConnected() const;
    int processIdentifier() const;
    const Configuration& configuration() const { return configuration_; }

    void setProjectDir(const std::filesystem::path& path) { send(ServerCommand::setProjectDir(path)); }
    void setDocumentDirty(bool dirty) { send(ServerCommand::setDocumentDirty(dirty)); }
    void addPackage(const std::string& name, bool isDevDependency)
    {
        send(ServerCommand::addPackage(name, isDevDependency));
    }
    void installKorvelLibrary(const std::string& version) { send(ServerCommand::installKorvelLibrary(version)); }
    void startLiveSharing() { send(ServerCommand::startLiveSharing()); }
    void stopLiveSharing() { send(ServerCommand::stopLiveSharing()); }

    // The command line after the program: the script and its options. It holds no secret:
    // every user of the machine can read it.
    std::vector<std::string> arguments() const;
    // Set on top of the inherited environment (readable only by our user): the tokens and the
    // back-end environment.
    std::map<std::string, std::string> environment() const;

    // The socket.io room the controller joins after each connect, to receive the editor's
    // selection and reload requests.
    static constexpr const char* previewRoom = "preview";

private:
    enum class Phase { idle, starting, running, ended };

    void launch(std::map<std::string, std::string> proxyEnvironment);
    void receiveLine(const std::string& line);
    void receiveStateLine(const std::string& line);
    void receiveEvent(const std::string& name, const nlohmann::json& arguments);
    void processEnded(int status);
    void connectSocket();
    void send(ServerCommand command);
    void flushCommands();
    void finishStart(std::optional<std::string> url);
    void shutDown();
    void postLog(nlohmann::json entry);
    std::string hideTokens(std::string text) const;

    Configuration configuration_;
    Phase phase_ = Phase::idle;
    std::string authorizationToken_;
    CompletionHandler completion_;
    std::unique_ptr<Process> process_;
    std::unique_ptr<SocketIOClient> socket_;
    std::deque<ServerCommand> commands_;
    std::optional<std::string> serverURL_;
    std::optional<ServerState> state_;
    std::optional<std::string> previewData_;
    std::shared_ptr<ServerController*> self_; // weak handles of asynchronous steps
};

} // namespace kx
