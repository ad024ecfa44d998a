// The editor's messages to its document, and the paths a page may and may not open.
#include <gtest/gtest.h>

#include <fstream>

#include "App/editor/BaseNimbetViewController.h"
#include "App/editor/NimbetIPCProcessor.h"
#include "support/RecordingDocument.h"
#include "support/TestPaths.h"

namespace {

namespace fs = std::filesystem;
using kx::NimbetIPCProcessor;
using kxtest::RecordingDocument;
using nlohmann::json;

void touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

TEST(NimbetIPCProcessor, MessagesReachTheDocument)
{
    NimbetIPCProcessor processor;
    processor.processMessage("DocumentDirty", json::object()); // no document yet: nothing happens
    auto document = std::make_shared<RecordingDocument>();
    processor.setDelegate(document);
    processor.processMessage("DocumentDirty", json::object());
    processor.processMessage("ServerStoreData", json{{"frames", 2}});
    processor.processMessage("ServerStoreData", json::array());
    processor.processMessage("ServerStoreData", json());
    processor.processMessage("ServerStoreData", std::nullopt); // no arguments: none, not an empty object
    processor.processMessage("ServerStoreData", json::object());
    processor.processMessage("Unknown", json());
    processor.processMessage("OpenProjectFile", std::nullopt);
    EXPECT_EQ(document->dirtyReports, 1);
    EXPECT_EQ(document->storeData, (std::vector<std::optional<json>>{json{{"frames", 2}}, std::nullopt, std::nullopt,
                                                                     std::nullopt, json::object()}));

    document.reset(); // held weakly
    EXPECT_EQ(processor.delegate(), nullptr);
    processor.processMessage("DocumentDirty", json::object());
}

TEST(NimbetIPCProcessor, ThePageOpensOnlyFilesInsideTheProject)
{
    kxtest::TemporaryDirectory root;
    const fs::path project = root / "project";
    touch(project / "code" / "App.js");
    touch(project / "README.md");
    touch(root / "secret.txt");
    fs::create_symlink(root / "secret.txt", project / "code" / "leak.txt");
    fs::create_symlink(project / "README.md", project / "code" / "readme-link.md");
    fs::create_directory_symlink(root.path(), project / "up");

    const auto checked = [&](const std::string& path) { return NimbetIPCProcessor::checkedProjectPath(project, path); };
    EXPECT_EQ(checked("code/App.js"), "code/App.js");
    EXPECT_EQ(checked("./code//App.js"), "code/App.js");
    EXPECT_EQ(checked("code/readme-link.md"), "README.md"); // where the link leads, still inside
    for (const std::string refused : {"", "/etc/passwd", "../secret.txt", "code/../README.md", "code/leak.txt",
                                      "up/secret.txt", "missing.txt", "."})
        EXPECT_EQ(checked(refused), std::nullopt) << refused;
    EXPECT_EQ(checked(std::string("code/App.js\0", 12)), std::nullopt);

    NimbetIPCProcessor processor;
    auto document = std::make_shared<RecordingDocument>();
    document->project = project;
    processor.setDelegate(document);
    std::vector<std::string> opened;
    processor.setApplicationOpenProjectFile([&](const std::string& path) { opened.push_back(path); });
    for (const json& path : {json("README.md"), json("../secret.txt"), json("code/leak.txt"), json(7), json("/etc/passwd")})
        processor.processMessage("OpenProjectFile", path);
    EXPECT_EQ(opened, std::vector<std::string>{"README.md"});
}

TEST(BaseNimbetViewController, EventsAndStartUpValuesAreScriptsOfTheirJSON)
{
    using kx::BaseNimbetViewController;
    EXPECT_EQ(BaseNimbetViewController::ipcScript("PreviewLoaded", {}), R"(window._ipc && window._ipc.emit("PreviewLoaded"))");
    EXPECT_EQ(BaseNimbetViewController::ipcScript("UpdatePreviewSettings", {json("id\"1"), std::nullopt, json{{"rotate", true}}}),
              R"(window._ipc && window._ipc.emit("UpdatePreviewSettings", "id\"1", null, {"rotate":true}))");
    // Values without a JSON form hold their place as null.
    EXPECT_EQ(BaseNimbetViewController::ipcScript("X", {json(std::nan("")), json("\xff"), json(1)}),
              R"(window._ipc && window._ipc.emit("X", null, null, 1))");

    const std::string script = BaseNimbetViewController::startupScript("http://127.0.0.1:5567", true, "to'ken\"</script>");
    EXPECT_NE(script.find(R"(window.location.origin !== "http://127.0.0.1:5567")"), std::string::npos);
    EXPECT_NE(script.find(R"(serverAuthorizationToken: "to'ken\"</script>")"), std::string::npos);
    EXPECT_NE(script.find("tutorialMode: true"), std::string::npos);
}

} // namespace
