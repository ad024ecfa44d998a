// The preview window's settings menu and live sharing with the real project server and editor
// page: what each action sends the editor, the menu on screen, the Live Preview popover from
// "starting" to "active" with a QR code that a reader decodes to the share address, stopping,
// and a server that dies while sharing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "App/editor/NimbetIPCProcessor.h"
#include "App/shell/AppInfo.h"
#include "Platform/UI/MenuPopup.h"
#include "Platform/UI/Workspace.h"
#include "gui/App/preview/PreviewFixture.h"
#include "support/ChildProcess.h"
#include "support/ClipboardContents.h"
#include "support/HttpFetch.h"
#include "support/RecordingDocument.h"
#include "support/ScopedSetting.h"

namespace {

using kxtest::json;
using kxtest::previewTimeout;
using kxtest::spinUntil;
using Kind = kx::MirrorPopoverState::Kind;

class PreviewSharingGui : public kxtest::PreviewFixture {
protected:
    // Shows the window on the phone frame "home" (skin graphite, hand right) with the catalogue
    // in place, and records what the editor page is sent from then on.
    void showHome()
    {
        makeController();
        controller->showWithMakeKey(true);
        select("home");
        waitForSelection("home");
        ASSERT_TRUE(spinUntil([&] { return controller->deviceManager().devices().size() == 3; }, previewTimeout));
        ASSERT_TRUE(spinUntil([&] { return controller->deviceDescriptor() != nullptr; }, previewTimeout));
        editor->evaluate("window.__sent = []; (() => { const emit = window._ipc.emit; window._ipc.emit = function (...a) "
                         "{ window.__sent.push(a); return emit.apply(this, a); }; })(); true");
    }
    // The messages the editor page received since the last call.
    json sent()
    {
        json calls = json::array();
        // None within the time is an answer too: the caller compares what came.
        (void)spinUntil([&] {
            calls = editor->evaluate("window.__sent");
            return !calls.empty();
        }, std::chrono::seconds(5));
        editor->evaluate("window.__sent = []; true");
        return calls;
    }
    void perform(const std::string& action, kx::Responder::Sender sender = nullptr)
    {
        ASSERT_TRUE(controller->tryToPerform(action, sender)) << action;
    }
    const kx::NimbetPreviewSettings& settings() { return controller->selection()->metadata.settings; }
    // The screen's pixels under `widget`, saved as PNG in `path`.
    static bool saveScreenshot(GtkWidget* widget, const std::filesystem::path& path)
    {
        kxtest::settle();
        GdkWindow* window = gtk_widget_get_window(widget);
        if (!window)
            return false;
        GtkAllocation allocation;
        gtk_widget_get_allocation(widget, &allocation);
        int x = 0, y = 0;
        gdk_window_get_origin(window, &x, &y);
        if (!gtk_widget_get_has_window(widget)) {
            x += allocation.x;
            y += allocation.y;
        }
        auto shot = kx::GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_get_from_window(
            gdk_get_default_root_window(), x, y, allocation.width, allocation.height));
        return shot && gdk_pixbuf_save(shot.get(), path.c_str(), "png", nullptr, nullptr);
    }
    // Keeps a copy for a person to look at when KX_SCREENSHOT_DIR is set.
    static void keep(const std::filesystem::path& shot, const std::string& name)
    {
        if (const char* folder = std::getenv("KX_SCREENSHOT_DIR"); folder && *folder)
            std::filesystem::copy_file(shot, std::filesystem::path(folder) / (name + ".png"),
                                       std::filesystem::copy_options::overwrite_existing);
    }
    static std::string decodeQR(const std::filesystem::path& image)
    {
        std::string text = kxtest::runProgram({"zbarimg", "--raw", "-q", image.string()}).output;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    kx::MirrorPopover& popover() { return controller->mirrorPopover(); }
    void startSharingFromThePopover()
    {
        ASSERT_TRUE(spinUntil([&] { return controller->liveSharingStatus() == "available"; }, previewTimeout));
        EXPECT_EQ(popover().state().kind, Kind::available);
        perform("showLivePreview:");
        ASSERT_TRUE(spinUntil([&] { return popover().isShown(); }));
        GtkButton* start = popover().viewController().availableView().mainButton();
        EXPECT_STREQ(gtk_button_get_label(start), "Start");
        gtk_button_clicked(start);
        EXPECT_EQ(popover().state().kind, Kind::starting);
        EXPECT_STREQ(gtk_button_get_label(popover().viewController().startingView().mainButton()), "Starting\u2026");
        EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(popover().viewController().startingView().mainButton())));
        ASSERT_TRUE(spinUntil([&] { return popover().state().kind == Kind::active; }, previewTimeout));
    }
};

TEST_F(PreviewSharingGui, EachActionSendsItsExactSettings)
{
    showHome();
    perform("toggleTouchCursor:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home", {"touch": true}]])"));
    ASSERT_TRUE(spinUntil([&] { return settings().touch; }, previewTimeout));
    EXPECT_EQ(controller->touchCursorMenuItem()->state(), kx::NativeMenuItem::State::on);

    perform("toggleResponsive:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home", {"responsive": true}]])"));
    ASSERT_TRUE(spinUntil([&] { return settings().responsive; }, previewTimeout));

    // The phone's hands in reverse page order are left, right: after "right" comes none.
    perform("toggleHand:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home", {"hand": null}]])"));
    ASSERT_TRUE(spinUntil([&] { return !settings().hand; }, previewTimeout));
    perform("toggleHand:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home",
        {"hand": "left", "deviceType": "korvel-phone", "bezel": true, "skin": "graphite"}]])"));
    ASSERT_TRUE(spinUntil([&] { return settings().hand == "left"; }, previewTimeout));

    perform("orientationButtonPressed:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home", {"rotate": true}]])"));
    ASSERT_TRUE(spinUntil([&] { return settings().rotate; }, previewTimeout));
    EXPECT_EQ(controller->landscapeMenuItem()->state(), kx::NativeMenuItem::State::on);

    // A skin item of the device menu.
    auto phone = controller->deviceCategoriesMenu()->itemWithTitle("Phone");
    ASSERT_TRUE(phone && phone->submenu());
    auto sand = phone->submenu()->itemWithTitle("sand");
    ASSERT_TRUE(sand);
    phone->submenu()->performActionForItem(*sand);
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home",
        {"deviceType": "korvel-phone", "skin": "sand", "bezel": true}]])"));
    ASSERT_TRUE(spinUntil([&] { return controller->deviceMenuType() == "korvel-phone;skin:sand"; }, previewTimeout));
    EXPECT_EQ(sand->state(), kx::NativeMenuItem::State::on);

    // To the responsive canvas and back to the phone.
    perform("selectResponsiveCanvasMode:");
    EXPECT_EQ(sent(), json::parse(R"([
        ["UpdatePreviewSettings", "home", {"deviceType": "Canvas", "skin": "", "bezel": false}],
        ["UpdatePreviewSettings", "home", {"deviceType": null, "responsive": true, "rotate": false}]])"));
    ASSERT_TRUE(spinUntil([&] { return controller->deviceIsCanvas(); }, previewTimeout));
    perform("settingsButtonPressed:");
    EXPECT_EQ(controller->deviceMenuItem()->title(), "Phone");
    // The menu pops up on a later turn of the main loop: closed before it shows, it would stay
    // on screen, holding the pointer, into the tests that follow.
    ASSERT_TRUE(spinUntil([] { return !kx::MenuPopup::openMenus().empty(); }));
    for (GtkMenu* menu : kx::MenuPopup::openMenus())
        gtk_menu_shell_cancel(GTK_MENU_SHELL(menu));
    ASSERT_TRUE(spinUntil([] { return kx::MenuPopup::openMenus().empty(); }));
    perform("clickDeviceMenuItem:");
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home",
        {"deviceType": "korvel-phone", "skin": "sand", "bezel": true}]])"));
    EXPECT_FALSE(controller->postCanvasModeDeviceMenuType());

    // The lock sends its state alone, the console nothing at all.
    gtk_button_clicked(GTK_BUTTON(controller->selectionLockButton().widget()));
    EXPECT_EQ(sent(), json::parse(R"([["SetPreviewSelectionLock", true]])"));
    perform("showPreviewInspector:");
    EXPECT_EQ(sent(), json::parse(R"([["TogglePreviewConsole"]])"));
}

TEST_F(PreviewSharingGui, TheSettingsMenuOnScreen)
{
    showHome();
    gtk_button_clicked(GTK_BUTTON(controller->settingsButton().widget()));
    ASSERT_TRUE(spinUntil([] { return !kx::MenuPopup::openMenus().empty(); }));
    GtkMenu* menu = kx::MenuPopup::openMenus().back();
    // The items as the selection has them: a device shown, so the canvas item is enabled.
    GtkWidget* touch = nullptr;
    std::vector<std::string> labels;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* node = children; node; node = node->next) {
        const char* label = GTK_IS_MENU_ITEM(node->data) ? gtk_menu_item_get_label(GTK_MENU_ITEM(node->data)) : nullptr;
        if (!label || GTK_IS_SEPARATOR_MENU_ITEM(node->data))
            continue;
        labels.emplace_back(label);
        if (labels.back() == "Touch Cursor")
            touch = GTK_WIDGET(node->data);
    }
    g_list_free(children);
    EXPECT_EQ(labels, (std::vector<std::string>{"Canvas", "Responsive Canvas", "Phone", "Hand", "Touch Cursor", "Landscape",
                                                "Console", "Reload", "Full Screen", "Keep on Top"}));
    const auto shot = folder / "settings-menu.png";
    ASSERT_TRUE(saveScreenshot(gtk_widget_get_toplevel(GTK_WIDGET(menu)), shot));
    keep(shot, "preview-settings-menu");
    ASSERT_TRUE(touch);
    EXPECT_TRUE(gtk_widget_get_sensitive(touch));
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), touch, TRUE);
    EXPECT_EQ(sent(), json::parse(R"([["UpdatePreviewSettings", "home", {"touch": true}]])"));
}

TEST_F(PreviewSharingGui, LiveSharingShowsTheQRCodeOfTheShareAddress)
{
    showHome();
    startSharingFromThePopover();
    const std::string url = *controller->liveSharingURL();
    EXPECT_EQ(popover().state().url, url);
    kx::MirrorPopoverStateView& active = popover().viewController().activeView();
    EXPECT_STREQ(gtk_button_get_label(active.mainButton()), "Stop");
    EXPECT_NE(std::string(gtk_label_get_label(active.message())).find("\">open in browser</a>"), std::string::npos);
    ASSERT_TRUE(active.qrCode());

    // What the phone's camera would read.
    GtkWidget* image = active.imageView();
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(image) && gtk_widget_get_allocated_width(image) == 136; }));
    kxtest::spinFor(std::chrono::milliseconds(400)); // the cross-fade ends
    // Three points a module, in the screen's pixels.
    const int scale = gtk_widget_get_scale_factor(image);
    EXPECT_EQ(active.qrCode()->modulePixels(136 * scale), 3 * scale);
    const auto shot = folder / "window.png";
    ASSERT_TRUE(saveScreenshot(controller->window()->widget(), shot));
    keep(shot, "preview-live-sharing-popover");
    EXPECT_EQ(decodeQR(shot), url);

    // The address serves the prototype's page.
    auto response = kxtest::fetch(url);
    EXPECT_EQ(response.status, 200u);

    // Copy puts exactly the address on the clipboard.
    controller->copyLiveSharingURL();
    EXPECT_EQ(kxtest::clipboardText(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)), url);

    // Stop: the popover closes and follows the server back to "available".
    gtk_button_clicked(active.mainButton());
    EXPECT_TRUE(spinUntil([&] { return !popover().isShown(); }));
    ASSERT_TRUE(spinUntil([&] { return popover().state().kind == Kind::available; }, previewTimeout));
    EXPECT_EQ(controller->liveSharingURL(), url); // kept until the next "active"

    // The preview's cleanup stops the sharing at the server and stops hearing the server: it
    // still says what it heard last.
    startSharingFromThePopover();
    controller->cleanup();
    ASSERT_TRUE(spinUntil([&] { return server->state()->liveSharing.status == "available"; }, previewTimeout));
    kxtest::settle();
    EXPECT_EQ(controller->liveSharingStatus(), "active");
}

TEST_F(PreviewSharingGui, AnEnterpriseBuildsToolbarHasNoLiveSharingButton)
{
    const auto buttonsNamed = [](kx::PreviewWindowController& preview, const std::string& name) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(preview.window()->headerBar()));
        int count = 0;
        for (GList* child = children; child; child = child->next) {
            const char* named = atk_object_get_name(gtk_widget_get_accessible(GTK_WIDGET(child->data)));
            count += named && name == named;
        }
        g_list_free(children);
        return count;
    };
    makeController();
    EXPECT_EQ(buttonsNamed(*controller, "Live Preview"), 1);
    // Its project server runs without live sharing.
    const auto enterpriseInfo = std::make_shared<kx::AppInfo>(
        kx::Bundle(kx::Bundle::main().resourcePath(),
                   {{"CFBundleIdentifier", "com.korvel.x.enterprise"}, {"CFBundleShortVersionString", "1.0.0"}}),
        "KorvelX");
    std::shared_ptr<kx::PreviewWindowController> enterprise;
    {
        kxtest::ScopedSetting current(kx::AppInfo::setCurrent, enterpriseInfo, kx::AppInfo::current());
        enterprise = kx::PreviewWindowController::make(document);
    }
    EXPECT_EQ(enterprise->liveSharingButton(), nullptr);
    EXPECT_EQ(buttonsNamed(*enterprise, "Live Preview"), 0);
    EXPECT_EQ(buttonsNamed(*enterprise, "Rotate"), 1);
    enterprise->cleanup();
}

TEST_F(PreviewSharingGui, AServerThatDiesWhileSharingShowsTheErrorView)
{
    showHome();
    startSharingFromThePopover();
    ASSERT_GT(server->processIdentifier(), 0);
    ::kill(server->processIdentifier(), SIGKILL);
    ASSERT_TRUE(spinUntil([&] { return popover().state().kind == Kind::error; }, previewTimeout));
    kx::MirrorPopoverStateView& error = popover().viewController().errorView();
    EXPECT_STREQ(gtk_label_get_text(error.message()), "Couldn't start Live Preview.");
    EXPECT_STREQ(gtk_button_get_label(error.mainButton()), "Contact Support");
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(error.retryButton())));
    kxtest::spinFor(std::chrono::milliseconds(400)); // the cross-fade ends
    EXPECT_TRUE(popover().isShown());
    const auto shot = folder / "error.png";
    ASSERT_TRUE(saveScreenshot(controller->window()->widget(), shot));
    keep(shot, "preview-live-sharing-error");
    // Contact Support opens the support page.
    std::string opened;
    {
        kxtest::ScopedSetting opener(kx::Workspace::shared(), &kx::Workspace::setURLOpenerForTesting, [&](const std::string& url) {
            opened = url;
            return true;
        });
        gtk_button_clicked(error.mainButton());
    }
    EXPECT_EQ(opened, "https://www.korvel.com/support/?utm_source=korvel_x_app&utm_medium=link&utm_campaign=help");
}

TEST_F(PreviewSharingGui, StoreDataFromTheEditorPageReachesThePreviewPageAndNoneStaysNone)
{
    showHome();
    ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
    evaluateInPage("(() => { window.__store = []; window._ipc = window._ipc || {}; const emit = window._ipc.emit; "
                   "window._ipc.emit = function (n, ...a) { if (n === 'serverStoreData') window.__store.push(a); "
                   "return emit ? emit.apply(this, [n, ...a]) : undefined; }; })(); true");
    // The document hands the editor's store data on to its preview.
    auto document = std::make_shared<kxtest::RecordingDocument>();
    document->onStoreData = [preview = std::weak_ptr(controller)](const std::optional<json>& arguments) {
        if (auto held = preview.lock())
            held->nimbetServerStoreData(arguments);
    };
    auto processor = std::make_shared<kx::NimbetIPCProcessor>();
    processor->setDelegate(document);
    editor->controller->setNimbetIPCProcessor(processor);

    // The editor page posts through the real bridge: no arguments, null, a list, an empty
    // object, store data. Only the two objects are store data.
    editor->evaluate("(() => { const post = (m) => window.webkit.messageHandlers._webkit.postMessage(JSON.stringify(m));"
                     " post({method: 'ServerStoreData'}); post({method: 'ServerStoreData', arguments: null});"
                     " post({method: 'ServerStoreData', arguments: [1]}); post({method: 'ServerStoreData', arguments: {}});"
                     " post({method: 'ServerStoreData', arguments: {count: 2, name: 'caf\u00e9 </script>'}}); })(); true");
    ASSERT_TRUE(spinUntil([&] { return evaluateInPage("window.__store.length") == 2; }, previewTimeout));
    kxtest::spinFor(std::chrono::milliseconds(200));
    EXPECT_EQ(evaluateInPage("window.__store"), json::parse(R"([[{}], [{"count": 2, "name": "café </script>"}]])"));

    // Text that is not UTF-8 has no JSON form: it is dropped, not sent half.
    controller->nimbetServerStoreData(json{{"bad", std::string("\xff\xfe")}});
    controller->nimbetServerStoreData(json{{"after", true}});
    ASSERT_TRUE(spinUntil([&] { return evaluateInPage("window.__store.length") == 3; }, previewTimeout));
    EXPECT_EQ(evaluateInPage("window.__store[2]"), json::parse(R"([{"after": true}])"));
}

} // namespace

namespace {

// The popover alone, with states no well-behaved server sends.
TEST(MirrorPopoverGui, HostileAddressesAndStates)
{
    kx::MirrorPopover popover;
    // Before any state: the error layout with the generic message and a "Start" that does nothing.
    EXPECT_EQ(popover.state().kind, Kind::unavailable);
    auto& error = popover.viewController().errorView();
    EXPECT_STREQ(gtk_label_get_text(error.message()), kx::MirrorPopoverState::genericMessage);
    EXPECT_STREQ(gtk_button_get_label(error.mainButton()), "Start");
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(error.retryButton())));
    bool started = false;
    popover.startLiveSharing = [&] { started = true; };
    gtk_button_clicked(error.mainButton());
    EXPECT_FALSE(started);

    // Markup in the address stays text; a code too long for the tile is not drawn.
    const std::string hostile = "http://x/\"><b>&amp;</a>" + std::string(3000, 'q');
    popover.setState(kx::MirrorPopoverState::active(hostile));
    auto& active = popover.viewController().activeView();
    EXPECT_STREQ(gtk_label_get_text(active.message()),
                 "Scan the QR code with your camera to view on mobile, or open in browser.");
    EXPECT_FALSE(active.qrCode());
    const std::string moderate = "http://192.168.1.2:4000/" + std::string(600, 'z') + "/";
    popover.setState(kx::MirrorPopoverState::active(moderate));
    ASSERT_TRUE(active.qrCode());
    EXPECT_EQ(active.qrCode()->modulePixels(136), 1);
    // Available: "Start" asks the window; toggling with no sender only closes.
    popover.setState(kx::MirrorPopoverState::of(Kind::available));
    gtk_button_clicked(popover.viewController().availableView().mainButton());
    EXPECT_TRUE(started);
    popover.toggleVisible(nullptr);
    EXPECT_FALSE(popover.isShown());
    // A retryable error offers to try again.
    started = false;
    popover.setState(kx::MirrorPopoverState::failed(kx::MirrorPopoverState::startFailedError(), true));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(error.retryButton())));
    gtk_button_clicked(error.retryButton());
    EXPECT_TRUE(started);
}

} // namespace
