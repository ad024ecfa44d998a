#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/UI/Workspace.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

TEST(Workspace, RevealFallsBackToOpeningTheFolderWithoutAFileManagerService)
{
    // No session bus at all: the file manager cannot be asked.
    kxtest::ScopedSetting bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kx-test-bus");
    kxtest::TemporaryDirectory dir;
    std::vector<std::string> opened;
    kx::Workspace workspace;
    workspace.setURLOpenerForTesting([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    workspace.revealFile(dir / "design file.korvelx");
    ASSERT_TRUE(kxtest::spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened.front(), "file://" + dir.path().string());
    EXPECT_TRUE(workspace.openURL("https://example.com/"));
    EXPECT_EQ(opened.back(), "https://example.com/");
}
