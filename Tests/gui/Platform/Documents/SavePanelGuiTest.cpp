// The real save panel as a user meets it, answered with the pointer and the keyboard: the
// name follows the chosen format, the name saved is the name shown (and asked about when that
// file exists), and the folder it opens in is the one used last, never the folder the program
// was started from.
#include <gtest/gtest.h>

#include <fstream>

#include "App/shell/AppAppearance.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/UserDefaults.h"
#include "gui/App/welcome/WelcomeTestSupport.h"
#include "support/ModalAnswerer.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"
#include "support/TestPaths.h"
#include "support/UserInput.h"

namespace {

namespace fs = std::filesystem;
using kx::DocumentControllerBase;
using kxtest::settle;
using kxtest::spinUntil;

constexpr const char* fileType = "com.example.note";
constexpr const char* folderType = "com.example.notefolder";

class NoteDocument final : public kx::Document {
public:
    static std::shared_ptr<NoteDocument> make() { return std::shared_ptr<NoteDocument>(new NoteDocument()); }
    void write(const Path& url, const std::string& type) override
    {
        if (type == folderType) {
            fs::create_directories(url);
            std::ofstream(url / "note.txt") << "new";
        } else {
            std::ofstream(url) << "new";
        }
    }
    void makeWindowControllers() override
    {
        if (windows().empty())
            addWindow(std::make_shared<kx::Window>(kx::Size{500, 300}));
    }

private:
    NoteDocument() = default;
};

class NoteController final : public DocumentControllerBase {
public:
    NoteController()
        : DocumentControllerBase(kx::DocumentTypeTable({
            {fileType, "Note", {"note"}, kx::DocumentType::Kind::file, true, {}},
            {folderType, "Note Folder", {}, kx::DocumentType::Kind::folder, true,
             [](const fs::path& folder) { return fs::exists(folder / "note.txt"); }},
        }))
    {
    }
    std::shared_ptr<kx::Document> makeUntitledDocumentOfType(const std::string& type) override
    {
        auto document = NoteDocument::make();
        document->setFileType(type);
        return document;
    }
};

// The mapped top-level window of the process that `matches`.
GtkWidget* shownWindow(bool (*matches)(GtkWidget*))
{
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* item = windows; item && !found; item = item->next)
        if (matches(GTK_WIDGET(item->data)) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
            found = GTK_WIDGET(item->data);
    g_list_free(windows);
    return found;
}

GtkWidget* savePanel()
{
    return shownWindow([](GtkWidget* window) -> bool { return GTK_IS_FILE_CHOOSER_DIALOG(window); });
}

GtkWidget* question()
{
    return shownWindow([](GtkWidget* window) -> bool { return GTK_IS_MESSAGE_DIALOG(window); });
}

struct WidgetSearch {
    bool (*matches)(GtkWidget*);
    std::vector<GtkWidget*> found;
};

void findWidgets(GtkWidget* widget, gpointer data)
{
    auto* search = static_cast<WidgetSearch*>(data);
    if (search->matches(widget) && gtk_widget_is_visible(widget))
        search->found.push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), findWidgets, data);
}

// The visible widgets in `window` that `matches`, in the order of the widget tree.
std::vector<GtkWidget*> widgetsIn(GtkWidget* window, bool (*matches)(GtkWidget*))
{
    WidgetSearch search{matches, {}};
    findWidgets(window, &search);
    return search.found;
}

GtkWidget* buttonTitled(GtkWidget* window, const std::string& title)
{
    for (GtkWidget* button : widgetsIn(window, [](GtkWidget* widget) -> bool { return GTK_IS_BUTTON(widget); }))
        if (const char* label = gtk_button_get_label(GTK_BUTTON(button)); label && title == label)
            return button;
    return nullptr;
}

void click(GtkWidget* widget)
{
    ASSERT_TRUE(widget);
    kxtest::moveTo(kxtest::centreOf(widget));
    kxtest::clickButton();
}

std::string currentName(GtkWidget* panel)
{
    gchar* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(panel));
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

// Chooses the format at `index` in the panel's list of formats with the pointer.
void chooseFormat(GtkWidget* panel, int index)
{
    const auto combos = widgetsIn(panel, [](GtkWidget* widget) -> bool { return GTK_IS_COMBO_BOX(widget); });
    ASSERT_EQ(combos.size(), 1u);
    GtkWidget* combo = combos.front();
    click(combo);
    GtkWidget* menu = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        GList* menus = gtk_menu_get_for_attach_widget(combo);
        menu = menus && gtk_widget_get_mapped(GTK_WIDGET(menus->data)) ? GTK_WIDGET(menus->data) : nullptr;
        return menu != nullptr;
    }));
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget* item = GTK_WIDGET(g_list_nth_data(items, guint(index)));
    g_list_free(items);
    settle();
    click(item);
    EXPECT_TRUE(spinUntil([&] { return gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) == index && !gtk_widget_get_mapped(menu); }));
    settle();
}

void typeText(GtkWidget* window, const std::string& text)
{
    for (char c : text)
        kxtest::pressKey(window, gdk_unicode_to_keyval(static_cast<unsigned char>(c)));
}

// Replaces the name with `text`, as typed.
void typeName(GtkWidget* panel, const std::string& text)
{
    kxtest::pressKey(panel, GDK_KEY_a, GDK_CONTROL_MASK);
    typeText(panel, text);
}

std::string uriOf(const fs::path& path)
{
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string text = uri ? uri : "";
    g_free(uri);
    return text;
}

class SavePanelGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        controller = std::make_unique<NoteController>();
        controller->setDataDirectoryForTesting(folder / "data");
        kx::UserDefaults::standard().removeObject(DocumentControllerBase::lastPanelFolderKey);
    }
    void TearDown() override
    {
        for (const auto& document : std::vector(controller->documents()))
            document->close();
        controller.reset();
        kx::UserDefaults::standard().removeObject(DocumentControllerBase::lastPanelFolderKey);
        if (kx::AppAppearance::shared().isDark())
            kxtest::setDark(false);
    }
    std::shared_ptr<kx::Document> untitled()
    {
        auto document = controller->openUntitledDocumentAndDisplay(true);
        EXPECT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(document->windowForSheet())); }));
        return document;
    }
    // Save As, answered by `user` in the panel; the error, none when saved.
    std::optional<kx::Error> saveAs(kx::Document& document, std::function<void(GtkWidget* panel)> user)
    {
        std::optional<std::optional<kx::Error>> outcome;
        kxtest::ModalAnswerer answering("the save panel", savePanel, std::move(user));
        document.saveDocumentAs([&](std::optional<kx::Error> error) { outcome = std::move(error); });
        EXPECT_TRUE(spinUntil([&] { return outcome.has_value(); }));
        EXPECT_FALSE(savePanel());
        return outcome.value_or(kx::Error("Test", 1, "no answer"));
    }

    kxtest::TemporaryDirectory folder;
    std::unique_ptr<NoteController> controller;
};

TEST_F(SavePanelGui, TheNameFollowsTheFormatAndTheNameShownIsTheNameSaved)
{
    fs::create_directories(folder / "work");
    std::ofstream(folder / "work" / "Plans.note") << "old";
    kx::UserDefaults::standard().setString(DocumentControllerBase::lastPanelFolderKey, uriOf(folder / "work"));

    // Folder and back, and a folder it is.
    auto first = untitled();
    std::vector<std::string> names;
    auto error = saveAs(*first, [&](GtkWidget* panel) {
        names.push_back(currentName(panel));
        chooseFormat(panel, 1);
        names.push_back(currentName(panel));
        kxtest::spinFor(std::chrono::milliseconds(300)); // the menu's place painted again
        kxtest::saveWindowScreenshot(panel, "save-panel-folder-day");
        kxtest::setDark(true);
        kxtest::spinFor(std::chrono::milliseconds(300));
        kxtest::saveWindowScreenshot(panel, "save-panel-folder-night");
        kxtest::setDark(false);
        chooseFormat(panel, 0);
        names.push_back(currentName(panel));
        chooseFormat(panel, 1);
        names.push_back(currentName(panel));
        kxtest::pressKey(panel, GDK_KEY_Return);
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(names, (std::vector<std::string>{"Untitled.note", "Untitled", "Untitled.note", "Untitled"}));
    EXPECT_EQ(first->fileURL(), folder / "work" / "Untitled");
    EXPECT_EQ(first->fileType(), folderType);
    EXPECT_TRUE(fs::is_regular_file(folder / "work" / "Untitled" / "note.txt"));

    // A name typed without the extension is completed before the panel asks about replacing,
    // so that the question is about the file that would be replaced; also where it was typed
    // with its folder.
    auto second = untitled();
    names.clear();
    std::vector<std::string> questions;
    std::vector<std::unique_ptr<kxtest::ModalAnswerer>> answering;
    const auto answer = [&](const std::string& button) {
        // Made here (not by make_unique) so that a failure names this line.
        answering.emplace_back(new kxtest::ModalAnswerer("the question about replacing", question, [&, button](GtkWidget* dialog) {
            gchar* text = nullptr;
            g_object_get(dialog, "text", &text, nullptr);
            questions.push_back(text ? text : "");
            g_free(text);
            click(buttonTitled(dialog, button));
        }));
    };
    error = saveAs(*second, [&](GtkWidget* panel) {
        typeName(panel, (folder / "work" / "Plans").string());
        answer("_Cancel");
        kxtest::pressKey(panel, GDK_KEY_Return);
        EXPECT_TRUE(spinUntil([&] { return questions.size() == 1 && !question(); }));
        settle();
        names.push_back(currentName(panel));
        answer("_Replace");
        kxtest::pressKey(panel, GDK_KEY_Return);
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(names, (std::vector<std::string>{"Plans.note"}));
    ASSERT_EQ(questions.size(), 2u);
    for (const auto& text : questions)
        EXPECT_NE(text.find("\u201CPlans.note\u201D already exists"), std::string::npos) << text;
    EXPECT_EQ(second->fileURL(), folder / "work" / "Plans.note");
    EXPECT_EQ(kx::FileSystem::readFile(folder / "work" / "Plans.note"), "new");
}

TEST_F(SavePanelGui, ThePanelOpensInTheFolderUsedLastNotWhereTheProgramStarted)
{
    // Nothing used yet: the documents folder, or home; not the working folder.
    const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    std::error_code ec;
    const fs::path fallback = documents && fs::is_directory(documents, ec) ? fs::path(documents) : fs::path(g_get_home_dir());
    gchar* current = g_get_current_dir();
    const fs::path started(current);
    g_free(current);
    ASSERT_NE(fallback, started);
    EXPECT_EQ(controller->defaultSaveFolder(), fallback);

    const auto folderOf = [](GtkWidget* panel) {
        gchar* name = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(panel));
        fs::path path(name ? name : "");
        g_free(name);
        return path;
    };
    fs::create_directories(folder / "chosen");
    fs::create_directories(folder / "other");
    auto first = untitled();
    std::vector<fs::path> opened;
    auto error = saveAs(*first, [&](GtkWidget* panel) {
        opened.push_back(folderOf(panel));
        typeName(panel, (folder / "chosen" / "First.note").string());
        kxtest::pressKey(panel, GDK_KEY_Return);
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(first->fileURL(), folder / "chosen" / "First.note");

    // The next untitled document's panel opens where the last one saved; cancelled, it
    // changes nothing.
    auto second = untitled();
    error = saveAs(*second, [&](GtkWidget* panel) {
        opened.push_back(folderOf(panel));
        click(buttonTitled(panel, "_Cancel"));
    });
    EXPECT_TRUE(error && kx::Document::isUserCancelled(*error));
    error = saveAs(*second, [&](GtkWidget* panel) {
        opened.push_back(folderOf(panel));
        typeName(panel, (folder / "other" / "Second").string());
        kxtest::pressKey(panel, GDK_KEY_Return);
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(second->fileURL(), folder / "other" / "Second.note");
    // A document with a file opens the panel in its own folder.
    error = saveAs(*first, [&](GtkWidget* panel) {
        opened.push_back(folderOf(panel));
        click(buttonTitled(panel, "_Cancel"));
    });
    EXPECT_EQ(opened, (std::vector<fs::path>{fallback, folder / "chosen", folder / "chosen", folder / "chosen"}));
    EXPECT_EQ(controller->defaultSaveFolder(), folder / "other");

    // A folder that is gone, and whatever else the settings file may hold, count as none.
    auto& defaults = kx::UserDefaults::standard();
    for (const nlohmann::json& kept : {nlohmann::json(uriOf(folder / "gone")), nlohmann::json(42),
                                       nlohmann::json("file://elsewhere" + (folder / "other").string()),
                                       nlohmann::json("other"), nlohmann::json(uriOf(folder / "chosen" / "First.note"))}) {
        defaults.setObject(DocumentControllerBase::lastPanelFolderKey, kept);
        EXPECT_EQ(controller->defaultSaveFolder(), fallback) << kept;
    }
}

} // namespace
