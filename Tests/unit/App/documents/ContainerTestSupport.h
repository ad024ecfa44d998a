// Shared pieces of the working-container tests: a fresh cache folder per test, projects on
// disk, a data source standing in for the editor, and a few file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <glib.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "Platform/Foundation/Uuid.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace containertest {

namespace fs = std::filesystem;

using kx::KVDocumentArchive;
using kx::KVDocumentContainer;
using kx::KVDocumentError;
using kxtest::writeFile;

inline std::optional<std::string> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every regular file under `root` with its contents; hidden files only when asked for.
inline std::map<std::string, std::string> files(const fs::path& root, bool hidden = false)
{
    std::map<std::string, std::string> result;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string path = it->path().lexically_relative(root).generic_string();
        if (!hidden && !KVDocumentArchive::shouldInclude(path + (it->is_directory() ? "/_" : ""))) {
            if (it->is_directory())
                it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && !it->is_symlink())
            result[path] = *readFile(it->path());
    }
    return result;
}

// The editor's stand-in: it answers with `content`, or with `error`, at once or when told.
struct Editor {
    std::string content = "{\"version\": 0}";
    std::optional<kx::Error> error;
    bool answerLater = false;
    std::vector<KVDocumentContainer::DataSource::ProviderCompletion> waiting;
    std::vector<std::string> read;
    int requests = 0;
    std::shared_ptr<KVDocumentContainer::DataSource> source = std::make_shared<KVDocumentContainer::DataSource>(
        [this](const std::string& data) { read.push_back(data); },
        [this](KVDocumentContainer::DataSource::ProviderCompletion completion) {
            ++requests;
            if (answerLater)
                waiting.push_back(std::move(completion));
            else
                answer(completion);
        });

    void answer(const KVDocumentContainer::DataSource::ProviderCompletion& completion) const
    {
        if (error)
            completion(kx::Result<std::string, kx::Error>::failure(*error));
        else
            completion(kx::Result<std::string, kx::Error>::success(content));
    }
    void answerWaiting()
    {
        auto all = std::move(waiting);
        waiting.clear();
        for (auto& completion : all)
            answer(completion);
    }
    void edit(std::string text)
    {
        content = std::move(text);
        source->setDataNeedsToBeProvided(true);
    }
};

// Runs writeChanges and waits for its completion.
inline std::optional<KVDocumentError> writeChanges(KVDocumentContainer& container)
{
    bool done = false;
    std::optional<KVDocumentError> result;
    container.writeChanges([&](std::optional<KVDocumentError> error) {
        result = error;
        done = true;
    });
    EXPECT_TRUE(kxtest::spinUntil([&] { return done; }));
    return result;
}

// A project folder with a document, code and two files elsewhere.
inline void writeProject(const fs::path& root,
                         const std::string& document = "{\"version\": 0, \"title\": \"one\", \"image\": \"design/images/photo.png\"}")
{
    writeFile(root / "design/document.json", document);
    writeFile(root / "code/index.js", "export const a = 1;\n");
    writeFile(root / "code/lib/util.js", "export const b = 2;\n");
    writeFile(root / "README.md", "# Project\n");
}

// A zip package made from a folder with our archive, with its manifest.
inline fs::path makeZip(const fs::path& folder, const fs::path& zip, const std::optional<std::string>& uuid = std::nullopt)
{
    KVDocumentArchive source(folder, "com.korvel.projectfolder", false, std::nullopt, false);
    KVDocumentArchive target(zip, "com.korvel.projectzip", true, uuid, true);
    target.reflect(source);
    return zip;
}

// Each test gets its own cache folder, and the containers it made are gone when it ends.
class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override { KVDocumentContainer::setBaseDirectoryForTesting(temp / "cache"); }
    void TearDown() override
    {
        // Background jobs hand their last references back to the main loop.
        EXPECT_TRUE(kxtest::spinUntil([] { return KVDocumentContainer::allInstances().empty(); }, std::chrono::seconds(10)))
            << "containers of the test are still alive";
        KVDocumentContainer::setBaseDirectoryForTesting(std::nullopt);
    }

    // Lets go of a container and waits until its background jobs let go of it too, as when a
    // document closes (or the application ends) before its file is opened again.
    static void drop(std::shared_ptr<KVDocumentContainer>& container)
    {
        std::weak_ptr<KVDocumentContainer> weak = container;
        const KVDocumentContainer* object = container.get();
        const bool registered = KVDocumentContainer::isRegistered(object);
        container.reset();
        EXPECT_TRUE(kxtest::spinUntil([&] { return weak.expired(); }));
        // A worker that let go last hands the destruction itself to the main loop, maybe only
        // after the last owner is gone: the container is gone once it left the registry.
        if (registered) {
            EXPECT_TRUE(kxtest::spinUntil([&] { return !KVDocumentContainer::isRegistered(object); }));
        }
    }

    std::shared_ptr<KVDocumentContainer> makeContainer(const std::string& uuid = kx::Uuid::make(),
                                                       const std::optional<fs::path>& origin = std::nullopt)
    {
        return KVDocumentContainer::make(uuid, false, origin);
    }

    kxtest::TemporaryDirectory temp;
};

} // namespace containertest
