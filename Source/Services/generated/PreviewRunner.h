// What a preview presents, how it ends and where it stands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Services/generated/ServiceDeclaration.h"
#include "Services/generated/KorvelServices.h"

namespace kx::PreviewRunner {

struct Device {
    std::string type;
    std::string theme;
    KX_RECORD(Device, type, theme)
};

struct Presentation {
    enum class TypeEnum { device, frame, responsive };
    friend KX_RAW_ENUM(TypeEnum, device, frame, responsive)

    struct Value_device {
        Device device;
        KX_CASE(Value_device, "device", device)
    };
    struct Value_frame {
        KorvelServices::Size size;
        KX_CASE(Value_frame, "frame", size)
    };
    struct Value_responsive {
        KX_CASE(Value_responsive, "responsive")
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_device, Value_frame, Value_responsive> value;
};

struct Error {
    enum class TypeEnum { frameNotFound, permissionDenied, unknown };
    friend KX_RAW_ENUM(TypeEnum, frameNotFound, permissionDenied, unknown)

    struct Value_frameNotFound {
        KX_CASE(Value_frameNotFound, "frameNotFound")
    };
    struct Value_permissionDenied {
        KX_CASE(Value_permissionDenied, "permissionDenied")
    };
    struct Value_unknown {
        std::optional<std::string> message;
        KX_CASE(Value_unknown, "unknown", message)
    };

    static constexpr std::string_view tagKey = "type";
    std::variant<Value_frameNotFound, Value_permissionDenied, Value_unknown> value;
};

// Tagged by "status", not "type".
struct State {
    enum class StatusEnum { loading, loaded, error };
    friend KX_RAW_ENUM(StatusEnum, loading, loaded, error)

    struct Value_loading {
        KX_CASE(Value_loading, "loading")
    };
    struct Value_loaded {
        Presentation presentation;
        KX_CASE(Value_loaded, "loaded", presentation)
    };
    struct Value_error {
        Error error;
        KX_CASE(Value_error, "error", error)
    };

    static constexpr std::string_view tagKey = "status";
    std::variant<Value_loading, Value_loaded, Value_error> value;
};

// No methods: the page exchanges these values by other means.
#define KX_PreviewRunner_METHODS(WITH_ARGUMENT, WITHOUT_ARGUMENT)

KX_SERVICE_INTERFACE(KX_PreviewRunner_METHODS)

} // namespace kx::PreviewRunner
