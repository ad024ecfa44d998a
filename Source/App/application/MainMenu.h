// The application's own main menu, before the editor's menus are merged into it: the
// application menu, File, Edit (a placeholder the editor's Edit menu is built around), View,
// Window and Help. Items send their actions along the responder chain; the application, the
// documents and the editor's web views answer them.
#pragma once

#include <memory>

#include "Platform/UI/NativeMenu.h"

namespace kx {

class MainMenu {
public:
    // Actions of the application's menus.
    static constexpr const char* aboutAction = "orderFrontStandardAboutPanel:";
    static constexpr const char* checkForUpdatesAction = "checkForUpdates:";
    static constexpr const char* accountDashboardAction = "showAccountDashboard:";
    static constexpr const char* logoutAction = "logoutAction:";
    static constexpr const char* terminateAction = "terminate:";
    static constexpr const char* newDocumentAction = "newDocument:";
    static constexpr const char* openDocumentAction = "openDocument:";
    static constexpr const char* openProjectFolderAction = "openProjectFolder:";
    static constexpr const char* showWelcomeWindowAction = "showWelcomeWindow:";
    static constexpr const char* performCloseAction = "performClose:";
    static constexpr const char* updateLibraryVersionMenuAction = "updateLibraryVersionMenu:";
    static constexpr const char* showSnippetsPathAction = "showSnippetsPath:";
    // The project document's: its working folder in the file manager, its project log.
    static constexpr const char* showContainerInFinderAction = "showContainerInFinder:";
    static constexpr const char* showProjectLogAction = "showProjectLog:";
    static constexpr const char* miniaturizeAction = "performMiniaturize:";
    static constexpr const char* zoomAction = "performZoom:";
    static constexpr const char* showHelpKorvelAction = "showHelpKorvel:";
    static constexpr const char* showHelpPreviewAction = "showHelpPreview:";
    static constexpr const char* showHelpCommunityAction = "showHelpCommunity:";
    static constexpr const char* showHelpResourcesAction = "showHelpResources:";
    static constexpr const char* showHelpUpdatesAction = "showHelpUpdates:";
    static constexpr const char* crashAction = "crash";

    static constexpr const char* applicationMenuTitle = "Korvel X";
    static constexpr const char* fileMenuTitle = "File";
    static constexpr const char* helpMenuTitle = "Help";

    // `internal`: with the debug command that crashes the application.
    static std::shared_ptr<NativeMenu> make(bool internal);
};

} // namespace kx
