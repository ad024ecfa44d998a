// The value types that several services share. KorvelServices is not a service; it only
// groups them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Services/runtime/JSONCoding.h"

namespace kx::KorvelServices {

struct Point {
    double x = 0;
    double y = 0;
    KX_RECORD(Point, x, y)
};

struct Size {
    double width = 0;
    double height = 0;
    KX_RECORD(Size, width, height)
};

struct User {
    std::string id;
    std::string name;
    std::string initials;
    std::optional<std::string> avatar;
    KX_RECORD(User, id, name, initials, avatar)
};

// The colour sampler's answer: a CSS colour text, absent when the user picked none.
struct Color {
    std::optional<std::string> color;
    KX_RECORD(Color, color)
};

// One editor action by name; "*" in a validation asks for every action at once.
struct MenuAction {
    std::string action;
    KX_RECORD(MenuAction, action)
};

struct MenuActionState {
    std::string action;
    std::optional<bool> enabled;
    std::optional<bool> deferToNative;
    std::optional<std::string> label;
    std::optional<bool> checked;
    std::optional<bool> visible;
    KX_RECORD(MenuActionState, action, enabled, deferToNative, label, checked, visible)
};

struct MenuValidationResult {
    std::vector<MenuActionState> states;
    KX_RECORD(MenuValidationResult, states)
};

struct MenuDispatchResult {
    bool success = false;
    KX_RECORD(MenuDispatchResult, success)
};

// One item of a context menu or of the editor's application-menu description. `role` and
// `type` are free texts; only "separator" means something to the menu builders.
struct MenuItemOptions {
    std::optional<std::string> label;
    std::optional<std::string> role;
    std::optional<std::string> type;
    std::optional<bool> enabled;
    std::optional<bool> checked;
    std::optional<bool> mixed;
    std::optional<bool> visible;
    std::optional<std::string> accelerator;
    std::optional<std::vector<MenuItemOptions>> submenu;
    std::optional<std::int64_t> index;
    KX_RECORD(MenuItemOptions, label, role, type, enabled, checked, mixed, visible, accelerator, submenu, index)
};

struct ContextMenu {
    std::vector<MenuItemOptions> items;
    std::optional<Point> location; // web-view coordinates; at the mouse pointer when absent
    KX_RECORD(ContextMenu, items, location)
};

// The chosen item's position: in the items, then in each submenu down to it; empty when the
// menu closed without a choice.
struct ContextMenuResult {
    std::vector<std::int64_t> indexPath;
    KX_RECORD(ContextMenuResult, indexPath)
};

enum class MagnificationEventType { magnificationBegan, magnificationChanged, magnificationEnded };
KX_RAW_ENUM(MagnificationEventType, magnificationBegan, magnificationChanged, magnificationEnded)

// One step of a pinch gesture, sent to the page.
struct MagnificationEvent {
    MagnificationEventType type = MagnificationEventType::magnificationBegan;
    double magnification = 0;
    Point normalizedTouchOffset;
    KX_RECORD(MagnificationEvent, type, magnification, normalizedTouchOffset)
};

} // namespace kx::KorvelServices
