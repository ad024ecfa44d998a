// The root view of a popover's content (a Popover of either kind). It colours the whole
// popover, arrow included (white unless a colour is set before it shows), and makes the links
// of its labels open: a click on a link opens it in the desktop's browser and closes the
// popover. GTK's labels give links the pointing hand and a "Copy Link Address" menu.
// Children are placed at points from its top left.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "App/shell/Color.h"
#include "App/shell/widgets/View.h"
#include "Platform/UI/Popover.h"

namespace kx {

class PopoverBackgroundView : public View {
public:
    PopoverBackgroundView();

    GtkFixed* fixed() const { return GTK_FIXED(widget()); }

    // The popover to close once a link was opened; set by the owner.
    void setPopover(std::weak_ptr<Popover> popover) { popover_ = std::move(popover); }

    // The popover's colour, white when none; takes effect when the view enters a popover.
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = std::move(color); }

    // A label showing `before`, then `linkText` as a link to `url`, then `after` (all plain
    // text), whose link this view opens.
    GtkLabel* makeLinkLabel(const std::string& before, const std::string& linkText, const std::string& url,
                            const std::string& after = {});
    // Makes this view open the links of a label made elsewhere.
    void handleLinks(GtkLabel* label);

    // Only web addresses open: a link is text from outside, and the desktop would otherwise
    // run whatever handles its scheme.
    static bool opensLink(const std::string& url);

    // The widget coloured last (the GtkPopover or the pop-up window), nullptr before.
    GtkWidget* coloredFrame() const { return coloredFrame_.get(); }

private:
    void enteredHierarchy();
    bool activateLink(const std::string& url);

    std::weak_ptr<Popover> popover_;
    std::optional<Color> backgroundColor_;
    GObjectRef<GtkWidget> coloredFrame_;
    GObjectRef<GtkCssProvider> style_;
};

} // namespace kx
