// Whole project documents (the document controller, the editor page, the project server) for
// document-benchmark.sh and document-reliability.sh. Needs a display and the folders the
// scripts set ($XDG_* and HOME):
//
//   pack TREE PACKAGE           makes a zip package (or, for a PACKAGE without ".korvelx", a
//                               project folder) of a project tree (not measured)
//   open PACKAGE                opens it as the user does and prints open_seconds: from the
//                               open command to the editor page showing the document
//   autosave PACKAGE            opens it, changes ten files (the document among them), then
//                               autosaves it as the minute timer does; prints autosave_seconds
//                               and autosave_stall_ms, the longest the main loop stood still
//   stalls PACKAGE [MB]         opens it, types a document of MB megabytes (20) and prints the
//                               longest main-loop stalls of a backup, an autosave, the
//                               directory monitor taking in files changed elsewhere, and a
//                               burst of project log lines (backup_stall_ms, autosave_stall_ms,
//                               monitor_stall_ms, log_stall_ms), each beside the longest stall of
//                               the same loop left idle as long, in the same run (*_idle_stall_ms)
//   edit-save PACKAGE TEXT KIND opens it, types TEXT into the document and writes it into the
//                               four edited code files as the user's editor would, prints
//                               "saving" and then: KIND "save" or "autosave" saves it, "saveas"
//                               saves it as "NAME Saved As" beside it, "quit" ends as the application does
//                               at a signal (saving without asking); prints "saved" and the
//                               milliseconds it took when done
//   edit-draft TEMPLATE TEXT    a new untitled document from TEMPLATE, edited the same way, then
//                               autosaved to its draft ("saving", "saved ms")
//   check PACKAGE               prints what the package stores: its document's first text
//                               ("package_text="), the edited code files' texts
//                               ("package_files=", in order) and whether it is whole
//                               ("package_intact=1"); then opens it as the user does and prints
//                               what the editor shows ("text=") and the project folder holds
//                               ("files="), or "error=" why it did not open
//   check-drafts                restores the documents of the last run as a launch does and
//                               prints "text=" and "files=" for each draft, or "drafts=0"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include <gtk/gtk.h>

#include "App/account/KorvelTracking.h"
#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/documents/DocumentController.h"
#include "App/documents/KVDocument.h"
#include "App/server/AppServer.h"
#include "App/shell/AppInfo.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/UserDefaults.h"
#include "StallMeter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool spinUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(600))
{
    const auto deadline = Clock::now() + timeout;
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done() && Clock::now() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return done();
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The code files each run edits with the document: a mix across files shows as texts that differ.
const std::vector<std::string> editedFiles = {"code/file000.js", "code/file001.js", "code/file002.js", "code/file003.js"};

std::string editedText(const std::string& content)
{
    // "// edit TEXT" on the first line; "original" for a file never edited.
    const auto line = content.substr(0, content.find('\n'));
    return line.starts_with("// edit ") ? line.substr(8) : "original";
}

// The edited files' texts in a folder, comma-separated.
std::string editedTexts(const fs::path& folder)
{
    std::string texts;
    for (const auto& path : editedFiles) {
        std::ifstream in(folder / path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        texts += (texts.empty() ? "" : ",") + (in ? editedText(content) : std::string("missing"));
    }
    return texts;
}

struct Session {
    std::unique_ptr<kx::DocumentController> controller;

    Session()
    {
        // The shipped stand-in editor of this source tree, served by our local web server.
        const fs::path resources = kx::Bundle::main().resourcePath();
        kx::AppInfo::setCurrent(std::make_shared<kx::AppInfo>(kx::Bundle::main(), "Korvel X", std::nullopt, resources / "Nimbet"));
        kx::AppServer::start();
        kx::UserDefaults::standard().setBool(kx::KorvelTracking::trackingDisabledKey, true);
        controller = std::make_unique<kx::DocumentController>();
        controller->shouldOpenDocuments = [] { return true; };
    }

    // The document once the editor page shows it; nullptr with the reason printed.
    std::shared_ptr<kx::KVDocument> open(const fs::path& package)
    {
        std::shared_ptr<kx::Document> opened;
        std::optional<kx::Error> failure;
        bool done = false;
        controller->openDocumentWithContentsOfURL(package, true, [&](auto document, bool, auto error) {
            opened = document;
            failure = error;
            done = true;
        });
        spinUntil([&] { return done; });
        if (failure) {
            std::cout << "error=" << failure->localizedDescription << " " << failure->informativeText() << std::endl;
            return nullptr;
        }
        auto document = std::dynamic_pointer_cast<kx::KVDocument>(opened);
        if (!document || !spinUntil([&] { return evaluate(*document, "window.nimbet.state.document !== null") == true; })) {
            std::cout << "error=the editor did not show the document" << std::endl;
            return nullptr;
        }
        return document;
    }

    nlohmann::json evaluate(kx::KVDocument& document, const std::string& script)
    {
        if (!document.nimbetViewController()->isDocumentReady())
            return nullptr;
        bool done = false;
        nlohmann::json value;
        document.nimbetViewController()->webViewController().evaluateJavaScript(
            script, [&](std::optional<nlohmann::json> result, std::optional<kx::Error>) {
                value = result.value_or(nlohmann::json());
                done = true;
            });
        spinUntil([&] { return done; });
        return value;
    }

    // Writes `text` into the edited code files as another editor would (a new file renamed
    // over each), and waits until the project has seen them all.
    void editFiles(kx::KVDocument& document, const std::string& text)
    {
        const fs::path folder = document.container()->projectDirectory();
        for (const auto& path : editedFiles) {
            std::ifstream in(folder / path, std::ios::binary);
            std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (editedText(content) != "original")
                content = content.substr(content.find('\n') + 1);
            const fs::path temporary = folder / (path + ".edit");
            std::ofstream(temporary, std::ios::binary) << "// edit " << text << "\n" << content;
            fs::rename(temporary, folder / path);
            document.container()->didChange(path);
        }
    }

    void type(kx::KVDocument& document, const std::string& text)
    {
        evaluate(document, "(() => { const f = document.querySelectorAll('#frames textarea')[0]; f.focus(); f.value = "
                               + nlohmann::json(text).dump() + "; f.dispatchEvent(new Event('input')); f.blur(); })()");
        spinUntil([&] { return document.isDocumentEdited(); });
    }

    std::optional<kx::Error> save(kx::KVDocument& document, bool autosave)
    {
        bool done = false;
        std::optional<kx::Error> failure;
        auto completion = [&](std::optional<kx::Error> error) {
            failure = error;
            done = true;
        };
        if (autosave)
            document.autosave(false, completion);
        else
            document.save(*document.fileURL(), document.fileType(), kx::SaveOperation::save, completion);
        spinUntil([&] { return done; });
        return failure;
    }
};

int pack(const fs::path& tree, const fs::path& package)
{
    auto source = std::make_shared<kx::KVDocumentArchive>(std::make_shared<kx::KVDirectoryArchiveBacking>(tree, false, false), std::nullopt);
    source->regenerateManifest();
    const bool folder = package.extension() != ".korvelx";
    kx::KVDocumentArchive target(package, folder ? "com.korvel.projectfolder" : "com.korvel.projectzip", true, std::nullopt, !folder);
    target.reflect(*source);
    return 0;
}

int openBenchmark(const fs::path& package)
{
    Session session;
    const auto start = Clock::now();
    auto document = session.open(package);
    if (!document)
        return 1;
    std::cout << "open_seconds=" << seconds(Clock::now() - start) << std::endl;
    return 0;
}

int autosaveBenchmark(const fs::path& package)
{
    Session session;
    auto document = session.open(package);
    if (!document)
        return 1;
    spinUntil([&] { return document->container()->pendingCachedImageJobs() == 0; });
    // Nine files change on disk and the document in the editor: ten in all.
    std::mt19937 random(7);
    std::vector<fs::path> code;
    for (const auto& item : fs::recursive_directory_iterator(document->container()->projectDirectory() / "code"))
        if (item.is_regular_file())
            code.push_back(item.path());
    std::sort(code.begin(), code.end());
    for (int i = 0; i < 9 && !code.empty(); ++i)
        std::ofstream(code[random() % code.size()], std::ios::app) << "\n// changed " << i << "\n";
    session.type(*document, "Changed for the autosave");
    const auto settle = Clock::now();
    spinUntil([&] { return Clock::now() - settle > std::chrono::milliseconds(500); });

    StallMeter meter;
    const auto start = Clock::now();
    if (auto error = session.save(*document, true)) {
        std::cout << "error=" << error->localizedDescription << std::endl;
        return 1;
    }
    std::cout << "autosave_seconds=" << seconds(Clock::now() - start) << "\n"
              << "autosave_stall_ms=" << meter.longestMilliseconds() << std::endl;
    return 0;
}

// The longest main-loop stalls of the container's own work on a project with a document of
// `documentMegabytes`: a backup, an autosave, the directory monitor taking in changes made by
// another program (a hundred files, one of them large), and a burst of project log lines.
int stallsBenchmark(const fs::path& package, int documentMegabytes)
{
    Session session;
    auto document = session.open(package);
    if (!document)
        return 1;
    auto container = document->container();
    spinUntil([&] { return container->pendingCachedImageJobs() == 0; });
    // The document grows by a text of megabytes (words and lines, as a paste brings them) that
    // the page keeps in its document without laying it out in a field; the frame's name is then
    // edited as a user does, which makes the change the page's own.
    const std::size_t documentBytes = static_cast<std::size_t>(documentMegabytes) << 20;
    session.evaluate(*document, "(() => { window.nimbet.state.document.frames[0].text = 'lorem ipsum dolor sit amet\\n'.repeat("
                                    + std::to_string(documentBytes / 27 + 1) + "); })()");
    auto rename = [&](const std::string& name) {
        session.evaluate(*document, "(() => { const f = document.querySelectorAll('#frames input')[0]; f.value = "
                                        + nlohmann::json(name).dump() + "; f.dispatchEvent(new Event('input')); })()");
        spinUntil([&] { return session.evaluate(*document, "window.nimbet.state.document.frames[0].name") == name; });
    };
    rename("Grown");
    spinUntil([&] { return document->isDocumentEdited(); });
    auto settle = [] {
        const auto start = Clock::now();
        spinUntil([&] { return Clock::now() - start > std::chrono::milliseconds(500); });
    };
    settle();
    // A figure counts only when the page did hand the document over: the working folder then
    // holds the whole text, under the frame's latest name.
    const fs::path documentFile = container->projectDirectory() / kx::KVDocumentArchive::relativePathForDocumentJSON;
    auto handedOver = [&](const char* what, const std::string& name) {
        std::error_code error;
        const auto size = fs::file_size(documentFile, error);
        std::string head(4096, '\0');
        std::ifstream(documentFile, std::ios::binary).read(head.data(), static_cast<std::streamsize>(head.size()));
        if (!error && size >= documentBytes && head.find("\"name\":\"" + name + "\"") != std::string::npos)
            return true;
        std::cout << "error=the " << what << " did not take the document (" << (error ? 0 : size) << " bytes)" << std::endl;
        return false;
    };

    // The floor beside each figure: the same main loop, with the same page, left to itself for
    // as long as the measured work took. A busy machine stalls a loop that does nothing too.
    auto idleFloor = [&](const char* name, Clock::duration duration) {
        StallMeter meter;
        const auto start = Clock::now();
        spinUntil([&] { return Clock::now() - start > duration; });
        std::cout << name << "_idle_stall_ms=" << meter.longestMilliseconds() << std::endl;
    };
    auto started = Clock::now();
    {
        StallMeter meter;
        bool done = false;
        container->backup([&] { done = true; });
        spinUntil([&] { return done; });
        std::cout << "backup_stall_ms=" << meter.longestMilliseconds() << std::endl;
    }
    idleFloor("backup", Clock::now() - started);
    if (!handedOver("backup", "Grown"))
        return 1;
    settle();
    // A second edit, once the page has taken it.
    rename("Renamed");
    settle();
    started = Clock::now();
    {
        StallMeter meter;
        if (auto error = session.save(*document, true)) {
            std::cout << "error=" << error->localizedDescription << std::endl;
            return 1;
        }
        std::cout << "autosave_stall_ms=" << meter.longestMilliseconds() << std::endl;
    }
    idleFloor("autosave", Clock::now() - started);
    if (!handedOver("autosave", "Renamed"))
        return 1;
    settle();
    started = Clock::now();
    {
        // Another program changes a hundred code files and writes one large one.
        std::vector<fs::path> code;
        for (const auto& item : fs::recursive_directory_iterator(container->projectDirectory() / "code"))
            if (item.is_regular_file())
                code.push_back(item.path());
        std::sort(code.begin(), code.end());
        StallMeter meter;
        // The other program's writes are not ours: they run beside the main loop.
        std::atomic<bool> written = false;
        std::thread elsewhere([&] {
            for (std::size_t i = 0; i < 100 && i < code.size(); ++i)
                std::ofstream(code[i], std::ios::app) << "\n// changed elsewhere\n";
            std::ofstream(container->projectDirectory() / "code" / "large-elsewhere.js", std::ios::binary)
                << std::string(static_cast<std::size_t>(documentMegabytes) << 20, 'e');
            written = true;
        });
        spinUntil([&] { return written.load(); });
        elsewhere.join();
        settle();
        settle();
        std::cout << "monitor_stall_ms=" << meter.longestMilliseconds() << std::endl;
    }
    idleFloor("monitor", Clock::now() - started);
    started = Clock::now();
    {
        StallMeter meter;
        for (int i = 0; i < 2000; ++i)
            container->logger().log(kx::LogMessage{"Benchmark line " + std::to_string(i) + " " + std::string(200, 'l'), "info", std::nullopt});
        settle();
        std::cout << "log_stall_ms=" << meter.longestMilliseconds() << std::endl;
    }
    idleFloor("log", Clock::now() - started);
    return 0;
}

int editSave(const fs::path& package, const std::string& text, const std::string& kind)
{
    Session session;
    auto document = session.open(package);
    if (!document)
        return 1;
    session.editFiles(*document, text);
    session.type(*document, text);
    std::cout << "saving" << std::endl;
    const auto start = Clock::now();
    std::optional<kx::Error> error;
    if (kind == "saveas") {
        // Into a new package of the same kind beside it ("Project Saved As.korvelx").
        const bool folder = fs::is_directory(package);
        const fs::path target = folder ? fs::path(package.string() + " Saved As")
                                       : package.parent_path() / (package.stem().string() + " Saved As.korvelx");
        kx::DocumentControllerBase::setOptionKeyIsDownForTesting(folder);
        session.controller->setPanelRunnerForTesting([target, folder](const auto&) {
            kx::DocumentControllerBase::PanelResult result;
            result.urls = {target};
            result.type = folder ? kx::DocumentController::projectFolderTypeIdentifier : kx::DocumentController::projectZipTypeIdentifier;
            return result;
        });
        bool done = false;
        document->saveDocumentAs([&](std::optional<kx::Error> failure) {
            error = failure;
            done = true;
        });
        spinUntil([&] { return done; });
    } else if (kind == "quit") {
        // As the application ends at a signal or a session's end: every document saved without asking.
        if (!session.controller->reviewDocumentsBeforeQuitting(false))
            error = kx::Error("Benchmark", 1, "quitting was refused");
    } else {
        error = session.save(*document, kind == "autosave");
    }
    if (error) {
        std::cout << "error=" << error->localizedDescription << std::endl;
        return 1;
    }
    std::cout << "saved " << int(seconds(Clock::now() - start) * 1000) << std::endl;
    return 0;
}

int editDraft(const fs::path& templatePackage, const std::string& text)
{
    Session session;
    auto archive = std::make_shared<kx::KVDocumentArchive>(templatePackage, "com.korvel.projectzip", false, std::nullopt, true);
    auto document = kx::KVDocument::makeUntitled(kx::DocumentController::projectZipTypeIdentifier, archive);
    session.controller->addDocument(document);
    document->makeWindowControllers();
    if (!spinUntil([&] { return session.evaluate(*document, "window.nimbet.state.document !== null") == true; })) {
        std::cout << "error=the editor did not show the document" << std::endl;
        return 1;
    }
    session.editFiles(*document, text);
    session.type(*document, text);
    std::cout << "saving" << std::endl;
    const auto start = Clock::now();
    if (auto error = session.save(*document, true)) {
        std::cout << "error=" << error->localizedDescription << std::endl;
        return 1;
    }
    std::cout << "saved " << int(seconds(Clock::now() - start) * 1000) << std::endl;
    return 0;
}

int checkDrafts()
{
    Session session;
    std::vector<std::shared_ptr<kx::Document>> restored;
    session.controller->restoreDocuments([&](auto documents) { restored = std::move(documents); });
    int drafts = 0;
    for (const auto& restoredDocument : restored) {
        auto document = std::dynamic_pointer_cast<kx::KVDocument>(restoredDocument);
        if (!document || document->fileURL())
            continue;
        ++drafts;
        if (!spinUntil([&] { return session.evaluate(*document, "window.nimbet.state.document !== null") == true; })) {
            std::cout << "error=the editor did not show the draft" << std::endl;
            continue;
        }
        const auto text = session.evaluate(*document, "window.nimbet.state.document.frames[0].text");
        std::cout << "text=" << (text.is_string() ? text.get<std::string>() : text.dump()) << "\n"
                  << "files=" << editedTexts(document->container()->projectDirectory()) << std::endl;
        // Gone for the next run: a draft is checked once.
        if (auto draft = document->autosavedContentsFileURL())
            fs::remove_all(*draft);
        document->setAutosavedContentsFileURL(std::nullopt);
        document->close();
    }
    std::cout << "drafts=" << drafts << std::endl;
    return 0;
}

// The package itself, read directly: its document's first text, the edited files' texts, and
// whether every file it holds is the one its manifest describes (zip packages carry one).
struct PackageState {
    std::string text;
    std::string files;
    bool intact = false;
};

PackageState packageState(const fs::path& package)
{
    const bool folder = fs::is_directory(package);
    kx::KVDocumentArchive archive(package, folder ? "com.korvel.projectfolder" : "com.korvel.projectzip", false, std::nullopt, !folder);
    std::string content;
    auto reader = archive.backing()->dataReader("design/document.json");
    for (auto chunk = reader->read(); !chunk.empty(); chunk = reader->read())
        content.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    const auto document = nlohmann::json::parse(content, nullptr, false);
    std::string text = "unreadable";
    if (document.is_object() && document["frames"].is_array() && !document["frames"].empty() && document["frames"][0]["text"].is_string())
        text = document["frames"][0]["text"];
    std::string files;
    for (const auto& path : editedFiles) {
        std::string value = "missing";
        try {
            std::string bytes;
            auto file = archive.backing()->dataReader(path);
            for (auto chunk = file->read(); !chunk.empty(); chunk = file->read())
                bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
            value = editedText(bytes);
        } catch (const std::exception&) {
        }
        files += (files.empty() ? "" : ",") + value;
    }
    bool intact = true;
    if (!folder) {
        const auto stored = archive.manifest();
        archive.regenerateManifest();
        intact = stored && stored->files && archive.manifest() && archive.manifest()->files
            && *stored->files == *archive.manifest()->files;
    }
    return {text, files, intact};
}

int check(const fs::path& package)
{
    try {
        const auto state = packageState(package);
        std::cout << "package_text=" << state.text << "\npackage_files=" << state.files << "\npackage_intact="
                  << (state.intact ? 1 : 0) << std::endl;
    } catch (const std::exception& error) {
        std::cout << "package_text=unreadable\npackage_files=unreadable\npackage_intact=0" << std::endl;
    }
    Session session;
    auto document = session.open(package);
    if (!document)
        return 1;
    const auto text = session.evaluate(*document, "window.nimbet.state.document.frames[0].text");
    std::cout << "text=" << (text.is_string() ? text.get<std::string>() : text.dump()) << "\n"
              << "files=" << editedTexts(document->container()->projectDirectory()) << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pack" && argc == 4)
        return pack(argv[2], argv[3]);
    if (!gtk_init_check(&argc, &argv)) {
        std::cerr << "kx_document_benchmark: no display\n";
        return 2;
    }
    try {
        if (mode == "open" && argc == 3)
            return openBenchmark(argv[2]);
        if (mode == "autosave" && argc == 3)
            return autosaveBenchmark(argv[2]);
        if (mode == "stalls" && (argc == 3 || argc == 4))
            return stallsBenchmark(argv[2], argc == 4 ? std::atoi(argv[3]) : 20);
        if (mode == "edit-save" && argc == 5)
            return editSave(argv[2], argv[3], argv[4]);
        if (mode == "edit-draft" && argc == 4)
            return editDraft(argv[2], argv[3]);
        if (mode == "check" && argc == 3)
            return check(argv[2]);
        if (mode == "check-drafts" && argc == 2)
            return checkDrafts();
    } catch (const std::exception& error) {
        std::cout << "error=" << error.what() << std::endl;
        return 1;
    }
    std::cerr << "usage: kx_document_benchmark pack TREE PACKAGE | open PACKAGE | autosave PACKAGE"
                 " | stalls PACKAGE [DOCUMENT MB] | edit-save PACKAGE TEXT save|autosave|saveas|quit | edit-draft TEMPLATE TEXT | check PACKAGE"
                 " | check-drafts\n";
    return 2;
}
