// The clipboard service between two editor windows and between the editor and another program
// (xclip), on the X server's real CLIPBOARD selection, and what a paste that finds nothing the
// editor can use tells the user.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

#include "App/web/WebBridgeHybridAction.h"
#include "Platform/UI/Alert.h"
#include "gui/App/editor/EditorPage.h"
#include "support/ChildProcess.h"
#include "support/ClipboardContents.h"

namespace {

using kxtest::editorTimeout;
using kxtest::EditorWindow;
using kxtest::json;
using kxtest::spinUntil;

// The six kinds of item, as the page writes them.
const json everyType = json::parse(R"([
  {"type": "application/x-korvel-layers", "data": {"frames": [{"id": "x", "name": "Ünïcode", "text": "a\"b"}]}},
  {"type": "text/plain", "string": "plain text ✓"},
  {"type": "text/css", "string": ".frame { color: red; }"},
  {"type": "image/svg+xml", "string": "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"},
  {"type": "application/x-korvel-style", "data": {"fill": "#ff0000", "opacity": 0.5}},
  {"type": "application/x-korvel-sketch", "data": {"layers": [], "nested": {"deep": [null, true, 12]}}}
])");

// What another program reads of one target.
std::optional<std::string> pasteInXclip(const std::string& target)
{
    auto xclip = kxtest::runProgram({"xclip", "-selection", "clipboard", "-t", target, "-o"}, std::nullopt, editorTimeout);
    if (xclip.status != 0)
        return std::nullopt;
    return xclip.output;
}

// Another program takes the clipboard with one target; it holds it while it lives.
std::unique_ptr<kxtest::Program> copyInXclip(const std::string& target, const std::string& bytes)
{
    auto xclip = std::make_unique<kxtest::Program>(
        std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i"}, bytes);
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    const GdkAtom atom = gdk_atom_intern(target.c_str(), FALSE);
    EXPECT_TRUE(spinUntil([&] { return kxtest::clipboardOffers(clipboard, atom); }, editorTimeout)) << target;
    return xclip;
}

class NimbetClipboardGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        kxtest::useStandInEditor();
        firstWindow = std::make_unique<EditorWindow>();
        secondWindow = std::make_unique<EditorWindow>();
        first().waitUntilReady();
        second().waitUntilReady();
    }
    void TearDown() override
    {
        if (firstWindow)
            write(first(), json::array()); // xclip leaves once it loses the clipboard
    }
    EditorWindow& first() { return *firstWindow; }
    EditorWindow& second() { return *secondWindow; }
    static json write(EditorWindow& editor, const json& items)
    {
        return editor.evaluateAsync("window.nimbetServices.call('__Clipboard__', 'write', {items: " + items.dump() + "})");
    }
    static json read(EditorWindow& editor, const std::string& options = "undefined")
    {
        return editor.evaluateAsync("window.nimbetServices.call('__Clipboard__', 'read', " + options + ")");
    }
    std::unique_ptr<EditorWindow> firstWindow, secondWindow;
};

TEST_F(NimbetClipboardGui, AFrameCopiedInOneEditorIsPastedInAnother)
{
    kxtest::ProjectServer from(kxtest::twoFrames);
    kxtest::ProjectServer to(R"({"version":1,"frames":[]})");
    first().openProject(from.url());
    second().openProject(to.url());
    first().evaluate("document.querySelector('#frames li').dispatchEvent(new MouseEvent('mousedown'))");

    auto perform = [](EditorWindow& editor, const std::string& action) {
        std::optional<bool> success;
        editor.controller->webViewController().webView().menuActionTarget()->dispatch(
            {action}, [&](auto result) { success = result.isSuccess() && result.value().success; });
        EXPECT_TRUE(spinUntil([&] { return success.has_value(); }, editorTimeout));
        return success.value_or(false);
    };
    ASSERT_TRUE(perform(first(), "copy"));
    ASSERT_TRUE(perform(second(), "paste"));
    const json frames = second().pageDocument()["frames"];
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]["name"], "Home");
    EXPECT_EQ(frames[0]["text"], "Welcome");
    EXPECT_EQ(frames[0]["extra"], json::parse("[1,2]"));
    EXPECT_NE(frames[0]["id"], "a"); // a pasted frame is a new one
    EXPECT_EQ(second().evaluate("window.nimbet.state.dirty"), true);
    // Other programs see it as text.
    EXPECT_EQ(pasteInXclip("UTF8_STRING"), "Home\nWelcome");
}

TEST_F(NimbetClipboardGui, EveryTypeGoesFromOneEditorToAnotherInItsOrder)
{
    ASSERT_EQ(write(first(), everyType), json::parse(R"({"value":null})"));
    EXPECT_EQ(read(second()), json({{"value", {{"items", everyType}}}}));
    const json chosen = read(second(), R"({types: ["text/css", "text/plain", "text/css"]})");
    EXPECT_EQ(chosen["value"]["items"], json::array({everyType[2], everyType[1]}));

    // Writing replaces everything, and writing nothing leaves nothing.
    write(first(), json::array({everyType[2]}));
    EXPECT_EQ(read(second())["value"]["items"], json::array({everyType[2]}));
    write(first(), json::array());
    EXPECT_EQ(read(second())["value"]["items"], json::array());
    EXPECT_EQ(pasteInXclip("UTF8_STRING"), std::nullopt);
}

TEST_F(NimbetClipboardGui, EveryTypeGoesToAndFromAnotherProgram)
{
    for (const json& item : everyType) {
        const std::string type = item["type"];
        const std::string bytes = item.contains("string") ? item["string"].get<std::string>() : item["data"].dump();
        write(first(), json::array({item}));
        EXPECT_EQ(pasteInXclip(type == "text/plain" ? "UTF8_STRING" : type), bytes) << type;

        auto xclip = copyInXclip(type == "text/plain" ? "UTF8_STRING" : type, bytes);
        EXPECT_EQ(read(second())["value"]["items"], json::array({item})) << type;
    }
}

TEST_F(NimbetClipboardGui, AMalformedItemOfAnotherProgramIsLeftOut)
{
    const std::vector<std::pair<std::string, std::string>> malformed = {
        {"application/x-korvel-layers", "{\"frames\": [1, 2"},
        {"application/x-korvel-style", "[\"an array, not an object\"]"},
        {"application/x-korvel-sketch", std::string(600, '[') + std::string(600, ']')},
        {"text/css", "\xff\xfe not UTF-8"},
    };
    for (const auto& [type, bytes] : malformed) {
        auto xclip = copyInXclip(type, bytes);
        EXPECT_EQ(read(second()), json::parse(R"({"value":{"items":[]}})")) << type;
    }
}

TEST_F(NimbetClipboardGui, APasteThatFindsNothingTheEditorCanUseSaysWhy)
{
    kxtest::ProjectServer empty(R"({"version":1,"frames":[]})");
    second().openProject(empty.url());
    auto& view = second().controller->webViewController().webView();
    // Pasted as the Edit menu and Ctrl+V paste; what the user is told, if anything.
    const auto paste = [&](std::chrono::milliseconds wait) -> std::shared_ptr<kx::Alert> {
        view.performHybridAction(kx::WebBridge::HybridAction::paste, nullptr);
        std::shared_ptr<kx::Alert> told;
        (void)spinUntil([&] {
            const auto shown = kx::Alert::shownAlerts();
            told = shown.empty() ? nullptr : shown.back();
            return told != nullptr;
        }, wait);
        return told;
    };
    const auto dismiss = [](const std::shared_ptr<kx::Alert>& told) {
        gtk_button_clicked(GTK_BUTTON(told->buttons()[0]->widget()));
        EXPECT_TRUE(spinUntil([] { return kx::Alert::shownAlerts().empty(); }));
    };
    const std::string pastesWhat = " The editor pastes only what was copied in Korvel X, and text.";

    // An image another program copied: none of the editor's types.
    {
        auto xclip = copyInXclip("image/png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
        auto told = paste(editorTimeout);
        ASSERT_TRUE(told);
        EXPECT_EQ(told->messageText(), "Nothing was pasted.");
        EXPECT_EQ(told->informativeText(), "The clipboard holds an image copied in another program." + pastesWhat);
        EXPECT_EQ(gtk_window_get_transient_for(told->window()), GTK_WINDOW(second().window));
        // Pasting again meanwhile stacks no second one.
        view.performHybridAction(kx::WebBridge::HybridAction::paste, nullptr);
        kxtest::spinFor(std::chrono::milliseconds(500));
        EXPECT_EQ(kx::Alert::shownAlerts().size(), 1u);
        dismiss(told);
    }
    // Files copied in a file manager.
    {
        auto xclip = copyInXclip("text/uri-list", "file:///home/someone/picture.png\r\n");
        auto told = paste(editorTimeout);
        ASSERT_TRUE(told);
        EXPECT_EQ(told->informativeText(), "The clipboard holds nothing the editor can use." + pastesWhat);
        dismiss(told);
    }
    // Nothing at all.
    write(first(), json::array());
    {
        auto told = paste(editorTimeout);
        ASSERT_TRUE(told);
        EXPECT_EQ(told->informativeText(), "The clipboard is empty.");
        dismiss(told);
    }
    // Text is pasted as a frame, and nothing is said.
    {
        auto xclip = copyInXclip("UTF8_STRING", "Hello");
        EXPECT_FALSE(paste(std::chrono::milliseconds(1500)));
        EXPECT_EQ(second().pageDocument()["frames"].size(), 1u);
    }
}

} // namespace
