// The notice "No Recent Files" that the start window shows in place of an empty list, in the
// list's colours by day and by night.
#pragma once

#include <memory>

#include "App/shell/widgets/AntiAliasedLabel.h"
#include "App/shell/widgets/View.h"

namespace kx {

class WelcomeWindowNoRecentDocumentsView : public View {
public:
    static constexpr const char* title = "No Recent Files";

    explicit WelcomeWindowNoRecentDocumentsView(const Rect& frame);

    GtkFixed* fixed() const { return GTK_FIXED(widget()); }
    const AntiAliasedLabel& label() const { return *label_; }

private:
    void setup(double width);

    std::unique_ptr<AntiAliasedLabel> label_;
};

} // namespace kx
