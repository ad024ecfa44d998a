// The editor's current selection as the project server pushes it (its preview data), with the
// preview settings the editor keeps for it: device, skin, hand, zoom and the four switches.
// Decode-only; a device carried inline keeps the page's order of its skins and hands.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "App/preview/DeviceCatalogue.h"

namespace kx {

struct NimbetPreviewSettings {
    std::optional<std::string> deviceType; // absent or "Canvas": no device
    std::optional<DeviceDescriptor> deviceDescriptor; // wins over the catalogue's entry
    std::optional<std::string> skin;
    std::optional<std::string> hand; // absent or empty: no hand
    std::optional<double> zoom;
    bool responsive = false;
    bool rotate = false;
    bool bezel = false;
    bool touch = false;
    KX_RECORD(NimbetPreviewSettings, deviceType, deviceDescriptor, skin, hand, zoom, responsive, rotate, bezel, touch)
    friend bool operator==(const NimbetPreviewSettings&, const NimbetPreviewSettings&) = default;
};

struct NimbetPresentationNode {
    std::string componentClass;
    KX_RECORD(NimbetPresentationNode, componentClass)
    friend bool operator==(const NimbetPresentationNode&, const NimbetPresentationNode&) = default;
};

struct NimbetSelectionMetadata {
    std::optional<std::string> name;
    std::optional<std::string> id;
    std::optional<double> width;  // the canvas size in canvas mode
    std::optional<double> height;
    bool selectionLock = false;
    NimbetPreviewSettings settings;
    KX_RECORD(NimbetSelectionMetadata, name, id, width, height, selectionLock, settings)
    friend bool operator==(const NimbetSelectionMetadata&, const NimbetSelectionMetadata&) = default;
};

struct NimbetSelection {
    std::optional<NimbetPresentationNode> presentationNode;
    NimbetSelectionMetadata metadata;
    KX_RECORD(NimbetSelection, presentationNode, metadata)
    friend bool operator==(const NimbetSelection&, const NimbetSelection&) = default;

    // The selection, or the decoder's description of why there is none.
    static Result<NimbetSelection, std::string> decode(std::string_view text);
};

} // namespace kx
