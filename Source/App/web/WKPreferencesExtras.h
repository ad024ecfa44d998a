// Switches of a web view's settings that WebKit offers only on some builds: each getter
// answers false and each setter does nothing where the build lacks the switch.
#pragma once

typedef struct _WebKitSettings WebKitSettings;

namespace kx {

class WKPreferencesExtras {
public:
    static bool safePrivate_developerExtrasEnabled(WebKitSettings* settings);
    static void safePrivate_setDeveloperExtrasEnabled(WebKitSettings* settings, bool enabled);

    // Timers of pages that are not on screen run at their normal rate when false.
    static bool safePrivate_hiddenPageDOMTimerThrottlingEnabled(WebKitSettings* settings);
    static void safePrivate_setHiddenPageDOMTimerThrottlingEnabled(WebKitSettings* settings, bool enabled);

    // The web process of a page that is not on screen keeps running when false.
    static bool safePrivate_pageVisibilityBasedProcessSuppressionEnabled(WebKitSettings* settings);
    static void safePrivate_setPageVisibilityBasedProcessSuppressionEnabled(WebKitSettings* settings, bool enabled);
};

} // namespace kx
