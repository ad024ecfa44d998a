#include <gtest/gtest.h>

#include "App/shell/ModalAlert.h"

using kx::Alert;
using kx::ModalAlert;

TEST(ModalAlert, MakesTheAlertWithItsButtonsInOrderWithoutShowingIt)
{
    auto three = ModalAlert::alertWithMessageText("Reopen documents?", "Reopen", "Later", "Cancel", "The change applies then.");
    EXPECT_EQ(three->messageText(), "Reopen documents?");
    EXPECT_EQ(three->informativeText(), "The change applies then.");
    auto buttons = three->buttons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->title(), "Reopen");
    EXPECT_EQ(buttons[0]->keyEquivalent(), "\r");
    EXPECT_EQ(buttons[1]->title(), "Later");
    EXPECT_EQ(buttons[2]->title(), "Cancel");
    EXPECT_EQ(buttons[2]->response(), Alert::thirdButtonReturn);
    EXPECT_EQ(three->window(), nullptr);

    auto one = ModalAlert::alertWithMessageText("Done", "OK", std::nullopt, std::nullopt, "");
    ASSERT_EQ(one->buttons().size(), 1u);
    EXPECT_EQ(one->buttons()[0]->title(), "OK");

    // An other button without an alternate still comes second.
    auto skipped = ModalAlert::alertWithMessageText("Sure?", "Yes", std::nullopt, "No", "");
    ASSERT_EQ(skipped->buttons().size(), 2u);
    EXPECT_EQ(skipped->buttons()[1]->title(), "No");
    EXPECT_EQ(skipped->buttons()[1]->response(), Alert::secondButtonReturn);
}
