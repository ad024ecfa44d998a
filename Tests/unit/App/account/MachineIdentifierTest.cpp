// The machine identifier: stable for one machine id, never the id itself.
#include <gtest/gtest.h>

#include <fstream>

#include "App/account/MachineIdentifier.h"
#include "support/TestPaths.h"

using kx::MachineIdentifier;

TEST(MachineIdentifier, IsDerivedFromTheMachineIdAndHidesIt)
{
    kxtest::TemporaryDirectory dir;
    const std::string id = "0123456789abcdef0123456789abcdef";
    std::ofstream(dir / "machine-id") << id << "\n";
    auto derived = MachineIdentifier::fromMachineIdFile(dir / "machine-id");
    ASSERT_TRUE(derived);
    EXPECT_EQ(*derived, MachineIdentifier::derive(id));
    EXPECT_EQ(derived->size(), 32u);
    EXPECT_EQ(derived->find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(*derived, id);
    EXPECT_NE(MachineIdentifier::derive("0123456789abcdef0123456789abcdee"), *derived);
    EXPECT_EQ(MachineIdentifier::current(), MachineIdentifier::current());
}

TEST(MachineIdentifier, FilesThatHoldNoMachineIdGiveNone)
{
    kxtest::TemporaryDirectory dir;
    for (const std::string& content : {std::string(""), std::string("short\n"), std::string(32, 'g') + "\n",
                                       std::string(32, '0') + "\n", std::string(33, 'a') + "\n"}) {
        std::ofstream(dir / "machine-id", std::ios::trunc) << content;
        EXPECT_FALSE(MachineIdentifier::fromMachineIdFile(dir / "machine-id")) << content;
    }
    EXPECT_FALSE(MachineIdentifier::fromMachineIdFile(dir / "missing"));
}
