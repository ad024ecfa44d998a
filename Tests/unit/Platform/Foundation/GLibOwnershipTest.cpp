#include <gtest/gtest.h>

#include <memory>

#include <gio/gio.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/SourceHandle.h"
#include "support/Spin.h"

using kx::GObjectRef;
using kx::SignalConnection;
using kx::SourceHandle;
using namespace std::chrono_literals;

namespace {

// Watches an object's end without holding it.
struct Finalised {
    explicit Finalised(GObject* object) { g_object_weak_ref(object, [](gpointer data, GObject*) { *static_cast<bool*>(data) = true; }, &gone); }
    bool gone = false;
};

void emitChanged(GObject* object)
{
    g_object_notify(object, "enabled");
}

GObject* makeObject()
{
    return G_OBJECT(g_simple_action_new_stateful("a", nullptr, g_variant_new_int32(0)));
}

} // namespace

TEST(GLibOwnership, ReferencesAreDroppedOnceWhateverTheirOrigin)
{
    GObject* raw = makeObject();
    auto watch = std::make_unique<Finalised>(raw);
    {
        auto owner = GObjectRef<GObject>::adopt(raw);
        auto copy = owner;                                // a second reference
        auto borrowed = GObjectRef<GObject>::retain(raw); // a third
        GObjectRef<GObject> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved.get(), raw);
        EXPECT_EQ(raw->ref_count, 3u);
    }
    EXPECT_TRUE(watch->gone);

    GObject* floatingObject = G_OBJECT(g_object_new(G_TYPE_INITIALLY_UNOWNED, nullptr));
    Finalised floatingWatch(floatingObject);
    {
        auto sunk = GObjectRef<GObject>::sink(floatingObject);
        EXPECT_FALSE(g_object_is_floating(sunk.get()));
        EXPECT_EQ(sunk.get()->ref_count, 1u);
    }
    EXPECT_TRUE(floatingWatch.gone);

    auto released = GObjectRef<GObject>::adopt(makeObject());
    GObject* handedOut = released.release();
    EXPECT_FALSE(released);
    EXPECT_EQ(handedOut->ref_count, 1u);
    g_object_unref(handedOut);
}

TEST(GLibOwnership, ConnectionsCallTheirCallableUntilTheyGoAndFreeItExactlyOnce)
{
    auto object = GObjectRef<GObject>::adopt(makeObject());
    int calls = 0;
    auto tracker = std::make_shared<int>(0);
    {
        auto connection = SignalConnection::connect<void(GObject*, GParamSpec*)>(
            object.get(), "notify", [&calls, tracker](GObject*, GParamSpec*) { ++calls; });
        EXPECT_EQ(tracker.use_count(), 2);
        emitChanged(object.get());
        SignalConnection moved = std::move(connection);
        EXPECT_FALSE(connection.isConnected());
        emitChanged(object.get());
        moved.block();
        emitChanged(object.get());
        moved.unblock();
        EXPECT_EQ(calls, 2);
    }
    emitChanged(object.get());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(tracker.use_count(), 1); // the copy held by the handler was freed

    // The object goes first: the callable is freed with it and the later disconnect touches nothing.
    auto connection = SignalConnection::connect<void(GObject*, GParamSpec*)>(
        object.get(), "notify", [tracker](GObject*, GParamSpec*) { });
    EXPECT_EQ(tracker.use_count(), 2);
    object.reset();
    EXPECT_EQ(tracker.use_count(), 1);
    connection.disconnect();
    EXPECT_FALSE(connection.isConnected());
}

TEST(GLibOwnership, AnUnknownSignalConnectsNothingAndLeaksNothing)
{
    auto object = GObjectRef<GObject>::adopt(makeObject());
    auto tracker = std::make_shared<int>(0);
    g_test_expect_message("GLib-GObject", G_LOG_LEVEL_WARNING, "*is invalid for instance*");
    auto connection = SignalConnection::connect<void(GObject*)>(object.get(), "no-such-signal", [tracker](GObject*) { });
    g_test_assert_expected_messages();
    EXPECT_FALSE(connection.isConnected());
    EXPECT_EQ(tracker.use_count(), 1);
}

TEST(GLibOwnership, SourcesStopWithTheirHandleAndFinishedOnesAreLetGo)
{
    int fired = 0;
    {
        auto handle = SourceHandle::fromId(g_timeout_add(20, [](gpointer data) -> gboolean {
            ++*static_cast<int*>(data);
            return G_SOURCE_CONTINUE;
        }, &fired));
        EXPECT_TRUE(handle.isActive());
    }
    kxtest::spinFor(80ms);
    EXPECT_EQ(fired, 0);

    auto once = SourceHandle::fromId(g_idle_add([](gpointer data) -> gboolean {
        ++*static_cast<int*>(data);
        return G_SOURCE_REMOVE;
    }, &fired));
    ASSERT_TRUE(kxtest::spinUntil([&] { return fired == 1; }));
    EXPECT_FALSE(once.isActive());
    once.remove(); // no warning about an unknown source id
    once.remove();
}
