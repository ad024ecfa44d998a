#include "App/preview/PreviewSettingsRules.h"

#include <algorithm>
#include <vector>

namespace kx {

namespace {

using State = NativeMenuItem::State;

State mark(bool on)
{
    return on ? State::on : State::off;
}

} // namespace

PreviewSettingsRules::Validation PreviewSettingsRules::validate(const PreviewMenuContext& context, const std::string& action,
                                                                const std::any& representedObject, bool isDeviceMenuItem,
                                                                const std::function<bool()>& documentAnswer)
{
    if (!context.hasDocument)
        return {false, std::nullopt};
    const NimbetSelection* selection = context.selection;
    const bool hasSelection = selection != nullptr;
    const bool responsive = hasSelection && selection->metadata.settings.responsive;
    const auto askDocument = [&] { return documentAnswer ? documentAnswer() : true; };

    if (action == selectCanvasModeAction)
        return {true, mark(context.isCanvas && !responsive)};
    if (action == selectResponsiveCanvasModeAction)
        return {true, mark(context.isCanvas && responsive)};
    if (action == selectSkinAction) {
        const auto* type = std::any_cast<std::string>(&representedObject);
        if (hasSelection && type)
            return {true, mark(*type == context.menuType)};
        return {true, std::nullopt};
    }
    if (action == toggleResponsiveAction)
        return {hasSelection, mark(responsive)};
    if (action == toggleHandAction) {
        const bool hasHands = context.descriptor && context.descriptor->hands && !context.descriptor->hands->empty();
        return {hasSelection && hasHands && !selection->metadata.settings.rotate, std::nullopt};
    }
    if (action == toggleTouchCursorAction)
        return {hasSelection, std::nullopt};
    if (action == orientationAction)
        return {context.descriptor && context.descriptor->canRotate.value_or(false), std::nullopt};
    if (action == showPreviewInspectorAction || isDeviceMenuItem)
        return {hasSelection, std::nullopt};
    if (action == reloadPreviewAction || action == togglePreviewFullscreenAction)
        return {hasSelection && askDocument(), std::nullopt};
    return {askDocument(), std::nullopt};
}

std::string PreviewSettingsRules::deviceName(const DeviceDescriptor& descriptor)
{
    return descriptor.selector.value_or(descriptor.title);
}

PreviewSettingsRules::DeviceItemLook PreviewSettingsRules::deviceItemLook(
    const PreviewMenuContext& context, const std::optional<std::string>& postCanvasModeDeviceMenuType,
    const DeviceManager& manager)
{
    DeviceItemLook look;
    const bool deviceShown = context.selection && !context.isCanvas;
    look.canvasEnabled = deviceShown;
    look.deviceEnabled = context.selection != nullptr;
    look.deviceChecked = deviceShown;
    if (deviceShown) {
        look.deviceTitle = context.descriptor ? deviceName(*context.descriptor) : namelessDeviceTitle;
        return look;
    }
    look.deviceTitle = deviceOffStateTitle;
    if (context.hasDocument && postCanvasModeDeviceMenuType) {
        const auto remembered = DeviceManager::parseMenuType(*postCanvasModeDeviceMenuType);
        if (const DeviceDescriptor* descriptor = manager.descriptorForDevice(remembered.type))
            look.deviceTitle = deviceName(*descriptor);
    }
    return look;
}

nlohmann::json PreviewSettingsRules::deviceSettings(const std::string& menuType, const DeviceManager& manager)
{
    const auto parsed = DeviceManager::parseMenuType(menuType);
    nlohmann::json settings{{"deviceType", parsed.type}};
    const DeviceDescriptor* descriptor = manager.descriptorForDevice(parsed.type);
    if (parsed.skin && descriptor && descriptor->skins && descriptor->skins->contains(*parsed.skin)) {
        settings["skin"] = *parsed.skin;
        settings["bezel"] = true;
    } else {
        settings["skin"] = "";
        settings["bezel"] = false;
    }
    return settings;
}

nlohmann::json PreviewSettingsRules::canvasSettings(bool responsive)
{
    return {{"deviceType", nullptr}, {"responsive", responsive}, {"rotate", false}};
}

nlohmann::json PreviewSettingsRules::toggleResponsiveSettings(const NimbetSelection& selection)
{
    return {{"responsive", !selection.metadata.settings.responsive}};
}

nlohmann::json PreviewSettingsRules::toggleTouchCursorSettings(const NimbetSelection& selection)
{
    return {{"touch", !selection.metadata.settings.touch}};
}

nlohmann::json PreviewSettingsRules::rotateSettings(const NimbetSelection& selection)
{
    return {{"rotate", !selection.metadata.settings.rotate}};
}

nlohmann::json PreviewSettingsRules::toggleHandSettings(const PreviewMenuContext& context)
{
    std::vector<std::string> hands;
    if (context.descriptor && context.descriptor->hands)
        hands = context.descriptor->hands->keys();
    std::reverse(hands.begin(), hands.end());
    const NimbetSelection* selection = context.selection;
    const auto& current = selection ? selection->metadata.settings.hand : std::nullopt;
    if (current && !current->empty()) {
        const auto found = std::find(hands.begin(), hands.end(), *current);
        if (found != hands.end()) {
            if (found + 1 == hands.end())
                return {{"hand", nullptr}};
            return {{"hand", *(found + 1)}};
        }
    }
    std::string skin;
    if (context.skin && !context.skin->empty())
        skin = *context.skin;
    else if (context.descriptor && context.descriptor->skins && !context.descriptor->skins->empty())
        skin = context.descriptor->skins->entries.front().first;
    const auto deviceType = selection ? selection->metadata.settings.deviceType : std::nullopt;
    return {{"hand", hands.empty() ? nlohmann::json(nullptr) : nlohmann::json(hands.front())},
            {"deviceType", deviceType.value_or(DeviceManager::canvasDevice)},
            {"bezel", true},
            {"skin", skin}};
}

} // namespace kx
