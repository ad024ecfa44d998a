// The editor view controller with the real stand-in editor page: start-up values, events to
// the page, the services both ways, and the document handed over through the data source.
#include <gtest/gtest.h>

#include <cmath>

#include "App/editor/NimbetIPCProcessor.h"
#include "gui/App/editor/EditorPage.h"
#include "gui/App/shell/widgets/WidgetTestWindow.h"
#include "support/LogCapture.h"
#include "support/RecordingDocument.h"
#include "support/ScopedSetting.h"
#include "support/SyntheticInput.h"
#include "support/UserInput.h"

namespace {

using kx::KVDocumentContainerDataSource;
using kxtest::editorTimeout;
using kxtest::EditorWindow;
using kxtest::json;
using kxtest::spinUntil;
using Data = KVDocumentContainerDataSource::Data;

class NimbetViewControllerGui : public ::testing::Test {
protected:
    void SetUp() override { kxtest::useStandInEditor(); }
};

// One provider request, as the working container makes it.
struct Request {
    std::optional<kx::Result<Data, kx::Error>> result;
    explicit Request(KVDocumentContainerDataSource& source)
    {
        source.provide([this](kx::Result<KVDocumentContainerDataSource::SharedData, kx::Error> answer, std::uint64_t) {
            result = answer.isSuccess() ? kx::Result<Data, kx::Error>::success(*answer.value())
                                        : kx::Result<Data, kx::Error>::failure(answer.error());
        });
    }
    bool done() const { return result.has_value(); }
};

TEST_F(NimbetViewControllerGui, ThePageAnnouncesItsServicesAndEveryNativeServiceAnswers)
{
    EditorWindow editor;
    editor.waitUntilReady();
    const json discovered = editor.evaluateAsync("window.nimbetServices.discover()");
    for (const char* id : {"__Beep__", "__Clipboard__", "__ColorSampler__", "__ContextMenuPresenter__"})
        EXPECT_TRUE(discovered["value"]["services"].contains(id)) << id << " in " << discovered.dump();
    EXPECT_EQ(discovered["value"]["services"]["__Clipboard__"]["fingerprint"], "fcb5905c78b9ae9e68996493a0e20675");
    EXPECT_EQ(editor.evaluateAsync("window.nimbetServices.call('__Beep__', 'beep')"), json::parse(R"({"value":null})"));
    EXPECT_TRUE(editor.evaluateAsync("window.nimbetServices.call('__Clipboard__', 'read')")["value"]["items"].is_array());

    // The page's own services answer the shell.
    auto& view = editor.controller->webViewController().webView();
    std::optional<kx::KorvelServices::MenuValidationResult> validation;
    view.menuActionTarget()->validate({"*"}, [&](auto result) {
        ASSERT_TRUE(result.isSuccess());
        validation = result.value();
    });
    bool magnified = false;
    view.gestureEventTarget().dispatchMagnificationEvent({kx::KorvelServices::MagnificationEventType::magnificationChanged, 0.5, {0, 0}},
                                                         [&](auto result) { magnified = result.isSuccess(); });
    ASSERT_TRUE(spinUntil([&] { return validation && magnified; }, editorTimeout));
    EXPECT_GE(validation->states.size(), 5u);
    EXPECT_EQ(editor.evaluate("window.nimbet.state.zoom"), 1.5);
}

TEST_F(NimbetViewControllerGui, StartUpValuesReachTheEditorOnlyAndNeverTheAddressOrTheLog)
{
    kxtest::LogCapture log;
    const std::string token = "9F1C7E2A-secret";
    EditorWindow editor(true, token);
    editor.waitUntilReady();
    EXPECT_EQ(editor.evaluate("window.nimbetStartup"), json({{"tutorialMode", true}, {"serverAuthorizationToken", token}}));
    const std::string address = webkit_web_view_get_uri(editor.controller->webViewController().webView().wkWebView());
    EXPECT_EQ(address.find(token), std::string::npos);

    // A page of another origin in the same view never sees them.
    kxtest::HttpServer other;
    other.route("/elsewhere", "<!doctype html><title>elsewhere</title>");
    bool loaded = false;
    editor.controller->webViewController().loadURL(other.url("/elsewhere"), [&] { loaded = true; });
    ASSERT_TRUE(spinUntil([&] { return loaded; }, editorTimeout));
    EXPECT_EQ(editor.evaluate("typeof window.nimbetStartup"), "undefined");
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find(token), std::string::npos) << line;
}

TEST_F(NimbetViewControllerGui, StoreViewAndProjectWaitForDocumentReady)
{
    EditorWindow editor;
    kxtest::ProjectServer project(kxtest::twoFrames);
    // Both come before the page can hear them.
    editor.controller->showStoreViewWithUrl("korvel-x://store/package/early");
    editor.controller->showStoreViewWithUrl("korvel-x://store/package/later");
    editor.controller->updateProjectWithURL(project.url());
    EXPECT_FALSE(editor.controller->isDocumentReady());
    editor.waitUntilReady();
    ASSERT_TRUE(spinUntil([&] { return editor.evaluate("document.getElementById('store').hidden") == false; }, editorTimeout));
    EXPECT_EQ(editor.evaluate("document.getElementById('store-url').textContent"), "korvel-x://store/package/later");
    ASSERT_TRUE(spinUntil([&] { return editor.evaluate("window.nimbet.state.document !== null") == true; }, editorTimeout));
    EXPECT_EQ(editor.pageDocument()["frames"].size(), 2u);

    editor.controller->showStoreViewWithUrl("korvel-x://store/package/now");
    ASSERT_TRUE(spinUntil([&] {
        return editor.evaluate("document.getElementById('store-url').textContent") == "korvel-x://store/package/now";
    }, editorTimeout));
}

// A new window's keys go to the page's first control as the page enables it, unless the user has
// clicked or typed in the window before the page was ready: here a page that becomes ready only
// after the user clicked into it, or typed a word starting with a space.
TEST_F(NimbetViewControllerGui, TheFirstControlTakesTheKeysUnlessTheUserPressedBeforeThePageWasReady)
{
    KX_REQUIRE_SYNTHETIC_INPUT();
    kxtest::ProjectServer project(kxtest::twoFrames);
    enum class Press { none, click, keys };
    for (const Press press : {Press::none, Press::click, Press::keys}) {
        EditorWindow editor;
        // Ahead of the page's scripts: its readiness waits for the test, and its presses are counted.
        WebKitUserScript* late = webkit_user_script_new(
            "window.presses = 0; for (const type of ['mousedown', 'keydown'])"
            " addEventListener(type, e => { window.presses += e.isTrusted; }, true);"
            "document.addEventListener('DOMContentLoaded', e => e.stopImmediatePropagation(), { capture: true, once: true });",
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(editor.controller->webViewController().userContentController(), late);
        webkit_user_script_unref(late);
        GtkWidget* view = editor.controller->view();
        gtk_window_set_focus(GTK_WINDOW(editor.window), view); // as a document window does
        gtk_window_present(GTK_WINDOW(editor.window));
        ASSERT_TRUE(spinUntil([&] { return gtk_window_is_active(GTK_WINDOW(editor.window)); }));
        // Loaded (the engine drops keys sooner), not ready.
        ASSERT_TRUE(spinUntil([&] { return !webkit_web_view_is_loading(WEBKIT_WEB_VIEW(view)); }, editorTimeout));
        if (press == Press::click) {
            kxtest::moveTo(kxtest::centreOf(view));
            kxtest::clickButton();
        } else if (press == Press::keys) {
            for (const guint key : {GDK_KEY_space, GDK_KEY_m, GDK_KEY_i, GDK_KEY_n, GDK_KEY_e, GDK_KEY_9})
                kxtest::typeKey(key);
        }
        const int presses = press == Press::none ? 0 : press == Press::click ? 1 : 6;
        ASSERT_TRUE(spinUntil([&] { return editor.evaluate("window.presses") == presses; }, editorTimeout));
        EXPECT_FALSE(editor.controller->isDocumentReady());
        editor.evaluate("document.dispatchEvent(new Event('DOMContentLoaded')), true");
        editor.openProject(project.url());
        if (press == Press::none) {
            EXPECT_TRUE(spinUntil([&] { return editor.evaluate("document.activeElement.id") == "add"; }, editorTimeout));
            continue;
        }
        kxtest::spinFor(std::chrono::milliseconds(1500)); // past the page's wait for its window's focus
        EXPECT_NE(editor.evaluate("document.activeElement.id"), "add");
        EXPECT_EQ(editor.pageDocument()["frames"].size(), 2u);
    }
}

TEST_F(NimbetViewControllerGui, IpcCallsKeepEachArgumentInItsPlace)
{
    EditorWindow editor;
    editor.waitUntilReady();
    editor.evaluate("window.heard = []; const emit = window._ipc.emit;"
                    "window._ipc.emit = function (...args) { window.heard.push(args); return emit.apply(this, args); }");
    editor.controller->ipcCallWithArray("Probe", {json(1), std::nullopt, json(std::nan("")), json("two"),
                                                 json(std::string("\xff\xfe")), json({{"three", 3}})});
    editor.controller->ipcCallWithArray("PreviewLoaded");
    ASSERT_TRUE(spinUntil([&] { return editor.evaluate("window.heard.length") == 2; }, editorTimeout));
    EXPECT_EQ(editor.evaluate("window.heard"), json::parse(R"([["Probe",1,null,null,"two",null,{"three":3}],["PreviewLoaded"]])"));

    // The preview's messages reach the page.
    editor.controller->ipcCallWithArray("SetPreviewSelectionLock", {json(true)});
    editor.controller->ipcCallWithArray("PreviewErrors", {json::array({"ReferenceError: x"})});
    editor.controller->ipcCallWithArray("TogglePreviewConsole");
    ASSERT_TRUE(spinUntil([&] { return editor.evaluate("window.nimbet.state.consoleVisible") == true; }, editorTimeout));
    EXPECT_EQ(editor.evaluate("window.nimbet.state.selectionLock"), true);
    EXPECT_EQ(editor.evaluate("document.getElementById('console-list').textContent"), "ReferenceError: x");
}

TEST_F(NimbetViewControllerGui, TheDataSourceGetsThePagesCurrentDocumentAfterAnEdit)
{
    EditorWindow editor;
    auto processor = std::make_shared<kx::NimbetIPCProcessor>();
    // The document reports the page's changes to its source of the document, as documents do.
    auto document = std::make_shared<kxtest::RecordingDocument>();
    document->onDirty = [source = std::weak_ptr(editor.documentSource)] {
        if (auto held = source.lock())
            held->setDataNeedsToBeProvided(true);
    };
    processor->setDelegate(document);
    editor.controller->setNimbetIPCProcessor(processor);
    auto source = editor.documentSource;
    EXPECT_TRUE(source->data().empty());
    EXPECT_TRUE(source->dataNeedsToBeProvided());
    source->load(kxtest::twoFrames); // as after the container's read
    EXPECT_FALSE(source->dataNeedsToBeProvided());

    std::vector<bool> heard;
    auto token = source->observeDataNeedsToBeProvided([&](auto phase, bool, bool value) {
        if (phase == kx::Observable<bool>::Phase::didChange)
            heard.push_back(value);
    });
    kxtest::ProjectServer project(kxtest::twoFrames);
    editor.openProject(project.url());
    editor.typeText(1, "Who we really are");
    ASSERT_TRUE(spinUntil([&] { return !heard.empty(); }, editorTimeout));
    EXPECT_TRUE(source->dataNeedsToBeProvided());

    Request request(*source);
    ASSERT_TRUE(spinUntil([&] { return request.done(); }, editorTimeout));
    ASSERT_TRUE(request.result->isSuccess()) << request.result->error().localizedDescription;
    const json saved = json::parse(request.result->value());
    EXPECT_EQ(saved, editor.pageDocument());
    EXPECT_EQ(saved["frames"][1]["text"], "Who we really are");
    EXPECT_EQ(saved["kept"], json({{"by", "the page"}})); // what the page does not know stays
    EXPECT_EQ(source->data(), request.result->value());

    // The page's store data reaches the document as an object.
    editor.controller->ipcCallWithArray("ServerStoreData");
    ASSERT_TRUE(spinUntil([&] { return !document->storeData.empty(); }, editorTimeout));
    ASSERT_TRUE(document->storeData[0].has_value());
    EXPECT_EQ((*document->storeData[0])["frames"].size(), 2u);
}

TEST_F(NimbetViewControllerGui, RequestsMadeTogetherShareOneQuestionAndLaterOnesAskAgain)
{
    EditorWindow editor;
    kxtest::ProjectServer project(kxtest::twoFrames);
    editor.openProject(project.url());
    editor.evaluate("window.asked = 0; const emit = window._ipc.emit;"
                    "window._ipc.emit = function (name, ...args) { if (name === 'DocumentSave') window.asked++;"
                    " return emit.call(this, name, ...args); }");
    auto source = editor.documentSource;
    Request first(*source), second(*source);
    ASSERT_TRUE(spinUntil([&] { return first.done() && second.done(); }, editorTimeout));
    EXPECT_EQ(editor.evaluate("window.asked"), 1);
    EXPECT_EQ(first.result, second.result);

    Request third(*source);
    ASSERT_TRUE(spinUntil([&] { return third.done(); }, editorTimeout));
    EXPECT_EQ(editor.evaluate("window.asked"), 2);
}

TEST_F(NimbetViewControllerGui, AnAnswerThatIsNoDocumentFailsTheRequest)
{
    EditorWindow editor;
    auto source = editor.documentSource;
    Request early(*source); // the page is not ready yet
    ASSERT_TRUE(early.done());
    EXPECT_EQ(early.result->error().code, static_cast<int>(kx::NimbetError::Code::pageNotReady));

    // Before a project, the page gives its reason instead of an empty document.
    editor.waitUntilReady();
    Request unloaded(*source);
    ASSERT_TRUE(spinUntil([&] { return unloaded.done(); }, editorTimeout));
    ASSERT_TRUE(unloaded.result->isFailure());
    EXPECT_EQ(unloaded.result->error().domain, kx::NimbetError::domain);
    EXPECT_EQ(unloaded.result->error().code, static_cast<int>(kx::NimbetError::Code::pageFailed));
    EXPECT_EQ(unloaded.result->error().localizedFailureReason, "The document has not been loaded yet.");

    for (const char* answer : {"42", "[1]", "null"}) {
        editor.evaluate(std::string("window._ipc.emit = (name) => { if (name === 'DocumentSave') window.webkit.messageHandlers._webkit"
                                    ".postMessage(JSON.stringify({method: 'DocumentSaveDialogStart', arguments: ") + answer + "})); }");
        Request request(*source);
        ASSERT_TRUE(spinUntil([&] { return request.done(); }, editorTimeout));
        ASSERT_TRUE(request.result->isFailure()) << answer;
        EXPECT_EQ(request.result->error().code, static_cast<int>(kx::NimbetError::Code::invalidDocument)) << answer;
    }
    EXPECT_TRUE(source->data().empty()); // nothing was taken as the document
}

TEST_F(NimbetViewControllerGui, AWaitingRequestFailsWhenThePageGoesOrTheControllerGoes)
{
    auto editor = std::make_unique<EditorWindow>();
    kxtest::ProjectServer project(kxtest::twoFrames);
    auto source = editor->documentSource;
    source->load("on disk");
    auto silence = [&] {
        editor->openProject(project.url());
        editor->evaluate("window._ipc.emit = () => {}"); // hears the question, never answers
    };
    using Code = kx::NimbetError::Code;
    auto expectFailure = [&](Request& request, Code code) {
        ASSERT_TRUE(spinUntil([&] { return request.done(); }, editorTimeout));
        ASSERT_TRUE(request.result->isFailure());
        EXPECT_EQ(request.result->error().code, static_cast<int>(code));
        EXPECT_EQ(source->data(), "on disk");
    };

    silence();
    Request crashed(*source);
    kxtest::spinFor(std::chrono::milliseconds(200)); // the question is out
    EXPECT_FALSE(crashed.done());
    webkit_web_view_terminate_web_process(editor->controller->webViewController().webView().wkWebView());
    expectFailure(crashed, Code::pageGone);

    silence(); // the host reloads the page after its process ended
    Request reloaded(*source);
    kxtest::spinFor(std::chrono::milliseconds(200));
    webkit_web_view_reload(editor->controller->webViewController().webView().wkWebView());
    expectFailure(reloaded, Code::pageGone);

    silence();
    Request orphaned(*source);
    kxtest::spinFor(std::chrono::milliseconds(200));
    editor.reset();
    expectFailure(orphaned, Code::viewControllerGone);
    Request afterwards(*source); // the source outlives the controller
    expectFailure(afterwards, Code::viewControllerGone);
}

} // namespace

TEST_F(NimbetViewControllerGui, APageThatNeverAnswersFailsTheRequestInTimeAndASlowOneIsWaitedFor)
{
    kxtest::ScopedSetting timeout(kx::NimbetViewController::setPageAnswerTimeoutForTesting, std::chrono::seconds(4));
    EditorWindow editor;
    kxtest::ProjectServer project(kxtest::twoFrames);
    editor.openProject(project.url());
    auto source = editor.documentSource;
    using Code = kx::NimbetError::Code;
    const auto busyFor = [&](int milliseconds) {
        editor.controller->webViewController().evaluateJavaScript(
            "{ const end = Date.now() + " + std::to_string(milliseconds) + "; while (Date.now() < end) {} }");
    };

    // Busy for 6 s: the first request fails at 4 s, and the next one, while the page is still
    // busy, after a tenth of that, where the whole time would have seen the page answer at 6 s
    // (a quit after a failed save waits once, not once for each backup that asks meanwhile).
    // Once the page has run a script again, it has the whole time.
    busyFor(6000);
    Request first(*source);
    ASSERT_TRUE(spinUntil([&] { return first.done(); }, editorTimeout));
    Request again(*source);
    ASSERT_TRUE(spinUntil([&] { return again.done(); }, editorTimeout));
    for (const Request* request : {&first, &again}) {
        ASSERT_TRUE(request->result->isFailure());
        EXPECT_EQ(request->result->error().code, static_cast<int>(Code::pageNotAnswering));
    }
    editor.evaluate("0");
    Request later(*source);
    ASSERT_TRUE(spinUntil([&] { return later.done(); }, editorTimeout));
    EXPECT_TRUE(later.result->isSuccess()) << later.result->error().localizedDescription;
    kx::NimbetViewController::setPageAnswerTimeoutForTesting(std::chrono::milliseconds(500));

    // It hears the question and never answers.
    // A request made while the question is out fails with it, not only at some later request.
    editor.evaluate("window.emit = window._ipc.emit; window._ipc.emit = () => {}");
    Request silent(*source);
    kxtest::spinFor(std::chrono::milliseconds(200));
    Request meanwhile(*source);
    ASSERT_TRUE(spinUntil([&] { return silent.done() && meanwhile.done(); }, editorTimeout));
    for (const Request* request : {&silent, &meanwhile}) {
        ASSERT_TRUE(request->result->isFailure());
        EXPECT_EQ(request->result->error().code, static_cast<int>(Code::pageNotAnswering));
    }

    // It is busy: a script that runs for seconds holds its process, past the time-out: the
    // request fails and nothing waits on.
    busyFor(3000);
    Request busy(*source);
    ASSERT_TRUE(spinUntil([&] { return busy.done(); }, editorTimeout));
    ASSERT_TRUE(busy.result->isFailure());
    EXPECT_EQ(busy.result->error().code, static_cast<int>(Code::pageNotAnswering));

    // Busy for longer than WebKit waits before it calls the page unresponsive, but within the
    // time-out: the document comes, as the page is only slow (a loaded machine, a large
    // document). Keys pressed meanwhile are what make WebKit check.
    editor.evaluate("window._ipc.emit = window.emit");
    kx::NimbetViewController::setPageAnswerTimeoutForTesting(std::chrono::seconds(30));
    busyFor(6000);
    Request slow(*source);
    GtkWidget* view = editor.controller->webViewController().webView().widget();
    gtk_widget_grab_focus(view);
    for (int key = 0; key < 10; ++key) {
        kxtest::spinFor(std::chrono::milliseconds(300));
        kxtest::pressKey(gtk_widget_get_toplevel(view), GDK_KEY_Shift_L);
    }
    ASSERT_TRUE(spinUntil([&] { return slow.done(); }, editorTimeout));
    EXPECT_TRUE(slow.result->isSuccess()) << slow.result->error().localizedDescription;
}

TEST_F(NimbetViewControllerGui, ADocumentLargerThanTheViewTakesFailsItsRequestAtOnceAndStaysInThePage)
{
    kxtest::ScopedSetting largest(kx::BaseNimbetViewController::setLargestDocumentForTesting, std::size_t(1) << 20);
    EditorWindow editor;
    kxtest::ProjectServer project(kxtest::twoFrames);
    editor.openProject(project.url());
    editor.evaluate("window.nimbet.state.document.frames[1].text = 'x'.repeat(2 << 20); true");
    // Refused while its parts come: the request fails then, not at the page's time-out.
    auto source = editor.documentSource;
    Request large(*source);
    ASSERT_TRUE(spinUntil([&] { return large.done(); }, editorTimeout));
    ASSERT_TRUE(large.result->isFailure());
    EXPECT_EQ(large.result->error().code, static_cast<int>(kx::NimbetError::Code::documentTooLarge));
    EXPECT_EQ(large.result->error().localizedDescription, "The document is too large to save: the editor hands over documents of up to 1 MiB.");
    EXPECT_EQ(editor.evaluate("window.nimbet.state.document.frames[1].text.length"), 2 << 20);
    editor.evaluate("window.nimbet.state.document.frames[1].text = 'Smaller'; true");
    Request smaller(*source);
    ASSERT_TRUE(spinUntil([&] { return smaller.done(); }, editorTimeout));
    ASSERT_TRUE(smaller.result->isSuccess()) << smaller.result->error().localizedDescription;
    EXPECT_EQ(json::parse(smaller.result->value())["frames"][1]["text"], "Smaller");
}

TEST_F(NimbetViewControllerGui, APasteOfTwentyMegabytesOfTextKeepsThePageAnswering)
{
    EditorWindow editor;
    kxtest::ProjectServer project(kxtest::twoFrames);
    editor.openProject(project.url());
    constexpr auto transfer = std::chrono::seconds(120);
    // On the clipboard, as another program would put it there, then pasted as a new frame.
    EXPECT_EQ(editor.evaluateAsync("window.nimbetServices.call('__Clipboard__', 'write', "
                                   "{items: [{type: 'text/plain', string: 'x'.repeat(20 * 1024 * 1024)}]})"),
              json::parse("{\"value\": null}"));
    auto pasted = std::make_shared<std::optional<bool>>();
    editor.controller->webViewController().webView().menuActionTarget()->dispatch(
        {"paste"}, [pasted](auto result) { *pasted = result.isSuccess() && result.value().success; });
    ASSERT_TRUE(spinUntil([&] { return pasted->has_value(); }, transfer));
    EXPECT_TRUE(**pasted);
    // Selecting draws every frame again; the page still answers at once.
    editor.evaluate("document.querySelectorAll('#frames li')[0].dispatchEvent(new MouseEvent('mousedown')); true");
    EXPECT_EQ(editor.evaluate("window.nimbet.state.document.frames.length"), 3);
    EXPECT_EQ(editor.evaluate("1 + 1"), 2);
    // And it hands the whole document over.
    auto source = editor.documentSource;
    Request request(*source);
    ASSERT_TRUE(spinUntil([&] { return request.done(); }, transfer));
    ASSERT_TRUE(request.result->isSuccess());
    EXPECT_GT(request.result->value().size(), std::size_t(20 * 1024 * 1024));
}
