// An editor page that stays without its document (it never finishes loading it again): the
// user hears of it once, after a few autosave rounds, and what is kept.
#include "gui/App/documents/DocumentTestEnvironment.h"

namespace {

using namespace kxtest;
using kx::KVDocument;

class KVDocumentPageWithoutDocumentGui : public DocumentGuiTest {
protected:
    // Takes the page's document away, as a page that loads it again has none, and counts the
    // requests for it from now on.
    void takeDocumentAway(KVDocument& document)
    {
        evaluate(document, "if (window.nimbet.state.document) { window._kept = window.nimbet.state.document; window.nimbet.state.document = null; }"
                           " window._asked = 0;"
                           "if (!window._counting) { window._counting = true; const emit = window._ipc.emit; window._ipc.emit = (...a) => {"
                           " window._asked += a[0] === 'DocumentSave'; return emit(...a); }; } true");
    }
    // Runs `rounds` of the minute's autosave, each until the page was asked and the next round
    // is due; true when no alert came meanwhile.
    bool autosaveRoundsUntold(KVDocument& document, int rounds, kxtest::SourceLocation where = kxtest::SourceLocation::current())
    {
        for (int round = 1; round <= rounds; ++round) {
            const auto scheduled = clock->requested.size();
            clock->advance(60s);
            if (!spinUntil([&] { return evaluate(document, "window._asked") == round && clock->requested.size() > scheduled; },
                           editorTimeout, where))
                return false;
        }
        spinFor(300ms);
        return kx::Alert::shownAlerts().empty();
    }
};

TEST_F(KVDocumentPageWithoutDocumentGui, APageThatStaysWithoutItsDocumentIsToldOnceUntilItHandsOneOverAgain)
{
    constexpr int rounds = KVDocument::roundsWithoutPageDocumentToTell;
    auto document = openVersionedFolder("Before");
    ASSERT_TRUE(document);
    typeText(*document, 0, "Only in the page");
    takeDocumentAway(*document);
    // The rounds a reload takes pass in silence; the one after them is told, with what is kept.
    ASSERT_TRUE(autosaveRoundsUntold(*document, rounds - 1));
    clock->advance(60s);
    auto alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("The latest changes to \u201CProject\u201D have not been saved for some time. The editor could "
                                        "not hand over the document."),
              std::string::npos)
        << alert->messageText();
    EXPECT_NE(alert->informativeText().find("Your work is kept as it was the last time the editor handed over the document. The changes "
                                            "made since are only in the editor"),
              std::string::npos)
        << alert->informativeText();
    ASSERT_TRUE(answer("OK"));
    // Not again while the page stays without it; closing still asks.
    takeDocumentAway(*document);
    EXPECT_TRUE(autosaveRoundsUntold(*document, rounds + 1));
    document->performClose();
    alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("could not be saved"), std::string::npos) << alert->messageText();
    ASSERT_TRUE(answer("Cancel"));
    ASSERT_FALSE(document->isClosed());

    // The page hands its document over, and loses it again: told once more after as many rounds.
    evaluate(*document, "window.nimbet.state.document = window._kept; true");
    clock->advance(60s);
    ASSERT_TRUE(spinUntil([&] { return !document->isDocumentEdited(); }, editorTimeout));
    EXPECT_NE(readFile(folder / "Project/design/document.json").find("Only in the page"), std::string::npos);
    typeText(*document, 0, "Only in the page again");
    takeDocumentAway(*document);
    ASSERT_TRUE(autosaveRoundsUntold(*document, rounds - 1));
    clock->advance(60s);
    alert = waitForAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->messageText().find("have not been saved for some time"), std::string::npos) << alert->messageText();
}

} // namespace
