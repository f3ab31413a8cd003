// One Qt application for the whole test program, on the offscreen platform, and a private
// home folder.
#include "support/TestHome.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testsupport::TestHome home;
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
