// The start window: the start page on the left, at the right edge a sidebar with the recent
// documents and the buttons "Open…" and "New", a close button at the top left, the main
// menu's button facing it, and a strip at the top of the page that moves the window. Every
// command of the window closes it; the document controller shows it again when no document is
// left.
//
// The list is refreshed whenever the window is shown or becomes active: read once for a
// showing and the activations that come with it, and anew at each later activation. The page stays hidden
// until it reports that its document has loaded, then fades in. Day and night recolour the
// window at once. Main thread only.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "App/shell/Color.h"
#include "App/welcome/WelcomePageBridge.h"
#include "App/welcome/WelcomeWindowLayout.h"
#include "App/welcome/WelcomeWindowNoRecentDocumentsView.h"
#include "App/welcome/WelcomeWindowRecentsTableView.h"
#include "App/shell/widgets/ImageMouseOverButton.h"
#include "App/shell/widgets/TitlelessWindow.h"
#include "App/shell/widgets/WelcomeWindowButton.h"
#include "App/shell/widgets/WindowDragView.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class WebViewController;

class WelcomeWindow : public TitlelessWindow, private WelcomeWindowRecentsTableView::Delegate {
public:
    // At 100 % text; the window grows with the desktop's text scale and shrinks to the screen.
    static constexpr Size defaultContentSize{840, 540};
    // How long the list read for a showing serves the activations that follow it.
    static constexpr std::chrono::microseconds listSharedFor{500'000};

    // The recent documents, most recent first (the document controller's list).
    using RecentDocumentsSource = std::function<std::vector<std::filesystem::path>()>;

    // Without a source the window shows RecentDocuments::shared(); without an environment the
    // page's requests reach the process's tracker, experiments and desktop.
    explicit WelcomeWindow(Size contentSize = defaultContentSize, RecentDocumentsSource source = {},
                           std::optional<WelcomePageBridge::Environment> environment = std::nullopt);
    ~WelcomeWindow() override;

    // Shows the window, centred the first time and whenever it would lie off the screen, at
    // the size its text scale asks for or as much of it as the screen holds.
    void makeKeyAndOrderFront() override;
    // Where the views stand now.
    const WelcomeWindowLayout& layout() const { return layout_; }
    // Heard after the window closed (the controller's notification).
    std::function<void()> didClose;

    // Commands.
    void newPrototype();
    void openFile();
    void openRecentFile();
    void handleDoubleClick(int clickedRow) override;
    void handleBridgeMethod(const std::string& method, const nlohmann::json& arguments);

    // The list.
    void loadRecentFiles();
    // Reads the list and shows it: the rows, or the notice when there are none.
    void reloadRecentFiles();
    void showOrHideNoRecentFileInfo();
    // Shows the list as last read: the rows, or the notice when there are none.
    void showRecentFiles();
    WelcomeWindowRecentsTableView* recentsTableView() override { return recentsTableView_.get(); }
    const std::vector<std::filesystem::path>& recentDocuments() const override { return recentDocuments_; }
    WelcomeWindowNoRecentDocumentsView* noRecentDocumentsView() const { return noRecentDocumentsView_.get(); }

    // Parts, for the controller and tests.
    WebViewController& webViewController() const { return *webView_; }
    WelcomePageBridge& pageBridge() { return bridge_; }
    WelcomeWindowButton& openButton() const { return *openButton_; }
    WelcomeWindowButton& newButton() const { return *newButton_; }
    ImageMouseOverButton& closeButton() const { return *closeButton_; }
    GtkWidget* dragView() const { return dragView_.widget(); }
    GtkWidget* sidebarBox() const { return sidebarBox_.get(); }
    GtkWidget* bottomBar() const { return bottomBar_.get(); }
    bool welcomeShownThisLaunch() const { return welcomeShownThisLaunch_; }
    // Whether the page is on screen (it has reported its document and fades in).
    bool isPageShown() const;

    // The documents whose files are there, in the same order.
    static std::vector<std::filesystem::path> existingDocuments(std::vector<std::filesystem::path> documents);
    // Placement, with the origin at the bottom left of the first screen: whether a window at
    // `frame` must be centred on a screen whose visible area is `visibleSize`.
    static bool needsCentring(const Rect& frame, const Size& visibleSize);
    // A top-left frame on a screen `screenHeight` high, with the origin at the bottom left.
    static Rect flippedFrame(const Rect& frame, double screenHeight);
    // The page's text with "{{ buildName }}" and "{{ buildVersion }}" filled in (each value
    // made safe for HTML).
    static std::string fillPlaceholders(std::string html, const std::string& buildName, const std::string& shortVersion);

protected:
    void performClose() override;
    void windowWillClose() override;

private:
    class WindowResponder;

    // Construction, in order.
    void loadWelcome();
    void addRecentsSidebar(bool unused);
    void addWelcome();
    void addCloseButton();
    // Place the views by `layout_` (anew when it changed).
    void layoutSidebar();
    void layoutPage();
    void layoutCloseButton();
    void layoutViews();
    // Lays the window out anew for today's text scale and screen.
    void fitToScreen();
    // Fits, then centres the window the first time and whenever it would lie off the screen.
    void placeOnScreen();

    void applyWindowLook();
    void updateRecentsAppearance();
    void updateCloseAppearance();
    void fadeInPage();
    void center();
    void becameKey();
    bool keyPressed(const GdkEventKey& event);

    // The list's delegate.
    int numberOfRows() const override { return int(recentDocuments_.size()); }
    std::unique_ptr<WelcomeWindowRecentsRowView> viewForRow(int row) override;
    std::unique_ptr<WelcomeWindowRecentsRowBackgroundView> rowViewForRow(int row) override;
    bool shouldSelectRow(int row) override;

    // First: the callbacks that the members below are given check it.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    RecentDocumentsSource recentDocumentsSource_;
    std::unique_ptr<WelcomeWindowRecentsTableView> recentsTableView_;
    std::vector<std::filesystem::path> recentDocuments_;
    // When the current showing read the list (monotonic microseconds); none once it closed.
    std::optional<gint64> listReadForShowing_;
    bool welcomeShownThisLaunch_ = false;
    std::unique_ptr<WelcomeWindowNoRecentDocumentsView> noRecentDocumentsView_;
    GObjectRef<GtkWidget> noRecentDocumentsHolder_;
    std::shared_ptr<WebViewController> webView_;
    WelcomePageBridge bridge_;

    // The design's size, at 100 % text.
    Size designSize_;
    WelcomeWindowLayout layout_;
    GObjectRef<GtkCssProvider> background_;
    GObjectRef<GtkWidget> sidebarBox_;
    GtkScrolledWindow* scrollView_ = nullptr;
    GObjectRef<GtkWidget> bottomBar_;
    Color boxFill_, boxBorder_, lineColor_;
    std::unique_ptr<WelcomeWindowButton> openButton_;
    std::unique_ptr<WelcomeWindowButton> newButton_;
    WindowDragView dragView_;
    std::unique_ptr<ImageMouseOverButton> closeButton_;
    std::unique_ptr<WindowResponder> responder_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
