// A second process of the application's name ("korvel-x-test-helper") for the working
// container's tests: it holds containers while its standard input stays open, and saves
// projects so that a test can kill it at any moment.
//
//   hold-folder FOLDER             a container working in place on FOLDER
//   hold-uuid BASE UUID            the working folder of UUID under BASE
//   save BASE UUID ORIGIN CONTENT  reads the zip ORIGIN, sets design/document.json to CONTENT,
//                                  writes and saves it back, prints "saved"
//
// Prints "held" or "saved" when done, "in-use" (exit 3) when the lock is another's, and the
// error (exit 1) otherwise.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>

#include <glib.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/KVDocumentError.h"
#include "App/documents/container/KVDocumentContainer.h"

using namespace kx;

namespace {

void waitForStandardInputToClose()
{
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
}

void spinUntil(const bool& done)
{
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
}

int run(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hold-folder" && argc == 3) {
        auto archive = std::make_shared<KVDocumentArchive>(argv[2], "com.korvel.projectfolder", false, std::nullopt, false);
        auto container = KVDocumentContainer::make(archive);
        std::cout << "held" << std::endl;
        waitForStandardInputToClose();
        return 0;
    }
    if (mode == "hold-uuid" && argc == 4) {
        KVDocumentContainer::setBaseDirectoryForTesting(std::filesystem::path(argv[2]));
        auto container = KVDocumentContainer::make(argv[3], false, std::nullopt);
        std::cout << "held" << std::endl;
        waitForStandardInputToClose();
        return 0;
    }
    if (mode == "save" && argc == 6) {
        KVDocumentContainer::setBaseDirectoryForTesting(std::filesystem::path(argv[2]));
        const std::filesystem::path origin = argv[4];
        const std::string content = argv[5];
        auto container = KVDocumentContainer::make(argv[3], false, origin);
        auto source = std::make_shared<KVDocumentContainer::DataSource>(
            [](const std::string&) {}, [content](auto completion) { completion(kx::Result<std::string, kx::Error>::success(content)); });
        container->addDataSource(source, "design/document.json");
        KVDocumentArchive archive(origin, "com.korvel.projectzip", false, std::nullopt, true);
        container->read(archive, KVDocumentContainer::ArchiveRelation::origin(false));
        source->setDataNeedsToBeProvided(true);
        bool written = false;
        std::optional<KVDocumentError> failure;
        container->writeChanges([&](std::optional<KVDocumentError> error) {
            failure = error;
            written = true;
        });
        spinUntil(written);
        if (failure)
            throw *failure;
        container->save(archive, KVDocumentContainer::ArchiveRelation::origin(false));
        std::cout << "saved" << std::endl;
        return 0;
    }
    std::cerr << "usage: korvel-x-test-helper hold-folder FOLDER | hold-uuid BASE UUID | save BASE UUID ORIGIN CONTENT" << std::endl;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const KVDocumentError& error) {
        if (error.code() == KVDocumentError::Code::containerAlreadyInUse) {
            std::cout << "in-use" << std::endl;
            return 3;
        }
        std::cout << error.what() << std::endl;
    } catch (const kx::Error& error) {
        std::cout << error.localizedDescription << std::endl;
    } catch (const std::exception& error) {
        std::cout << error.what() << std::endl;
    }
    return 1;
}
