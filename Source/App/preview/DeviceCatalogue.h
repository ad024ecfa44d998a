// The device catalogue that the preview page sends with its "devices" message: devices by id,
// each with its screen in pixels and optional skins, hands, category, kind and pixel ratio.
// The shell reads sizes, names and the keys of the maps; the skin and hand records belong to
// the page and are kept as they were decoded. Decode-only; maps keep the page's order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Services/runtime/JSONCoding.h"
#include "Services/runtime/OrderedMap.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Result.h"

namespace kx {

struct DeviceScreen {
    std::int64_t width = 0;
    std::int64_t height = 0;
    KX_RECORD(DeviceScreen, width, height)
    friend bool operator==(const DeviceScreen&, const DeviceScreen&) = default;
};

struct InternalDeviceSkin {
    std::string image;
    std::int64_t imageWidth = 0;
    std::int64_t imageHeight = 0;
    double padding = 0;
    std::string background;
    KX_RECORD(InternalDeviceSkin, image, imageWidth, imageHeight, padding, background)
    friend bool operator==(const InternalDeviceSkin&, const InternalDeviceSkin&) = default;
};

struct ExternalDeviceSkin {
    std::string package;
    KX_RECORD(ExternalDeviceSkin, package)
    friend bool operator==(const ExternalDeviceSkin&, const ExternalDeviceSkin&) = default;
};

// The internal form when the object has all of it, else the external form.
struct DeviceSkin {
    static constexpr bool untaggedUnion = true;
    std::variant<InternalDeviceSkin, ExternalDeviceSkin> value;
    bool isIntern() const { return value.index() == 0; }
    friend bool operator==(const DeviceSkin&, const DeviceSkin&) = default;
};

struct InternalDeviceHand {
    std::string image;
    std::int64_t width;
    std::int64_t height;
    std::int64_t offset;
    KX_RECORD(InternalDeviceHand, image, width, height, offset)
    friend bool operator==(const InternalDeviceHand&, const InternalDeviceHand&) = default;
};

struct ExternalDeviceHand {
    std::string package;
    KX_RECORD(ExternalDeviceHand, package)
    friend bool operator==(const ExternalDeviceHand&, const ExternalDeviceHand&) = default;
};

struct DeviceHand {
    static constexpr bool untaggedUnion = true;
    std::variant<InternalDeviceHand, ExternalDeviceHand> value;
    bool isIntern() const { return value.index() == 0; }
    friend bool operator==(const DeviceHand&, const DeviceHand&) = default;
};

struct DeviceDescriptor {
    std::string title;
    std::optional<std::string> category;
    std::optional<std::string> selector; // orders devices of one kind; names the device when present
    std::optional<std::string> kind;     // "watch", "phone", "tablet", "computer", "tv" or another
    DeviceScreen screen;                 // pixels; 0 means no fixed size
    std::optional<OrderedMap<DeviceSkin>> skins;
    std::optional<OrderedMap<DeviceHand>> hands;
    std::optional<bool> canRotate;
    std::optional<double> pixelRatio; // any number, as the page wrote it: the sizing guards it
    KX_RECORD(DeviceDescriptor, title, category, selector, kind, screen, skins, hands, canRotate, pixelRatio)
    friend bool operator==(const DeviceDescriptor&, const DeviceDescriptor&) = default;
};

struct DevicesData {
    OrderedMap<DeviceDescriptor> devices;
    // Must be present and well formed; nothing keeps it.
    OrderedMap<DeviceDescriptor> deviceSkins;
    KX_RECORD(DevicesData, devices, deviceSkins)

    // The whole catalogue or the first problem met, described with its path.
    static Result<DevicesData, Error> decode(std::string_view text);
    static constexpr const char* errorDomain = "DeviceCatalogueErrorDomain";
};

} // namespace kx
