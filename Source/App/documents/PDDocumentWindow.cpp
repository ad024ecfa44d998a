#include "App/documents/PDDocumentWindow.h"

#include <nlohmann/json.hpp>

#include "App/documents/PDBaseDocument.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace {

constexpr int buttonSize = 30;

} // namespace

PDDocumentWindow::PDDocumentWindow(std::weak_ptr<PDBaseDocument> document, GtkWidget* editorView, Buttons buttons)
    : Window({double(defaultWidth), double(defaultHeight)})
    , document_(std::move(document))
{
    gtk_window_set_default_size(gtkWindow(), defaultWidth, defaultHeight);
    gtk_window_set_resizable(gtkWindow(), TRUE);
    gtk_widget_set_size_request(widget(), 640, 420);
    if (auto menu = NativeMenu::mainMenu())
        setMenu(menu);
    GtkHeaderBar* bar = useTallTitleBar();
    gtk_header_bar_set_show_close_button(bar, TRUE);

    // The accessory styles the bar at night; the buttons stand in a box of their own at its end.
    buttonBox_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_widget_set_valign(buttonBox_, GTK_ALIGN_CENTER);
    gtk_header_bar_pack_end(bar, accessory_.widget());
    gtk_header_bar_pack_end(bar, buttonBox_);
    gtk_widget_show(accessory_.widget());
    gtk_widget_show(buttonBox_);

    if (buttons.preview)
        previewButton_ = makeButton("icon-preview", "Show Preview", ifAlive(document_, &PDBaseDocument::showPreviewWindow));
    if (buttons.liveSharing)
        livePreviewButton_ = makeButton("icon-live-preview", "Live Sharing", ifAlive(document_, &PDBaseDocument::showLivePreview));
    if (buttons.messenger)
        setIntercomImage(PDBaseDocument::intercomImageName(0));

    if (editorView) {
        editorView_ = GObjectRef<GtkWidget>::retain(editorView);
        gtk_widget_set_hexpand(editorView, TRUE);
        gtk_widget_set_vexpand(editorView, TRUE);
        setContentView(editorView);
        gtk_widget_show(editorView);
        // The keys start in the editor, not at the title bar's first button (F10 goes there).
        gtk_window_set_focus(gtkWindow(), editorView);
    }

    responder_.attachToWidget(widget());
    if (auto owner = document_.lock())
        responder_.setNextResponder(owner.get());
    ResponderChain::shared().trackWindow(gtkWindow());

    // After every other handler: what reaches the window was taken by no widget.
    keyPress_ = SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        widget(), "key-press-event", [this](GtkWidget*, GdkEventKey* event) -> gboolean { return keyPressed(*event); },
        G_CONNECT_AFTER);
}

PDDocumentWindow::~PDDocumentWindow()
{
    keyPress_.disconnect();
    responder_.attachToWidget(nullptr);
    if (editorView_)
        if (GtkWidget* parent = gtk_widget_get_parent(editorView_.get()))
            gtk_container_remove(GTK_CONTAINER(parent), editorView_.get());
}

std::unique_ptr<ToolbarButton> PDDocumentWindow::makeButton(const std::string& image, const std::string& tooltip,
                                                            std::function<void()> action)
{
    auto button = std::make_unique<ToolbarButton>(image);
    gtk_widget_set_size_request(button->widget(), buttonSize, buttonSize);
    gtk_widget_set_tooltip_text(button->widget(), tooltip.c_str());
    button->setAction(std::move(action));
    gtk_box_pack_start(GTK_BOX(buttonBox_), button->widget(), FALSE, FALSE, 0);
    gtk_widget_show(button->widget());
    return button;
}

void PDDocumentWindow::setIntercomImage(const std::string& imageName)
{
    intercomImage_ = imageName;
    // The same button with another image: the support chat shown from it stays tied to it.
    if (intercomButton_) {
        intercomButton_->setImageName(imageName);
        return;
    }
    intercomButton_ = makeButton(imageName, "Support", ifAlive(document_, &PDBaseDocument::toggleIntercomPopover));
}

void PDDocumentWindow::setIntercomEnabled(bool enabled)
{
    if (intercomButton_)
        gtk_widget_set_sensitive(intercomButton_->widget(), enabled);
}

double PDDocumentWindow::heightOfTitleBar() const
{
    GtkWidget* bar = titleBar() ? GTK_WIDGET(titleBar()) : nullptr;
    if (!bar || !gtk_widget_get_visible(bar))
        return 0;
    return gtk_widget_get_allocated_height(bar);
}

bool PDDocumentWindow::keyPressed(const GdkEventKey& event)
{
    if (event.keyval != GDK_KEY_Escape)
        return false;
    NotificationCenter::defaultCenter().post(WindowEscPressedNotification, this,
                                             {{"event", {{"keyval", event.keyval}, {"state", event.state}, {"time", event.time}}}});
    return true;
}

void PDDocumentWindow::performClose()
{
    // The document decides, asking about unsaved work first; it closes this window.
    if (auto document = document_.lock())
        document->performClose();
    else
        close();
}

void PDDocumentWindow::windowWillClose()
{
    // Closed by other means than the document: the document goes with its window.
    if (auto document = document_.lock(); document && !document->isClosed())
        MainQueue::async(ifAlive(document_, &PDBaseDocument::close));
}

} // namespace kx
