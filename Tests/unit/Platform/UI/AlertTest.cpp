// What an alert is before it is shown: its buttons, their answers and their keys.
#include <gtest/gtest.h>

#include "Platform/UI/Alert.h"

using kx::Alert;
using kx::ModifierFlags;

TEST(Alert, ButtonsAnswerByPositionAndTakeTheirUsualKeys)
{
    auto alert = Alert::make();
    auto& save = alert->addButton("Save");
    auto& cancel = alert->addButton("Cancel");
    auto& dontSave = alert->addButton("Don\u2019t Save");
    auto& fourth = alert->addButton("Later");
    EXPECT_EQ(save.response(), Alert::firstButtonReturn);
    EXPECT_EQ(cancel.response(), Alert::secondButtonReturn);
    EXPECT_EQ(dontSave.response(), Alert::thirdButtonReturn);
    EXPECT_EQ(fourth.response(), Alert::thirdButtonReturn + 1);
    EXPECT_EQ(save.keyEquivalent(), "\r");
    EXPECT_EQ(cancel.keyEquivalent(), "\x1b");
    EXPECT_EQ(dontSave.keyEquivalent(), "d");
    EXPECT_EQ(dontSave.keyEquivalentModifierMask(), ModifierFlags::command);
    EXPECT_EQ(fourth.keyEquivalent(), "");
    EXPECT_EQ(save.widget(), nullptr);

    // A key belongs to one button at a time.
    fourth.setKeyEquivalent("\x1b");
    EXPECT_EQ(cancel.keyEquivalent(), "");
    fourth.setKeyEquivalent("\r");
    EXPECT_EQ(save.keyEquivalent(), "");
    EXPECT_EQ(fourth.keyEquivalent(), "\r");
    // The same character with other modifiers is another key.
    cancel.setKeyEquivalent("d");
    EXPECT_EQ(dontSave.keyEquivalent(), "d");

    // A first button titled "Cancel" is the default; Escape then stays free.
    auto lone = Alert::make();
    EXPECT_EQ(lone->addButton("Cancel").keyEquivalent(), "\r");
    EXPECT_EQ(lone->buttons().size(), 1u);
}

TEST(Alert, AnErrorBecomesItsAlert)
{
    kx::Error error("KVDocumentErrorDomain", 13, "The document was made by a newer version.", "Its format is 7.",
                    "Check for updates.");
    auto alert = Alert::alertWithError(error);
    EXPECT_EQ(alert->messageText(), "The document was made by a newer version.");
    EXPECT_EQ(alert->informativeText(), "Check for updates.");
    ASSERT_EQ(alert->buttons().size(), 1u);
    EXPECT_EQ(alert->buttons()[0]->title(), "OK");
    EXPECT_EQ(alert->alertStyle(), Alert::Style::warning);
    EXPECT_FALSE(alert->showsSuppressionButton());
    EXPECT_EQ(alert->suppressionButtonTitle(), "Do not show this message again");
}
