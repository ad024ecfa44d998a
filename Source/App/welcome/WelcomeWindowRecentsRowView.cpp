#include "App/welcome/WelcomeWindowRecentsRowView.h"

#include <cmath>

#include <glib.h>
#include <pango/pangocairo.h>

#include "App/shell/AppAppearance.h"

namespace kx {

namespace {

void replaceEvery(std::string& text, std::string_view what, std::string_view with)
{
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// A file name is any bytes; what the row draws is UTF-8.
std::string displayable(std::string text)
{
    if (g_utf8_validate(text.data(), gssize(text.size()), nullptr))
        return text;
    gchar* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

} // namespace

WelcomeWindowRecentsRowView::WelcomeWindowRecentsRowView()
    : View(gtk_drawing_area_new())
{
    connect<void(GtkWidget*, GtkWidget*)>("parent-set", [this](GtkWidget*, GtkWidget*) { viewDidMoveToSuperview(); });
    connect<gboolean(GtkWidget*, cairo_t*)>("draw", [this](GtkWidget*, cairo_t* cr) -> gboolean {
        draw(cr);
        return FALSE;
    });
}

std::string WelcomeWindowRecentsRowView::titleText(const std::filesystem::path& url)
{
    std::string title = url.filename().string();
    replaceEvery(title, ".korvelx", "");
    return displayable(std::move(title));
}

std::string WelcomeWindowRecentsRowView::pathText(const std::filesystem::path& url, const std::filesystem::path& home)
{
    const std::string folder = url.parent_path().string();
    std::string prefix = home.string();
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    // Only a whole leading home folder: "/home/bob" must not shorten "/home/bobby/p".
    if (prefix.empty() || folder.compare(0, prefix.size(), prefix) != 0)
        return displayable(folder);
    if (folder.size() == prefix.size())
        return "~";
    if (folder[prefix.size()] == '/')
        return displayable("~" + folder.substr(prefix.size()));
    return displayable(folder);
}

WelcomeWindowRecentsRowView::Label WelcomeWindowRecentsRowView::labelWithText(const std::string& text)
{
    Label label;
    label.text = text;
    label.font = Font::systemFont(13);
    label.textColor = Color::colorWithHexColorString("000000");
    return label;
}

void WelcomeWindowRecentsRowView::viewDidMoveToSuperview()
{
    if (!gtk_widget_get_parent(widget()))
        return; // taken out of its row: the labels stay as they are
    const Size bounds = boundsSize();
    const double midY = bounds.height * 0.5;
    const std::string title = titleText(contents.url);
    const std::string path = pathText(contents.url, g_get_home_dir());
    const double s = scale > 0 && std::isfinite(scale) ? scale : 1;
    const double textX = std::round(10 * s);
    const double right = bounds.width - std::round(12 * s);
    if (!titleLabel_) {
        Label label = labelWithText(title);
        label.frame = {{textX, std::floor(path.empty() ? midY - 9 * s : midY - 15 * s)}, {right - textX, std::round(20 * s)}};
        label.font = Font::systemFont(12);
        titleLabel_ = std::move(label);
    }
    if (!pathLabel_) {
        Label label = labelWithText(path);
        label.frame = {{textX, std::floor(midY + 2 * s)}, {right - textX, std::round(18 * s)}};
        label.font = Font::systemFont(10);
        label.hidden = path.empty();
        pathLabel_ = std::move(label);
    }
    setRowState(rowState_);
}

void WelcomeWindowRecentsRowView::setRowState(WelcomeWindowRecentsRowState state)
{
    const bool changed = state != rowState_;
    rowState_ = state;
    const bool isDark = AppAppearance::shared().isDark();
    const bool selected = state == WelcomeWindowRecentsRowState::selected;
    if (titleLabel_)
        titleLabel_->textColor = selected ? AppAppearance::Colors::welcomeRecentsSelectionTitle()
                                          : Color::colorWithHexColorString(isDark ? "FFFFFF" : "1D1D1F");
    if (pathLabel_)
        pathLabel_->textColor = selected ? AppAppearance::Colors::welcomeRecentsSelectionPath()
                                         : Color::colorWithHexColorString(isDark ? "444444" : "D2D2D3");
    if (changed)
        gtk_widget_queue_draw(widget());
}

void WelcomeWindowRecentsRowView::draw(cairo_t* cr) const
{
    for (const auto* label : {&titleLabel_, &pathLabel_}) {
        if (!*label || (*label)->hidden || (*label)->text.empty())
            continue;
        const Label& line = **label;
        const auto made = GObjectRef<PangoLayout>::adopt(pango_layout_new(Font::context(cr).get()));
        PangoLayout* layout = made.get();
        pango_layout_set_text(layout, line.text.c_str(), -1);
        PangoFontDescription* description = line.font.description();
        pango_layout_set_font_description(layout, description);
        pango_font_description_free(description);
        pango_layout_set_width(layout, int(std::lround(line.frame.size.width * PANGO_SCALE)));
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        pango_layout_set_single_paragraph_mode(layout, TRUE);
        int height = 0;
        pango_layout_get_pixel_size(layout, nullptr, &height);
        cairo_set_source_rgba(cr, line.textColor.red, line.textColor.green, line.textColor.blue, line.textColor.alpha);
        cairo_move_to(cr, line.frame.origin.x, line.frame.origin.y + std::floor((line.frame.size.height - height) / 2));
        pango_cairo_show_layout(cr, layout);
    }
}

} // namespace kx
