// Speed of the working container, measured whole, run by container-benchmark.sh beside unzip,
// zip and plain gdk-pixbuf on the same data:
//
//   pack TREE ZIP         makes the package of a project folder (not measured)
//   open ZIP CACHE        reads the package into a fresh working folder
//   save ZIP CACHE        opens it, changes 10 files on disk, then writes and saves it back
//   images COUNT FOLDER   adds COUNT mixed images and waits for their downscaled copies;
//                         then the same decoding and scaling with plain gdk-pixbuf
//
// Each prints "name=value" lines: seconds, the longest stall of the main loop (a 1 ms timer
// that could not run) and the peak memory.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/KVDocumentLogger.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "App/exchange/ImageScaling.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"
#include "Platform/Foundation/Uuid.h"
#include "StallMeter.h"

using namespace kx;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double peakMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

void spinUntil(const std::function<bool()>& done)
{
    while (!done())
        g_main_context_iteration(nullptr, TRUE);
}

// Runs `work` from the main loop, as the application does, and spins until `done`.
void onMainLoop(const std::function<void()>& work, const std::function<bool()>& done)
{
    bool started = false;
    kx::MainQueue::async([&] {
        work();
        started = true;
    });
    spinUntil([&] { return started && done(); });
}

std::shared_ptr<KVDocumentContainer> openPackage(const fs::path& zip, const fs::path& cache, const std::shared_ptr<KVDocumentContainer::DataSource>& source)
{
    KVDocumentContainer::setBaseDirectoryForTesting(cache);
    KVDocumentArchive archive(zip, "com.korvel.projectzip", false, std::nullopt, true);
    auto container = KVDocumentContainer::make(archive.uuid(), false, zip);
    container->addDataSource(source, "design/document.json");
    container->read(archive, KVDocumentContainer::ArchiveRelation::origin(false));
    return container;
}

std::shared_ptr<KVDocumentContainer::DataSource> editor(std::string* content)
{
    return std::make_shared<KVDocumentContainer::DataSource>([content](const std::string& data) { *content = data; },
                                                             [content](auto completion) {
                                                                 completion(kx::Result<std::string, kx::Error>::success(*content));
                                                             });
}

int pack(const fs::path& tree, const fs::path& zip)
{
    KVDocumentArchive source(tree, "com.korvel.projectfolder", false, std::nullopt, false);
    fs::remove(zip);
    KVDocumentArchive target(zip, "com.korvel.projectzip", true, std::nullopt, true);
    target.reflect(source);
    return 0;
}

int open(const fs::path& zip, const fs::path& cache)
{
    ::sync(); // the earlier runs' writes are not this run's to flush
    std::string document;
    auto source = editor(&document);
    StallMeter meter;
    std::shared_ptr<KVDocumentContainer> container;
    const auto start = Clock::now();
    onMainLoop([&] { container = openPackage(zip, cache, source); }, [] { return true; });
    const auto opened = Clock::now();
    const double openStall = meter.longestMilliseconds();
    meter.reset();
    spinUntil([&] { return container->pendingCachedImageJobs() == 0; });
    std::cout << "open_seconds=" << seconds(opened - start) << "\n"
              << "open_stall_ms=" << openStall << "\n"
              << "image_jobs_after_open_seconds=" << seconds(Clock::now() - opened) << "\n"
              << "stall_during_image_jobs_ms=" << meter.longestMilliseconds() << "\n"
              << "peak_mib=" << peakMiB() << "\n";
    static_cast<KVDocumentLogger&>(container->logger()).waitUntilWritten();
    return 0;
}

int save(const fs::path& zip, const fs::path& cache)
{
    std::string document;
    auto source = editor(&document);
    std::shared_ptr<KVDocumentContainer> container;
    onMainLoop([&] { container = openPackage(zip, cache, source); }, [] { return true; });
    spinUntil([&] { return container->pendingCachedImageJobs() == 0; });
    container->mark(false);

    // Ten files change on disk, the document among them; the monitor brings the changes in.
    std::mt19937 random(7);
    std::vector<fs::path> code;
    for (const auto& item : fs::recursive_directory_iterator(container->projectDirectory() / "code"))
        if (item.is_regular_file())
            code.push_back(item.path());
    std::sort(code.begin(), code.end());
    for (int i = 0; i < 9; ++i)
        std::ofstream(code[random() % code.size()], std::ios::app) << "\n// changed " << i << "\n";
    document += "\n";
    source->setDataNeedsToBeProvided(true);
    const auto changed = Clock::now();
    spinUntil([&] { return container->hasChanges() || Clock::now() - changed > std::chrono::seconds(5); });
    for (int i = 0; i < 50; ++i)
        g_main_context_iteration(nullptr, FALSE);

    ::sync();
    StallMeter meter;
    bool written = false;
    const auto start = Clock::now();
    onMainLoop(
        [&] {
            container->writeChanges([&](std::optional<KVDocumentError> error) {
                if (error)
                    std::cerr << "write failed: " << error->what() << "\n";
                KVDocumentArchive archive(zip, "com.korvel.projectzip", false, std::nullopt, true);
                container->save(archive, KVDocumentContainer::ArchiveRelation::origin(false));
                written = true;
            });
        },
        [&] { return written; });
    std::cout << "save_seconds=" << seconds(Clock::now() - start) << "\n"
              << "save_stall_ms=" << meter.longestMilliseconds() << "\n"
              << "peak_mib=" << peakMiB() << "\n";
    static_cast<KVDocumentLogger&>(container->logger()).waitUntilWritten();
    return 0;
}

// 200 images of mixed kinds and sizes, as files.
std::vector<std::string> makeImages(int count)
{
    std::vector<std::string> images;
    std::mt19937 random(11);
    const char* types[] = {"png", "jpeg", "jpeg", "tiff"};
    for (int i = 0; i < count; ++i) {
        int width = 400 + random() % 3600, height = 300 + random() % 2700;
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                guchar* p = pixels + y * stride + x * 3;
                p[0] = static_cast<guchar>((x * 7 + i) & 0xFF);
                p[1] = static_cast<guchar>((y * 3 + x / 5) & 0xFF);
                p[2] = static_cast<guchar>(((x ^ y) + i * 13) & 0xFF);
            }
        gchar* buffer = nullptr;
        gsize size = 0;
        gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, types[i % 4], nullptr, nullptr);
        images.emplace_back(buffer, size);
        g_free(buffer);
        g_object_unref(pixbuf);
    }
    return images;
}

int images(int count, const fs::path& folder)
{
    auto data = makeImages(count);
    std::uint64_t bytes = 0;
    for (const auto& image : data)
        bytes += image.size();

    // Ours: added on the main loop, copies made on the pool.
    KVDocumentContainer::setBaseDirectoryForTesting(folder / "cache");
    auto container = KVDocumentContainer::make(kx::Uuid::make(), false, std::nullopt);
    StallMeter meter;
    double addStall = 0;
    const auto start = Clock::now();
    size_t next = 0;
    // One add per turn of the main loop, as images arrive from the page.
    std::function<void()> addNext = [&] {
        auto before = Clock::now();
        container->addImage(data[next++]);
        auto took = Clock::now() - before;
        meter.exclude(took);
        addStall = std::max(addStall, std::chrono::duration<double, std::milli>(took).count());
        if (next < data.size())
            kx::MainQueue::async(addNext);
    };
    kx::MainQueue::async(addNext);
    spinUntil([&] { return next == data.size() && container->pendingCachedImageJobs() == 0; });
    const double ours = seconds(Clock::now() - start);
    const double stall = meter.longestMilliseconds();

    // Plain gdk-pixbuf on a pool of the same size: decode, scale to each size the image
    // exceeds, encode and write.
    const fs::path plain = folder / "plain";
    fs::create_directories(plain);
    kx::ThreadPool pool(kx::ThreadPool::global().threadCount(), "kx-plain");
    const auto plainStart = Clock::now();
    for (size_t i = 0; i < data.size(); ++i)
        pool.async([&, i] {
            std::ofstream(plain / ("full" + std::to_string(i)), std::ios::binary) << data[i];
            GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
            gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(data[i].data()), data[i].size(), nullptr);
            gdk_pixbuf_loader_close(loader, nullptr);
            GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader);
            const bool jpeg = data[i].size() > 2 && data[i][0] == '\xFF';
            for (int side : {512, 1024, 2048, 4096}) {
                int width = gdk_pixbuf_get_width(image), height = gdk_pixbuf_get_height(image);
                double factor = std::min(double(side) / width, double(side) / height);
                if (factor >= 1)
                    continue;
                GdkPixbuf* scaled = gdk_pixbuf_scale_simple(image, int(std::ceil(width * factor)), int(std::ceil(height * factor)),
                                                            GDK_INTERP_BILINEAR);
                gchar* buffer = nullptr;
                gsize size = 0;
                if (jpeg)
                    gdk_pixbuf_save_to_buffer(scaled, &buffer, &size, "jpeg", nullptr, "quality", "85", nullptr);
                else
                    gdk_pixbuf_save_to_buffer(scaled, &buffer, &size, "png", nullptr, nullptr);
                std::ofstream(plain / (std::to_string(side) + "-" + std::to_string(i)), std::ios::binary).write(buffer, static_cast<std::streamsize>(size));
                g_free(buffer);
                g_object_unref(scaled);
            }
            g_object_unref(loader);
        });
    pool.waitUntilIdle();
    const double baseline = seconds(Clock::now() - plainStart);

    std::cout << "images=" << count << "\n"
              << "image_megabytes=" << bytes / 1e6 << "\n"
              << "images_seconds=" << ours << "\n"
              << "plain_gdk_pixbuf_seconds=" << baseline << "\n"
              << "images_ratio=" << ours / baseline << "\n"
              << "longest_add_image_ms=" << addStall << "\n"
              << "stall_besides_adding_ms=" << stall << "\n";
    container.reset();
    spinUntil([] { return KVDocumentContainer::allInstances().empty(); });
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "pack" && argc == 4)
            return pack(argv[2], argv[3]);
        if (mode == "open" && argc == 4)
            return open(argv[2], argv[3]);
        if (mode == "save" && argc == 4)
            return save(argv[2], argv[3]);
        if (mode == "images" && argc == 4)
            return images(std::stoi(argv[2]), argv[3]);
    } catch (const std::exception& error) {
        std::cerr << mode << " failed: " << error.what() << "\n";
        return 1;
    } catch (const kx::Error& error) {
        std::cerr << mode << " failed: " << error.localizedDescription << "\n";
        return 1;
    }
    std::cerr << "usage: kx_container_benchmark pack TREE ZIP | open ZIP CACHE | save ZIP CACHE | images COUNT FOLDER\n";
    return 2;
}
