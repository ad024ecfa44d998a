// Alerts on a real display, answered as a user would: their buttons clicked through GTK, keys
// pressed in their window, their window closed, the window of a sheet destroyed under it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <vector>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Alert.h"
#include "support/ModalAnswerer.h"
#include "support/Spin.h"
#include "support/SyntheticInput.h"
#include "support/UserInput.h"

using kx::Alert;

namespace {

GtkWidget* shownWindow(GtkWidget* child = nullptr)
{
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
    if (child)
        gtk_container_add(GTK_CONTAINER(window), child);
    gtk_widget_show_all(window);
    EXPECT_TRUE(kxtest::spinUntil([&] { return gtk_widget_get_mapped(window); }));
    return window;
}

struct Answers {
    std::vector<Alert::ModalResponse> responses;
    std::function<void(Alert::ModalResponse)> handler()
    {
        return [this](Alert::ModalResponse response) { responses.push_back(response); };
    }
};

// Shows `alert` as a sheet on `window` and waits until it is on screen.
void showSheet(const std::shared_ptr<Alert>& alert, GtkWidget* window, Answers& answers)
{
    alert->beginSheetModal(GTK_WINDOW(window), answers.handler());
    ASSERT_TRUE(kxtest::spinUntil([&] { return alert->window() && gtk_widget_get_mapped(GTK_WIDGET(alert->window())); }));
    ASSERT_EQ(Alert::shownAlerts().back(), alert);
}

// A key pressed and released in the alert's window, which may be gone before the release.
void pressKey(const std::shared_ptr<Alert>& alert, guint keyval, GdkModifierType modifiers = GdkModifierType(0))
{
    auto window = kx::GObjectRef<GtkWidget>::retain(GTK_WIDGET(alert->window()));
    kxtest::pressKey(window.get(), keyval, modifiers);
}

std::shared_ptr<Alert> saveAlert()
{
    auto alert = Alert::make();
    alert->setMessageText("Do you want to save the changes?");
    alert->addButton("Save");
    alert->addButton("Cancel");
    alert->addButton("Don't Save");
    return alert;
}

} // namespace

TEST(AlertGui, ASheetAnswersTheClickedButtonOnceAndKeepsItsCheckBoxAndAccessoryReadable)
{
    GtkWidget* window = shownWindow();
    GtkWidget* radios = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    GtkWidget* production = gtk_radio_button_new_with_label(nullptr, "Production");
    GtkWidget* staging = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(production), "Staging");
    gtk_container_add(GTK_CONTAINER(radios), production);
    gtk_container_add(GTK_CONTAINER(radios), staging);

    auto alert = saveAlert();
    alert->setShowsSuppressionButton(true);
    alert->setAccessoryView(radios);
    Answers answers;
    showSheet(alert, window, answers);
    EXPECT_TRUE(gtk_window_get_modal(alert->window()));
    EXPECT_EQ(gtk_window_get_transient_for(alert->window()), GTK_WINDOW(window));
    EXPECT_TRUE(gtk_widget_get_mapped(staging)) << "an accessory nobody showed is shown whole";

    // The user picks a radio button and ticks the check box, then answers.
    gtk_button_clicked(GTK_BUTTON(staging));
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(radios)));
    GtkWidget* check = GTK_WIDGET(g_list_last(children)->data);
    g_list_free(children);
    ASSERT_TRUE(GTK_IS_CHECK_BUTTON(check));
    gtk_button_clicked(GTK_BUTTON(check));
    gtk_button_clicked(GTK_BUTTON(alert->buttons()[2]->widget()));

    ASSERT_EQ(answers.responses, std::vector<Alert::ModalResponse>{Alert::thirdButtonReturn});
    EXPECT_EQ(alert->window(), nullptr);
    EXPECT_TRUE(Alert::shownAlerts().empty());
    EXPECT_TRUE(alert->suppressionButtonState());
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(staging)));
    EXPECT_EQ(gtk_widget_get_parent(radios), nullptr);

    // Shown again, it starts from what the user left.
    showSheet(alert, window, answers);
    gtk_button_clicked(GTK_BUTTON(alert->buttons()[0]->widget()));
    EXPECT_EQ(answers.responses.back(), Alert::firstButtonReturn);
    kxtest::spinFor(std::chrono::milliseconds(30));
    EXPECT_EQ(answers.responses.size(), 2u);
    EXPECT_TRUE(alert->suppressionButtonState());
    gtk_widget_destroy(window);
}

TEST(AlertGui, KeysAnswerTheirButtonsAndEscapeOrClosingNeverLeaveItWaiting)
{
    GtkWidget* window = shownWindow();
    struct Case {
        const char* name;
        guint keyval;
        GdkModifierType modifiers;
        Alert::ModalResponse expected;
    };
    const auto none = GdkModifierType(0);
    for (const Case& c : {Case{"Return", GDK_KEY_Return, none, Alert::firstButtonReturn},
                          Case{"keypad Enter", GDK_KEY_KP_Enter, none, Alert::firstButtonReturn},
                          Case{"Escape", GDK_KEY_Escape, none, Alert::secondButtonReturn},
                          Case{"Ctrl+D", GDK_KEY_d, GDK_CONTROL_MASK, Alert::thirdButtonReturn}}) {
        auto alert = saveAlert();
        Answers answers;
        showSheet(alert, window, answers);
        pressKey(alert, c.keyval, c.modifiers);
        EXPECT_EQ(answers.responses, std::vector<Alert::ModalResponse>{c.expected}) << c.name;
        EXPECT_EQ(alert->window(), nullptr) << c.name;
    }

    // A plain "d" is no Ctrl+D; a button the user moved to answers Return itself.
    auto alert = saveAlert();
    Answers answers;
    showSheet(alert, window, answers);
    pressKey(alert, GDK_KEY_d);
    kxtest::spinFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(answers.responses.empty());
    gtk_widget_grab_focus(alert->buttons()[2]->widget());
    pressKey(alert, GDK_KEY_Return);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !answers.responses.empty(); }));
    EXPECT_EQ(answers.responses, std::vector<Alert::ModalResponse>{Alert::thirdButtonReturn});

    // Without an Escape button, Escape and the window's close answer the abort.
    for (bool byClosing : {false, true}) {
        auto single = Alert::make();
        single->setMessageText("Version control is missing.");
        Answers closed;
        showSheet(single, window, closed);
        ASSERT_EQ(single->buttons().size(), 1u) << "an alert without buttons gets OK";
        if (byClosing)
            gtk_window_close(single->window());
        else
            pressKey(single, GDK_KEY_Escape);
        ASSERT_TRUE(kxtest::spinUntil([&] { return !closed.responses.empty(); }));
        EXPECT_EQ(closed.responses, std::vector<Alert::ModalResponse>{Alert::abortResponse});
    }

    // Closing with a Cancel button is Cancel.
    auto cancellable = saveAlert();
    Answers cancelled;
    showSheet(cancellable, window, cancelled);
    gtk_window_close(cancellable->window());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !cancelled.responses.empty(); }));
    EXPECT_EQ(cancelled.responses, std::vector<Alert::ModalResponse>{Alert::secondButtonReturn});
    gtk_widget_destroy(window);
}

TEST(AlertGui, AButtonThatWantsADeliberatePressTakesNoReturnEvenWithTheFocus)
{
    GtkWidget* window = shownWindow();
    const auto question = [](bool cancelTakesReturn) {
        auto alert = Alert::make();
        alert->setMessageText("Sign in with another account?");
        alert->addButton("Sign In").setRequiresDeliberatePress(true);
        alert->addButton("Cancel");
        if (cancelTakesReturn)
            alert->buttons()[1]->setKeyEquivalent("\r");
        return alert;
    };

    // Return with the focus on the deliberate button answers as Return does elsewhere: Cancel.
    {
        auto alert = question(true);
        Answers answers;
        showSheet(alert, window, answers);
        EXPECT_EQ(gtk_window_get_focus(alert->window()), alert->buttons()[1]->widget()) << "the focus starts on Cancel";
        gtk_widget_grab_focus(alert->buttons()[0]->widget());
        pressKey(alert, GDK_KEY_Return);
        ASSERT_TRUE(kxtest::spinUntil([&] { return !answers.responses.empty(); }));
        EXPECT_EQ(answers.responses, std::vector<Alert::ModalResponse>{Alert::secondButtonReturn});
    }
    // With no Return button, Return on it does nothing at all; Space presses it.
    {
        auto alert = question(false);
        alert->buttons()[0]->setKeyEquivalent("");
        Answers answers;
        showSheet(alert, window, answers);
        gtk_widget_grab_focus(alert->buttons()[0]->widget());
        pressKey(alert, GDK_KEY_Return);
        pressKey(alert, GDK_KEY_KP_Enter);
        kxtest::spinFor(std::chrono::milliseconds(50));
        EXPECT_TRUE(answers.responses.empty());
        pressKey(alert, GDK_KEY_space);
        ASSERT_TRUE(kxtest::spinUntil([&] { return !answers.responses.empty(); }));
        EXPECT_EQ(answers.responses, std::vector<Alert::ModalResponse>{Alert::firstButtonReturn});
    }
    gtk_widget_destroy(window);
}

TEST(AlertGui, ASheetWhoseWindowGoesAnswersOnceWithAbort)
{
    GtkWidget* window = shownWindow();
    Answers answers;
    {
        auto alert = saveAlert();
        showSheet(alert, window, answers);
    } // only the showing holds the alert now
    gtk_widget_destroy(window);
    ASSERT_TRUE(kxtest::spinUntil([&] { return !answers.responses.empty(); }));
    kxtest::spinFor(std::chrono::milliseconds(30));
    EXPECT_EQ(answers.responses, std::vector<Alert::ModalResponse>{Alert::abortResponse});
    EXPECT_TRUE(Alert::shownAlerts().empty());

    // A window already going, or an alert already on screen, gets its answer at once.
    GtkWidget* other = shownWindow();
    auto alert = saveAlert();
    showSheet(alert, other, answers);
    Answers second;
    alert->beginSheetModal(GTK_WINDOW(other), second.handler());
    ASSERT_TRUE(kxtest::spinUntil([&] { return !second.responses.empty(); }));
    EXPECT_EQ(second.responses, std::vector<Alert::ModalResponse>{Alert::abortResponse});
    EXPECT_EQ(Alert::shownAlerts().size(), 1u);
    gtk_widget_destroy(other);
    ASSERT_TRUE(kxtest::spinUntil([&] { return answers.responses.size() == 2; }));

    // Without a window the alert stands on its own and still answers.
    Answers alone;
    alert->beginSheetModal(nullptr, alone.handler());
    ASSERT_TRUE(kxtest::spinUntil([&] { return alert->window() && gtk_widget_get_mapped(GTK_WIDGET(alert->window())); }));
    EXPECT_FALSE(gtk_window_get_modal(alert->window()));
    gtk_button_clicked(GTK_BUTTON(alert->buttons()[0]->widget()));
    EXPECT_EQ(alone.responses, std::vector<Alert::ModalResponse>{Alert::firstButtonReturn});
}

TEST(AlertGui, RunModalReturnsTheAnswerAndHoldsInputFromEveryOtherWindow)
{
    // A document window with a group of its own, as windows that show sheets have.
    GtkWidget* entry = gtk_entry_new();
    GtkWidget* document = shownWindow(entry);
    auto group = kx::GObjectRef<GtkWindowGroup>::adopt(gtk_window_group_new());
    gtk_window_group_add_window(group.get(), GTK_WINDOW(document));
    gtk_widget_grab_focus(entry);
    int keysInDocument = 0;
    auto counter = kx::SignalConnection::connect<gboolean(GtkWidget*, GdkEventKey*)>(
        document, "key-press-event", [&](GtkWidget*, GdkEventKey*) -> gboolean {
            ++keysInDocument;
            return FALSE;
        });
    // Through GDK's queue, as the X server's events come.
    const auto typeInDocument = [&] {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(document)));
        event->key.keyval = GDK_KEY_x;
        event->key.time = GDK_CURRENT_TIME;
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
        gdk_event_put(event);
        gdk_event_free(event);
    };

    auto alert = saveAlert();
    std::optional<int> keysWhileModal;
    kx::MainQueue::async([&] {
        EXPECT_EQ(Alert::shownAlerts().size(), 1u);
        typeInDocument();
        kx::MainQueue::after(std::chrono::milliseconds(50), [&] {
            keysWhileModal = keysInDocument;
            gtk_button_clicked(GTK_BUTTON(alert->buttons()[1]->widget()));
        });
    });
    EXPECT_EQ(alert->runModal(), Alert::secondButtonReturn);
    EXPECT_EQ(keysWhileModal, 0);
    EXPECT_EQ(alert->window(), nullptr);

    typeInDocument();
    EXPECT_TRUE(kxtest::spinUntil([&] { return keysInDocument == 1; }));
    gtk_widget_destroy(document);
}

TEST(AlertGui, RunModalAnswersEscapeFromTheKeyboard)
{
    auto alert = Alert::make();
    alert->setMessageText("Move to Applications folder?");
    alert->addButton("Move to Applications Folder");
    alert->addButton("Do Not Move").setKeyEquivalent("\x1b");
    alert->setShowsSuppressionButton(true);
    alert->setSuppressionButtonState(true);
    // Escape through the X server once the alert has the keyboard focus.
    int ticks = 0;
    auto timer = kx::MainQueue::repeating(std::chrono::milliseconds(20), [&] {
        GtkWindow* window = alert->window();
        if (window && ++ticks > 500) {
            ADD_FAILURE() << "the alert never had the keyboard focus";
            gtk_button_clicked(GTK_BUTTON(alert->buttons()[0]->widget()));
        } else if (window && gtk_window_has_toplevel_focus(window))
            kxtest::pressEscape();
        else if (window)
            gtk_window_present(window);
    });
    EXPECT_EQ(alert->runModal(), Alert::secondButtonReturn);
    timer->cancel();
    EXPECT_TRUE(alert->suppressionButtonState());
}

namespace {

// An alert run modally with an answerer that misses it: it shows only after the answerer gave
// up, or the answer leaves it open.
Alert::ModalResponse runModalAnsweredAmiss(bool showsLate)
{
    auto alert = Alert::make();
    alert->setMessageText("Nobody answers");
    kxtest::ModalAnswerer answering("the alert", [&] { return GTK_WIDGET(alert->window()); }, [](GtkWidget*) {}, 1,
                                    std::chrono::milliseconds(300));
    if (showsLate)
        kxtest::spinFor(std::chrono::milliseconds(500));
    return alert->runModal();
}

} // namespace

// An answerer that gives up closes the window, so that its loop ends and the test goes on.
TEST(AlertGui, AModalAnswererThatGivesUpClosesTheAlert)
{
    static Alert::ModalResponse late = 0, unanswered = 0;
    EXPECT_NONFATAL_FAILURE(late = runModalAnsweredAmiss(true), "the alert did not show within 300 ms");
    EXPECT_NONFATAL_FAILURE(unanswered = runModalAnsweredAmiss(false), "the alert stayed open 300 ms after its answer");
    EXPECT_EQ(late, Alert::abortResponse);
    EXPECT_EQ(unanswered, Alert::abortResponse);
}
