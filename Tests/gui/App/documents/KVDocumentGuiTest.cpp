// Project documents as a user works with them: new, typed into, saved as a zip or a folder,
// closed and opened again, autosaved, reverted, duplicated and closed with unsaved changes.
#include "gui/App/documents/DocumentTestEnvironment.h"

namespace {

using namespace kxtest;
using kx::DocumentController;
using kx::KVDocument;

class KVDocumentGui : public DocumentGuiTest { };

TEST_F(KVDocumentGui, ANewProjectSavedAsAZipOpensAgainWithItsContent)
{
    auto document = newDocument();
    ASSERT_TRUE(document);
    EXPECT_FALSE(document->fileURL());
    EXPECT_FALSE(document->isDocumentEdited());
    ASSERT_TRUE(waitForEditor(*document));
    typeText(*document, 0, "Typed into a new project");
    EXPECT_TRUE(document->isDocumentEdited());

    const fs::path url = folder / "Landing.korvelx";
    ASSERT_FALSE(saveAs(*document, url));
    EXPECT_EQ(document->fileURL(), url);
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_NE(storedDocument(url).find("Typed into a new project"), std::string::npos);
    ASSERT_EQ(panelRequests.size(), 1u);
    // Without Alt only the zip format is offered.
    EXPECT_EQ(panelRequests[0].types, std::vector<std::string>{DocumentController::projectZipTypeIdentifier});

    document->performClose();
    ASSERT_TRUE(spinUntil([&] { return controller->documents().empty(); }));
    document.reset();

    auto reopened = open(url);
    ASSERT_TRUE(reopened) << (lastOpenError ? lastOpenError->localizedDescription : "");
    ASSERT_TRUE(waitForEditor(*reopened));
    EXPECT_EQ(frames(*reopened)[0]["text"], "Typed into a new project");
    EXPECT_FALSE(reopened->isDocumentEdited());
}

} // namespace
