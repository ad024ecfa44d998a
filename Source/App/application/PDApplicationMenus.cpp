// The menus of PDApplication: completing the main menu at launch, validating the
// application's commands, the menu-delegate forwarding, and the commands themselves.
#include "App/application/PDApplication.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "App/account/AppServices.h"
#include "App/account/Experiments.h"
#include "App/account/LoginController.h"
#include "App/shell/AppAppearance.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "App/application/DocumentControllerHook.h"
#include "App/application/MainMenu.h"
#include "App/application/SoftwareUpdater.h"
#include "App/application/WelcomeWindowHook.h"
#include "App/web/AppMenu.h"
#include "App/web/WebBridgeMenuDelegate.h"
#include "Platform/UI/ResponderChain.h"
#include "Platform/UI/Workspace.h"

namespace kx {

namespace {

GtkWindow* keyWindow()
{
    return ResponderChain::shared().keyWindow();
}

} // namespace

void PDApplication::registerActions()
{
    addAction(MainMenu::aboutAction, [this](Sender sender) { orderFrontStandardAboutPanel(sender); });
    addAction(MainMenu::checkForUpdatesAction, [this](Sender sender) { checkForUpdates(sender); });
    addAction(MainMenu::accountDashboardAction, [this](Sender sender) { showAccountDashboard(sender); });
    addAction(MainMenu::logoutAction, [this](Sender sender) { logoutAction(sender); });
    addAction(MainMenu::terminateAction, [this](Sender sender) { terminate(sender); });
    addAction(MainMenu::newDocumentAction, [](Sender) { DocumentControllerHook::newDocument(); });
    addAction(MainMenu::openDocumentAction, [](Sender) { DocumentControllerHook::openDocument(); });
    addAction(MainMenu::openProjectFolderAction, [](Sender) { DocumentControllerHook::openFolder(); });
    addAction(MainMenu::showWelcomeWindowAction, [this](Sender sender) { showWelcomeWindow(sender); });
    addAction(MainMenu::showSnippetsPathAction, [this](Sender sender) { showSnippetsPath(sender); });
    addAction(MainMenu::showHelpKorvelAction, [this](Sender) { showHelp("/docs/"); });
    addAction(MainMenu::showHelpPreviewAction, [this](Sender) { showHelp("/features/preview/"); });
    addAction(MainMenu::showHelpCommunityAction, [this](Sender) { showHelp("/community/"); });
    addAction(MainMenu::showHelpResourcesAction, [this](Sender) { showHelp("/resources/"); });
    addAction(MainMenu::showHelpUpdatesAction, [this](Sender) { showHelp("/updates/"); });
    // The key window's own commands, for windows that answer none themselves: what the
    // window manager's buttons would do.
    addAction(MainMenu::performCloseAction, [](Sender) {
        if (GtkWindow* window = keyWindow())
            gtk_window_close(window);
    });
    addAction(MainMenu::miniaturizeAction, [](Sender) {
        if (GtkWindow* window = keyWindow())
            gtk_window_iconify(window);
    });
    addAction(MainMenu::zoomAction, [](Sender) {
        if (GtkWindow* window = keyWindow()) {
            if (gtk_window_is_maximized(window))
                gtk_window_unmaximize(window);
            else
                gtk_window_maximize(window);
        }
    });
    if (AppInfo::current()->isInternal())
        addAction(MainMenu::crashAction, [this](Sender) { crash(); });
}

void PDApplication::setUpMenuItems()
{
    AppMenu::initializeMainMenu();
    AppAppearance::setUpMainMenuItem();
    if (auto mainMenu = NativeMenu::mainMenu())
        completeMainMenu(*mainMenu, libraryVersionMenu_, AppInfo::current()->isInternal() ? Experiments::generateMenu() : nullptr);
}

void PDApplication::completeMainMenu(NativeMenu& mainMenu, const std::shared_ptr<NativeMenu>& libraryVersionMenu,
                                     std::shared_ptr<NativeMenu> experimentsMenu)
{
    if (auto file = mainMenu.itemWithTitle(MainMenu::fileMenuTitle); file && file->submenu()) {
        for (const auto& item : file->submenu()->items()) {
            if (!item->target() && item->action() == MainMenu::updateLibraryVersionMenuAction) {
                item->setSubmenu(libraryVersionMenu);
                break;
            }
        }
    }
    if (experimentsMenu) {
        auto experiments = NativeMenuItem::make("Experiments");
        experimentsMenu->setTitle(experiments->title());
        experiments->setSubmenu(std::move(experimentsMenu));
        const int help = mainMenu.indexOfItemWithTitle(MainMenu::helpMenuTitle);
        mainMenu.insertItem(std::move(experiments), help < 0 ? mainMenu.numberOfItems() : help);
    }
}

bool PDApplication::isAccountCommand(const std::string& action)
{
    return action == MainMenu::checkForUpdatesAction || action == MainMenu::accountDashboardAction
        || action == MainMenu::logoutAction || action == MainMenu::showWelcomeWindowAction;
}

void PDApplication::menuWillOpen(NativeMenu& menu)
{
    if (&menu == libraryVersionMenu_.get()) {
        // The project document of the main window fills it.
        menu.removeAllItems();
        ResponderChain::shared().sendAction(MainMenu::updateLibraryVersionMenuAction, nullptr, menu.supermenuItem());
        return;
    }
    WebBridge::menuDelegate()->menuWillOpen(menu);
}

void PDApplication::menuDidClose(NativeMenu& menu)
{
    WebBridge::menuDelegate()->menuDidClose(menu);
}

bool PDApplication::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    const std::string& action = item.action();
    if (isAccountCommand(action))
        return !LoginController::shared().isBlocking();
    // Documents are made only for a signed-in user (the document controller refuses them).
    if (action == MainMenu::newDocumentAction || action == MainMenu::openDocumentAction
        || action == MainMenu::openProjectFolderAction)
        return !LoginController::shared().isBlocking();
    if (action == MainMenu::performCloseAction) {
        // Windows the user may not close (the login window) keep Close disabled.
        GtkWindow* window = keyWindow();
        return window && gtk_window_get_deletable(window);
    }
    if (action == MainMenu::miniaturizeAction || action == MainMenu::zoomAction)
        return keyWindow() != nullptr;
    return Responder::validateUserInterfaceItem(item);
}

void PDApplication::orderFrontStandardAboutPanel(Sender)
{
    step("orderFrontStandardAboutPanel");
    WelcomeWindowHook::showAboutWindow();
}

void PDApplication::checkForUpdates(Sender)
{
    step("checkForUpdates");
    auto& updater = SoftwareUpdater::shared();
    if (!updater.feedURL())
        updater.setFeedURL(AppServices::updatesFeedURL());
    updater.checkForUpdates();
}

void PDApplication::showAccountDashboard(Sender)
{
    openURL(AppServices::accountDashboardURL(), false);
}

void PDApplication::logoutAction(Sender)
{
    LoginController::shared().logoutAndQuit(true);
}

void PDApplication::showSnippetsPath(Sender)
{
    const auto folder = AppInfo::current()->snippetsPath();
    if (!folder)
        return;
    std::error_code error;
    std::filesystem::create_directories(*folder, error);
    char* uri = g_filename_to_uri(folder->c_str(), nullptr, nullptr);
    if (uri) {
        Workspace::shared().openURL(uri);
        g_free(uri);
    }
}

void PDApplication::showHelp(const std::string& path)
{
    openURL(std::string("https://") + productSiteHost + path + helpQuery, false);
}

void PDApplication::openURL(const std::string& url, bool)
{
    // Whether the browser comes forward is the desktop's decision here.
    if (!Workspace::shared().openURL(url))
        RKLog("No application opened a link", RKLogKind::general);
}

void PDApplication::crash()
{
    // An uncaught internal-inconsistency exception: the crash reporter's SIGABRT.
    std::fputs("Terminating: NSInternalInconsistencyException\n", stderr);
    std::abort();
}

} // namespace kx
