#include "App/preview/PreviewLiveSharing.h"

#include "App/server/ServerController.h"
#include "Platform/Foundation/IfAlive.h"

namespace kx {

PreviewLiveSharing::PreviewLiveSharing(Apply apply, std::chrono::milliseconds startTimeout)
    : apply_(std::move(apply))
    , startTimeout_(startTimeout)
    , self_(std::make_shared<PreviewLiveSharing*>(this))
{
}

PreviewLiveSharing::~PreviewLiveSharing()
{
    cancel();
}

MirrorPopoverState PreviewLiveSharing::stateForStatus(const std::string& status, const std::optional<std::string>& url)
{
    using Kind = MirrorPopoverState::Kind;
    if (status == "unavailable")
        return MirrorPopoverState::of(Kind::unavailable);
    if (status == "available")
        return MirrorPopoverState::of(Kind::available);
    if (status == "starting")
        return MirrorPopoverState::of(Kind::starting);
    if (status == "stopping")
        return MirrorPopoverState::of(Kind::stopping);
    if (status == "active" && url && MirrorPopoverState::isShareURL(*url))
        return MirrorPopoverState::active(*url);
    return MirrorPopoverState::failed(MirrorPopoverState::startFailedError());
}

void PreviewLiveSharing::update(const void* server, const std::optional<LiveSharingState>& sharing)
{
    if (!server)
        return;
    if (server != server_) {
        // Another server: what the last one said is no longer true.
        server_ = server;
        liveSharingStatus_.reset();
    }
    if (!sharing) {
        // The server went away (or was never there). Sharing that ran or was starting is gone
        // with it; the next state, of this server or another, applies in full.
        if (!liveSharingStatus_)
            return;
        const bool wasSharing = *liveSharingStatus_ == "active" || *liveSharingStatus_ == "starting";
        liveSharingStatus_.reset();
        cancel();
        apply_(wasSharing ? MirrorPopoverState::failed(MirrorPopoverState::startFailedError(), true)
                          : MirrorPopoverState::of(MirrorPopoverState::Kind::unavailable));
        return;
    }
    if (liveSharingStatus_ == sharing->status)
        return;
    liveSharingStatus_ = sharing->status;
    if (sharing->status == "active")
        liveSharingURL_ = sharing->url;
    const MirrorPopoverState state = stateForStatus(sharing->status, liveSharingURL_);
    if (state.kind == MirrorPopoverState::Kind::starting)
        armStartTimer();
    else
        cancel();
    apply_(state);
}

void PreviewLiveSharing::didRequestStart()
{
    cancel(); // a new start has its own time
    armStartTimer();
    apply_(MirrorPopoverState::of(MirrorPopoverState::Kind::starting));
}

void PreviewLiveSharing::forgetStatus()
{
    liveSharingStatus_.reset();
    server_ = nullptr;
}

void PreviewLiveSharing::cancel()
{
    if (startTimer_) {
        startTimer_->cancel();
        startTimer_.reset();
    }
}

void PreviewLiveSharing::refresh()
{
    ServerController* source = server();
    if (!source)
        return;
    const auto& state = source->state();
    update(source, state ? std::optional(state->liveSharing) : std::nullopt);
}

void PreviewLiveSharing::start()
{
    if (ServerController* source = server())
        source->startLiveSharing();
    didRequestStart();
}

void PreviewLiveSharing::stop()
{
    if (ServerController* source = server())
        source->stopLiveSharing();
}

void PreviewLiveSharing::serverDidChange()
{
    forgetStatus();
    refresh();
}

void PreviewLiveSharing::armStartTimer()
{
    if (startTimer_)
        return;
    startTimer_ = MainQueue::after(startTimeout_, ifAlive(self_, &PreviewLiveSharing::startTimedOut));
}

void PreviewLiveSharing::startTimedOut()
{
    startTimer_.reset();
    apply_(MirrorPopoverState::failed(MirrorPopoverState::startFailedError(), true));
}

} // namespace kx
