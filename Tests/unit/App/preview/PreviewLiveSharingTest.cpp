// The live-sharing state of a preview window: the server's statuses as popover states, the
// start that never becomes active, a server that goes away or is replaced; and the QR code.
#include <gtest/gtest.h>

#include <vector>

#include "App/preview/MirrorPopoverState.h"
#include "App/preview/PreviewLiveSharing.h"
#include "App/preview/QRCodeImage.h"
#include "support/Spin.h"

namespace {

using namespace kx;
using Kind = MirrorPopoverState::Kind;

class PreviewLiveSharingTest : public ::testing::Test {
protected:
    void status(const std::string& s, std::optional<std::string> url = std::nullopt, const void* from = nullptr)
    {
        sharing.update(from ? from : server, LiveSharingState{s, std::move(url)});
    }
    Kind last() const { return shown.back().kind; }

    int serverA = 0, serverB = 0;
    const void* server = &serverA;
    std::vector<MirrorPopoverState> shown;
    PreviewLiveSharing sharing{[this](const MirrorPopoverState& state) { shown.push_back(state); }};
};

TEST_F(PreviewLiveSharingTest, EachDistinctStatusReachesThePopoverOnce)
{
    status("unavailable");
    status("unavailable");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(last(), Kind::unavailable);
    status("available");
    status("starting");
    status("active", "http://192.168.1.20:4000/abc/");
    EXPECT_EQ(shown.back(), MirrorPopoverState::active("http://192.168.1.20:4000/abc/"));
    EXPECT_EQ(sharing.liveSharingURL(), "http://192.168.1.20:4000/abc/");
    // A new address while the status stays: not taken.
    status("active", "http://192.168.1.20:4000/other/");
    EXPECT_EQ(shown.size(), 4u);
    // After "available" the old address stays; the next "active" takes the new one.
    status("available");
    EXPECT_EQ(sharing.liveSharingURL(), "http://192.168.1.20:4000/abc/");
    status("active", "http://192.168.1.20:4000/other/");
    EXPECT_EQ(shown.back().url, "http://192.168.1.20:4000/other/");
    status("stopping");
    EXPECT_EQ(last(), Kind::stopping);
}

TEST_F(PreviewLiveSharingTest, FailuresShowTheErrorView)
{
    // Unknown statuses and "active" without a usable address.
    for (const auto& [s, url] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {"failed", std::nullopt},
             {"active", std::nullopt},
             {"available", std::nullopt},
             {"active", "http://host/with space"},
             {"available", std::nullopt},
             {"active", "file:///etc/passwd"},
             {"available", std::nullopt},
             {"active", "javascript:alert(1)"},
             {"available", std::nullopt},
             {"active", "http:///no-host"},
             {"available", std::nullopt},
             {"active", std::string("http://a/\x01")},
             {"available", std::nullopt},
             {"", std::nullopt}}) {
        status(s, url);
        if (s != "available") {
            EXPECT_EQ(last(), Kind::error) << s << " " << url.value_or("-");
            EXPECT_EQ(shown.back().error.localizedDescription, "Couldn't start Live Preview.");
            EXPECT_EQ(shown.back().error.code, -1);
            EXPECT_FALSE(shown.back().canRetry);
        }
    }
    // "active" without an address and then with one stays on the error view.
    status("available");
    status("active");
    status("active", "http://192.168.1.20:4000/abc/");
    EXPECT_EQ(last(), Kind::error);
}

TEST_F(PreviewLiveSharingTest, AStartWithoutAnswerEndsOnTheErrorViewWithRetry)
{
    sharing.setStartTimeout(std::chrono::milliseconds(50));
    status("available");
    sharing.didRequestStart();
    EXPECT_EQ(last(), Kind::starting);
    status("starting"); // the server's echo keeps the first deadline
    ASSERT_TRUE(kxtest::spinUntil([&] { return last() == Kind::error; }));
    EXPECT_TRUE(shown.back().canRetry);
    EXPECT_FALSE(sharing.isWaitingForStart());
    // A late "active" still shows.
    status("active", "http://10.0.0.2:5000/x/");
    EXPECT_EQ(last(), Kind::active);

    // An answer in time stops the clock.
    status("available");
    sharing.didRequestStart();
    status("active", "http://10.0.0.2:5000/y/");
    EXPECT_FALSE(sharing.isWaitingForStart());
    const auto count = shown.size();
    kxtest::spinFor(std::chrono::milliseconds(120));
    EXPECT_EQ(shown.size(), count);
}

TEST_F(PreviewLiveSharingTest, AServerThatGoesAwayOrIsReplaced)
{
    status("available");
    status("active", "http://10.0.0.2:5000/x/");
    // No state: the server went away while sharing ran.
    sharing.update(server, std::nullopt);
    EXPECT_EQ(last(), Kind::error);
    EXPECT_TRUE(shown.back().canRetry);
    sharing.update(server, std::nullopt); // said once
    EXPECT_EQ(shown.size(), 3u);
    // A new server that reports what the old one said last applies in full.
    status("available", std::nullopt, &serverB);
    EXPECT_EQ(last(), Kind::available);
    status("available", std::nullopt, &serverA);
    EXPECT_EQ(shown.size(), 5u);
    // A server gone while nothing ran: sharing is just not offered.
    sharing.update(&serverA, std::nullopt);
    EXPECT_EQ(last(), Kind::unavailable);
    // Without a server nothing changes; forgetting makes the same status apply again.
    sharing.update(nullptr, LiveSharingState{"active", "http://x/"});
    EXPECT_EQ(last(), Kind::unavailable);
    status("available");
    sharing.forgetStatus();
    status("available");
    EXPECT_EQ(shown.size(), 8u);
}

TEST(MirrorPopoverState, MessagesAndButtons)
{
    const auto active = MirrorPopoverState::active("http://x/");
    EXPECT_EQ(active.message(), "Scan the QR code with your camera to view on mobile, or open in browser.");
    EXPECT_EQ(active.mainButtonTitle(), "Stop");
    EXPECT_EQ(MirrorPopoverState::of(Kind::starting).mainButtonTitle(), "Starting\u2026");
    EXPECT_EQ(MirrorPopoverState::of(Kind::stopping).mainButtonTitle(), "Stopping\u2026");
    EXPECT_FALSE(MirrorPopoverState::of(Kind::starting).mainButtonEnabled());
    EXPECT_EQ(MirrorPopoverState::of(Kind::unavailable).mainButtonTitle(), "Start");
    EXPECT_EQ(MirrorPopoverState::of(Kind::unavailable).message(), MirrorPopoverState::genericMessage);
    const auto failed = MirrorPopoverState::failed(MirrorPopoverState::startFailedError());
    EXPECT_EQ(failed.message(), "Couldn't start Live Preview.");
    EXPECT_EQ(failed.mainButtonTitle(), "Contact Support");
}

TEST(QRCodeImage, FitsWholePixelsAndAQuietMargin)
{
    const std::string url = "http://192.168.100.200:65535/0123456789abcdef01234567/";
    auto code = QRCodeImage::make(url);
    ASSERT_TRUE(code);
    // 54 bytes at level Q need version 5: 37 modules a side.
    EXPECT_EQ(code->width(), 37);
    EXPECT_EQ(code->modulePixels(136), 3); // 136 / (37 + 4)
    EXPECT_EQ(code->modulePixels(272), 6);
    // The finder pattern's corner.
    EXPECT_TRUE(code->isDark(0, 0));
    EXPECT_TRUE(code->isDark(6, 6));
    EXPECT_FALSE(code->isDark(7, 7));

    // Drawn: white tile, modules at 0.8 black on whole pixels, the margin left white.
    auto surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 136, 136);
    cairo_t* cr = cairo_create(surface);
    EXPECT_TRUE(code->draw(cr, 1));
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const auto pixel = [&](int x, int y) { return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4); };
    const int origin = (136 - 3 * 37) / 2; // 12: more than two modules of margin
    EXPECT_GE(origin, 2 * 3);
    EXPECT_EQ(pixel(origin - 1, origin), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(origin, origin), 0xFF333333u); // black at 0.8 over white
    EXPECT_EQ(pixel(origin + 3 * 7, origin + 3 * 7), 0xFFFFFFFFu);
    cairo_surface_destroy(surface);
}

TEST(QRCodeImage, TextsThatDoNotFit)
{
    EXPECT_FALSE(QRCodeImage::make(""));
    // Too long for any QR code at level Q.
    EXPECT_FALSE(QRCodeImage::make("http://x/" + std::string(4000, 'a')));
    // A code too fine for the tile is not drawn at all.
    auto fine = QRCodeImage::make("http://x/" + std::string(1500, 'a'));
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->modulePixels(136), 0);
    auto surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 136, 136);
    cairo_t* cr = cairo_create(surface);
    EXPECT_FALSE(fine->draw(cr, 1));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    // Bytes that are not text go in as they are.
    EXPECT_TRUE(QRCodeImage::make(std::string("\0\xff\x80", 3)));
}

} // namespace
