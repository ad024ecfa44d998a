// The preview window's key equivalents, which its settings menu answers: the enabled item whose
// key and modifiers match performs its action, wherever in the menu it is; anything else is
// left alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "App/preview/PreviewSettingsMenu.h"
#include "Platform/UI/ResponderChain.h"

namespace {

using namespace kx;

class CountingResponder : public Responder {
public:
    explicit CountingResponder(std::vector<std::string> actions)
    {
        for (auto& action : actions)
            addAction(action, [this, action](Sender) { performed.push_back(action); });
    }
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem&) override { return enables; }
    bool enables = true;
    std::vector<std::string> performed;
};

class PreviewSettingsMenuTest : public ::testing::Test {
protected:
    void SetUp() override { ResponderChain::shared().setApplicationResponder(&window); }
    void TearDown() override { ResponderChain::shared().setApplicationResponder(nullptr); }

    static KeyEvent key(std::string character, ModifierFlags modifiers = ModifierFlags::command)
    {
        return {std::move(character), modifiers};
    }

    CountingResponder window{{PreviewSettingsRules::reloadPreviewAction, "chooseDevice:"}};
    PreviewSettingsMenu menu;
};

TEST_F(PreviewSettingsMenuTest, TheMatchingEnabledItemPerformsItsAction)
{
    EXPECT_TRUE(menu.performKeyEquivalent(key("r")));
    EXPECT_EQ(window.performed, std::vector<std::string>{PreviewSettingsRules::reloadPreviewAction});

    // Another key, other modifiers or none: not the item's.
    EXPECT_FALSE(menu.performKeyEquivalent(key("x")));
    EXPECT_FALSE(menu.performKeyEquivalent(key("r", ModifierFlags::command | ModifierFlags::shift)));
    EXPECT_FALSE(menu.performKeyEquivalent(key("r", ModifierFlags::none)));
    // Disabled: the key is not taken and nothing runs.
    window.enables = false;
    EXPECT_FALSE(menu.performKeyEquivalent(key("r")));
    EXPECT_EQ(window.performed.size(), 1u);
}

TEST_F(PreviewSettingsMenuTest, ItemsOfTheDeviceMenuAnswerTooUnlessHidden)
{
    auto item = NativeMenuItem::make("Phone", "chooseDevice:", "1");
    menu.deviceCategoriesMenu()->addItem(item);
    EXPECT_TRUE(menu.performKeyEquivalent(key("1")));
    EXPECT_EQ(window.performed, std::vector<std::string>{"chooseDevice:"});
    item->setHidden(true);
    EXPECT_FALSE(menu.performKeyEquivalent(key("1")));
    EXPECT_EQ(window.performed.size(), 1u);
}

} // namespace
