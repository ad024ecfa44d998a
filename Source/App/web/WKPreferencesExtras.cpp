#include "App/web/WKPreferencesExtras.h"

#include <cstring>

#include <webkit2/webkit2.h>

namespace kx {

namespace {

constexpr const char* hiddenPageDOMTimerThrottling = "HiddenPageDOMTimerThrottling";
constexpr const char* pageVisibilityBasedProcessSuppression = "PageVisibilityBasedProcessSuppression";

// The feature of that identifier in this WebKit build, or nullptr.
WebKitFeature* feature(const char* identifier)
{
    static WebKitFeatureList* features = webkit_settings_get_all_features(); // kept for the process
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* candidate = webkit_feature_list_get(features, i);
        if (std::strcmp(webkit_feature_get_identifier(candidate), identifier) == 0)
            return candidate;
    }
    return nullptr;
}

bool featureEnabled(WebKitSettings* settings, const char* identifier)
{
    WebKitFeature* found = settings ? feature(identifier) : nullptr;
    return found && webkit_settings_get_feature_enabled(settings, found);
}

void setFeatureEnabled(WebKitSettings* settings, const char* identifier, bool enabled)
{
    if (WebKitFeature* found = settings ? feature(identifier) : nullptr)
        webkit_settings_set_feature_enabled(settings, found, enabled);
}

} // namespace

bool WKPreferencesExtras::safePrivate_developerExtrasEnabled(WebKitSettings* settings)
{
    return settings && webkit_settings_get_enable_developer_extras(settings);
}

void WKPreferencesExtras::safePrivate_setDeveloperExtrasEnabled(WebKitSettings* settings, bool enabled)
{
    if (settings)
        webkit_settings_set_enable_developer_extras(settings, enabled);
}

bool WKPreferencesExtras::safePrivate_hiddenPageDOMTimerThrottlingEnabled(WebKitSettings* settings)
{
    return featureEnabled(settings, hiddenPageDOMTimerThrottling);
}

void WKPreferencesExtras::safePrivate_setHiddenPageDOMTimerThrottlingEnabled(WebKitSettings* settings, bool enabled)
{
    setFeatureEnabled(settings, hiddenPageDOMTimerThrottling, enabled);
}

bool WKPreferencesExtras::safePrivate_pageVisibilityBasedProcessSuppressionEnabled(WebKitSettings* settings)
{
    return featureEnabled(settings, pageVisibilityBasedProcessSuppression);
}

void WKPreferencesExtras::safePrivate_setPageVisibilityBasedProcessSuppressionEnabled(WebKitSettings* settings,
                                                                                      bool enabled)
{
    setFeatureEnabled(settings, pageVisibilityBasedProcessSuppression, enabled);
}

} // namespace kx
