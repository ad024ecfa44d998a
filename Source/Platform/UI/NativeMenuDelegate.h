// Told when a menu opens (before its items are validated) and when it closes.
#pragma once

namespace kx {

class NativeMenu;

class NativeMenuDelegate {
public:
    virtual ~NativeMenuDelegate() = default;
    virtual void menuWillOpen(NativeMenu& menu) = 0;
    virtual void menuDidClose(NativeMenu& menu) = 0;
};

} // namespace kx
