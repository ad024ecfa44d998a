#include "App/server/SocketIOPacket.h"

#include <gtest/gtest.h>

namespace {

using kx::SocketIOPacket;

TEST(SocketIOPacket, ParsesWhatTheServerSends)
{
    auto open = SocketIOPacket::parseEngine(R"(0{"sid":"a","pingInterval":25000})");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->type, SocketIOPacket::EngineType::open);
    EXPECT_EQ(open->data, R"({"sid":"a","pingInterval":25000})");
    EXPECT_EQ(SocketIOPacket::parseEngine("2")->type, SocketIOPacket::EngineType::ping);

    auto connect = SocketIOPacket::parse(R"(0{"sid":"x"})");
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->type, SocketIOPacket::Type::connect);

    auto event = SocketIOPacket::parse(R"(2["state",{"a":1},2])");
    ASSERT_TRUE(event);
    auto [name, arguments] = *event->eventNameAndArguments();
    EXPECT_EQ(name, "state");
    EXPECT_EQ(arguments, nlohmann::json::parse(R"([{"a":1},2])"));

    auto withAck = SocketIOPacket::parse(R"(/admin,17["reload"])");
    ASSERT_FALSE(withAck); // type '/' is not a packet type
    auto namespaced = SocketIOPacket::parse(R"(2/admin,17["reload"])");
    ASSERT_TRUE(namespaced);
    EXPECT_EQ(namespaced->nsp, "/admin");
    EXPECT_EQ(namespaced->ackId, 17);
    EXPECT_EQ(namespaced->eventNameAndArguments()->second, nlohmann::json::array());

    auto refused = SocketIOPacket::parse(R"(4{"message":"unauthorized"})");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->type, SocketIOPacket::Type::connectError);
    EXPECT_EQ(SocketIOPacket::parse("1")->type, SocketIOPacket::Type::disconnect);
}

TEST(SocketIOPacket, RefusesMalformedPackets)
{
    for (const char* frame : {"", "9", "x"})
        EXPECT_FALSE(SocketIOPacket::parseEngine(frame)) << frame;
    for (const char* data : {"", "5", "6[]", "2", "2{}", "2[]", "2[1,2]", "2[\"a\"", "0[1]", "3", "3[]",
                             "299999999999999999999999[\"a\"]", "2[\"a\"]trailing"})
        EXPECT_FALSE(SocketIOPacket::parse(data)) << data;

    // Nesting deep enough to exhaust the stack when the arguments are copied or printed.
    auto nested = [](int depth) { return "2[\"a\"," + std::string(depth, '[') + std::string(depth, ']') + "]"; };
    EXPECT_FALSE(SocketIOPacket::parse(nested(200000)));
    EXPECT_TRUE(SocketIOPacket::parse(nested(100)));
}

TEST(SocketIOPacket, EncodesOnlyValidText)
{
    EXPECT_EQ(SocketIOPacket::event("x", nlohmann::json::array({std::string("a\xff")})), "42[\"x\",\"a\xEF\xBF\xBD\"]");
}

} // namespace
