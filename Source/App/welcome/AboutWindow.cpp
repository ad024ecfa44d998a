#include "App/welcome/AboutWindow.h"

#include "App/shell/widgets/Font.h"

namespace kx {

namespace {

GtkLabel* label(const char* text, double pointSize, PangoWeight weight = PANGO_WEIGHT_NORMAL)
{
    GtkLabel* made = GTK_LABEL(gtk_label_new(text));
    PangoAttrList* attributes = pango_attr_list_new();
    PangoFontDescription* description = Font::systemFont(pointSize, weight).description();
    pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
    pango_font_description_free(description);
    gtk_label_set_attributes(made, attributes);
    pango_attr_list_unref(attributes);
    gtk_label_set_justify(made, GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(GTK_WIDGET(made), GTK_ALIGN_CENTER);
    return made;
}

GtkButton* link(const char* title)
{
    // A link's look (the theme's for a link button in the link state) and its hand pointer;
    // what it opens is the controller's.
    GtkWidget* made = gtk_button_new_with_label(title);
    gtk_button_set_relief(GTK_BUTTON(made), GTK_RELIEF_NONE);
    gtk_style_context_add_class(gtk_widget_get_style_context(made), "link");
    gtk_widget_set_state_flags(made, GTK_STATE_FLAG_LINK, FALSE);
    gtk_widget_set_halign(made, GTK_ALIGN_CENTER);
    return GTK_BUTTON(made);
}

} // namespace

AboutWindow::AboutWindow()
    : Window(contentSize)
    , korvelIconView_(GTK_IMAGE(gtk_image_new()))
    , titleLabel_(label("Korvel X", 22, PANGO_WEIGHT_MEDIUM))
    , versionArea_(gtk_event_box_new())
    , versionLabel_(label("", 13))
    , extraVersionInfoLabel_(label("", 13))
    , acknowledgmentsLink_(link("Acknowledgements"))
    , termsOfServiceLink_(link("Terms of Service"))
    , style_(GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new()))
{
    setTitle("About Korvel X");
    setMenuBarVisible(false);
    GtkWindow* window = gtkWindow();
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);

    // A title bar in the window's own colour, with its close button only.
    GtkHeaderBar* bar = useTallTitleBar();
    // An empty title widget: clearing the bar's title would clear the window's, which the
    // desktop shows in its window lists.
    gtk_header_bar_set_custom_title(bar, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    gtk_css_provider_load_from_data(style_.get(),
                                    "headerbar.kx-about-titlebar, headerbar.kx-about-titlebar:backdrop {"
                                    " background-color: @theme_bg_color; background-image: none;"
                                    " border-color: transparent; box-shadow: none; }",
                                    -1, nullptr);
    GtkStyleContext* barStyle = gtk_widget_get_style_context(GTK_WIDGET(bar));
    gtk_style_context_add_provider(barStyle, GTK_STYLE_PROVIDER(style_.get()), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(barStyle, "kx-about-titlebar");
    setMovableByWindowBackground(true);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_margin_top(column, 0);
    gtk_widget_set_margin_bottom(column, 22);
    gtk_widget_set_size_request(GTK_WIDGET(korvelIconView_), iconSize, iconSize);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(korvelIconView_), FALSE, FALSE, 0);
    gtk_widget_set_margin_top(GTK_WIDGET(titleLabel_), 12);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(titleLabel_), FALSE, FALSE, 0);

    // The version takes its own clicks: a press there must not start moving the window.
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(versionArea_), FALSE);
    gtk_container_add(GTK_CONTAINER(versionArea_), GTK_WIDGET(versionLabel_));
    gtk_widget_set_halign(versionArea_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(versionArea_, 6);
    gtk_widget_add_events(versionArea_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        versionArea_, "button-press-event",
        [](GtkWidget*, GdkEventButton* event) -> gboolean { return event->button == GDK_BUTTON_PRIMARY; }));
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        versionArea_, "button-release-event", [this](GtkWidget* area, GdkEventButton* event) -> gboolean {
            if (event->button != GDK_BUTTON_PRIMARY)
                return FALSE;
            // Released over the version, not wherever the pointer went after the press.
            int x = 0, y = 0;
            GtkWidget* toplevel = gtk_widget_get_toplevel(area);
            int originX = 0, originY = 0;
            gdk_window_get_origin(gtk_widget_get_window(toplevel), &originX, &originY);
            gtk_widget_translate_coordinates(toplevel, area, int(event->x_root) - originX, int(event->y_root) - originY,
                                             &x, &y);
            if (x >= 0 && y >= 0 && x < gtk_widget_get_allocated_width(area) && y < gtk_widget_get_allocated_height(area)
                && versionClicked)
                versionClicked();
            return TRUE;
        }));
    gtk_box_pack_start(GTK_BOX(column), versionArea_, FALSE, FALSE, 0);
    gtk_widget_set_margin_top(GTK_WIDGET(extraVersionInfoLabel_), 2);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(extraVersionInfoLabel_), FALSE, FALSE, 0);

    GtkWidget* spacer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(column), spacer, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(acknowledgmentsLink_), FALSE, FALSE, 0);
    gtk_widget_set_margin_top(GTK_WIDGET(termsOfServiceLink_), 0);
    gtk_box_pack_start(GTK_BOX(column), GTK_WIDGET(termsOfServiceLink_), FALSE, FALSE, 0);
    for (GtkButton* linkButton : {acknowledgmentsLink_, termsOfServiceLink_}) {
        connections_.push_back(
            SignalConnection::connect<void(GtkButton*)>(linkButton, "clicked", [this, linkButton](GtkButton*) {
                const auto& handler = linkButton == acknowledgmentsLink_ ? acknowledgmentsClicked : termsOfServiceClicked;
                if (handler)
                    handler();
            }));
        connections_.push_back(SignalConnection::connect<void(GtkWidget*)>(linkButton, "realize", [](GtkWidget* button) {
            GdkWindow* input = gtk_button_get_event_window(GTK_BUTTON(button));
            auto hand = GObjectRef<GdkCursor>::adopt(gdk_cursor_new_from_name(gtk_widget_get_display(button), "pointer"));
            if (input && hand)
                gdk_window_set_cursor(input, hand.get());
        }));
    }
    gtk_widget_show_all(column);
    setContentView(column);

    // Escape closes it, as it closes a dialog.
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        widget(), "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean {
            if (event->keyval != GDK_KEY_Escape || (event->state & gtk_accelerator_get_default_mod_mask()))
                return FALSE;
            performClose();
            return TRUE;
        }));
    gtk_widget_add_events(widget(), GDK_BUTTON_RELEASE_MASK);
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventButton*)>(
        widget(), "button-release-event", [this](GtkWidget* window, GdkEventButton* event) -> gboolean {
            if (event->button != GDK_BUTTON_SECONDARY || !rightMouseUp)
                return FALSE;
            int originX = 0, originY = 0;
            gdk_window_get_origin(gtk_widget_get_window(window), &originX, &originY);
            rightMouseUp(Point{event->x_root - originX, event->y_root - originY});
            return TRUE;
        }));
}

AboutWindow::~AboutWindow()
{
    connections_.clear();
}

} // namespace kx
