// The headless tests. Whatever they do to the user's folders (settings, caches, the Trash)
// happens in a temporary home of the test program's own.
#include <gtest/gtest.h>

#include "support/TestPaths.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const kxtest::TemporaryHome home;
    return RUN_ALL_TESTS();
}
