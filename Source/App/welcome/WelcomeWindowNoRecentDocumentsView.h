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

    // `scale`: the desktop's text scale, by which the notice's place grows as its text does.
    explicit WelcomeWindowNoRecentDocumentsView(const Rect& frame, double scale = 1);

    GtkFixed* fixed() const { return GTK_FIXED(widget()); }
    const AntiAliasedLabel& label() const { return *label_; }

private:
    void setup(double width, double scale);

    std::unique_ptr<AntiAliasedLabel> label_;
};

} // namespace kx
