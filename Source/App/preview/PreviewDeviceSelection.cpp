#include "App/preview/PreviewDeviceSelection.h"

#include <cstdio>
#include <utility>

#include <glib.h>

#include "App/preview/PreviewSizing.h"

namespace kx {

PreviewDeviceSelection::PreviewDeviceSelection(const DeviceManager& manager, bool hasDocument)
    : manager_(manager)
    , hasDocument_(hasDocument)
{
}

void PreviewDeviceSelection::take(const std::string& previewData)
{
    const std::optional<std::string> oldId = selectionId();
    if (!g_utf8_validate(previewData.data(), gssize(previewData.size()), nullptr)) {
        selection_.reset();
    } else if (auto decoded = NimbetSelection::decode(previewData); decoded.isSuccess()) {
        selection_ = std::move(decoded).get();
    } else {
        std::printf("Failed to decode Nimbet selection data: %s\n", decoded.error().c_str());
        std::fflush(stdout);
        selection_.reset();
    }
    if (oldId != selectionId())
        postCanvasModeDeviceMenuType_.reset();
}

std::optional<std::string> PreviewDeviceSelection::selectionId() const
{
    return selection_ ? selection_->metadata.id : std::nullopt;
}

bool PreviewDeviceSelection::canSendSettings() const
{
    return hasDocument_ && selection_ && selection_->metadata.id;
}

const DeviceDescriptor* PreviewDeviceSelection::deviceDescriptor() const
{
    if (settings() && settings()->deviceDescriptor)
        return &*settings()->deviceDescriptor;
    if (!hasDocument_)
        return nullptr;
    const auto type = settings() ? settings()->deviceType : std::nullopt;
    return manager_.descriptorForDevice(type.value_or(DeviceManager::canvasDevice));
}

bool PreviewDeviceSelection::deviceIsCanvas() const
{
    return !settings() || !settings()->deviceType || *settings()->deviceType == DeviceManager::canvasDevice;
}

std::optional<std::string> PreviewDeviceSelection::deviceSkin() const
{
    if (!settings() || deviceIsCanvas())
        return std::nullopt;
    return settings()->skin;
}

std::string PreviewDeviceSelection::deviceMenuType() const
{
    const auto type = settings() ? settings()->deviceType : std::nullopt;
    return DeviceManager::createMenuType(type.value_or(DeviceManager::canvasDevice), deviceSkin());
}

double PreviewDeviceSelection::deviceZoom() const
{
    return settings() ? settings()->zoom.value_or(-1) : -1;
}

bool PreviewDeviceSelection::deviceResponsive() const
{
    return settings() && settings()->responsive;
}

bool PreviewDeviceSelection::deviceRotate() const
{
    return settings() && settings()->rotate;
}

bool PreviewDeviceSelection::deviceShowBezel() const
{
    return settings() && settings()->bezel && settings()->deviceType.value_or("") != DeviceManager::canvasDevice;
}

std::optional<std::string> PreviewDeviceSelection::deviceHand() const
{
    if (!settings() || !settings()->hand || settings()->hand->empty())
        return std::nullopt;
    return settings()->hand;
}

bool PreviewDeviceSelection::deviceShowHand() const
{
    return deviceShowBezel() && deviceHand();
}

bool PreviewDeviceSelection::deviceTouchCursor() const
{
    return settings() && settings()->touch;
}

bool PreviewDeviceSelection::deviceHasSize() const
{
    const DeviceDescriptor* descriptor = deviceDescriptor();
    return descriptor && descriptor->screen.width != 0 && descriptor->screen.height != 0;
}

Size PreviewDeviceSelection::deviceSize() const
{
    const DeviceDescriptor* descriptor = deviceDescriptor();
    return descriptor ? Size{double(descriptor->screen.width), double(descriptor->screen.height)} : Size{};
}

bool PreviewDeviceSelection::deviceHasHand() const
{
    const DeviceDescriptor* descriptor = deviceDescriptor();
    return descriptor && descriptor->hands && !descriptor->hands->empty();
}

bool PreviewDeviceSelection::deviceCanRotate() const
{
    const DeviceDescriptor* descriptor = deviceDescriptor();
    return descriptor && descriptor->canRotate.value_or(false);
}

bool PreviewDeviceSelection::isFreeResizing() const
{
    return settings() && settings()->responsive && !settings()->deviceType;
}

Size PreviewDeviceSelection::intrinsicContentSize() const
{
    return PreviewSizing::intrinsicContentSize(selection_, deviceDescriptor(), deviceIsCanvas());
}

PreviewMenuContext PreviewDeviceSelection::menuContext() const
{
    PreviewMenuContext context;
    context.hasDocument = hasDocument_;
    context.selection = selection_ ? &*selection_ : nullptr;
    context.descriptor = deviceDescriptor();
    context.isCanvas = deviceIsCanvas();
    context.menuType = deviceMenuType();
    context.skin = deviceSkin();
    return context;
}

std::optional<std::string> PreviewDeviceSelection::takeDeviceBeforeCanvas()
{
    return std::exchange(postCanvasModeDeviceMenuType_, std::nullopt);
}

} // namespace kx
