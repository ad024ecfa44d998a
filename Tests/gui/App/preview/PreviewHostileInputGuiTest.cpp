// What the preview page and its catalogue may send is not trusted: messages of the wrong kind,
// package names that are install options or addresses, catalogues too deep, too large or with
// sizes that would divide by zero, all through the page's real bridge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "gui/App/preview/PreviewFixture.h"

namespace {

using kxtest::json;
using kxtest::previewTimeout;
using kxtest::spinUntil;

class PreviewHostileInputGui : public kxtest::PreviewFixture {
protected:
    void SetUp() override
    {
        PreviewFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        makeController();
        controller->showWithMakeKey(false);
        ASSERT_TRUE(spinUntil([&] { return pageIsShown(); }, previewTimeout));
        ASSERT_TRUE(spinUntil([&] { return controller->deviceManager().devices().size() == 3; }, previewTimeout));
    }

    // Posts one message as the page would; `arguments` is a script expression.
    void post(const std::string& method, const std::string& arguments)
    {
        const json result = evaluateInPage("window.webkit.messageHandlers._webkit.postMessage(JSON.stringify({method: " +
                                           json(method).dump() + ", arguments: " + arguments + "})); true");
        ASSERT_EQ(result, true) << method << " " << arguments;
    }
    // Messages arrive in order: once this one has, every one before it has too.
    void postMarkerAndWait()
    {
        const std::size_t before = document->packages.size();
        post("addPackage", "'marker-package'");
        ASSERT_TRUE(spinUntil([&] { return document->packages.size() == before + 1; }, previewTimeout));
        ASSERT_EQ(document->packages.back().first, "marker-package");
        document->packages.pop_back();
    }

    static std::string catalogue(const std::string& phone)
    {
        return R"({"devices": {"odd": )" + phone + R"(}, "deviceSkins": {}})";
    }
};

TEST_F(PreviewHostileInputGui, PackageNamesOtherThanNpmNamesNeverReachTheInstall)
{
    for (const char* argument : {"'--registry=http://evil.example'", "'-g'", "'file:../../etc'",
                                 "'git+ssh://git@evil.example/x.git'", "'https://evil.example/x.tgz'",
                                 "'../escape'", "'left-pad@1.0.0'", "'a b'", "''", "42", "['left-pad']",
                                 "{name: 'left-pad'}", "null", "'x'.repeat(300)"})
        post("addPackage", argument);
    post("addPackage", "'@scope/left-pad'");
    ASSERT_TRUE(spinUntil([&] { return !document->packages.empty(); }, previewTimeout));
    postMarkerAndWait();
    ASSERT_EQ(document->packages.size(), 1u);
    EXPECT_EQ(document->packages[0], (std::pair<std::string, bool>{"@scope/left-pad", true}));
}

TEST_F(PreviewHostileInputGui, MessagesOfTheWrongKindChangeNothing)
{
    const double scale = controller->previewContentScale();
    post("fixmeHackyNotePreviewContentScale", "'2'");
    post("fixmeHackyNotePreviewContentScale", "[2]");
    post("runtime.error", "'not a list'");
    post("devices", "{devices: {}, deviceSkins: {}}"); // an object, not the text of one
    post("KorvelPreviewReady", "{deep: [[[[[[1]]]]]]}");
    post("DOMContentLoaded", "12");
    post("no such method", "null");
    postMarkerAndWait();
    EXPECT_EQ(controller->previewContentScale(), scale);
    EXPECT_EQ(controller->deviceManager().devices().size(), 3u);
    EXPECT_TRUE(pageIsShown());

    // Numbers at the ends of the range only change the title's text.
    for (const char* value : {"-1", "0", "1e308", "5e-324"}) {
        post("fixmeHackyNotePreviewContentScale", value);
        postMarkerAndWait();
        EXPECT_EQ(controller->previewContentScale(), std::strtod(value, nullptr));
        controller->updateTitle();
    }
    EXPECT_EQ(std::string(gtk_label_get_text(controller->window()->titleLabel())), "0%");
}

TEST_F(PreviewHostileInputGui, CataloguesTooDeepOrMalformedKeepThePreviousOne)
{
    post("devices", "'['.repeat(100000) + ']'.repeat(100000)");
    post("devices", "JSON.stringify({devices: {a: {title: 'A', screen: {width: 1e30, height: 2}}}, deviceSkins: {}})");
    post("devices", "JSON.stringify({devices: {a: {title: 'A', screen: {width: 2.5, height: 2}}}, deviceSkins: {}})");
    post("devices", "JSON.stringify({devices: {a: {title: 'A', screen: {width: 2, height: 2}, canRotate: 1}}, deviceSkins: {}})");
    post("devices", "'{\"devices\": {\"a\": {\"title\": \"A\", \"screen\": {\"width\": 2, \"height\": 2}, \"pixelRatio\": 1e400}}, \"deviceSkins\": {}}'");
    post("devices", "'{\"devices\": {}, \"deviceSkins\": {}'");
    postMarkerAndWait();
    EXPECT_EQ(controller->deviceManager().devices().size(), 3u);
    EXPECT_TRUE(controller->deviceManager().descriptorForDevice("korvel-phone"));

    // A large catalogue is read whole, in the page's order.
    post("devices", "JSON.stringify({devices: Object.fromEntries(Array.from({length: 20000}, (_, i) => "
                    "['d' + i, {title: 'D' + i, category: 'C' + (i % 7), screen: {width: i, height: i}}])), deviceSkins: {}})");
    ASSERT_TRUE(spinUntil([&] { return controller->deviceManager().devices().size() == 20000; }, previewTimeout));
    EXPECT_EQ(controller->deviceManager().categories().size(), 8u);
    EXPECT_EQ(controller->deviceManager().defaultDeviceForCategory("C3"), "d3");
}

TEST_F(PreviewHostileInputGui, DeviceSizesThatWouldDivideByZeroGiveAWindowOnTheScreen)
{
    const std::optional<kx::Rect> area = controller->window()->workArea();
    ASSERT_TRUE(area);
    const auto inside = [&](const kx::Rect& frame) {
        return std::isfinite(frame.size.width) && std::isfinite(frame.size.height) && frame.size.width >= 1 &&
            frame.size.height >= 1 && frame.origin.x >= area->origin.x && frame.origin.y >= area->origin.y &&
            frame.origin.x + frame.size.width <= area->origin.x + area->size.width &&
            frame.origin.y + frame.size.height <= area->origin.y + area->size.height;
    };
    int step = 0;
    for (const char* device : {
             R"({"title": "Zero ratio", "screen": {"width": 1170, "height": 2532}, "pixelRatio": 0})",
             R"({"title": "Negative ratio", "screen": {"width": 1170, "height": 2532}, "pixelRatio": -3})",
             R"({"title": "Tiny ratio", "screen": {"width": 9223372036854775807, "height": 2532}, "pixelRatio": 5e-324})",
             R"({"title": "No height", "screen": {"width": 1170, "height": 0}, "pixelRatio": 3})",
             R"({"title": "Negative", "screen": {"width": -1170, "height": -2532}})",
             R"({"title": "Huge", "screen": {"width": 9223372036854775807, "height": 9223372036854775807}})"}) {
        SCOPED_TRACE(device);
        ++step;
        controller->deviceManager().parse(json(catalogue(device)));
        ASSERT_TRUE(controller->deviceManager().descriptorForDevice("odd"));
        // A selection of this device, as the editor would send it, with a new id each time.
        controller->nimbetPreviewUpdate(
            json{{"metadata", {{"id", "s" + std::to_string(step)}, {"selectionLock", false},
                               {"settings", {{"deviceType", "odd"}, {"bezel", false}, {"rotate", step % 2 == 0},
                                             {"touch", false}, {"responsive", false}}}}}}
                .dump());
        const kx::Size intrinsic = controller->intrinsicContentSize();
        EXPECT_TRUE(std::isfinite(intrinsic.width) && std::isfinite(intrinsic.height));
        EXPECT_GE(intrinsic.width, 0);
        EXPECT_GE(intrinsic.height, 0);
        // The first showing places the window by the device; each later resize snaps by it.
        EXPECT_TRUE(inside(*controller->updatedWindowFrameForFirstAppearance(controller->window()->frame())));
        controller->windowWillStartLiveResize();
        const kx::Size snapped = controller->windowWillResize({400, 700});
        EXPECT_TRUE(std::isfinite(snapped.width) && std::isfinite(snapped.height));
        controller->windowDidEndLiveResize();
    }
    controller->showWithMakeKey(true);
    ASSERT_TRUE(spinUntil([&] { return inside(controller->window()->frame()); }, previewTimeout));
}

} // namespace
