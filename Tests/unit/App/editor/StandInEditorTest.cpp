// The stand-in editor's globals are what the shell reads of a real editor: its document
// version and its menus.
#include <gtest/gtest.h>

#include "App/shell/AppInfo.h"
#include "support/TestPaths.h"

TEST(StandInEditor, ItsGlobalsGiveTheDocumentVersionAndTheEditMenu)
{
    const kx::AppInfo info(kx::Bundle::main(), "Korvel X", std::nullopt,
                           kxtest::testSourceDir().parent_path() / "Resources" / "Nimbet");
    const auto& globals = info.nimbetGlobals();
    ASSERT_TRUE(globals.has_value());
    EXPECT_EQ(globals->documentVersion, 1);
    ASSERT_EQ(globals->appMenu.size(), 2u);
    EXPECT_EQ(globals->appMenu[0].label, "Edit");
    ASSERT_TRUE(globals->appMenu[0].submenu);
    std::vector<std::string> roles;
    for (const auto& item : *globals->appMenu[0].submenu)
        roles.push_back(item.role.value_or("-"));
    EXPECT_EQ(roles, (std::vector<std::string>{"undo", "redo", "-", "cut", "copy", "paste", "delete", "selectAll"}));
}
