// What the preview window reads from and asks of its document: its name, the project server and
// its addresses, the editor page, the document window it stands beside, adding a package, and the
// document's place in the responder chain (so that the main menu's commands, Ctrl+S among
// them, reach the document while the preview has the focus). Every answer may be none once the
// document is going. Main thread only.
#pragma once

#include <optional>
#include <string>

#include <gtk/gtk.h>

namespace kx {

class BaseNimbetViewController;
class Responder;
class ServerController;

class PreviewDocument {
public:
    virtual ~PreviewDocument() = default;

    // The name the document's windows are titled with; the document says when it changes.
    virtual std::string displayName() const = 0;
    virtual ServerController* serverController() const = 0;
    virtual BaseNimbetViewController* nimbetViewController() const = 0;
    // The document window; the preview's first frame and its inspector frame line up with it.
    virtual GtkWindow* documentWindow() const = 0;
    // The project server's address as the server reported it at its last start.
    virtual std::optional<std::string> serverLocalUrl() const = 0;
    // The running server's address.
    virtual std::optional<std::string> serverURL() const = 0;
    virtual void addPackage(const std::string& name, bool isDevDependency) = 0;
    virtual Responder* responder() const = 0;
    // The object that notifications about this document carry as sender.
    virtual const void* notificationSender() const { return this; }
};

} // namespace kx
