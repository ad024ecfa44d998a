// The live-sharing state of one preview window: it follows the live-sharing status that the
// document's project server reports and tells the popover what to show. Each distinct status
// reaches the popover once; the share address is taken when the status becomes "active". With
// a server source it also asks that server to start and stop sharing and reads its state.
//
// Beyond the server's own reports: a start that sees no "active" within `startTimeout` (a
// command lost with a server that restarted, a status that never moves) ends on the error
// view, which offers to try again; a server that goes away while sharing runs or starts does
// too; and a new server controller has its state applied afresh. Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/preview/MirrorPopoverState.h"
#include "App/server/LiveSharingState.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

class ServerController;

class PreviewLiveSharing {
public:
    using Apply = std::function<void(const MirrorPopoverState&)>;
    // The document's project server of the moment, or none.
    using ServerSource = std::function<ServerController*()>;
    static constexpr std::chrono::milliseconds defaultStartTimeout{30000};

    explicit PreviewLiveSharing(Apply apply, std::chrono::milliseconds startTimeout = defaultStartTimeout);
    ~PreviewLiveSharing();
    PreviewLiveSharing(const PreviewLiveSharing&) = delete;
    PreviewLiveSharing& operator=(const PreviewLiveSharing&) = delete;

    // The state of `server` (an identity only, never read); `sharing` is none while that server
    // has no state (not started yet, stopped or gone). No server: nothing changes.
    void update(const void* server, const std::optional<LiveSharingState>& sharing);
    // The user asked for a start: the popover shows "starting" until the server says more.
    void didRequestStart();
    // Forgets the last status, so that the next state applies whatever it says.
    void forgetStatus();
    // Stops waiting for "active".
    void cancel();

    // The server that `start`, `stop` and `refresh` talk to; without one they do nothing.
    void setServerSource(ServerSource source) { serverSource_ = std::move(source); }
    // Takes the live-sharing status of the server's current state.
    void refresh();
    // Asks the server to start sharing; the popover shows "starting" even without a server.
    void start();
    void stop();
    // The document replaced its server: its state applies afresh.
    void serverDidChange();

    void setStartTimeout(std::chrono::milliseconds timeout) { startTimeout_ = timeout; }

    const std::optional<std::string>& liveSharingStatus() const { return liveSharingStatus_; }
    const std::optional<std::string>& liveSharingURL() const { return liveSharingURL_; }
    bool isWaitingForStart() const { return startTimer_ != nullptr; }

    // The popover state of a status and a share address (the server's own mapping).
    static MirrorPopoverState stateForStatus(const std::string& status, const std::optional<std::string>& url);

private:
    void armStartTimer();
    void startTimedOut();

    ServerController* server() const { return serverSource_ ? serverSource_() : nullptr; }

    Apply apply_;
    ServerSource serverSource_;
    std::chrono::milliseconds startTimeout_;
    const void* server_ = nullptr;
    std::optional<std::string> liveSharingStatus_;
    std::optional<std::string> liveSharingURL_;
    std::shared_ptr<MainQueue::Timer> startTimer_;
    std::shared_ptr<PreviewLiveSharing*> self_;
};

} // namespace kx
