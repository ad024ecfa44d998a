// Types, open documents, making and opening, drafts, errors and the main document window.
#include "Platform/Documents/DocumentControllerBase.h"

#include <algorithm>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

DocumentControllerBase*& sharedController()
{
    static DocumentControllerBase* controller = nullptr;
    return controller;
}

bool sameFile(const fs::path& a, const fs::path& b)
{
    auto realA = FileSystem::realPath(a);
    auto realB = FileSystem::realPath(b);
    if (realA && realB)
        return *realA == *realB;
    return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
}

// A document's name as a file name: no folders, nothing hidden, no control characters.
std::string fileNameFor(std::string name)
{
    for (auto& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            c = '-';
    while (!name.empty() && name.front() == '.')
        name.erase(name.begin());
    if (name.size() > 100)
        name.resize(100);
    return name.empty() ? "Untitled" : name;
}

} // namespace

DocumentControllerBase* DocumentControllerBase::shared()
{
    return sharedController();
}

DocumentControllerBase::DocumentControllerBase(DocumentTypeTable types)
    : types_(std::move(types))
{
    if (!sharedController())
        sharedController() = this;
    addAction("newDocument:", [this](Sender sender) { newDocument(sender); });
    addAction("openDocument:", [this](Sender sender) { openDocument(sender); });
}

DocumentControllerBase::~DocumentControllerBase()
{
    windowConnections_.clear();
    if (sharedController() == this)
        sharedController() = nullptr;
}

// ---- Types ----

std::string DocumentControllerBase::typeForContentsOfURL(const Path& url)
{
    return types_.typeForContentsOfURL(url);
}

// ---- Documents ----

void DocumentControllerBase::addDocument(std::shared_ptr<Document> document)
{
    if (!document || std::find(documents_.begin(), documents_.end(), document) != documents_.end())
        return;
    documents_.push_back(std::move(document));
    saveRestorationState();
}

void DocumentControllerBase::removeDocument(Document& document)
{
    auto found = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == &document; });
    if (found == documents_.end())
        return;
    auto keepAlive = *found;
    documents_.erase(found);
    if (terminating_)
        return;
    saveRestorationState();
    if (documents_.empty())
        lastDocumentDidClose();
}

std::shared_ptr<Document> DocumentControllerBase::documentForURL(const Path& url) const
{
    for (const auto& document : documents_)
        if (document->fileURL() && sameFile(*document->fileURL(), url))
            return document;
    return nullptr;
}

std::shared_ptr<Document> DocumentControllerBase::documentForWindow(GtkWindow* window) const
{
    if (!window)
        return nullptr;
    for (const auto& document : documents_)
        for (const auto& candidate : document->windows())
            if (candidate->gtkWindow() == window)
                return document;
    return nullptr;
}

std::shared_ptr<Document> DocumentControllerBase::currentDocument() const
{
    return documentForWindow(mainWindow_);
}

std::vector<std::shared_ptr<Document>> DocumentControllerBase::orderedDocuments() const
{
    std::vector<std::shared_ptr<Document>> ordered;
    auto add = [&](GtkWindow* window) {
        auto document = documentForWindow(window);
        if (document && std::find(ordered.begin(), ordered.end(), document) == ordered.end())
            ordered.push_back(std::move(document));
    };
    // The window manager's stacking order (bottom to top) where it tells it.
    if (GdkScreen* screen = gdk_screen_get_default()) {
        GList* stack = gdk_screen_get_window_stack(screen);
        std::vector<GdkWindow*> topFirst;
        for (GList* item = stack; item; item = item->next)
            topFirst.insert(topFirst.begin(), GDK_WINDOW(item->data));
        for (GdkWindow* gdkWindow : topFirst)
            for (const auto& document : documents_)
                for (const auto& window : document->windows())
                    if (gtk_widget_get_window(window->widget()) == gdkWindow)
                        add(window->gtkWindow());
        g_list_free_full(stack, g_object_unref);
    }
    // Then by when each was active, then the rest in the order they were opened.
    for (GtkWindow* window : activationOrder_)
        add(window);
    for (const auto& document : documents_)
        if (std::find(ordered.begin(), ordered.end(), document) == ordered.end())
            ordered.push_back(document);
    return ordered;
}

// ---- Window tracking ----

void DocumentControllerBase::trackDocumentWindow(Document&, Window& window)
{
    GtkWindow* gtkWindow = window.gtkWindow();
    windowConnections_.push_back(SignalConnection::connect<void(GtkWindow*, GParamSpec*)>(
        gtkWindow, "notify::is-active", [this](GtkWindow* changed, GParamSpec*) { windowActivityChanged(changed); }));
    windowConnections_.push_back(SignalConnection::connect<void(GtkWidget*)>(
        gtkWindow, "hide", [this](GtkWidget* hidden) { windowWentAway(GTK_WINDOW(hidden)); }));
    windowConnections_.push_back(SignalConnection::connect<void(GtkWidget*)>(
        gtkWindow, "destroy", [this](GtkWidget* gone) {
            windowWentAway(GTK_WINDOW(gone));
            std::erase(activationOrder_, GTK_WINDOW(gone));
        }));
    // Connections of windows that are gone disconnect themselves; drop them now and then.
    std::erase_if(windowConnections_, [](const SignalConnection& connection) { return !connection.isConnected(); });
}

void DocumentControllerBase::windowActivityChanged(GtkWindow* window)
{
    if (!gtk_window_is_active(window) || window == mainWindow_)
        return;
    // Only another document window becoming active changes the main window: a preview
    // window, a popover or an alert never does.
    auto document = documentForWindow(window);
    if (!document)
        return;
    std::erase(activationOrder_, window);
    activationOrder_.insert(activationOrder_.begin(), window);
    GtkWindow* previous = std::exchange(mainWindow_, window);
    if (auto previousDocument = documentForWindow(previous))
        previousDocument->windowDidResignMain(previous);
    document->windowDidBecomeMain(window);
}

void DocumentControllerBase::windowWentAway(GtkWindow* window)
{
    if (window != mainWindow_)
        return;
    mainWindow_ = nullptr;
    if (auto document = documentForWindow(window))
        document->windowDidResignMain(window);
}

// ---- Making and opening ----

std::shared_ptr<Document> DocumentControllerBase::makeUntitledDocumentOfType(const std::string& type)
{
    throw Error(DocumentTypeTable::errorDomain, 256, "Documents of the type " + displayNameForType(type) + " cannot be made.");
}

std::shared_ptr<Document> DocumentControllerBase::makeDocumentWithContentsOfURL(const Path& url, const std::string&)
{
    throw Error(DocumentTypeTable::errorDomain, 256, "The document \u201C" + url.filename().string() + "\u201D cannot be opened.");
}

std::shared_ptr<Document> DocumentControllerBase::makeDocumentForURL(const std::optional<Path>& url, const Path& contentsURL,
                                                                    const std::string& type)
{
    return makeDocumentWithContentsOfURL(url.value_or(contentsURL), type);
}

void DocumentControllerBase::openDocumentWithContentsOfURL(const Path& url, bool display, OpenCompletion completion)
{
    willOpenDocument();
    if (auto open = documentForURL(url)) {
        if (display)
            open->showWindows();
        completion(open, true, std::nullopt);
        return;
    }
    std::shared_ptr<Document> document;
    try {
        const std::string type = typeForContentsOfURL(url);
        document = makeDocumentWithContentsOfURL(url, type);
    } catch (...) {
        completion(nullptr, false, errorFromException(std::current_exception()));
        return;
    }
    addDocument(document);
    document->makeWindowControllers();
    if (display)
        document->showWindows();
    noteNewRecentDocument(*document);
    completion(document, false, std::nullopt);
}

std::shared_ptr<Document> DocumentControllerBase::openUntitledDocumentAndDisplay(bool display)
{
    const auto type = defaultType();
    if (!type)
        throw Error(DocumentTypeTable::errorDomain, 256, "There is no type for new documents.");
    auto document = makeUntitledDocumentOfType(*type);
    addDocument(document);
    document->makeWindowControllers();
    if (display)
        document->showWindows();
    return document;
}

void DocumentControllerBase::newDocument(Sender)
{
    try {
        openUntitledDocumentAndDisplay(true);
    } catch (...) {
        presentError(errorFromException(std::current_exception()));
    }
}

void DocumentControllerBase::openDocument(Sender)
{
    PanelRequest request;
    request.kind = PanelRequest::Kind::openFiles;
    request.title = "Open";
    for (const auto& type : types_.types())
        if (type.kind == DocumentType::Kind::file)
            request.types.push_back(type.identifier);
    openChosenURL(runPanel(request, nullptr).urls, {});
}

void DocumentControllerBase::openFolder(Sender)
{
    PanelRequest request;
    request.kind = PanelRequest::Kind::openFolders;
    request.title = "Open Project Folder";
    for (const auto& type : types_.types())
        if (type.kind == DocumentType::Kind::folder)
            request.types.push_back(type.identifier);
    openChosenURL(runPanel(request, nullptr).urls, {});
}

void DocumentControllerBase::openChosenURL(const std::vector<Path>& urls, std::function<void()> didFail)
{
    if (urls.empty())
        return;
    // Only the first: one open at a time is what the user asked for.
    openDocumentWithContentsOfURL(urls.front(), true, [this, didFail](std::shared_ptr<Document>, bool, std::optional<Error> error) {
        if (!error)
            return;
        presentError(*error, nullptr, didFail);
    });
}

// ---- Recent documents ----

void DocumentControllerBase::noteNewRecentDocument(const Document& document)
{
    if (document.fileURL())
        noteNewRecentDocumentURL(*document.fileURL());
}

// ---- Drafts ----

DocumentControllerBase::Path DocumentControllerBase::dataDirectory() const
{
    if (dataDirectoryOverride_)
        return *dataDirectoryOverride_;
    std::string identifier = Bundle::main().bundleIdentifier();
    return FileSystem::dataHome() / (identifier.empty() ? std::string("Korvel X") : identifier);
}

DocumentControllerBase::Path DocumentControllerBase::draftsDirectory() const
{
    return dataDirectory() / "Drafts";
}

bool DocumentControllerBase::isInDraftsDirectory(const Path& url) const
{
    const Path drafts = draftsDirectory().lexically_normal();
    const Path normal = fs::absolute(url).lexically_normal();
    return normal.parent_path() == drafts && normal.filename() != "." && normal.filename() != "..";
}

DocumentControllerBase::Path DocumentControllerBase::newDraftURL(const Document& document, const std::optional<std::string>& name) const
{
    const Path folder = draftsDirectory();
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string extension = document.draftExtension();
    const std::string base = fileNameFor(name.value_or(document.displayName()));
    // Another instance of the application may draft a document of the same name.
    const std::string unique = Uuid::make().substr(0, 8);
    return folder / (base + " (" + unique + ")" + (extension.empty() ? "" : "." + extension));
}

std::string DocumentControllerBase::nextUntitledName()
{
    ++untitledCount_;
    return untitledCount_ == 1 ? "Untitled" : "Untitled " + std::to_string(untitledCount_);
}

// ---- Errors ----

Error DocumentControllerBase::errorFromException(std::exception_ptr exception) const
{
    return Error::fromException(exception);
}

std::vector<std::string> DocumentControllerBase::recoveryOptions(const Error&) const
{
    return {};
}

bool DocumentControllerBase::attemptRecoveryFromError(const Error&, int)
{
    return false;
}

void DocumentControllerBase::presentError(const Error& error, GtkWindow* window, std::function<void()> completion)
{
    if (Document::isUserCancelled(error)) {
        if (completion)
            completion();
        return;
    }
    auto alert = Alert::make();
    alert->setAlertStyle(Alert::Style::critical);
    alert->setMessageText(error.localizedDescription);
    // A case whose only text is its reason says it once.
    if (error.informativeText() != error.localizedDescription)
        alert->setInformativeText(error.informativeText());
    const auto options = recoveryOptions(error);
    for (const auto& option : options)
        alert->addButton(option);
    alert->beginSheetModal(window, [this, error, options, completion](Alert::ModalResponse response) {
        const long index = response - Alert::firstButtonReturn;
        if (!options.empty() && index >= 0 && index < long(options.size()))
            attemptRecoveryFromError(error, int(index));
        if (completion)
            completion();
    });
}

} // namespace kx
