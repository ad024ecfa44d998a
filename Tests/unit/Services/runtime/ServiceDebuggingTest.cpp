#include <gtest/gtest.h>

#include "Services/runtime/ServiceChannel.h"
#include "Services/runtime/ServiceDebugging.h"
#include "support/StdoutCapture.h"

namespace {

using kx::ServiceDebugging::Logger;

class VerboseSwitch {
public:
    explicit VerboseSwitch(bool on) { kx::ServiceDebugging::wantsVerboseLogging = on; }
    ~VerboseSwitch() { kx::ServiceDebugging::wantsVerboseLogging = false; }
};

template <class F>
std::string captured(F&& write)
{
    kxtest::StdoutCapture output;
    write();
    return output.text();
}

TEST(ServiceDebugging, ErrorLinesArePrefixAndItemsJoinedByBlanks)
{
    const Logger logger("📮");
    const kx::ServiceChannel::Message message{kx::ServiceChannel::MessageType::request, "1", "__Beep__", "beep", std::nullopt};
    EXPECT_EQ(captured([&] { logger.error("Router received unknown request:", message); }),
              "📮 Router received unknown request: " + message.description() + "\n");
    EXPECT_EQ(captured([&] { logger.error("a", std::optional<int>(), 3, std::optional<std::string>("b")); }), "📮 a nil 3 b\n");
    EXPECT_EQ(captured([&] { logger.error(); }), "📮\n");
}

TEST(ServiceDebugging, LogLinesOnlyInVerboseMode)
{
    const Logger logger("✉️");
    EXPECT_EQ(captured([&] { logger.log("quiet", 1); }), "");
    VerboseSwitch verbose(true);
    EXPECT_EQ(captured([&] { logger.log("loud", 1); }), captured([&] { logger.error("loud", 1); }));
}

TEST(ServiceDebugging, LongBodiesAreCutShortInDescriptions)
{
    kx::ServiceChannel::Message message{kx::ServiceChannel::MessageType::response, "1", "s", "m",
                                        kx::ServiceChannel::MessageBody{std::string(100000, 'x')}};
    const auto text = message.description();
    EXPECT_LT(text.size(), 1000u);
    EXPECT_NE(text.find("(100000 bytes)"), std::string::npos);
}

} // namespace
