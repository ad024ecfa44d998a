#include "App/welcome/RKAboutWindow.h"

#include <gtk/gtk.h>

#include "App/shell/widgets/Font.h"
#include "App/shell/widgets/NamedImages.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/NativeMenuItem.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

// The label's font in `weight`, at the size it has.
void setWeight(GtkLabel* label, PangoWeight weight)
{
    PangoAttrList* current = gtk_label_get_attributes(label);
    if (!current)
        return; // no font to change
    double pointSize = 13;
    PangoAttrIterator* iterator = pango_attr_list_get_iterator(current);
    if (auto* font = reinterpret_cast<PangoAttrFontDesc*>(pango_attr_iterator_get(iterator, PANGO_ATTR_FONT_DESC)))
        pointSize = Font::pointSizeOf(font->desc);
    pango_attr_iterator_destroy(iterator);
    PangoAttrList* attributes = pango_attr_list_new();
    PangoFontDescription* description = Font::systemFont(pointSize, weight).description();
    pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
    pango_font_description_free(description);
    gtk_label_set_attributes(label, attributes);
    pango_attr_list_unref(attributes);
}

GObjectRef<GdkPixbuf> applicationIcon(int size)
{
    // The icon the application gave its windows, else the one among the resources.
    GList* icons = gtk_window_get_default_icon_list();
    GdkPixbuf* best = nullptr;
    for (GList* link = icons; link; link = link->next) {
        auto* icon = static_cast<GdkPixbuf*>(link->data);
        if (!best || gdk_pixbuf_get_width(icon) > gdk_pixbuf_get_width(best))
            best = icon;
    }
    auto scaled = GObjectRef<GdkPixbuf>::adopt(best ? gdk_pixbuf_scale_simple(best, size, size, GDK_INTERP_BILINEAR) : nullptr);
    g_list_free(icons);
    if (scaled)
        return scaled;
    return GObjectRef<GdkPixbuf>::retain(NamedImages::shared().imageNamed("AppIcon", size, size));
}

} // namespace

RKAboutWindow& RKAboutWindow::sharedInstance()
{
    static auto* controller = new RKAboutWindow();
    return *controller;
}

RKAboutWindow::RKAboutWindow(std::shared_ptr<const AppInfo> info)
    : info_(std::move(info))
{
    addAction(copyVersionAction, [this](Sender) { handleCopyVersion(); });
}

RKAboutWindow::~RKAboutWindow() = default;

void RKAboutWindow::showWindow(const void*)
{
    if (!window_) {
        window_ = std::make_unique<AboutWindow>();
        awakeFromNib();
        windowDidLoad();
    }
    window_->makeKeyAndOrderFront();
}

void RKAboutWindow::close()
{
    if (window_)
        window_->close();
}

bool RKAboutWindow::isVisible() const
{
    return window_ && window_->isVisible();
}

void RKAboutWindow::awakeFromNib()
{
    gtk_label_set_text(window_->extraVersionInfoLabel(), info_->buildName().c_str());
    // A build without a name shows no empty line for it.
    gtk_widget_set_visible(GTK_WIDGET(window_->extraVersionInfoLabel()), !info_->buildName().empty());
    setWeight(window_->extraVersionInfoLabel(), PANGO_WEIGHT_ULTRALIGHT);
    setWeight(window_->versionLabel(), PANGO_WEIGHT_THIN);
}

void RKAboutWindow::windowDidLoad()
{
    AboutWindow& window = *window_;
    showIcon();
    // Drawn again for a screen of another scale, as the window moves there.
    iconScale_ = SignalConnection::connect<void(GObject*, GParamSpec*)>(
        window.korvelIconView(), "notify::scale-factor", [this](GObject*, GParamSpec*) { showIcon(); });
    window.versionClicked = [this] { mouseUpOnVersionLabel(); };
    window.rightMouseUp = [this](std::optional<Point> at) { rightMouseUp(at); };
    window.acknowledgmentsClicked = [this] { acknowledgmentsClicked(); };
    window.termsOfServiceClicked = [this] { termsOfServiceClicked(); };
    updateVersionLabel();
}

void RKAboutWindow::showIcon()
{
    GtkImage* view = window_->korvelIconView();
    const int scale = gtk_widget_get_scale_factor(GTK_WIDGET(view));
    const auto icon = applicationIcon(AboutWindow::iconSize * scale);
    if (!icon)
        return;
    cairo_surface_t* surface = gdk_cairo_surface_create_from_pixbuf(icon.get(), scale, nullptr);
    gtk_image_set_from_surface(view, surface);
    cairo_surface_destroy(surface);
}

void RKAboutWindow::updateVersionLabel()
{
    if (!window_)
        return;
    const auto& info = info_->bundle().infoDictionary();
    const auto value = info.is_object() ? info.find(versionLabelKeys[std::size_t(versionLabelSelectedKey_)]) : info.end();
    if (info.is_object() && value != info.end() && value->is_string())
        gtk_label_set_text(window_->versionLabel(), value->get_ref<const std::string&>().c_str());
}

void RKAboutWindow::mouseUpOnVersionLabel()
{
    versionLabelSelectedKey_ = versionLabelSelectedKey_ == 0 ? 1 : 0;
    updateVersionLabel();
}

std::shared_ptr<NativeMenu> RKAboutWindow::rightMouseUp(std::optional<Point> at)
{
    auto menu = NativeMenu::make("About Menu");
    auto item = NativeMenuItem::make("Copy Version", copyVersionAction, "");
    item->setTarget(this);
    menu->addItem(item);
    std::optional<Rect> rect;
    if (at)
        rect = Rect{*at, {1, 1}};
    MenuPopup::popUp(menu, window_ ? window_->widget() : nullptr, rect, [](std::shared_ptr<NativeMenuItem>) {});
    return menu;
}

std::string RKAboutWindow::versionDescription() const
{
    const auto& info = info_->bundle().infoDictionary();
    std::string version = "Unknown Version";
    if (info.is_object()) {
        if (auto value = info.find("CFBundleShortVersionString"); value != info.end())
            version = value->is_string() ? value->get<std::string>() : value->dump();
    }
    return "Korvel X " + info_->buildName() + ": " + version;
}

void RKAboutWindow::handleCopyVersion()
{
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_clear(clipboard);
    const std::string text = versionDescription();
    gtk_clipboard_set_text(clipboard, text.c_str(), int(text.size()));
}

void RKAboutWindow::acknowledgmentsClicked()
{
    const auto file = info_->bundle().pathForResource("Acknowledgements", "md");
    if (!file)
        return;
    gchar* uri = g_filename_to_uri(file->c_str(), nullptr, nullptr);
    if (uri)
        Workspace::shared().openURL(uri);
    g_free(uri);
}

void RKAboutWindow::termsOfServiceClicked()
{
    std::optional<std::string> site = info_->bundle().stringForInfoKey(websiteKey);
    if (!site || site->empty())
        return;
    if (site->back() != '/')
        *site += '/';
    Workspace::shared().openURL(*site + "tos/");
}

} // namespace kx
