#include "App/server/ServerController.h"

#include <unordered_set>

#include "App/account/AppServices.h"
#include "App/account/LoginController.h"
#include "App/server/ProxyDiscovery.h"
#include "App/server/ServerError.h"
#include "App/server/SocketIOClient.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Process.h"
#include "Platform/Foundation/Text.h"

namespace kx {

namespace {


// Every controller that exists, so that a notification's sender can be recognised as one.
std::unordered_set<const ServerController*>& liveControllers()
{
    static std::unordered_set<const ServerController*> controllers;
    return controllers;
}

} // namespace

ServerController::Configuration ServerController::Configuration::standard()
{
    auto info = AppInfo::current();
    const auto& bundle = info->bundle();
    Configuration configuration;
    configuration.scriptPath = bundle.resourcePath() / "server" / "index.js";
    // The editor folder is served below "/_app/resources/", where the preview page is asked for.
    if (auto editor = info->nimbetDir())
        configuration.staticPath = editor->parent_path();
    configuration.cachePath = FileSystem::cacheHome() / bundle.bundleIdentifier() / "ProjectServer";
    if (auto folder = info->yarnLinkFolder())
        configuration.yarnLinkFolder = *folder;
    configuration.isEnterprise = info->isEnterprise();
    if (auto* appServer = AppServer::shared())
        configuration.corsPorts.push_back(appServer->port());
    // The current back end and signed-in user, read anew for every server made.
    const auto environment = AppServices::currentEnvironment();
    configuration.apiURL = environment.endpoints.api;
    configuration.environmentName = environment.name;
    const auto& login = LoginController::shared();
    configuration.apiToken = login.token().value_or("");
    configuration.author = login.userName();
    return configuration;
}

ServerController::ServerController()
    : ServerController(Configuration::standard())
{
}

ServerController::ServerController(Configuration configuration)
    : configuration_(std::move(configuration))
    , self_(std::make_shared<ServerController*>(this))
{
    liveControllers().insert(this);
}

ServerController::~ServerController()
{
    liveControllers().erase(this);
    *self_ = nullptr;
    NotificationCenter::defaultCenter().cancelPending(this);
    // The process ends with its object; nothing of ours is called any more.
}

ServerController* ServerController::sender(const Notification& notification)
{
    auto* candidate = static_cast<const ServerController*>(notification.sender);
    return liveControllers().contains(candidate) ? const_cast<ServerController*>(candidate) : nullptr;
}

bool ServerController::isSender(const Notification& notification) const
{
    return notification.sender == this;
}

bool ServerController::isConnected() const
{
    return socket_ && socket_->isConnected();
}

int ServerController::processIdentifier() const
{
    return process_ ? process_->processIdentifier() : 0;
}

std::vector<std::string> ServerController::arguments() const
{
    const auto& c = configuration_;
    std::string ports;
    for (int port : c.corsPorts)
        ports += (ports.empty() ? "" : ",") + std::to_string(port);
    std::vector<std::string> arguments{c.scriptPath.string(), "--staticPath", c.staticPath.string(),
                                       "--cachePath", c.cachePath.string(), "--yarnLinkFolder",
                                       c.yarnLinkFolder.string(), "--token", "-",
                                       "--api", c.apiURL, "--cors-ports", ports};
    if (c.author) {
        arguments.push_back("--author");
        arguments.push_back(*c.author);
    }
    if (c.isEnterprise)
        arguments.push_back("--no-live-sharing");
    return arguments;
}

std::map<std::string, std::string> ServerController::environment() const
{
    return {{"AUTHORIZATION_TOKEN", authorizationToken_},
            {"KORVEL_API_TOKEN", configuration_.apiToken},
            {"KORVEL_ENV", configuration_.environmentName}};
}

void ServerController::start(const std::string& authorizationToken, CompletionHandler completionHandler)
{
    if (phase_ != Phase::idle) {
        RKLog("Project server already started", RKLogKind::serverError);
        if (completionHandler)
            completionHandler(std::nullopt);
        return;
    }
    phase_ = Phase::starting;
    authorizationToken_ = authorizationToken;
    completion_ = std::move(completionHandler);

    std::weak_ptr<ServerController*> weak = self_;
    auto proceed = [weak](ProxyDiscovery::Environment environment) {
        if (auto self = weak.lock(); self && *self)
            (*self)->launch(std::move(environment));
    };
    if (!configuration_.discoverProxy) {
        proceed({});
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(configuration_.cachePath, ignored);
    ProxyDiscovery::discover(configuration_.apiURL, configuration_.cachePath, proceed);
}

void ServerController::launch(std::map<std::string, std::string> environment)
{
    if (phase_ != Phase::starting)
        return; // stopped while the proxy was looked up
    for (auto& [name, value] : this->environment())
        environment[name] = std::move(value);

    Process::Configuration process;
    process.arguments = arguments();
    process.arguments.insert(process.arguments.begin(), configuration_.nodePath);
    process.environment = std::move(environment);
    process_ = std::make_unique<Process>(std::move(process));
    process_->standardOutputHandler = [this](const std::string& line) { receiveLine(line); };
    process_->terminationHandler = [this](Process::TerminationReason, int status) { processEnded(status); };

    std::string commandLine = configuration_.nodePath;
    for (const auto& argument : arguments())
        commandLine += " " + argument;
    RKLog("Starting project server: " + hideTokens(commandLine), RKLogKind::serverMessage);

    auto launched = process_->launch();
    if (launched.isFailure()) {
        RKLog("Cannot start the project server: " + launched.error().localizedDescription, RKLogKind::serverError);
        phase_ = Phase::ended;
        process_.reset();
        finishStart(std::nullopt);
    }
}

void ServerController::receiveLine(const std::string& line)
{
    if (line.starts_with("{")) {
        receiveStateLine(line);
        return;
    }
    std::string text = hideTokens(line);
    RKLog(text, RKLogKind::serverMessage);
    postLog(text);
}

void ServerController::receiveStateLine(const std::string& line)
{
    auto object = nlohmann::json::parse(line, nullptr, false);
    if (!object.is_object()) {
        std::string text = hideTokens(line);
        RKLog("Unreadable project server output: " + text, RKLogKind::serverError);
        postLog(text);
        return;
    }
    // State lines only announce the server; `state` itself comes over the socket, so that
    // the two channels never race each other.
    auto url = object.find("url");
    if (phase_ == Phase::starting && process_ && url != object.end() && url->is_string() && !url->get<std::string>().empty()) {
        phase_ = Phase::running;
        serverURL_ = url->get<std::string>();
        connectSocket();
        finishStart(serverURL_);
        return;
    }
    if (auto found = object.find("error"); found != object.end()) {
        if (auto record = ServerError::decode(*found)) {
            record->data = hideTokens(record->data);
            RKLog("Project server error: " + record->data, RKLogKind::serverError);
            postLog(record->toJSON());
        }
    }
}

void ServerController::connectSocket()
{
    socket_ = std::make_unique<SocketIOClient>(*serverURL_, nlohmann::json{{"token", authorizationToken_}});
    socket_->onConnect = [this] {
        RKLog("Connected to the project server", RKLogKind::serverMessage);
        // Rooms last one connection: join again after every reconnect.
        socket_->emit("joinRoom", nlohmann::json::array({previewRoom}));
        flushCommands();
    };
    socket_->onEvent = [this](const std::string& name, const nlohmann::json& arguments) { receiveEvent(name, arguments); };
    socket_->onDisconnect = [](const std::string& reason) {
        RKLog("Project server connection: " + reason, RKLogKind::serverError);
    };
    socket_->onConnectError = [](const std::string& message) {
        RKLog("The project server refused the connection: " + message, RKLogKind::serverError);
    };
    socket_->connect();
}

void ServerController::receiveEvent(const std::string& name, const nlohmann::json& arguments)
{
    const nlohmann::json& first = arguments.empty() ? nlohmann::json() : arguments[0];
    auto& center = NotificationCenter::defaultCenter();
    if (name == "state") {
        auto decoded = ServerState::decode(first);
        if (decoded.isFailure()) {
            RKLog(decoded.error().localizedDescription, RKLogKind::serverError);
            return;
        }
        state_ = std::move(decoded).get();
        center.enqueue(ServerControllerStateDidUpdate, this);
    } else if (name == "updatePreview") {
        if (first.is_string())
            previewData_ = first.get<std::string>();
        else if (first.is_object() || first.is_array())
            previewData_ = first.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        else
            return;
        center.post(ServerControllerPreviewDataDidUpdate, this);
    } else if (name == "reload") {
        center.post(ServerControllerPreviewShouldReload, this);
    }
}

void ServerController::send(ServerCommand command)
{
    if (phase_ == Phase::ended)
        return;
    commands_.push_back(std::move(command));
    flushCommands();
}

void ServerController::flushCommands()
{
    // In order, one by one; anything a handler does in between sees the rest still queued.
    while (!commands_.empty() && isConnected()) {
        ServerCommand command = std::move(commands_.front());
        commands_.pop_front();
        socket_->emit(command.name, command.arguments);
    }
}

void ServerController::processEnded(int status)
{
    if (phase_ == Phase::ended)
        return;
    RKLog("The project server ended with status " + std::to_string(status), RKLogKind::serverError);
    // The start's completion may let go of this controller.
    auto handler = crashHandler;
    std::weak_ptr<ServerController*> alive = self_;
    shutDown();
    if (!alive.expired() && handler)
        handler(status);
}

void ServerController::stop()
{
    if (phase_ == Phase::idle || phase_ == Phase::ended)
        return;
    RKLog("Stopping the project server", RKLogKind::serverMessage);
    if (process_) {
        process_->closeStandardInput();
        process_->terminate();
    }
    shutDown();
}

void ServerController::shutDown()
{
    phase_ = Phase::ended;
    commands_.clear();
    if (socket_) {
        socket_->disconnect();
        socket_.reset();
    }
    serverURL_.reset();
    state_.reset();
    NotificationCenter::defaultCenter().enqueue(ServerControllerStateDidUpdate, this);
    finishStart(std::nullopt); // last: its handler may let go of this controller
}

void ServerController::finishStart(std::optional<std::string> url)
{
    if (auto completion = std::exchange(completion_, nullptr))
        completion(std::move(url));
}

void ServerController::postLog(nlohmann::json entry)
{
    NotificationCenter::defaultCenter().post(ServerControllerDidReceiveLog, this, {{"log", std::move(entry)}});
}

std::string ServerController::hideTokens(std::string text) const
{
    replaceAll(text, authorizationToken_, "<hidden>");
    replaceAll(text, configuration_.apiToken, "<hidden>");
    return text;
}

} // namespace kx
