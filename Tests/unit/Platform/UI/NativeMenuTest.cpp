#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/ResponderChain.h"

using kx::NativeMenu;
using kx::NativeMenuItem;
using kx::Responder;
using kx::ResponderChain;

namespace {

// A responder with the actions it is given; validation answers `enables`.
class TestResponder : public Responder {
public:
    explicit TestResponder(std::vector<std::string> actions, bool enables = true)
        : enables(enables)
    {
        for (auto& action : actions)
            addAction(action, [this, action](Sender sender) { performed.push_back({action, sender}); });
    }
    bool validateUserInterfaceItem(kx::ValidatedUserInterfaceItem& item) override
    {
        validated.push_back(item.action());
        return enables;
    }
    bool enables;
    std::vector<std::pair<std::string, Sender>> performed;
    std::vector<std::string> validated;
};

// Without a display there is no key window: the chain is the application's part alone.
class NativeMenuTest : public ::testing::Test {
protected:
    void SetUp() override { ResponderChain::shared().setApplicationResponder(&application); }
    void TearDown() override { ResponderChain::shared().setApplicationResponder(nullptr); }

    TestResponder application{{"newDocument:"}};
};

} // namespace

TEST_F(NativeMenuTest, ActionsGoToTheFirstResponderThatAnswersThem)
{
    TestResponder controller{{"copy:"}};
    TestResponder document{{"copy:", "save:"}};
    application.setNextResponder(&controller);
    controller.setNextResponder(&document);
    document.setNextResponder(&application); // a loop ends where it closes

    auto& chain = ResponderChain::shared();
    EXPECT_EQ(chain.responders(), (std::vector<Responder*>{&application, &controller, &document}));
    EXPECT_EQ(chain.targetForAction("copy:"), &controller);
    EXPECT_EQ(chain.targetForAction("save:"), &document);
    EXPECT_EQ(chain.targetForAction("paste:"), nullptr);
    EXPECT_EQ(chain.targetForAction(""), nullptr);

    auto item = NativeMenuItem::make("Save", "save:");
    EXPECT_TRUE(chain.sendAction("save:", nullptr, item.get()));
    ASSERT_EQ(document.performed.size(), 1u);
    EXPECT_EQ(document.performed[0].second, item.get());
    EXPECT_FALSE(chain.sendAction("paste:", nullptr, nullptr));
    // An explicit target that does not answer the action takes nothing.
    EXPECT_FALSE(chain.sendAction("save:", &controller, nullptr));

    {
        TestResponder gone{{"copy:"}};
        application.setNextResponder(&gone);
    }
    EXPECT_EQ(chain.responders(), (std::vector<Responder*>{&application}));
}

TEST_F(NativeMenuTest, ValidationAsksTheTargetAndDisablesWhatNoOneAnswers)
{
    TestResponder refusing{{"delete:"}, false};
    application.setNextResponder(&refusing);
    auto menu = NativeMenu::make("Edit");
    auto noAction = NativeMenuItem::make("Nothing");
    auto unanswered = NativeMenuItem::make("Paste", "paste:");
    auto refused = NativeMenuItem::make("Delete", "delete:");
    auto answered = NativeMenuItem::make("New", "newDocument:");
    auto explicitTarget = NativeMenuItem::make("Delete here", "delete:");
    TestResponder target{{"delete:"}};
    explicitTarget->setTarget(&target);
    auto submenuHolder = NativeMenuItem::make("More");
    submenuHolder->setSubmenu(NativeMenu::make("More"));
    for (auto& item : {noAction, unanswered, refused, answered, explicitTarget, submenuHolder})
        menu->addItem(item);
    menu->addItem(NativeMenuItem::separatorItem());

    menu->update();
    EXPECT_FALSE(noAction->isEnabled());
    EXPECT_FALSE(unanswered->isEnabled());
    EXPECT_FALSE(refused->isEnabled());
    EXPECT_TRUE(answered->isEnabled());
    EXPECT_TRUE(explicitTarget->isEnabled());
    EXPECT_TRUE(submenuHolder->isEnabled());
    EXPECT_EQ(target.validated, std::vector<std::string>{"delete:"});

    // Without automatic enabling the flags stay as they were given.
    menu->setAutoenablesItems(false);
    unanswered->setEnabled(true);
    menu->update();
    EXPECT_TRUE(unanswered->isEnabled());

    // A key equivalent fires only for an enabled, visible item.
    menu->setAutoenablesItems(true);
    EXPECT_TRUE(menu->validateItem(*answered));
    answered->setHidden(true);
    EXPECT_FALSE(menu->validateItem(*answered));
    EXPECT_FALSE(menu->validateItem(*refused));

    // A target that is gone leaves the item to the chain.
    {
        TestResponder shortLived{{"newDocument:"}};
        answered->setTarget(&shortLived);
    }
    EXPECT_EQ(answered->target(), nullptr);
    EXPECT_TRUE(menu->performActionForItem(*answered));
    EXPECT_EQ(application.performed.size(), 1u);
}
