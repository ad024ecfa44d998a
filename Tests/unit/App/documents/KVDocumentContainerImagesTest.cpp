// Images and assets of a working container, and their cached downscaled copies made on the
// thread pool, with images of every kind.
#include "unit/App/documents/ContainerTestSupport.h"

#include <unistd.h>

#include "App/documents/KVDocumentLogger.h"
#include "App/documents/container/KVContainerImageData.h"
#include "Platform/Foundation/MainQueue.h"
#include "unit/App/documents/ImageFixtures.h"

using namespace kx;

using namespace containertest;
using namespace imagefixtures;

namespace {

class KVDocumentContainerImagesTest : public ContainerTest {
protected:
    void SetUp() override
    {
        ContainerTest::SetUp();
        container = makeContainer();
        container->cachedImagesDidFinish = [this](const std::string& name) {
            finished.push_back(name);
            onMainThread = onMainThread && kx::MainQueue::isMainThread();
        };
    }
    void TearDown() override
    {
        if (container)
            drop(container);
        ContainerTest::TearDown();
    }
    // Adds an image and waits for its copies, scaled on worker threads that a busy machine may
    // leave waiting for longer than the usual ten seconds.
    std::string add(const std::string& data)
    {
        auto name = container->addImage(data);
        EXPECT_TRUE(kxtest::spinUntil([&] { return container->pendingCachedImageJobs() == 0; }, std::chrono::seconds(60)));
        return name;
    }
    fs::path image(const std::string& name) { return container->projectDirectory() / "design/images" / name; }
    fs::path copy(int dimension, const std::string& name)
    {
        return container->projectDirectory() / ".cache/images" / std::to_string(dimension) / name;
    }

    std::shared_ptr<KVDocumentContainer> container;
    std::vector<std::string> finished;
    bool onMainThread = true;
};

TEST_F(KVDocumentContainerImagesTest, ImagesAreStoredOncePerContentUnderTheirDigest)
{
    const std::string data = png(40, 30);
    auto name = add(data);
    EXPECT_LE(name.size(), 27u + 4u);
    EXPECT_TRUE(name.ends_with(".png"));
    EXPECT_EQ(name.find_first_of("/+="), std::string::npos);
    EXPECT_EQ(add(data), name);
    EXPECT_EQ(readFile(image(name)), data);
    EXPECT_EQ(files(container->projectDirectory()).size(), 1u);
}

TEST_F(KVDocumentContainerImagesTest, EveryKindIsStoredAsItCameExceptAPDFPage)
{
    struct Kind {
        std::string data;
        std::string extension;
    };
    for (const auto& [label, kind] : std::map<std::string, Kind>{{"png", {png(20, 10), ".png"}},
                                                                 {"jpeg", {jpeg(20, 10), ".jpg"}},
                                                                 {"gif", {gif(20, 10), ""}},
                                                                 {"tiff", {tiff(20, 10), ""}},
                                                                 {"svg", {svg(20, 10), ""}},
                                                                 {"not an image", {"plain text, no picture", ""}}}) {
        auto name = add(kind.data);
        EXPECT_EQ(readFile(image(name)), kind.data) << label;
        EXPECT_LE(name.size(), 27u + kind.extension.size()) << label;
        EXPECT_EQ(name, KVContainerImageData::contentName(kind.data)) << label;
        EXPECT_TRUE(name.ends_with(kind.extension)) << label;
    }
    // SVG decodes with a pixel size of its own, so it is a bitmap as far as storing goes.
    EXPECT_EQ(pixelSize(svg(20, 10)), std::make_pair(20, 10));

    // A PDF page has none: it becomes a PNG rendering at one pixel per point.
    auto name = add(pdf(200, 100));
    EXPECT_TRUE(name.ends_with(".png"));
    auto stored = *readFile(image(name));
    EXPECT_EQ(stored.substr(0, 4), "\x89PNG");
    EXPECT_EQ(pixelSize(stored), std::make_pair(200, 100));
}

TEST_F(KVDocumentContainerImagesTest, LargeImagesGetDownscaledCopiesAndTheFullSizeStaysAsItWas)
{
    const std::string data = png(3000, 2000);
    auto name = add(data);
    EXPECT_EQ(finished, std::vector<std::string>{name});
    EXPECT_TRUE(onMainThread);
    const std::map<int, std::pair<int, int>> sizes = {{512, {512, 342}}, {1024, {1024, 683}}, {2048, {2048, 1366}}};
    for (const auto& [dimension, size] : sizes) {
        ASSERT_FALSE(fs::is_symlink(copy(dimension, name))) << dimension;
        auto bytes = *readFile(copy(dimension, name));
        EXPECT_EQ(bytes.substr(0, 4), "\x89PNG") << dimension;
        EXPECT_EQ(pixelSize(bytes), size) << dimension;
    }
    ASSERT_TRUE(fs::is_symlink(copy(4096, name)));
    EXPECT_EQ(fs::read_symlink(copy(4096, name)), image(name));
    // The copies replaced the links; nothing was written through them.
    EXPECT_EQ(readFile(image(name)), data);
}

TEST_F(KVDocumentContainerImagesTest, CopiesKeepTheKindOfTheirImage)
{
    auto jpegName = add(jpeg(1500, 1000));
    auto jpegCopy = *readFile(copy(512, jpegName));
    EXPECT_EQ(jpegCopy.substr(0, 3), "\xFF\xD8\xFF");
    for (const auto& data : {gif(1500, 1000), tiff(1500, 1000), svg(1500, 1000)}) {
        auto name = add(data);
        auto bytes = *readFile(copy(1024, name));
        EXPECT_EQ(bytes.substr(0, 4), "\x89PNG");
        EXPECT_EQ(pixelSize(bytes), std::make_pair(1024, 683));
        EXPECT_TRUE(fs::is_symlink(copy(2048, name)));
    }
}

TEST_F(KVDocumentContainerImagesTest, SmallImagesAndNonImagesKeepTheirLinks)
{
    for (const auto& data : {png(300, 200), std::string("no picture at all")}) {
        auto name = add(data);
        for (int dimension : KVDocumentContainer::cachedImageDimensions) {
            ASSERT_TRUE(fs::is_symlink(copy(dimension, name)));
            EXPECT_EQ(fs::read_symlink(copy(dimension, name)), image(name));
        }
    }
}

TEST_F(KVDocumentContainerImagesTest, ALinkLeftPointingElsewhereIsMadeToPointAtTheImage)
{
    // The folder moved, or the link is someone else's: a kept link must lead to this image.
    const std::string data = png(100, 80);
    const std::string name = KVContainerImageData::contentName(data);
    writeFile(temp / "old/place.png", "an old place");
    for (int dimension : KVDocumentContainer::cachedImageDimensions) {
        fs::create_directories(copy(dimension, name).parent_path());
        fs::create_symlink(temp / "old/place.png", copy(dimension, name));
    }
    add(data);
    for (int dimension : KVDocumentContainer::cachedImageDimensions)
        EXPECT_EQ(fs::read_symlink(copy(dimension, name)), image(name));
    EXPECT_EQ(readFile(temp / "old/place.png"), "an old place");
}

TEST_F(KVDocumentContainerImagesTest, ABackgroundJobMayHoldTheContainerLast)
{
    container->addImage(png(4000, 3000));
    std::weak_ptr<KVDocumentContainer> weak = container;
    container.reset();
    // The job ends on a worker; the container goes on the main thread (or the process stops).
    // The job is seconds of scaling, which a loaded machine stretches well past ten.
    EXPECT_TRUE(kxtest::spinUntil([&] { return weak.expired(); }, std::chrono::minutes(1)));
}

TEST_F(KVDocumentContainerImagesTest, ImagesOfAProjectReadGetTheirCopies)
{
    const fs::path project = temp / "project";
    writeProject(project);
    writeFile(project / "design/images/big.png", png(1200, 900));
    writeFile(project / "design/images/sub/nested.png", png(1200, 900));
    container->read(KVDocumentArchive(project, "com.korvel.projectfolder", false, std::nullopt, false),
                    KVDocumentContainer::ArchiveRelation::copy());
    ASSERT_TRUE(kxtest::spinUntil([&] { return container->pendingCachedImageJobs() == 0; }));
    EXPECT_EQ(pixelSize(*readFile(copy(512, "big.png"))), std::make_pair(512, 384));
    EXPECT_TRUE(fs::is_symlink(copy(2048, "big.png")));
    EXPECT_FALSE(fs::exists(copy(512, "nested.png")));
    EXPECT_FALSE(fs::exists(container->projectDirectory() / ".cache/images/512/sub"));
}

TEST_F(KVDocumentContainerImagesTest, PasteboardImagesKeepTheirNameAndNeverLeaveTheFolder)
{
    writeFile(temp / "pasted.png", png(20, 20));
    container->addImage("Abc123.png", temp / "pasted.png");
    EXPECT_EQ(readFile(image("Abc123.png")), readFile(temp / "pasted.png"));
    ASSERT_TRUE(kxtest::spinUntil([&] { return container->pendingCachedImageJobs() == 0; }));

    // An image of that name is that content already: it stays as it is.
    writeFile(temp / "other.png", png(30, 30));
    container->addImage("Abc123.png", temp / "other.png");
    EXPECT_EQ(readFile(image("Abc123.png")), readFile(temp / "pasted.png"));

    for (const std::string& name : std::vector<std::string>{"../escape.png", "..", ".", "a/b.png", "", ".hidden.png", std::string("nul\0.png", 8)})
        EXPECT_THROW(container->addImage(name, temp / "pasted.png"), kx::Error) << name;
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "design/escape.png"));
    EXPECT_THROW(container->addImage("missing.png", temp / "missing.png"), kx::Error);
    EXPECT_FALSE(fs::exists(image("missing.png")));
}

TEST_F(KVDocumentContainerImagesTest, AssetsAreNumberedWhileAnotherContentHoldsTheName)
{
    EXPECT_EQ(container->addAsset("one", "logo.svg"), "design/assets/logo.svg");
    EXPECT_EQ(container->addAsset("one", "logo.svg"), "design/assets/logo.svg");
    EXPECT_EQ(container->addAsset("two", "logo.svg"), "design/assets/logo (1).svg");
    EXPECT_EQ(container->addAsset("three", "logo.svg"), "design/assets/logo (2).svg");
    EXPECT_EQ(container->addAsset("two", "logo.svg"), "design/assets/logo (1).svg");
    EXPECT_EQ(readFile(container->projectDirectory() / "design/assets/logo (2).svg"), "three");
    EXPECT_EQ(container->addAsset("n", "notes"), "design/assets/notes.");
    EXPECT_EQ(container->addAsset("a", "archive.tar.gz"), "design/assets/archive.tar.gz");
    // A hidden name would vanish at the next save: it is given a visible one.
    EXPECT_EQ(container->addAsset("secret", ".env"), "design/assets/_.env");
    EXPECT_TRUE(KVDocumentArchive::shouldInclude("design/assets/_.env"));
}

TEST_F(KVDocumentContainerImagesTest, AssetNamesNeverBecomePathsOutsideTheFolder)
{
    for (const std::string& name : std::vector<std::string>{"../../escape.txt", "..", ".", "sub/file.txt", "", std::string("a\0b", 3), std::string("\xff\xfe")})
        EXPECT_THROW(container->addAsset("x", name), kx::Error) << name;
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "escape.txt"));
    EXPECT_FALSE(fs::exists(container->uuidDirectory() / "escape.txt"));
}

TEST_F(KVDocumentContainerImagesTest, NamesThatAProjectCannotStoreAreRefusedWhereTheyComeIn)
{
    // A backslash is a file name's byte on Linux, but no save can store it: every later save of
    // the project would fail.
    writeFile(temp / "pasted.png", png(20, 20));
    EXPECT_THROW(container->addAsset("x", "back\\slash.txt"), kx::Error);
    EXPECT_THROW(container->addImage("back\\slash.png", temp / "pasted.png"), kx::Error);
    EXPECT_FALSE(fs::exists(container->projectDirectory() / "design/assets/back\\slash.txt"));
    EXPECT_FALSE(fs::exists(image("back\\slash.png")));
    container->addAsset("y", "plain.txt");
    ASSERT_TRUE(kxtest::spinUntil([&] { return container->pendingCachedImageJobs() == 0; }));
    const fs::path saved = temp / "Saved.korvelx";
    KVDocumentArchive target(saved, "com.korvel.projectzip", true, container->uuid(), true);
    EXPECT_NO_THROW(container->save(target, KVDocumentContainer::ArchiveRelation::copy()));
    EXPECT_TRUE(target.manifest()->files->contains("design/assets/plain.txt"));
}

TEST_F(KVDocumentContainerImagesTest, AnAssetThatCannotBeReadIsNeverOverwritten)
{
    writeFile(temp / "elsewhere.txt", "someone else's");
    fs::create_directories(container->projectDirectory() / "design/assets");
    fs::create_symlink(temp / "elsewhere.txt", container->projectDirectory() / "design/assets/data.txt");
    EXPECT_THROW(container->addAsset("mine", "data.txt"), kx::Error);
    EXPECT_EQ(readFile(temp / "elsewhere.txt"), "someone else's");
    fs::create_directories(container->projectDirectory() / "design/assets/folder.txt");
    EXPECT_THROW(container->addAsset("mine", "folder.txt"), kx::Error);
}

TEST_F(KVDocumentContainerImagesTest, ALinkedImagesFolderIsNotWrittenThrough)
{
    fs::create_directories(temp / "outside");
    fs::create_directories(container->projectDirectory() / "design");
    fs::create_symlink(temp / "outside", container->projectDirectory() / "design/images");
    EXPECT_THROW(container->addImage(png(10, 10)), kx::Error);
    EXPECT_TRUE(fs::is_empty(temp / "outside"));
}

} // namespace
