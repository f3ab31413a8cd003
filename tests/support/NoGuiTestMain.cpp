// For the test programs of code that must run without windows: no Qt at all, a private home
// folder.
#include "support/TestHome.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::TestHome home;
    return RUN_ALL_TESTS();
}
