// Each of the next `count` navigations of any view is refused ahead of its host, which never
// hears of it: as when WebKit drops a load, without a start, a finish or a failure.
#pragma once

#include <webkit2/webkit2.h>

namespace kxtest {

struct DroppedLoads {
    static inline int count = 0;
    const guint signal = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
    const gulong hook = g_signal_add_emission_hook(signal, 0, +[](GSignalInvocationHint*, guint, const GValue* values, gpointer) -> gboolean {
        if (g_value_get_enum(&values[2]) == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && count > 0 && count--)
            webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(g_value_get_object(&values[1])));
        return TRUE;
    }, nullptr, nullptr);
    ~DroppedLoads()
    {
        g_signal_remove_emission_hook(signal, hook);
        count = 0;
    }
};

} // namespace kxtest
