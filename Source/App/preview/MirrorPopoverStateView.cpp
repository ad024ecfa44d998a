#include "App/preview/MirrorPopoverStateView.h"

#include <string>

#include <glib.h>

namespace kx {

namespace {

constexpr const char* css = R"css(
.kx-live-title { font-size: 13px; font-weight: 600; }
.kx-live-message { font-size: 11px; color: #999999; }
.kx-live-message link, .kx-live-message link:link, .kx-live-message link:visited { color: #0099FF; }
.kx-live-button { font-size: 11px; }
.kx-live-retry { font-size: 11px; color: #0099FF; padding: 0; min-height: 0; }
)css";

void styled(GtkWidget* widget, const char* styleClass, GtkCssProvider* provider)
{
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    gtk_style_context_add_class(context, styleClass);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

} // namespace

MirrorPopoverStateView::MirrorPopoverStateView(MirrorPopoverState::Kind intrinsicState)
    : intrinsicState_(intrinsicState)
    , box_(GObjectRef<GtkWidget>::sink(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0)))
    , style_(GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new()))
{
    using Kind = MirrorPopoverState::Kind;
    gtk_css_provider_load_from_data(style_.get(), css, -1, nullptr);
    GtkWidget* box = box_.get();
    gtk_widget_set_size_request(box, width, -1);

    title_ = gtk_label_new("Live Preview");
    styled(title_, "kx-live-title", style_.get());
    gtk_widget_set_margin_top(title_, 20);
    gtk_widget_set_margin_start(title_, 20);
    gtk_widget_set_margin_end(title_, 20);

    message_ = gtk_label_new("");
    styled(message_, "kx-live-message", style_.get());
    gtk_label_set_line_wrap(GTK_LABEL(message_), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(message_), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(message_), GTK_JUSTIFY_CENTER);
    // Wrapped at exactly the layout's width: neither a word a line (containers that ask for
    // the smallest width first) nor one long line (those that ask for the natural width).
    gtk_widget_set_size_request(message_, width - 40, -1);
    gtk_label_set_max_width_chars(GTK_LABEL(message_), 1);
    gtk_label_set_selectable(GTK_LABEL(message_), FALSE);
    gtk_widget_set_margin_top(message_, 10);
    gtk_widget_set_margin_start(message_, 20);
    gtk_widget_set_margin_end(message_, 20);

    mainButton_ = gtk_button_new_with_label("");
    styled(mainButton_, "kx-live-button", style_.get());
    gtk_widget_set_sensitive(mainButton_, FALSE);
    gtk_widget_set_halign(mainButton_, GTK_ALIGN_CENTER);
    gtk_widget_set_size_request(mainButton_, mainButtonWidth, -1);
    gtk_widget_set_margin_top(mainButton_, 15);
    if (intrinsicState == Kind::available)
        gtk_widget_set_can_default(mainButton_, TRUE);
    connections_.push_back(SignalConnection::connect<void(GtkButton*)>(mainButton_, "clicked", [this](GtkButton*) {
        if (mainAction)
            mainAction();
    }));

    gtk_box_pack_start(GTK_BOX(box), title_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), message_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), mainButton_, FALSE, FALSE, 0);

    if (intrinsicState == Kind::active) {
        imageView_ = gtk_drawing_area_new();
        gtk_widget_set_size_request(imageView_, int(QRCodeImage::tileSize), int(QRCodeImage::tileSize));
        gtk_widget_set_halign(imageView_, GTK_ALIGN_CENTER);
        gtk_widget_set_margin_top(imageView_, 35);
        gtk_widget_set_margin_bottom(imageView_, 35);
        connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, cairo_t*)>(
            imageView_, "draw", [this](GtkWidget* widget, cairo_t* cr) -> gboolean {
                if (qrCode_)
                    qrCode_->draw(cr, gtk_widget_get_scale_factor(widget));
                return TRUE;
            }));
        gtk_box_pack_start(GTK_BOX(box), imageView_, FALSE, FALSE, 0);
    } else {
        gtk_widget_set_margin_bottom(mainButton_, 20);
    }
    if (intrinsicState == Kind::error) {
        retryButton_ = gtk_button_new_with_label("Try Again");
        styled(retryButton_, "kx-live-retry", style_.get());
        gtk_button_set_relief(GTK_BUTTON(retryButton_), GTK_RELIEF_NONE);
        gtk_widget_set_halign(retryButton_, GTK_ALIGN_CENTER);
        gtk_widget_set_margin_bottom(retryButton_, 12);
        gtk_widget_set_no_show_all(retryButton_, TRUE);
        connections_.push_back(SignalConnection::connect<void(GtkButton*)>(retryButton_, "clicked", [this](GtkButton*) {
            if (retryAction)
                retryAction();
        }));
        gtk_box_pack_start(GTK_BOX(box), retryButton_, FALSE, FALSE, 0);
    }
    gtk_widget_show_all(box);
}

MirrorPopoverStateView::~MirrorPopoverStateView()
{
    connections_.clear();
}

void MirrorPopoverStateView::reflect(const MirrorPopoverState& state)
{
    using Kind = MirrorPopoverState::Kind;
    const std::string message = state.message();
    const std::string phrase = MirrorPopoverState::linkPhrase;
    const auto at = message.find(phrase);
    if (state.kind == Kind::active && at != std::string::npos) {
        // The address goes into markup: escaped, and it opens only as a web address (the view
        // that holds the label decides).
        gchar* before = g_markup_escape_text(message.substr(0, at).c_str(), -1);
        gchar* link = g_markup_escape_text(phrase.c_str(), -1);
        gchar* after = g_markup_escape_text(message.substr(at + phrase.size()).c_str(), -1);
        gchar* url = g_markup_escape_text(state.url.c_str(), -1);
        const std::string markup = std::string(before) + "<a href=\"" + url + "\">" + link + "</a>" + after;
        g_free(before);
        g_free(link);
        g_free(after);
        g_free(url);
        gtk_label_set_markup(GTK_LABEL(message_), markup.c_str());
    } else {
        gtk_label_set_text(GTK_LABEL(message_), message.c_str());
    }
    gtk_button_set_label(GTK_BUTTON(mainButton_), state.mainButtonTitle().c_str());
    qrCode_ = state.kind == Kind::active ? QRCodeImage::make(state.url) : std::nullopt;
    if (imageView_)
        gtk_widget_queue_draw(imageView_);
    if (retryButton_)
        gtk_widget_set_visible(retryButton_, state.kind == Kind::error && state.canRetry);
}

} // namespace kx
