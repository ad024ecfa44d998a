// What the colour sampler asks of its loupe window. RKColorSamplerWindow is the one on screen;
// the sampler's own rules (one answer per pick) are checked against others in tests.
#pragma once

namespace kx {

class RKColorSamplerWindowDelegate;

class RKColorSamplerWindowInterface {
public:
    virtual ~RKColorSamplerWindowInterface() = default;

    virtual void setDelegate(RKColorSamplerWindowDelegate* delegate) = 0;
    virtual void setAcceptsMouseMovedEvents(bool accepts) = 0;
    // Places the loupe under the mouse, shows it and takes the keyboard. When it cannot become
    // the key window, its delegate hears at once that it resigned.
    virtual void makeKeyAndOrderFront() = 0;
    // Hides the loupe; a loupe that was key resigns and tells its delegate so.
    virtual void orderOut() = 0;
};

} // namespace kx
